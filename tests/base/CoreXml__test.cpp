// Tests of the XML document: the dialect's reading rules, refusal of stray closing tags and deep nesting,
// framed and indented writing, sanitised names and values, random trees surviving a write-read-write,
// files (any case, UTF-16, atomic replacement) and the path, merge and patch operations.
#include "base/CoreButl.h"
#include "base/CoreXml_.h"
#include "tests/base/XmlTree.h"
#include "tests/common/FileSizeLimit.h"
#include "tests/common/LogCapture.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>

namespace fs = std::filesystem;

namespace {

std::string text(const CoreXml_& doc, bool pretty = false) {
    return doc.settc(pretty, false).c_str();
}

class CoreXml_Files : public TempFolderTest {};

} // namespace

TEST(CoreXml_, ReaderKeepsOnlyValuesThatAClosingTagEndsAndSkipsDeclarations) {
    const std::pair<const char*, const char*> rows[] = {
        {"<?xml version=\"1.0\"?><!-- note --><A> 5 </A>", "> ROOT\n>> A\n>>>  5 \n"},
        {"<A><?pi?>1</A>", "> ROOT\n>> A\n>>> \n"},                 // a value ends at any tag
        {"<A><B>1</C></D>", "> ROOT\n>> A\n>>> B\n>>>> 1\n"},       // closing tags match by nesting only
        {"text <A>1", "> ROOT\n>> A\n"},                            // an unclosed value is dropped
        {"<A x=\"1\"> 2 </A>", "> ROOT\n>> A x=\"1\"\n>>>  2 \n"}}; // attributes stay in the name
    for (const auto& [xml, expected] : rows) {
        CoreXml_ doc;
        EXPECT_EQ(dump(doc.getfc(xml)), expected) << xml;
    }
    CoreXml_ doc;
    doc.getfc("<A>1</A>");
    EXPECT_EQ(doc.getfc("0"), nullptr); // the text "0" gives an empty document, without error
    EXPECT_STREQ(doc.settc(true, true).c_str(), "");
}

TEST(CoreXml_, AStrayClosingTagOrDeepNestingThrowsTheEmptyTextAndEmptiesTheDocument) {
    const auto nested = [](int depth) {
        std::string xml = "1";
        for (int i = 0; i < depth; ++i) xml = "<A>" + xml + "</A>";
        return xml;
    };
    CoreXml_ doc;
    for (const std::string& bad : {std::string("<A>1</A></B><C>2</C>"), nested(CoreXml_::iCmaxdepth + 1)}) {
        doc.getfc("<A>1</A>");
        try {
            doc.getfc(bad.c_str());
            ADD_FAILURE() << bad.substr(0, 40);
        } catch (const CoreAnsx& error) {
            EXPECT_STREQ(error.c_str(), "");
        }
        EXPECT_EQ(doc.getrt(), nullptr);
    }
    std::string deepest = nested(CoreXml_::iCmaxdepth);
    ASSERT_NE(doc.getfc(deepest.c_str()), nullptr);
    EXPECT_EQ(text(doc), deepest.replace(deepest.find('1'), 1, " 1 "));
    CoreXml_ again;
    again.getfc(text(doc, true).c_str());
    EXPECT_EQ(text(again), text(doc));
}

TEST(CoreXml_, WriterFramesValuesIndentsLevelsAndTreatsEveryChildlessNodeAsAValue) {
    CoreXml_ doc;
    doc.getfc("<P><NAME>  Big Hall\t</NAME><LFO><SHAPE>sine</SHAPE></LFO></P>");
    EXPECT_STREQ(doc.settc(true, true).c_str(),
                 "\n<P>\n\n  <NAME> Big Hall </NAME>\n  <LFO>\n    <SHAPE> sine </SHAPE>\n  </LFO>\n</P>\n");
    EXPECT_STREQ(doc.settc(false, true).c_str(),
                 "<P><NAME> Big Hall </NAME><LFO><SHAPE> sine </SHAPE></LFO></P>");
    doc.setrt(element("ROOT", {element("TOC", {}), new CoreNode("   "),
                               element("M", {new CoreNode(" v "), valued("I", "1")})}));
    // Values beside elements are left out, with the layout a blank value gives (the setup files' own).
    EXPECT_EQ(text(doc, true), "<M>  <I> 1 </I>\n</M>\n");
    doc.setrt(element("ROOT", {element("M", {element("TOC", {}), new CoreNode("   "), new CoreNode(" v ")})}));
    EXPECT_EQ(text(doc, true), "\n<M> TOC  v </M>\n");
}

