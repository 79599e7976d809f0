// CoreVars: a small in-memory store of text values under text keys, kept as an XML document. Keys
// compare upper-cased and trimmed; a value "0" reads as absent. The batch stepper keeps its step
// variables in one. Not thread-safe: the owner serialises the calls.
#pragma once
#include "base/CoreAnsx.h"
#include "base/CoreXml_.h"

class CoreVars {
public:
    static constexpr const char* sCtagvrroot = "ROOT";

    CoreVars();
    ~CoreVars();
    CoreVars(const CoreVars&) = delete;
    CoreVars& operator=(const CoreVars&) = delete;

    void open_(); // starts a new, empty store
    void free_(); // empties the store
    void close(); // after this, reads give the empty text and writes are ignored until open_()
    // The value under key, trimmed; the empty text when closed, absent, "0" or for a blank key.
    CoreAnsx getit(const CoreAnsx& key) const;
    // Stores value under key, replacing an earlier entry. A blank key is ignored: normalised it would
    // match the one-space value that starts the store.
    void addit(const CoreAnsx& key, const CoreAnsx& value);

private:
    bool bOpen;
    CoreXml_* pDocument;
};
