#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreXml_.h"
#include "base/CoreXutl.h"
#include "tests/common/FileSizeLimit.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

std::string text(const CoreAnsx& s) {
    return s.c_str();
}

std::string dump(const CoreNode* node) {
    return node ? node->debug(0, nullptr).c_str() : "(null)";
}

// Parses text into a fresh document and returns its debug dump.
std::string parsed(const std::string& xml) {
    CoreXml_ doc;
    return dump(doc.getfc(CoreAnsx(xml.c_str())));
}

std::string compact(const std::string& xml) {
    CoreXml_ doc;
    doc.getfc(CoreAnsx(xml.c_str()));
    return text(doc.settc(false, false));
}

class CoreXml_Files : public ::testing::Test {
protected:
    void SetUp() override {
        folder =
            fs::temp_directory_path() / ("corexml_" + std::to_string(CoreXutl::getpi()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
    }
    void TearDown() override {
        CoreLog_::setdb(0, false);
        CoreLog_::setpt(CoreAnsx(""));
        fs::remove_all(folder);
    }
    CoreAnsx pathOf(const std::string& name) const { return CoreAnsx((folder / name).string().c_str()); }
    fs::path folder;
};

// Expects the parse to fail with the empty CoreAnsx and to leave the document empty.
void expectRejected(CoreXml_& doc, const std::string& xml) {
    try {
        doc.getfc(CoreAnsx(xml.c_str()));
        ADD_FAILURE() << "no exception for " << xml.substr(0, 40);
    } catch (const CoreAnsx& error) {
        EXPECT_STREQ(error.c_str(), "");
    }
    EXPECT_EQ(doc.getrt(), nullptr);
}

} // namespace

TEST(CoreXml_, ReaderKeepsOnlyValuesThatAClosingTagEnds) {
    EXPECT_EQ(parsed("<A> 5 </A>"), "> ROOT\n>> A\n>>>  5 \n");
    EXPECT_EQ(compact("<A> 5 </A>"), "<A> 5 </A>");
    EXPECT_EQ(parsed("<?xml version=\"1.0\"?><!-- note --><A>1</A>"), "> ROOT\n>> A\n>>> 1\n");
    EXPECT_EQ(parsed("<!DOCTYPE x><A><?pi?>1</A>"), "> ROOT\n>> A\n>>> \n");
    EXPECT_EQ(parsed("<A><B>1</B>x</A>"), "> ROOT\n>> A\n>>> B\n>>>> 1\n");
    EXPECT_EQ(parsed("<A></A>"), "> ROOT\n>> A\n>>> \n");
    EXPECT_EQ(compact("<A></A>"), "<A></A>");
    EXPECT_EQ(parsed("<A><B>1</C></D>"), "> ROOT\n>> A\n>>> B\n>>>> 1\n");
    EXPECT_EQ(parsed("<A>1"), "> ROOT\n>> A\n");
    EXPECT_EQ(parsed("<A>\n line\r\n &amp; </A>"), "> ROOT\n>> A\n>>> \n line\r\n &amp; \n");
    EXPECT_EQ(parsed("text <A>1</A> <"), "> ROOT\n>> A\n>>> 1\n");
    EXPECT_EQ(parsed("<A>1</A><B"), "> ROOT\n>> A\n>>> 1\n");
    EXPECT_EQ(parsed(""), "> ROOT\n");
    // Bytes above 127 pass through unchanged.
    EXPECT_EQ(parsed("<N\xE9>caf\xE9</N\xE9>"), "> ROOT\n>> N\xE9\n>>> caf\xE9\n");
}

TEST(CoreXml_, TheTextZeroGivesAnEmptyDocumentWithoutError) {
    CoreXml_ doc;
    doc.getfc(CoreAnsx("<A>1</A>"));
    EXPECT_EQ(doc.getfc(CoreAnsx("0")), nullptr);
    EXPECT_EQ(doc.getrt(), nullptr);
    EXPECT_EQ(text(doc.settc(true, true)), "");
}

TEST(CoreXml_, AttributesAndSelfClosingTagsStayInTheName) {
    CoreXml_ doc;
    CoreNode* root = doc.getfc(CoreAnsx("<A x=\"1\"> 2 </A>"));
    EXPECT_EQ(dump(root), "> ROOT\n>> A x=\"1\"\n>>>  2 \n");
    EXPECT_EQ(root->getcd(CoreAnsx("A")), nullptr);
    EXPECT_EQ(parsed("<A/><B>1</B></A>"), "> ROOT\n>> A/\n>>> B\n>>>> 1\n");
}

TEST(CoreXml_, StrayClosingTagThrowsTheEmptyTextAndEmptiesTheDocument) {
    CoreXml_ doc;
    doc.getfc(CoreAnsx("<A>1</A>"));
    expectRejected(doc, "</A>");
    expectRejected(doc, "<A>1</A></B><C>2</C>");
    // The document stays usable.
    EXPECT_EQ(dump(doc.getfc(CoreAnsx("<C>2</C>"))), "> ROOT\n>> C\n>>> 2\n");
}

TEST(CoreXml_, NestingIsLimitedToMaxDepth) {
    auto nested = [](int depth) {
        std::string xml;
        for (int i = 0; i < depth; ++i) xml += "<A>";
        xml += "1";
        for (int i = 0; i < depth; ++i) xml += "</A>";
        return xml;
    };
    CoreXml_ doc;
    std::string tenThousandOpen;
    for (int i = 0; i < 10000; ++i) tenThousandOpen += "<A>";
    expectRejected(doc, tenThousandOpen);
    expectRejected(doc, nested(CoreXml_::iCmaxdepth + 1));

    const std::string deepest = nested(CoreXml_::iCmaxdepth);
    ASSERT_NE(doc.getfc(CoreAnsx(deepest.c_str())), nullptr);
    std::string expected;
    for (int i = 0; i < CoreXml_::iCmaxdepth; ++i) expected += "<A>";
    expected += " 1 ";
    for (int i = 0; i < CoreXml_::iCmaxdepth; ++i) expected += "</A>";
    EXPECT_EQ(text(doc.settc(false, false)), expected);
    const std::string pretty = text(doc.settc(true, false));
    CoreXml_ again;
    again.getfc(CoreAnsx(pretty.c_str()));
    EXPECT_EQ(text(again.settc(true, false)), pretty);
}

TEST(CoreXml_, WriterFormatsPrettyAndCompactText) {
    CoreXml_ doc;
    doc.getfc(CoreAnsx("<A><B>1</B></A>"));
    EXPECT_EQ(text(doc.settc(true, true)), "\n<A>\n\n  <B> 1 </B>\n</A>\n");
    EXPECT_EQ(text(doc.settc(true, false)), "\n<A>\n  <B> 1 </B>\n</A>\n");
    EXPECT_EQ(text(doc.settc(false, true)), "<A><B> 1 </B></A>");

    doc.getfc(CoreAnsx("<PROGRAM><NAME>  Big Hall\t</NAME><LFO><SHAPE>sine</SHAPE></LFO></PROGRAM>"));
    EXPECT_EQ(text(doc.settc(true, false)), "\n"
                                            "<PROGRAM>\n"
                                            "  <NAME> Big Hall </NAME>\n"
                                            "  <LFO>\n"
                                            "    <SHAPE> sine </SHAPE>\n"
                                            "  </LFO>\n"
                                            "</PROGRAM>\n");
    EXPECT_EQ(text(doc.settc(false, false)),
              "<PROGRAM><NAME> Big Hall </NAME><LFO><SHAPE> sine </SHAPE></LFO></PROGRAM>");
}

TEST(CoreXml_, WriterTreatsEveryChildlessNodeAsAValue) {
    CoreXml_ doc;
    CoreNode* root = new CoreNode("ROOT");
    CoreNode* toc = new CoreNode("TOC");
    root->addcd(toc);
    root->addcd(new CoreNode("   "));
    CoreNode* mixed = new CoreNode("M");
    mixed->addcd(new CoreNode(" v "));
    CoreNode* inner = new CoreNode("I");
    inner->addcd(new CoreNode("1"));
    mixed->addcd(inner);
    root->addcd(mixed);
    doc.setrt(root);
    EXPECT_EQ(text(doc.settc(false, false)), " TOC <M> v <I> 1 </I></M>");
    EXPECT_EQ(text(doc.settc(true, false)), " TOC <M> v   <I> 1 </I>\n</M>\n");
}

TEST(CoreXml_, SanitisesNamesAndValuesThatWouldBreakTheFile) {
    const fs::path folder = fs::temp_directory_path() / ("corexml_log_" + std::to_string(CoreXutl::getpi()));
    fs::remove_all(folder);
    fs::create_directories(folder);
    CoreLog_::setpt(CoreAnsx((folder.string() + "/").c_str()));
    CoreLog_::setfn(CoreAnsx("x.log"));
    CoreLog_::setdb(1, false);

    CoreXml_ doc;
    CoreNode* root = new CoreNode("ROOT");
    auto add = [root](const char* name, const char* value) {
        CoreNode* element = new CoreNode(name);
        element->addcd(new CoreNode(value));
        root->addcd(element);
    };
    add("V", "a<b>c");
    add("X>Y", "1");
    add("<Z", "2");
    add("", "3");
    add("!D", "4");
    add("?P", "5");
    add("/C", "6");
    doc.setrt(root);
    const std::string written = text(doc.settc(false, false));
    EXPECT_EQ(written, "<V> a(b>c </V><X)Y> 1 </X)Y><(Z> 2 </(Z><_> 3 </_><_!D> 4 </_!D><_?P> 5 </_?P>"
                       "<_/C> 6 </_/C>");
    EXPECT_EQ(parsed(written), "> ROOT\n>> V\n>>>  a(b>c \n>> X)Y\n>>>  1 \n>> (Z\n>>>  2 \n>> _\n>>>  3 \n"
                               ">> _!D\n>>>  4 \n>> _?P\n>>>  5 \n>> _/C\n>>>  6 \n");

    CoreLog_::setdb(0, false);
    CoreLog_::setpt(CoreAnsx(""));
    const std::string log = readBytes(folder / "x.log");
    fs::remove_all(folder);
    for (const char* named : {"'a<b>c'", "'X>Y'", "'<Z'", "''", "'!D'", "'?P'", "'/C'"})
        EXPECT_NE(log.find(named), std::string::npos) << named << " in\n" << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 7) << log;
}

