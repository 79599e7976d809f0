#include "processor/CoreDcry.h"

#include "../common/TempFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Text = std::string;

class CoreDcryTest : public TempFolderTest {};

TEST_F(CoreDcryTest, TranslatesKnownKeysAndAnswersEveryOtherWithTheKey) {
    const Text sections = "<CATEGORY><REVERB> Big rooms </REVERB><ZERO>0</ZERO><Blank> 0 </Blank></CATEGORY>";
    struct Row { Text file, name, key, expected; };
    const Row rows[] = {
        {"<DICTIONARY>" + sections + "</DICTIONARY>", "dict.xml", "REVERB", "Big rooms"},
        {"<DICTIONARY>" + sections + "</DICTIONARY>", "DICT.XML", " reverb ", "Big rooms"}, // any case
        {"<DICTIONARY>" + sections + "</DICTIONARY>", "dict.xml", "DELAY", "DELAY"},
        {"<DICTIONARY>" + sections + "</DICTIONARY>", "dict.xml", "zero", "zero"},
        {"<DICTIONARY>" + sections + "</DICTIONARY>", "dict.xml", "BLANK", "0"}, // framed: present
        {"<DICTIONARY>" + sections + "</DICTIONARY><DICTIONARY><CATEGORY><REVERB>Last</REVERB></CATEGORY>"
         "</DICTIONARY>", "dict.xml", "reverb", "Last"},
        {"<DICTIONARY><OTHER><REVERB>x</REVERB></OTHER></DICTIONARY>", "dict.xml", "REVERB", "REVERB"},
        {"<DICTIONARY>0</DICTIONARY>", "dict.xml", "REVERB", "REVERB"},
        {sections, "dict.xml", "REVERB", "REVERB"},
        {"</DICTIONARY>" + sections, "dict.xml", "REVERB", "REVERB"},
        {"<DICTIONARY>" + sections + "</DICTIONARY>", "missing.xml", "REVERB", "REVERB"},
        {"<DICTIONARY>" + sections + "</DICTIONARY>", "NULL", "REVERB", "REVERB"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file + " " + r.name);
        writeBytes(root / "dict.xml", r.file);
        writeBytes(root / "NULL", r.file);
        const CoreDcry dictionary(at(r.name));
        EXPECT_EQ(Text(dictionary.getvl("CATEGORY", r.key.c_str()).c_str()), r.expected);
    }
}

} // namespace
