// CoreEnvu: the sampling toolkit. Loads a recorded response (CSV of doubles or WAV) into a one-channel
// buffer for the raw vectors, and makes response sets: generates a stepped test-tone recording, finds
// where a recorded tone starts, and splits a recording of such tones into one settling-time measurement
// per level, written as files or container items plus a vector file. Owned by one caller; one thread
// at a time (it drives its file store).
#pragma once
#include "base/CoreAnsx.h"
#include <cstdint>

class CoreFsys;
class CoreHdco;
class CorePool;
class CoreWave;

class CoreEnvu {
public:
    static constexpr char sCwriteformat[] = "(%.2f dB)"; // the label of a level
    static constexpr int iCtonetypes = 3;                // 0 square, 1 white noise, 2 sine

    CoreEnvu(CorePool* pool, CoreFsys* files);
    ~CoreEnvu();
    CoreEnvu(const CoreEnvu&) = delete;
    CoreEnvu& operator=(const CoreEnvu&) = delete;

    // Drops a loaded response, then loads path: a ".csv" extension in any case reads a CSV of doubles,
    // anything else a WAV at its own rate (a stereo file gives its second channel). Returns the
    // length, and counts as loaded, only when it is above 0; a missing or bad file gives 0. Never throws.
    int32_t open_(CoreAnsx path);
    CoreWave* getim() const { return bLoaded ? pResponse : nullptr; }
    void close();

    // Start detection: from index start, the first sample whose level exceeds the noise floor by the
    // synchronisation range (-30 dB); start becomes it, or n when there is none.
    static void tstrt(const double* samples, int32_t n, int32_t& start);

    // Writes one tone segment into buffer[position .. end - 1] and sets position = end: type 0 square,
    // 1 white noise, 2 sine, with half period h = samples(period) / 2 and sample k of the segment
    // amplitude x sin(k pi / h) (its sign for the square). Throws a CoreAnsx message for a type outside
    // 0 .. 2, a non-positive period or rate, or a negative span.
    static void ctone(CorePool* pool, int type, int32_t periodMicroseconds, int32_t rate, double* buffer,
                      int32_t& position, int32_t end, double& amplitude);
    // Writes the stepped test-tone recording base folder + name: count blocks of silence, tone, second
    // tone at -20 dB (withSecond), silence; level i at startDb - i stepDb. A two-channel 32-bit float
    // WAV whose channels are equal. Throws a CoreAnsx message for invalid arguments (non-positive
    // rate, period, tone length or count, negative silence or second tone, more than 2^31 - 1 frames)
    // and when the file cannot be written.
    void ctone(CoreAnsx name, int type, int32_t rate, bool withSecond, int32_t periodMicroseconds,
               double toneSeconds, double secondSeconds, double silenceSeconds, int32_t count, double stepDb,
               double startDb);

    // Splits a recording made from ctone's tones into one measurement per level. The outputs go into
    // the folder base folder + output's name (created); the vector file is that name with ".XML" in it,
    // completed from templateText. report receives one "Value (label) = t s" line per measured level.
    // flag has no effect. Invalid arguments write nothing (logged); reader errors are thrown.
    void build(CoreAnsx recording, CoreAnsx output, bool withSecond, int32_t windowMicroseconds,
               double toneSeconds, double secondSeconds, double silenceSeconds, double stepDb, double startDb,
               bool flag, CoreAnsx templateText, CoreHdco* container, CoreAnsx& report, bool sixtyFourBit,
               bool noOutput);
    // Measures one level's block of n samples: the time in seconds its level takes to settle after the
    // tone starts (or, withSecond, after the step down to the second tone), or 0 when the block yields
    // none, the arguments are invalid, or an output could not be written (logged). Unless noOutput,
    // writes the time as CSV under name and the time and settling curve as a one-channel float WAV under
    // name with ".Q7K": as items of container, or as files when container is null. flag and index
    // (the level's number) have no effect on the result.
    double build(const double* samples, int32_t n, int32_t rate, CoreAnsx name, bool withSecond,
                 int32_t windowMicroseconds, double toneSeconds, double secondSeconds, double silenceSeconds,
                 bool flag, CoreHdco* container, bool sixtyFourBit, bool noOutput, int32_t index);

private:
    int32_t iLength;
    bool bLoaded;
    CorePool* pPool;
    CoreWave* pResponse;
    CoreFsys* pFiles;

    int32_t loadCsv(const CoreAnsx& path);
    int32_t loadWave(const CoreAnsx& path);
    bool writeOutputs(const CoreAnsx& name, const double* values, int32_t count, int32_t rate,
                      CoreHdco* container, bool sixtyFourBit);
};
