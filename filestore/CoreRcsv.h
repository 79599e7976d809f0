// CoreRcsv: reads and writes the CSV dialect of doubles: every value is a decimal number followed
// by ";", written as "%.16f;" and a line feed. Reading goes through the file store (loose file or
// container item); writing replaces a file under the store's base folder. Owned by one caller and
// used by one thread at a time (it drives its store's calls). Never throws.
#pragma once
#include "base/CoreAnsx.h"
#include <cstdint>

class CoreFsys;
class CorePool;

class CoreRcsv {
public:
    CoreRcsv(CorePool* pool, CoreFsys* files);
    ~CoreRcsv();
    CoreRcsv(const CoreRcsv&) = delete;
    CoreRcsv& operator=(const CoreRcsv&) = delete;

    // Closes the previous item and forgets its text, then finds or creates the item, reads it
    // whole into memory and opens it. Returns the open flag (false for a missing file).
    bool open_(CoreAnsx name);
    // Takes the item's bytes (zero bytes dropped) as the text, replacing what was held, and
    // returns the number of values: the number of ";" in it.
    int32_t getdr();
    // Scans the text: line feeds are skipped, every other byte up to a ";" is the value's text,
    // converted with the C rules whatever the process locale (leading white space skipped, the
    // longest number prefix taken, 0.0 when there is none); text after the last ";" is ignored.
    // NaN, infinite and overflowing values read as 0.0 (the file is logged once). Unless countOnly,
    // values receives one double per ";". 0 when the item is not open or the text is empty.
    int32_t getdt(double* values, bool countOnly);
    void close();

    // The text of n values in the writer's form; the digits do not depend on the process locale.
    static CoreAnsx crtcn(const double* values, int32_t n);
    // Replaces base folder + name with crtcn's text (through CoreFsys::wrfle, so an existing file
    // stays whole unless the write completes). False and logged when the folder does not exist
    // (nothing is written) or the write fails.
    bool wfile(CoreAnsx name, const double* values, int32_t n);

private:
    CoreAnsx sText;
    int32_t iId;
    bool bOpen;
    CoreFsys* pFiles;
    CorePool* pPool;
    CoreAnsx sName;
    bool bLoggedNonFinite; // the open item's non-finite values have been reported
};
