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

// The document's compact text after reading xml.
std::string compact(const std::string& xml) {
    CoreXml_ doc;
    doc.getfc(CoreAnsx(xml.c_str()));
    return doc.settc(false, false).c_str();
}

std::string text(const CoreXml_& doc, bool pretty = false) {
    return doc.settc(pretty, false).c_str();
}

class CoreXml_Files : public TempFolderTest {};

} // namespace

TEST(CoreXml_, ReaderKeepsOnlyValuesThatAClosingTagEndsAndSkipsDeclarations) {
    const std::pair<const char*, const char*> rows[] = {
        {"<A> 5 </A>", "> ROOT\n>> A\n>>>  5 \n"},
        {"<?xml version=\"1.0\"?><!-- note --><A>1</A>", "> ROOT\n>> A\n>>> 1\n"},
        {"<!DOCTYPE x><A><?pi?>1</A>", "> ROOT\n>> A\n>>> \n"}, // a value ends at any tag
        {"<A><B>1</B>x</A>", "> ROOT\n>> A\n>>> B\n>>>> 1\n"},
        {"<A><B>1</C></D>", "> ROOT\n>> A\n>>> B\n>>>> 1\n"}, // closing tags match by nesting only
        {"<A>1", "> ROOT\n>> A\n"},
        {"<A>\n line\r\n &amp; </A>", "> ROOT\n>> A\n>>> \n line\r\n &amp; \n"},
        {"text <A>1</A><B", "> ROOT\n>> A\n>>> 1\n"},
        {"", "> ROOT\n"},
        {"<N\xE9>caf\xE9</N\xE9>", "> ROOT\n>> N\xE9\n>>> caf\xE9\n"},
        {"<A x=\"1\"> 2 </A>", "> ROOT\n>> A x=\"1\"\n>>>  2 \n"}}; // attributes stay in the name
    for (const auto& [xml, expected] : rows) {
        CoreXml_ doc;
        EXPECT_EQ(dump(doc.getfc(xml)), expected) << xml;
    }
    CoreXml_ doc;
    doc.getfc("<A>1</A>");
    EXPECT_EQ(doc.getfc("0"), nullptr); // the text "0" gives an empty document, without error
    EXPECT_EQ(doc.getrt(), nullptr);
    EXPECT_STREQ(doc.settc(true, true).c_str(), "");
}

TEST(CoreXml_, AStrayClosingTagOrDeepNestingThrowsTheEmptyTextAndEmptiesTheDocument) {
    const auto nested = [](int depth) {
        std::string xml = "1";
        for (int i = 0; i < depth; ++i) xml = "<A>" + xml + "</A>";
        return xml;
    };
    std::string openOnly;
    for (int i = 0; i < 10000; ++i) openOnly += "<A>";
    CoreXml_ doc;
    for (const std::string& bad : {std::string("</A>"), std::string("<A>1</A></B><C>2</C>"), openOnly,
                                   nested(CoreXml_::iCmaxdepth + 1)}) {
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
    const std::string pretty = text(doc, true);
    EXPECT_EQ(compact(pretty), text(doc));
}

TEST(CoreXml_, WriterFramesValuesIndentsLevelsAndTreatsEveryChildlessNodeAsAValue) {
    CoreXml_ doc;
    doc.getfc("<P><NAME>  Big Hall\t</NAME><LFO><SHAPE>sine</SHAPE></LFO></P>");
    EXPECT_STREQ(doc.settc(true, true).c_str(),
                 "\n<P>\n\n  <NAME> Big Hall </NAME>\n  <LFO>\n    <SHAPE> sine </SHAPE>\n  </LFO>\n</P>\n");
    EXPECT_EQ(text(doc, true),
              "\n<P>\n  <NAME> Big Hall </NAME>\n  <LFO>\n    <SHAPE> sine </SHAPE>\n  </LFO>\n</P>\n");
    EXPECT_STREQ(doc.settc(false, true).c_str(),
                 "<P><NAME> Big Hall </NAME><LFO><SHAPE> sine </SHAPE></LFO></P>");
    doc.setrt(element("ROOT", {element("TOC", {}), new CoreNode("   "),
                               element("M", {new CoreNode(" v "), valued("I", "1")})}));
    EXPECT_EQ(text(doc), " TOC <M> v <I> 1 </I></M>");
    EXPECT_EQ(text(doc, true), " TOC <M> v   <I> 1 </I>\n</M>\n");
}

TEST(CoreXml_, SanitisesNamesAndValuesThatWouldBreakTheFileAndLogsEachChange) {
    LogCapture log(1);
    CoreXml_ doc;
    doc.setrt(element("ROOT", {valued("V", "a<b>c"), valued("X>Y", "1"), valued("<Z", "2"), valued("", "3"),
                               valued("!D", "4"), valued("?P", "5"), valued("/C", "6")}));
    const std::string written = text(doc);
    EXPECT_EQ(written,
              "<V> a(b>c </V><X)Y> 1 </X)Y><(Z> 2 </(Z><_> 3 </_><_!D> 4 </_!D><_?P> 5 </_?P><_/C> 6 </_/C>");
    EXPECT_EQ(compact(written), written); // what was written reads back
    const std::string logged = log.text();
    for (const char* named : {"'a<b>c'", "'X>Y'", "'<Z'", "''", "'!D'", "'?P'", "'/C'"})
        EXPECT_NE(logged.find(named), std::string::npos) << named << " in\n" << logged;
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 7) << logged;
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
        result.erase(
            std::remove_if(result.begin(), result.end(), [](char c) { return c == '<' || c == '>'; }),
            result.end());
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
    for (int round = 0; round < 200; ++round) {
        CoreXml_ original;
        original.setrt(new CoreNode("ROOT"));
        grow(original.getrt(), 0);
        for (bool pretty : {false, true}) {
            const std::string first = original.settc(pretty, round % 2 == 0).c_str();
            CoreXml_ copy;
            copy.getfc(first.c_str());
            ASSERT_STREQ(copy.settc(pretty, round % 2 == 0).c_str(), first.c_str()) << round;
            ASSERT_EQ(text(copy, !pretty), text(original, !pretty)) << round;
        }
    }
}

