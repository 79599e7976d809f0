// CoreDskn: writes the demo skin of the demo folder: folder/skins/Demo/ (ROM.XML and PNG images) and
// folder/skins/Demo.q7s, an item container holding the same items, so that every section of the
// skin description is exercised. Every image is computed with integer arithmetic and stored through
// its own PNG encoder (uncompressed deflate blocks), so the files are the same on every machine.
// Stateless; called by CoreDemo::write and tests, from any thread as long as the folders differ.
#pragma once
#include <string>

class CoreDskn {
public:
    static constexpr char sCskinsubpath[] = "skins/";
    static constexpr char sCskinfolder[] = "Demo";        // the folder skin, below sCskinsubpath
    static constexpr char sCskincontainer[] = "Demo.q7s"; // the container skin, written "DEMO.Q7S"

    // Folders are made as needed, files replaced whole. Throws a CoreAnsx naming the file and the
    // reason when one cannot be written.
    static void write(const std::string& folder);
};
