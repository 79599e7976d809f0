// CoreDemo: writes plug-in folders: the demo folder the build lays out beside the plug-in (settings,
// a bank setup, four programs, generated impulse responses and an input WAV) and the private folder
// in which the render job plays one program file. Samples and numbers come from integer arithmetic
// and fixed tables, so a folder holds the same bytes on every machine. Stateless; called by
// vorlan3-mkdemo, the render job and tests, from any thread as long as the folders differ.
#pragma once
#include <cstdint>
#include <string>

class CoreDemo {
public:
    static constexpr char sCsettingsname[] = "Vorlan3.xml";
    static constexpr char sCdatafolder[] = "demo/";
    static constexpr int32_t iCrate = 44100;   // rate of every WAV written
    static constexpr int32_t iCrenderslot = 1; // the slot writeRender gives the program file

    // folder/Vorlan3.xml and folder/demo/: setup.xml, init.xml, unit-long.xml, demo.xml,
    // sidechain.xml, ir/*.wav, input.wav and the demo skin (skins/, named by the settings). Folders are made as needed, files replaced whole. Throws
    // a CoreAnsx naming the file and the reason when one cannot be written.
    static void write(const std::string& folder);

    // A program that passes its input through: its only element is a stereo unit impulse of frames
    // frames (at least 1). program and response are relative to the data folder `folder`, as the
    // program's FILENAME is. Throws as write.
    static void writeUnit(const std::string& folder, const std::string& program, const std::string& response,
                          const std::string& name, int32_t frames);

    // The private plug-in folder of a render of one program file: settingsName holds the settings of
    // ownSettings (a settings file; empty or missing: none) made fit for the render, render/setup.xml
    // puts the unit program (render/unit.xml) into slot 0 and the program file into slot 1 marked
    // LOAD. Programs and their files are looked up below program/: empty in the folder itself, and in
    // the alternative data path render/ a link to the program file's folder, so a loose program is
    // found there whatever its name and reads its files from there. A packed program (.q7p) and the
    // vector containers (.q7v) beside it are linked into program/ (a link or a copy, renamed over what
    // was there). Throws a CoreAnsx naming the file and the reason when the program file is missing or
    // its name begins or ends with a blank or holds < (which the setup cannot carry), the own
    // settings do not read, or a file cannot be written; and, having written nothing, when a
    // file to write is a folder or the same file as one the render reads (the program, the own
    // settings, the containers beside a packed program), or when program/ holds what an earlier render
    // of another program left. An earlier render's links are replaced, not followed.
    static void writeRender(const std::string& folder, const std::string& settingsName,
                            const std::string& ownSettings, const std::string& program);
};
