// BootedEffect: an in-process effect built as a host builds it (createEffectInstance), on a private
// copy of the demo folder the build lays out, booted through the chunk "NOCHUNK" and with its display
// on a page; or, with settings that make the engine fail, in its error state. Its log lines go to
// demo/Vorlan3lisko.log. Tests only.
#pragma once
#include "base/CoreLog_.h"
#include "display/CoreDsif.h"
#include "plugin/CoreCtrl.h"
#include "plugin/CoreMstr.h"
#include "plugin/CoreZrlg.h"
#include "tests/common/TempFolder.h"
#include "tests/plugin/NoticeLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

class BootedEffect {
public:
    // more: further MASTER elements; boot false leaves the engine booting; callback: the host's
    // callback (the default answers the version and the sample rate only); setup: a setup text in
    // place of the demo's.
    explicit BootedEffect(const std::string& more = "", bool boot = true, audioMasterCallback callback = &host,
                          const std::string& setup = "")
        : folder("effect") {
        std::filesystem::copy(std::string(VORLAN_DEMO_FOLDER) + "/demo", folder.path / "demo",
                              std::filesystem::copy_options::recursive);
        if (!setup.empty()) std::ofstream(folder.path / "demo" / "setup.xml", std::ios::trunc) << setup;
        std::ofstream(folder / "Vorlan3.xml")
            << "<MASTER><DATAPATH>demo/</DATAPATH><SETUPROMNAME>setup.xml</SETUPROMNAME><FASTBOOT>1</FASTBOOT>"
               "<SCANBOOT>0.0</SCANBOOT><OTIMED>3</OTIMED><DSPBUFFER>512</DSPBUFFER><DL>7</DL>"
            << more << "</MASTER>";
        CoreMstr::setBundleForTest(CoreAnsx(folder.withSeparator().c_str()), CoreAnsx("Vorlan3.so"));
        effect.reset(static_cast<CoreZrlg*>(createEffectInstance(callback)));
        CoreMstr::setBundleForTest(CoreAnsx(""), CoreAnsx(""));
        if (boot && !effect->geter()) {
            char nochunk[] = "NOCHUNK";
            booted = effect->setChunk(nochunk, sizeof nochunk) == 1 && displaySettled();
        }
    }
    ~BootedEffect() {
        effect->close();
        effect.reset();
        CoreLog_::setdb(0, false);
        CoreLog_::setpt(CoreAnsx(""));
    }
    BootedEffect(const BootedEffect&) = delete;
    BootedEffect& operator=(const BootedEffect&) = delete;

    std::string log() const { return readBytes(folder.path / "demo" / CoreLog_::sCdefaultfilename); }
    size_t logCount(const std::string& line) const {
        const std::string text = log();
        size_t count = 0;
        for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++count;
        return count;
    }
    CorePpwr* properties() const { return effect.get(); }

    // The display's next pass leaves the boot page, and a page change sends the editor the popup arm
    // and keyboard records: tests of those mirrors start once the display shows its page.
    bool displaySettled() const {
        CoreCtrl& control = *effect->getct();
        const CoreDsif& display = *effect->getms()->getds();
        return eventually(
            [&] {
                control.setdu(true);
                const bool settled = display.getcs() == display.getns() && display.getcs() < CoreDsif::iCpages;
                control.setdu(false);
                return settled;
            },
            std::chrono::seconds(20));
    }

    static VstIntPtr host(AEffect*, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
        return opcode == audioMasterVersion ? kVstVersion : opcode == audioMasterGetSampleRate ? 44100 : 0;
    }

    TempFolder folder;
    std::unique_ptr<CoreZrlg> effect;
    bool booted = false;
};