// The reader keeps only text that a closing tag ends right after its opening tag, so text beside child
// elements (a childless node is such a text) is written as blank text would be, at any level: the
// first write, compact or pretty, reads back as the same document, and compact as the same bytes.
// Trees without such text keep their bytes (first and last rows).
TEST(CoreXml_, ValuesBesideChildElementsAreNotWrittenSoTheFirstWriteReadsBackAlike) {
    const std::pair<std::function<CoreNode*()>, const char*> rows[] = {
        {[] { return element("ROOT", {element("P", {valued("S", "0")})}); }, "<P><S> 0 </S></P>"},
        {[] { return element("ROOT", {new CoreNode("x"), element("P", {valued("S", "0")})}); }, "<P><S> 0 </S></P>"},
        {[] { return element("ROOT", {element("P", {new CoreNode("A"), valued("S", "0")})}); }, "<P><S> 0 </S></P>"},
        {[] { return element("ROOT", {element("P", {valued("S", "0"), new CoreNode("A")})}); }, "<P><S> 0 </S></P>"},
        {[] {
             return element("ROOT", {element("P", {element("H", {new CoreNode("t"), valued("E", "1"), new CoreNode("0"),
                                                                 element("F", {})}),
                                                   valued("N", "n")})});
         },
         "<P><H><E> 1 </E></H><N> n </N></P>"},
        {[] { return element("ROOT", {element("P", {new CoreNode("a"), new CoreNode("b")})}); }, "<P> a  b </P>"},
    };
    for (const auto& [tree, compact] : rows) {
        SCOPED_TRACE(compact);
        CoreXml_ doc;
        doc.setrt(tree());
        EXPECT_EQ(text(doc), compact);
        for (bool pretty : {false, true}) {
            CoreXml_ back;
            back.getfc(text(doc, pretty).c_str());
            EXPECT_EQ(text(back), compact);
        }
    }
}

TEST(CoreXml_, AValueReadAsTheBareZeroIsWrittenBareSoThatItStillReadsAbsent) {
    // A "0" that a program sets is a present value and is framed like every other.
    const auto setToZero = [](CoreXml_& doc) { doc.getrt()->getcd("A")->getcd()->settx("0"); };
    const auto addZero = [](CoreXml_& doc) { doc.getrt()->addcd(valued("A", "0")); };
    const struct {
        const char* read;
        std::function<void(CoreXml_&)> edit;
        const char* written;
        bool present;
    } rows[] = {
        {"<A>0</A>", nullptr, "<A>0</A>", false},
        {"<A> 0 </A>", nullptr, "<A> 0 </A>", true},
        {"<A>0\n</A>", nullptr, "<A> 0 </A>", true},
        {"<A>0</A>", setToZero, "<A> 0 </A>", true},
        {"<B>1</B>", addZero, "<B> 1 </B><A> 0 </A>", true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.read);
        CoreXml_ doc, back;
        doc.getfc(r.read);
        if (r.edit) r.edit(doc);
        EXPECT_EQ(text(doc), r.written);
        EXPECT_EQ(back.getfc(text(doc, true).c_str())->exslc("A"), r.present);
    }
}

TEST(CoreXml_, SanitisesNamesAndValuesThatWouldBreakTheFileAndLogsEachChange) {
    LogCapture log(1);
    CoreXml_ doc, back;
    doc.setrt(
        element("ROOT", {valued("V", "a<b>c"), valued("X>Y", "1"), valued("", "3"), valued("!D", "4")}));
    const std::string written = text(doc);
    EXPECT_EQ(written, "<V> a(b>c </V><X)Y> 1 </X)Y><_> 3 </_><_!D> 4 </_!D>");
    back.getfc(written.c_str());
    EXPECT_EQ(text(back), written); // what was written reads back
    const std::string logged = log.text();
    for (const char* named : {"'a<b>c'", "'X>Y'", "''", "'!D'"})
        EXPECT_NE(logged.find(named), std::string::npos) << named << " in\n" << logged;
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 4) << logged;
}

