// CoreCubr: the GPU bridge loader. Opens the bridge library beside the plug-in's own shared library,
// looks up its entry points, checks that it works, and starts and stops its device. The processor
// owns one and hands it to every convolver. No lock of its own: the processor serialises start,
// the device calls and stop under its locks.
#pragma once
#include "base/CoreAnsx.h"
#include "platform/CudaBridgeAbi.h"

class CoreCubr {
public:
    static const int iCfilename = 2;        // library paths, tried in order
    static const int iCversionlength = 256; // bytes of a version or status text, NUL included

    // The bridge's entry points, each looked up as "cudabridge_" + its name; null when absent or
    // while the library is not loaded. The slot between avnwe and avcpe is never filled.
    struct ENTRYSTRUCT {
        cudabridge_devcs_fn devcs;
        cudabridge_init__fn init_;
        cudabridge_stop__fn stop_;
        cudabridge_cudav_fn cudav;
        cudabridge_check_fn check;
        cudabridge_versn_fn versn;
        cudabridge_mallc_fn mallc;
        cudabridge_free__fn free_;
        cudabridge_plan__fn plan_;
        cudabridge_despl_fn despl;
        cudabridge_exect_fn exect;
        cudabridge_op32p_fn op32p;
        cudabridge_op32d_fn op32d;
        cudabridge_op32c_fn op32c;
        cudabridge_opchp_fn opchp;
        cudabridge_opchd_fn opchd;
        cudabridge_cnm15_fn cnm15;
        cudabridge_cnm16_fn cnm16;
        cudabridge_af32p_fn af32p;
        cudabridge_af32d_fn af32d;
        cudabridge_af32c_fn af32c;
        cudabridge_afchp_fn afchp;
        cudabridge_afchd_fn afchd;
        cudabridge_cnm17_fn cnm17;
        cudabridge_avnwe_fn avnwe;
        void* unused;
        cudabridge_avcpe_fn avcpe;
        cudabridge_avade_fn avade;
        cudabridge_avfde_fn avfde;
        cudabridge_avvmx_fn avvmx;
        cudabridge_cnm18_fn cnm18;
    };

    CoreCubr();
    ~CoreCubr();
    CoreCubr(const CoreCubr&) = delete;
    CoreCubr& operator=(const CoreCubr&) = delete;

    // Opens and checks the library on the first call after construction or stop_(); later calls
    // return that result without looking again. True when the bridge is loaded and usable.
    bool start();
    // Calls the bridge's init_(device) once per load, when start() succeeds.
    void initd(int device);
    // Stops the device when initd ran.
    void stopd();
    // Stops the device, clears every entry, closes the library and forgets that start() ran.
    void stop_();
    // Address of the named symbol in an opened library, null when unknown.
    static void* loadm(void* handle, const CoreAnsx& name);

    // Library path index (0 or 1): the folder of the plug-in's own shared library + "VoCuBr03.so",
    // then + "VoCuBr01.so", unless setfn replaced both.
    static CoreAnsx bCfilename(int index);
    static void setfn(const CoreAnsx& first, const CoreAnsx& second);

    bool loaded() const { return bLoaded; }
    bool initialised() const { return bInitialised; }

private:
    bool bLoaded;      // open and passed its check
    bool bTried;       // start() ran since construction or the last stop_()
    bool bInitialised; // the bridge's init_ ran
    void* pHandle;

public:
    ENTRYSTRUCT entry;

private:
    void lookUpEntries();
    CoreAnsx missingEntries() const;
    void unload();
};
