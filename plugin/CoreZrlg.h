// CoreZrlg: the VST 2.4 effect the host holds. Its constructor builds the whole instance (copen:
// master object, engine, control thread) and sets the face the host sees from the engine's settings;
// close or the destructor takes it down (cclse). Host calls become engine beans, CorePrcs::prcss for
// audio, or control-thread calls. A failed start leaves an inert instance in its error state. The
// host's audio, interface and the control thread call in; the audio calls take no lock here. As its
// property interface it answers ids 100000-100009 and 100100-100110, copying its mirrors under a
// lock of their own that is taken last; it owns the display's cell export record and popup content
// holder, each read under a leaf lock of its own.
#pragma once
#include "base/CoreAnsx.h"
#include "base/CoreSmph.h"
#include "display/CoreCnst.h"
#include "platform/AudioEffectX.h"
#include "plugin/CorePpwr.h"

#include <cstdint>
#include <vector>

class CoreCtrl;
class CoreDsif;
class CoreDspc;
class CoreMstr;
class CorePrcs;

class CoreZrlg : public AudioEffectX, public CorePpwr {
public:
    static constexpr int32_t iCparameters = 10; // MIX1..MIX8, GAININ, GAINOUT
    static constexpr int32_t iCvendorversion = 1200;

    explicit CoreZrlg(audioMasterCallback audioMaster);
    ~CoreZrlg() override;

    // What one MIDI message does: the decision of processEvents for status, data bytes (top bits
    // already cleared or not) and the bank selected so far.
    struct MIDIROUTE {
        enum Kind : int16_t { ignored, engine, bank, program } kind = ignored;
        int32_t value = 0; // engine: the packed message for int bean 186; bank: the new bank; program: the slot
    };
    static MIDIROUTE route(uint8_t status, uint8_t data1, uint8_t data2, int32_t bank);

    // The display's records, of which the effect keeps mirrors without reading their fields.
    static constexpr uint32_t iCmousesize = 12;
    static constexpr uint32_t iCmenuarmsize = 20;
    static constexpr uint32_t iCdisplaymessagesize = 20;
    static constexpr uint32_t iCmenuselectionsize = 52;

    // Control thread: engine-side control changes to the host; the host's sample rate.
    void fixpr();
    bool geter() const { return bError; }
    CoreMstr* getms() const { return pMaster; } // null after a failed start
    CoreCtrl* getct() const { return pControl; }
    CONTROLMAPRECORD getcm(); // the control map mirror

    // The property interface (results 0, 11 and 12 of CorePpwr).
    int32_t gtpri(int32_t id, int32_t scope, int32_t element, uint32_t& size, bool& writable) override;
    int32_t gtprp(int32_t id, int32_t scope, int32_t element, void* data) override;
    int32_t gtprp(int32_t id, int32_t scope, int32_t element, void* data, uint32_t capacity) override;
    int32_t stprp(int32_t id, int32_t scope, int32_t element, const void* data, uint32_t size) override;
    void stpar(int32_t id, float value) override; // tells the host; indexes 0-9, finite values
    float gtsrt() override { return getSampleRate(); }

    void open() override;
    void close() override;
    void suspend() override;
    void resume() override;
    void setSampleRate(float rate) override;
    void setBlockSize(int32_t size) override;
    void process(float** inputs, float** outputs, int32_t frames) override;
    void processReplacing(float** inputs, float** outputs, int32_t frames) override;
    void processDoubleReplacing(double** inputs, double** outputs, int32_t frames) override;
    void setParameter(int32_t index, float value) override;
    float getParameter(int32_t index) override;
    void setProgramName(std::string_view) override {}
    bool getProgramName(std::string& text) override;
    bool getParameterLabel(int32_t index, std::string& text) override;
    bool getParameterDisplay(int32_t index, std::string& text) override;
    bool getParameterName(int32_t index, std::string& text) override;
    int32_t getChunk(void** data) override;
    int32_t setChunk(void* data, int32_t size) override;
    void entryFailed(const char* entry, const char* reason) override;

    void processMidiEvent(const VstMidiEvent& event) override;
    bool getProgramNameIndexed(int32_t category, int32_t index, std::string& text) override;
    int32_t getPlugCategory() override { return 1; }
    bool setSpeakerArrangement(const VstSpeakerArrangement* input, const VstSpeakerArrangement* output) override;
    bool getEffectName(std::string& text) override;
    bool getVendorString(std::string& text) override;
    bool getProductString(std::string& text) override;
    int32_t getVendorVersion() override { return iCvendorversion; }
    int32_t canDo(std::string_view text) override;
    int32_t getGetTailSize() override;
    int32_t getNumMidiInputChannels() override { return 1; }
    int32_t getNumMidiOutputChannels() override { return 0; }

private:
    CoreAnsx sInstancename;
    int32_t iInitialdelay = 0;
    int32_t iMidibank = 0;
    bool bError = false;
    bool bOpen = true;
    CorePrcs* pProcessor = nullptr;
    CoreDspc* pQueue = nullptr;
    CoreMstr* pMaster = nullptr;
    CoreCtrl* pControl = nullptr;
    CoreSmph cOpenlock;
    std::vector<uint8_t> oKeptchunk; // the host's last chunk while in the error state
    uint8_t aMouse[iCmousesize] = {};
    STATUSRECORD oStatus = {};
    uint8_t iTextfocus = 0;
    uint8_t aMenuarm[iCmenuarmsize] = {};
    CONTROLMAPRECORD oControlmap = {};
    CoreSmph cMirrorlock; // taken last, nothing inside it
    CoreCnst::DISPLAYDATA oDisplaydata;       // the cells sent as 100104; built at open
    CoreSmph cDisplaydatalock;                // guards oDisplaydata; only the export lock inside it
    CoreCnst::POPMENUCONTENTDATA oMenucontents; // the display's popup menus fill it; its own lock

    static uint32_t fixedSize(int32_t id); // 0 for ids without a fixed record
    uint32_t variableSize(int32_t id);     // 100104 and 100107: the record's current bytes
    CoreDsif* display() const;             // null without a master object
    int32_t copyDisplayData(void* data, uint32_t capacity);
    int32_t copyMenuContents(void* data, uint32_t capacity);
    void chooseMenuEntry(const void* data);
    int32_t setParameterRecord(int32_t slot, const void* data);
    void getParameterRecord(int32_t slot, PARAMETERRECORD& record);
    void copyIn(void* mirror, const void* data, uint32_t size);
    void zeroMirrors(); // mouse, status, focus and menu arm

    void copen();
    void cclse();
    void failedStart();
    double gettm();
    template <class Sample>
    void road(Sample** inputs, Sample** outputs, int32_t frames, bool replacing);
    bool textBean(int32_t id, int32_t index, std::string& text);
};