TEST(CoreXml_, RandomTreesSurviveAWriteReadWrite) {
    std::mt19937 random(20240611);
    const auto pick = [&](int low, int high) {
        return std::uniform_int_distribution<int>(low, high)(random);
    };
    const auto randomText = [&](const char* alphabet, int low, int high) {
        std::string result;
        for (int i = pick(low, high); i > 0; --i)
            result += alphabet ? alphabet[pick(0, 37)] : char(pick(1, 255));
        std::erase_if(result, [](char c) { return c == '<' || c == '>'; });
        return CoreAnsx(result.c_str()).Trim(); // values are written trimmed
    };
    // Every element holds either one value or one or more elements.
    std::function<void(CoreNode*, int)> grow = [&](CoreNode* parent, int depth) {
        for (int i = pick(1, 4); i > 0; --i) {
            CoreNode* child = new CoreNode(randomText("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.", 1, 8));
            parent->addcd(child);
            if (depth >= 5 || pick(0, 2) == 0)
                child->addcd(new CoreNode(randomText(nullptr, 0, 12)));
            else
                grow(child, depth + 1);
        }
    };
    for (int round = 0; round < 50; ++round) {
        CoreXml_ original;
        original.setrt(new CoreNode("ROOT"));
        grow(original.getrt(), 0);
        for (bool pretty : {false, true}) {
            const std::string first = original.settc(pretty, round % 2 == 0).c_str();
            CoreXml_ copy;
            copy.getfc(first.c_str());
            ASSERT_STREQ(copy.settc(pretty, round % 2 == 0).c_str(), first.c_str()) << round;
        }
    }
}

TEST(CoreXml_, TagScannerReportsTagsFirstCharactersAndTheEnd) {
    const CoreAnsx xml("<?xml v?> <!-- c --><A> 1 </A>x");
    int pos = 0;
    CoreAnsx out;
    char first = 0;
    ASSERT_TRUE(CoreXml_::fndtc(xml, pos, out, first));
    EXPECT_TRUE(out == "?xml v?" && first == '?' && pos == 9);
    bool opening = false; // declarations and comments are skipped
    ASSERT_TRUE(CoreXml_::fndte(xml, pos, out, opening) && opening);
    ASSERT_TRUE(CoreXml_::fndte(xml, pos, out, opening));
    EXPECT_TRUE(out == "A" && !opening && pos == 30);
    EXPECT_FALSE(CoreXml_::fndte(xml, pos, out, opening));
    EXPECT_EQ(pos, xml.Length() + 1);
    EXPECT_STREQ(CoreXml_::sbstr("abcdef", 3).c_str(), "cdef");
}

TEST_F(CoreXml_Files, FilesAreReadWithoutZeroBytesWhateverTheCaseOfTheirNameAndFromUtf16) {
    std::string large(300000, 'x');
    for (size_t i = 0; i < large.size(); i += 1000) large[i] = '\0';
    writeBytes(root / "large.txt", large);
    std::erase(large, '\0');
    EXPECT_EQ(CoreXml_::getas(at("LARGE.txt")).c_str(), large);
    EXPECT_STREQ(CoreXml_::getas(CoreAnsx(root.c_str())).c_str(), "0"); // a folder
    fs::create_directories(root / "Sub");
    writeBytes(root / "Sub/Settings.XML", "<?xml version=\"1.0\"?>\n<S>\n  <A> 1 </A>\n</S>\n");
    CoreXml_ fromFile, missing, wide;
    EXPECT_EQ(dump(fromFile.getdc(at("sub/SETTINGS.xml"), true, false)), "> ROOT\n>> S\n>>> A\n>>>>  1 \n");
    EXPECT_EQ(missing.getff(at("nothing.xml"), false), nullptr);
    writeBytes(root / "wide.xml", std::string("\xFF\xFE<\0A\0>\0"
                                              "1\0<\0/\0A\0>\0",
                                              18));
    EXPECT_EQ(dump(wide.getff(at("wide.xml"), true)), "> ROOT\n>> A\n>>> 1\n");
}

