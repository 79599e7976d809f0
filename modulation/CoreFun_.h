// CoreFun_: a function modulator ("FUN1".."FUN8"): applies a group-1 operation
// of the function table to its inputs A and B (controls on -1..+1) and writes
// the result to its slot once per block. Owned by the program; called from
// block processing or under the engine lock.
#pragma once
#include "base/CoreAnsx.h"
#include "modulation/CoreGfun.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataGfun.h"
#include "modulation/DataSrce.h"

class CoreFun_ {
public:
    // Starts with the operation "a"; the program configures it with setvl before the first step.
    CoreFun_(const CoreAnsx& name, DataGfun* functions, DataSrce* sources, CoreSrce* output);
    ~CoreFun_();
    CoreFun_(const CoreFun_&) = delete;
    CoreFun_& operator=(const CoreFun_&) = delete;

    void setvl(const CoreAnsx& sourceA, const CoreAnsx& sourceB, const CoreAnsx& operationKey);
    // Selects the operation; a key that no row has selects "a" and is stored as
    // "a".
    void setfn(const CoreAnsx& key);
    void setia(const CoreAnsx& sourceA);
    void setib(const CoreAnsx& sourceB);
    CoreParm* getfa() const { return pInputa; }
    CoreParm* getfb() const { return pInputb; }
    CoreAnsx getfn() const { return sOperationkey; }

    // One step: two control reads, one function call, one slot write.
    void updte();

private:
    CoreAnsx sName;
    CoreAnsx sKeya;
    CoreAnsx sKeyb;
    CoreAnsx sOperationkey;
    DataSrce* pSources;
    CoreSrce* pOutput;
    CoreParm* pInputa;
    CoreParm* pInputb;
    DataGfun* pFunctions;
    CoreGfun* pOperation;
};