TEST(CoreXml_, TagScannerReportsTagsFirstCharactersAndTheEnd) {
    const CoreAnsx xml("<?xml v?> <!-- c --><A> 1 </A>x");
    int pos = 0;
    CoreAnsx out;
    char first = 0;
    const std::tuple<const char*, char, int> tags[] = {
        {"?xml v?", '?', 9}, {"!-- c --", '!', 20}, {"A", 'A', 23}, {"A", '/', 30}};
    for (const auto& [tag, character, after] : tags) {
        ASSERT_TRUE(CoreXml_::fndtc(xml, pos, out, first));
        EXPECT_STREQ(out.c_str(), tag);
        EXPECT_EQ(first, character);
        EXPECT_EQ(pos, after);
    }
    EXPECT_FALSE(CoreXml_::fndtc(xml, pos, out, first));
    EXPECT_EQ(pos, xml.Length() + 1);
    bool opening = false;
    pos = 0; // declarations and comments are skipped
    ASSERT_TRUE(CoreXml_::fndte(xml, pos, out, opening));
    EXPECT_TRUE(opening);
    ASSERT_TRUE(CoreXml_::fndte(xml, pos, out, opening));
    EXPECT_FALSE(opening);
    EXPECT_STREQ(out.c_str(), "A");
    EXPECT_FALSE(CoreXml_::fndte(xml, pos, out, opening));
    pos = 0;
    EXPECT_FALSE(CoreXml_::fndte(CoreAnsx("<!only> <A"), pos, out, opening));
    EXPECT_EQ(pos, 11);
    EXPECT_STREQ(CoreXml_::sbstr("abcdef", 3).c_str(), "cdef");
    EXPECT_STREQ(CoreXml_::sbstr("abcdef", 7).c_str(), "");
}

TEST_F(CoreXml_Files, FilesAreReadWithoutZeroBytesWhateverTheCaseOfTheirNameAndFromUtf16) {
    std::string large(300000, 'x');
    for (size_t i = 0; i < large.size(); i += 1000) large[i] = '\0';
    writeBytes(root / "large.txt", large);
    large.erase(std::remove(large.begin(), large.end(), '\0'), large.end());
    EXPECT_EQ(CoreXml_::getas(at("LARGE.txt")).c_str(), large);
    EXPECT_STREQ(CoreXml_::getas(at("missing.xml")).c_str(), "0");
    EXPECT_STREQ(CoreXml_::getas(CoreAnsx(root.c_str())).c_str(), "0"); // a folder

    fs::create_directories(root / "Sub");
    writeBytes(root / "Sub/Settings.XML",
               "<?xml version=\"1.0\"?>\n<S>\n  <A> 1 </A>\n  <B><C>2</C></B>\n</S>\n");
    CoreXml_ fromFile, viaGetdc, missing, wide;
    EXPECT_EQ(dump(fromFile.getff(at("sub/SETTINGS.xml"), false)),
              "> ROOT\n>> S\n>>> A\n>>>>  1 \n>>> B\n>>>> C\n>>>>> 2\n");
    EXPECT_EQ(dump(viaGetdc.getdc(at("Sub/Settings.XML"), true, false)), dump(fromFile.getrt()));
    EXPECT_EQ(missing.getff(at("nothing.xml"), false), nullptr);
    writeBytes(root / "wide.xml", std::string("\xFF\xFE<\0A\0>\0"
                                              "1\0<\0/\0A\0>\0",
                                              18));
    EXPECT_EQ(dump(wide.getff(at("wide.xml"), true)), "> ROOT\n>> A\n>>> 1\n");
}