TEST_F(CoreXml_Files, WritingReplacesTheFileWithHeaderAndTextOrLeavesTheOldOneWhole) {
    const std::string header = std::string(CoreButl::sCxmlheader) + CoreButl::sCxmlgenerator;
    CoreXml_ doc;
    doc.getfc("<C>2</C>");
    ASSERT_TRUE(doc.settf(at("out.xml"), false, false, true));
    EXPECT_EQ(readBytes(root / "out.xml"), header + "<C> 2 </C>\n");
    EXPECT_FALSE(doc.settf(at("no/such/folder/out.xml"), false, false, false));
    // A write cut short by the file-size limit; a forked child, since the limit is per process.
    for (int i = 0; i < 2000; ++i) doc.getrt()->addcd(valued("ELEMENT", "some value text"));
    EXPECT_EQ(writeUnderFileSizeLimit(4096, [&] { return doc.settf(at("out.xml"), true, false, false); }), 0);
    EXPECT_EQ(readBytes(root / "out.xml"), header + "<C> 2 </C>\n");
}

TEST(CoreXml_, TheDocumentOwnsItsRootUntilFreed) {
    CoreXml_ doc;
    doc.setrt(new CoreNode("ROOT"));
    CoreNode* second = new CoreNode("ROOT");
    doc.setrt(second); // the owned first root is deleted (AddressSanitizer reports a leak otherwise)
    doc.setrt(second); // the same root again is kept, not deleted
    CoreNode* parsedRoot = doc.getfc("<A>1</A>");
    doc.free_();
    EXPECT_EQ(doc.getrt(), nullptr);
    EXPECT_EQ(dump(parsedRoot), "> ROOT\n>> A\n>>> 1\n"); // still ours
    delete parsedRoot;
}

TEST(CoreXml_, PathOperationsMergeAndPatchOnTheDocument) {
    CoreXml_ doc, other, rootless;
    const CoreAnsx path[] = {"S", "A"}, dst[] = {"S", "B"};
    other.getfc("<S><A>1</A></S>");
    EXPECT_FALSE(rootless.pmove(path, 2, &other, path, 2, false)); // a rootless document stays rootless
    rootless.merge(&other);
    EXPECT_EQ(rootless.getrt(), nullptr);
    EXPECT_TRUE(rootless.pappd(path, 1, new CoreNode("x"))); // but pappd gives it a ROOT
    EXPECT_EQ(dump(rootless.getrt()), "> ROOT\n>> S\n>>> x\n");
    doc.getfc("<S><A>1</A><B>2</B><A>3</A></S>");
    EXPECT_TRUE(doc.pappr(path, 2, new CoreNode("9"))); // the first old element goes, the new one comes last
    EXPECT_EQ(doc.pdlte(path, 2), nullptr);
    EXPECT_TRUE(doc.pmove(path, 2, &other, dst, 2, true));
    EXPECT_EQ(text(doc), "<S><A> 9 </A><A> 1 </A></S>");

    CoreXml_ master, installer;
    master.getfc("<S><A>1</A><B>2</B><C>3</C></S>");
    installer.getfc("<S><B>20</B><D>40</D><A>10</A><A>11</A></S>");
    master.merge(&installer);
    master.merge(&master); // into itself: nothing changes
    EXPECT_EQ(text(master), "<S><C> 3 </C><A> 11 </A><D> 40 </D><B> 20 </B></S>");

    CoreXml_ src, target;
    src.getfc("<P><A>1</A><B><C>2</C></B></P>");
    target.getfc("<P><A>7</A><A>8</A><D>4</D></P>");
    EXPECT_EQ(CoreXml_::patch(src.getrt(), 3, target.getrt()), 4);
    EXPECT_EQ(text(target), "<P><A> 7 </A><A> 1 </A><D> 4 </D><B><C> 2 </C></B></P>"); // the last A takes it
    CoreNode* tree = target.getrt();
    for (const auto& [from, to] : {std::pair{tree, tree->getcd()}, {tree->getcd(), tree}})
        CoreXml_::patch(from, 0, to); // overlapping trees are refused
    EXPECT_EQ(text(target), "<P><A> 7 </A><A> 1 </A><D> 4 </D><B><C> 2 </C></B></P>");
}
