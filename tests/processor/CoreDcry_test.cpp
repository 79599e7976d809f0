#include "processor/CoreDcry.h"

#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using Text = std::string;

class CoreDcryTest : public TempFolderTest {};

TEST_F(CoreDcryTest, TranslatesKnownKeysAndAnswersEveryOtherWithTheKey) {
    const Text good = "<DICTIONARY><CATEGORY><FIRST>x</FIRST></CATEGORY></DICTIONARY><DICTIONARY><CATEGORY>"
                      "<REVERB> Big rooms </REVERB><ZERO>0</ZERO><Framed> 0 </Framed></CATEGORY></DICTIONARY>";
    struct Row { Text file, name, key, expected; };
    const Row rows[] = {
        {good, "DICT.XML", " reverb ", "Big rooms"}, {good, "dict.xml", "FIRST", "FIRST"}, // the last one counts
        {good, "dict.xml", "DELAY", "DELAY"},        {good, "dict.xml", "zero", "zero"},
        {good, "dict.xml", "FRAMED", "0"},           {good, "NULL", "REVERB", "REVERB"}, // names no file
        {good, "missing.xml", "REVERB", "REVERB"},
        {"<DICTIONARY><OTHER><REVERB>x</REVERB></OTHER></DICTIONARY>", "dict.xml", "REVERB", "REVERB"},
        {"<DICTIONARY>0</DICTIONARY>", "dict.xml", "REVERB", "REVERB"},
        {"<CATEGORY><REVERB>x</REVERB></CATEGORY>", "dict.xml", "REVERB", "REVERB"},
        {"</DICTIONARY>" + good, "dict.xml", "REVERB", "REVERB"},
    };
    for (const Row& r : rows) {
        writeBytes(root / "dict.xml", r.file);
        writeBytes(root / "NULL", r.file);
        const CoreDcry dictionary(at(r.name));
        EXPECT_EQ(Text(dictionary.getvl("CATEGORY", r.key.c_str()).c_str()), r.expected) << r.file << r.key;
    }
}

} // namespace