TEST(CoreXml_, RandomTreesSurviveAWriteReadWrite) {
    std::mt19937 random(20240611);
    auto pick = [&random](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    auto randomName = [&] {
        std::string name;
        int length = pick(1, 8);
        for (int i = 0; i < length; ++i) name += "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_."[pick(0, 37)];
        return name;
    };
    auto randomValue = [&] {
        std::string value;
        int length = pick(0, 12);
        for (int i = 0; i < length; ++i) {
            char c;
            do c = static_cast<char>(pick(1, 255));
            while (c == '<' || c == '>');
            value += c;
        }
        auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
        while (!value.empty() && blank(value.front())) value.erase(0, 1);
        while (!value.empty() && blank(value.back())) value.pop_back();
        return value;
    };
    // Every element holds either one value or one or more elements.
    std::function<void(CoreNode*, int)> grow = [&](CoreNode* parent, int depth) {
        int count = pick(1, 4);
        for (int i = 0; i < count; ++i) {
            CoreNode* element = new CoreNode(CoreAnsx(randomName().c_str()));
            parent->addcd(element);
            if (depth >= 5 || pick(0, 2) == 0)
                element->addcd(new CoreNode(CoreAnsx(randomValue().c_str())));
            else
                grow(element, depth + 1);
        }
    };
    for (int round = 0; round < 200; ++round) {
        CoreXml_ original;
        CoreNode* root = new CoreNode("ROOT");
        grow(root, 0);
        original.setrt(root);
        for (bool pretty : {false, true}) {
            const std::string first = text(original.settc(pretty, round % 2 == 0));
            CoreXml_ copy;
            copy.getfc(CoreAnsx(first.c_str()));
            ASSERT_EQ(text(copy.settc(pretty, round % 2 == 0)), first) << "round " << round;
            ASSERT_EQ(text(copy.settc(!pretty, false)), text(original.settc(!pretty, false)))
                << "round " << round;
        }
    }
}

TEST(CoreXml_, TagScannerReportsTagsFirstCharactersAndTheEnd) {
    const CoreAnsx xml("<?xml v?> <!-- c --><A> 1 </A>x");
    int pos = 0;
    CoreAnsx out;
    char first = 0;
    const struct {
        const char* tag;
        char first;
        int posAfter;
    } expected[] = {{"?xml v?", '?', 9}, {"!-- c --", '!', 20}, {"A", 'A', 23}, {"A", '/', 30}};
    for (const auto& e : expected) {
        ASSERT_TRUE(CoreXml_::fndtc(xml, pos, out, first));
        EXPECT_EQ(text(out), e.tag);
        EXPECT_EQ(first, e.first);
        EXPECT_EQ(pos, e.posAfter);
    }
    EXPECT_FALSE(CoreXml_::fndtc(xml, pos, out, first));
    EXPECT_EQ(pos, xml.Length() + 1);

    pos = 0;
    bool opening = false;
    ASSERT_TRUE(CoreXml_::fndte(xml, pos, out, opening));
    EXPECT_EQ(text(out), "A");
    EXPECT_TRUE(opening);
    EXPECT_EQ(pos, 23);
    ASSERT_TRUE(CoreXml_::fndte(xml, pos, out, opening));
    EXPECT_EQ(text(out), "A");
    EXPECT_FALSE(opening);
    EXPECT_FALSE(CoreXml_::fndte(xml, pos, out, opening));
    EXPECT_EQ(pos, xml.Length() + 1);

    pos = 0;
    EXPECT_FALSE(CoreXml_::fndte(CoreAnsx("<!only> <A"), pos, out, opening));
    EXPECT_EQ(pos, 11);

    EXPECT_EQ(text(CoreXml_::sbstr(CoreAnsx("abcdef"), 3)), "cdef");
    EXPECT_EQ(text(CoreXml_::sbstr(CoreAnsx("abcdef"), 7)), "");
}

TEST_F(CoreXml_Files, GetasReadsEveryByteButZeroBytes) {
    writeBytes(folder / "data.bin", std::string("a\0b\0\0c\xFF\n", 8));
    EXPECT_EQ(text(CoreXml_::getas(pathOf("data.bin"))), "abc\xFF\n");
    EXPECT_EQ(text(CoreXml_::getas(pathOf("missing.xml"))), "0");
    EXPECT_EQ(text(CoreXml_::getas(CoreAnsx(folder.string().c_str()))), "0"); // a folder

    std::string large(300000, 'x');
    for (size_t i = 0; i < large.size(); i += 1000) large[i] = '\0';
    writeBytes(folder / "large.txt", large);
    large.erase(std::remove(large.begin(), large.end(), '\0'), large.end());
    EXPECT_EQ(text(CoreXml_::getas(pathOf("large.txt"))), large);
}

TEST_F(CoreXml_Files, FileAndTextReadersAgreeAndFindNamesWhateverTheirCase) {
    fs::create_directories(folder / "Sub");
    const std::string xml = "<?xml version=\"1.0\"?>\n<S>\n  <A> 1 </A>\n  <B><C>2</C></B>\n</S>\n";
    writeBytes(folder / "Sub" / "Settings.XML", xml);
    CoreXml_ fromText, fromFile, viaGetdc;
    const std::string expected = dump(fromText.getfc(CoreAnsx(xml.c_str())));
    EXPECT_EQ(dump(fromFile.getff(pathOf("sub/SETTINGS.xml"), false)), expected);
    EXPECT_EQ(dump(viaGetdc.getdc(pathOf("Sub/Settings.XML"), true, false)), expected);

    CoreXml_ missing;
    EXPECT_EQ(missing.getff(pathOf("nothing.xml"), false), nullptr);
    EXPECT_EQ(missing.getrt(), nullptr);
}

TEST_F(CoreXml_Files, Utf16LittleEndianFileReadsAsEightBitText) {
    writeBytes(folder / "wide.xml", std::string("\xFF\xFE<\0A\0>\0"
                                                "1\0<\0/\0A\0>\0",
                                                18));
    CoreXml_ doc;
    EXPECT_EQ(dump(doc.getff(pathOf("wide.xml"), true)), "> ROOT\n>> A\n>>> 1\n");
    EXPECT_EQ(text(doc.settc(false, false)), "<A> 1 </A>");
}

TEST_F(CoreXml_Files, SettfWritesHeaderAndTextAndReplacesTheFile) {
    CoreXml_ doc;
    doc.getfc(CoreAnsx("<A><B>1</B></A>"));
    ASSERT_TRUE(doc.settf(pathOf("out.xml"), true, false, false));
    const std::string expected =
        std::string(CoreButl::sCxmlheader) + CoreButl::sCxmlgenerator + "\n<A>\n  <B> 1 </B>\n</A>\n" + "\n";
    EXPECT_EQ(readBytes(folder / "out.xml"), expected);
    EXPECT_EQ(expected.substr(0, 76),
              "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\n<?generated by Vorlan2 parser?>\n");

    CoreXml_ back;
    back.getff(pathOf("out.xml"), false);
    EXPECT_EQ(text(back.settc(true, false)), text(doc.settc(true, false)));

    doc.getfc(CoreAnsx("<C>2</C>"));
    ASSERT_TRUE(doc.settf(pathOf("out.xml"), false, false, true));
    EXPECT_EQ(readBytes(folder / "out.xml"),
              std::string(CoreButl::sCxmlheader) + CoreButl::sCxmlgenerator + "<C> 2 </C>\n");

    EXPECT_FALSE(doc.settf(pathOf("no/such/folder/out.xml"), false, false, false));
    EXPECT_FALSE(fs::exists(folder / "no"));
}

TEST_F(CoreXml_Files, FailedSettfLeavesTheOldFileWhole) {
    const std::string old = "<?xml?><OLD> 1 </OLD>\n";
    writeBytes(folder / "keep.xml", old);
    // A write cut short by the file-size limit; a forked child, since the limit is per process.
    const auto writeBig = [&] {
        CoreXml_ doc;
        CoreNode* root = new CoreNode("ROOT");
        for (int i = 0; i < 2000; ++i) {
            CoreNode* element = new CoreNode("ELEMENT");
            element->addcd(new CoreNode("some value text"));
            root->addcd(element);
        }
        doc.setrt(root);
        return doc.settf(pathOf("keep.xml"), true, false, false);
    };
    EXPECT_EQ(writeUnderFileSizeLimit(4096, writeBig), 0) << "settf reported success";
    EXPECT_EQ(readBytes(folder / "keep.xml"), old);
}

TEST(CoreXml_, OwnershipOfTheRoot) {
    CoreXml_ doc;
    EXPECT_EQ(doc.getrt(), nullptr);
    doc.setrt(new CoreNode("ROOT"));
    CoreNode* second = new CoreNode("ROOT");
    doc.setrt(second); // the owned first root is deleted (AddressSanitizer reports a leak otherwise)
    doc.setrt(second); // the same root again is kept, not deleted
    EXPECT_EQ(doc.getrt(), second);

    CoreNode* parsedRoot = doc.getfc(CoreAnsx("<A>1</A>"));
    doc.free_();
    EXPECT_EQ(doc.getrt(), nullptr);
    doc.close();
    EXPECT_EQ(dump(parsedRoot), "> ROOT\n>> A\n>>> 1\n"); // still ours
    delete parsedRoot;

    doc.getfc(CoreAnsx("<B>2</B>"));
    doc.close();
    EXPECT_EQ(doc.getrt(), nullptr);
    doc.close();
    auto* scoped = new CoreXml_;
    scoped->getfc(CoreAnsx("<C>3</C>"));
    delete scoped; // the destructor deletes the owned tree
}

TEST(CoreXml_, DocumentPathOperations) {
    CoreXml_ doc;
    const CoreAnsx path[] = {CoreAnsx("S"), CoreAnsx("A")};
    EXPECT_EQ(doc.pdlte(path, 2), nullptr);
    EXPECT_EQ(doc.getrt(), nullptr);
    CoreXml_ other;
    other.getfc(CoreAnsx("<S><A>1</A></S>"));
    EXPECT_FALSE(doc.pmove(path, 2, &other, path, 2, false));
    EXPECT_EQ(doc.getrt(), nullptr);
    EXPECT_EQ(text(other.settc(false, false)), "<S><A> 1 </A></S>");

    // A rootless document gets an owned ROOT from pappd and pappr.
    EXPECT_TRUE(doc.pappd(path, 1, new CoreNode("x")));
    EXPECT_EQ(dump(doc.getrt()), "> ROOT\n>> S\n>>> x\n");
    CoreXml_ forReplace;
    EXPECT_TRUE(forReplace.pappr(path, 2, new CoreNode("y")));
    EXPECT_EQ(text(forReplace.settc(false, false)), "<S><A> y </A></S>");
    EXPECT_FALSE(forReplace.pappr(path, 0, nullptr));

    // pappr deletes only the first old element and appends the new one at the end of the level.
    doc.getfc(CoreAnsx("<S><A>1</A><B>2</B><A>3</A></S>"));
    EXPECT_TRUE(doc.pappr(path, 2, new CoreNode("9")));
    EXPECT_EQ(text(doc.settc(false, false)), "<S><B> 2 </B><A> 3 </A><A> 9 </A></S>");

    EXPECT_EQ(doc.pdlte(path, 2), nullptr);
    EXPECT_EQ(text(doc.settc(false, false)), "<S><B> 2 </B><A> 9 </A></S>");

    const CoreAnsx dst[] = {CoreAnsx("S"), CoreAnsx("B")};
    EXPECT_TRUE(doc.pmove(path, 2, &other, dst, 2, true));
    EXPECT_EQ(text(doc.settc(false, false)), "<S><A> 9 </A><A> 1 </A></S>");
    EXPECT_EQ(text(other.settc(false, false)), " S ");
    EXPECT_TRUE(doc.pappd(dst, 2, new CoreNode("5")));
    EXPECT_EQ(text(doc.settc(false, false)), "<S><A> 9 </A><A> 1 </A><B> 5 </B></S>");
}

TEST(CoreXml_, MergeLaysTheInstallerOverTheDocument) {
    CoreXml_ master, installer;
    master.getfc(CoreAnsx("<S><A>1</A><B>2</B><C>3</C></S>"));
    installer.getfc(CoreAnsx("<S><B>20</B><D>40</D><A>10</A></S>"));
    master.merge(&installer);
    EXPECT_EQ(text(master.settc(false, false)), "<S><C> 3 </C><A> 10 </A><D> 40 </D><B> 20 </B></S>");
    EXPECT_TRUE(installer.getrt()->getcd()->leaf_());

    CoreXml_ twice;
    twice.getfc(CoreAnsx("<S><A>x</A><A>y</A></S>"));
    master.getfc(CoreAnsx("<S><A>1</A><E>5</E></S>"));
    master.merge(&twice);
    EXPECT_EQ(text(master.settc(false, false)), "<S><E> 5 </E><A> y </A></S>");

    CoreXml_ nothing;
    nothing.getfc(CoreAnsx("<?only a declaration?>"));
    master.merge(&nothing);
    master.merge(&master);
    master.merge(nullptr);
    CoreXml_ rootless;
    master.merge(&rootless);
    EXPECT_EQ(text(master.settc(false, false)), "<S><E> 5 </E><A> y </A></S>");
    installer.getfc(CoreAnsx("<S><A>1</A></S>"));
    rootless.merge(&installer);
    EXPECT_EQ(rootless.getrt(), nullptr);
    EXPECT_EQ(text(installer.settc(false, false)), "<S><A> 1 </A></S>");
}

TEST(CoreXml_, PatchCopiesValuesIntoTheLastElementOfEachName) {
    CoreXml_ src, dst;
    src.getfc(CoreAnsx("<P><A>1</A><B><C>2</C></B></P>"));
    dst.getfc(CoreAnsx("<P><A>7</A><A>8</A><D>4</D></P>"));
    EXPECT_EQ(CoreXml_::patch(src.getrt(), 3, dst.getrt()), 4);
    EXPECT_EQ(text(dst.settc(false, false)), "<P><A> 7 </A><A> 1 </A><D> 4 </D><B><C> 2 </C></B></P>");
    EXPECT_EQ(text(src.settc(false, false)), "<P><A> 1 </A><B><C> 2 </C></B></P>");

    const std::string before = text(dst.settc(false, false));
    CoreXml_::patch(dst.getrt(), 0, dst.getrt());
    CoreXml_::patch(dst.getrt(), 0, dst.getrt()->getcd());
    CoreXml_::patch(dst.getrt()->getcd(), 0, dst.getrt());
    CoreXml_::patch(nullptr, 0, dst.getrt());
    EXPECT_EQ(text(dst.settc(false, false)), before);
}