TEST_F(CoreXml_Files, WritingReplacesTheFileWithHeaderAndTextOrLeavesTheOldOneWhole) {
    const std::string header = std::string(CoreButl::sCxmlheader) + CoreButl::sCxmlgenerator;
    CoreXml_ doc, back;
    doc.getfc("<A><B>1</B></A>");
    ASSERT_TRUE(doc.settf(at("out.xml"), true, false, false));
    EXPECT_EQ(readBytes(root / "out.xml"), header + "\n<A>\n  <B> 1 </B>\n</A>\n\n");
    back.getff(at("out.xml"), false);
    EXPECT_EQ(text(back, true), text(doc, true));
    doc.getfc("<C>2</C>");
    ASSERT_TRUE(doc.settf(at("out.xml"), false, false, true));
    EXPECT_EQ(readBytes(root / "out.xml"), header + "<C> 2 </C>\n");
    EXPECT_FALSE(doc.settf(at("no/such/folder/out.xml"), false, false, false));
    EXPECT_FALSE(fs::exists(root / "no"));
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
    EXPECT_EQ(doc.getrt(), second);
    CoreNode* parsedRoot = doc.getfc("<A>1</A>");
    doc.free_();
    EXPECT_EQ(doc.getrt(), nullptr);
    doc.close();
    EXPECT_EQ(dump(parsedRoot), "> ROOT\n>> A\n>>> 1\n"); // still ours
    delete parsedRoot;
    auto* scoped = new CoreXml_;
    scoped->getfc("<C>3</C>");
    delete scoped; // the destructor deletes the owned tree
}

TEST(CoreXml_, PathOperationsOnTheDocument) {
    CoreXml_ doc, other, forReplace;
    const CoreAnsx path[] = {"S", "A"}, dst[] = {"S", "B"};
    other.getfc("<S><A>1</A></S>");
    EXPECT_EQ(doc.pdlte(path, 2), nullptr); // a rootless document stays rootless
    EXPECT_FALSE(doc.pmove(path, 2, &other, path, 2, false));
    EXPECT_EQ(doc.getrt(), nullptr);
    EXPECT_TRUE(doc.pappd(path, 1, new CoreNode("x"))); // but pappd and pappr give it a ROOT
    EXPECT_EQ(dump(doc.getrt()), "> ROOT\n>> S\n>>> x\n");
    EXPECT_TRUE(forReplace.pappr(path, 2, new CoreNode("y")));
    EXPECT_EQ(text(forReplace), "<S><A> y </A></S>");
    CoreNode kept("z"); // an empty path takes nothing
    EXPECT_FALSE(forReplace.pappr(path, 0, &kept));

    doc.getfc("<S><A>1</A><B>2</B><A>3</A></S>");
    EXPECT_TRUE(doc.pappr(path, 2, new CoreNode("9"))); // the first old element goes, the new one comes last
    EXPECT_EQ(text(doc), "<S><B> 2 </B><A> 3 </A><A> 9 </A></S>");
    EXPECT_EQ(doc.pdlte(path, 2), nullptr);
    EXPECT_TRUE(doc.pmove(path, 2, &other, dst, 2, true));
    EXPECT_EQ(text(doc), "<S><A> 9 </A><A> 1 </A></S>");
    EXPECT_EQ(text(other), " S ");
}

TEST(CoreXml_, MergeLaysTheOtherDocumentOverThisOneAndPatchCopiesValuesByName) {
    CoreXml_ master, installer, nothing, rootless;
    master.getfc("<S><A>1</A><B>2</B><C>3</C></S>");
    installer.getfc("<S><B>20</B><D>40</D><A>10</A><A>11</A></S>");
    master.merge(&installer);
    EXPECT_EQ(text(master), "<S><C> 3 </C><A> 11 </A><D> 40 </D><B> 20 </B></S>");
    EXPECT_TRUE(installer.getrt()->getcd()->leaf_());
    nothing.getfc("<?only a declaration?>");
    for (CoreXml_* unchanged : {&nothing, &master, &rootless, static_cast<CoreXml_*>(nullptr)})
        master.merge(unchanged);
    EXPECT_EQ(text(master), "<S><C> 3 </C><A> 11 </A><D> 40 </D><B> 20 </B></S>");
    rootless.merge(&master);
    EXPECT_EQ(rootless.getrt(), nullptr);

    CoreXml_ src, dstDoc;
    src.getfc("<P><A>1</A><B><C>2</C></B></P>");
    dstDoc.getfc("<P><A>7</A><A>8</A><D>4</D></P>");
    EXPECT_EQ(CoreXml_::patch(src.getrt(), 3, dstDoc.getrt()), 4);
    EXPECT_EQ(text(dstDoc), "<P><A> 7 </A><A> 1 </A><D> 4 </D><B><C> 2 </C></B></P>"); // the last A takes it
    EXPECT_EQ(text(src), "<P><A> 1 </A><B><C> 2 </C></B></P>");
    CoreNode* tree = dstDoc.getrt();
    for (const auto& [from, to] :
         {std::pair{tree, tree}, {tree, tree->getcd()}, {tree->getcd(), tree}, {nullptr, tree}})
        CoreXml_::patch(from, 0, to); // overlapping trees are refused
    EXPECT_EQ(text(dstDoc), "<P><A> 7 </A><A> 1 </A><D> 4 </D><B><C> 2 </C></B></P>");
}
