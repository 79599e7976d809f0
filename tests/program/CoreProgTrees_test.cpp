// The harmonic and raw sections with their vector trees: shapes, the values every node receives, the
// vector files read through the file store, and failures that must leave nothing behind.
#include "ProgramFixtures.h"
#include "base/CoreTlst.h"
#include "convolution/CoreRvct.h"
#include "convolution/CoreVctr.h"
#include "program/CoreEnvu.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace progtest;

std::string text(const CoreAnsx& value) {
    return value.c_str();
}

// The values a node received: range, offset/fade-in, fade-outs, lengths, fade-in curve, liquid, and
// the sources (with the vector control's range) of its controls.
std::string values(CoreVctr* v) {
    int offset = 0, fadeIn = 0;
    v->getup(offset, fadeIn);
    const CoreParm* vector = v->controlAt(4);
    return text(CoreAnsx(v->getmn())) + ".." + text(CoreAnsx(v->getmx())) + " up" + std::to_string(offset) + "/" +
           std::to_string(fadeIn) + " fo" + std::to_string(v->chnfo(0)) + "," + std::to_string(v->chnfo(1)) +
           " ls" + std::to_string(v->chnls(0)) + "," + std::to_string(v->chnls(1)) + " ci" +
           std::to_string(v->chnci()) + " lq" + text(CoreAnsx(v->getlq())) + " v:" + text(vector->getsc()) + "[" +
           text(CoreAnsx(vector->getsl())) + "," + text(CoreAnsx(vector->getsu())) +
           "] pad:" + text(v->controlAt(1)->getsc()) + " pan:" + text(v->controlAt(3)->getsc()) +
           " gain:" + text(v->controlAt(2)->getsc());
}

class CoreProgTrees : public ReaderTest {
protected:
    // Record by record (harmonics, hybrid, raws): the element names of each listed node, leaf list
    // then core list. Every node of the tree must stand in exactly one list.
    std::string trees() {
        std::string out;
        auto describe = [&out](const char* label, CoreVctr* root, CoreTlst* leaves, CoreTlst* cores) {
            if (root == nullptr) return;
            std::set<CoreVctr*> listed;
            out += label;
            for (CoreTlst* list : {leaves, cores}) {
                for (int i = 0; i < list->Count; ++i) {
                    auto* node = static_cast<CoreVctr*>(list->Items[i]);
                    EXPECT_TRUE(listed.insert(node).second) << "listed twice";
                    out += " ";
                    for (int k = 0; k < node->getne(); ++k) out += (k ? "," : "") + text(node->getfn(k));
                }
                out += list == leaves ? " /" : ";";
            }
            std::vector<CoreVctr*> pending{root};
            size_t walked = 0;
            for (; !pending.empty(); ++walked) {
                CoreVctr* node = pending.back();
                pending.pop_back();
                EXPECT_EQ(listed.count(node), 1u) << "a node of the tree is not listed";
                for (int k = 0; k < node->getne(); ++k)
                    if (node->child(k) != nullptr) pending.push_back(node->child(k));
            }
            EXPECT_EQ(walked, listed.size());
        };
        for (int h = 0; h <= Access::capacity(*program); ++h) {
            const CoreProg::HLOC& r = Access::record(*program, h);
            describe(("H" + std::to_string(h + 1)).c_str(), r.pRoot, r.pLeafvectors, r.pCorevectors);
        }
        for (int i = 0; i < CoreProg::iCraws; ++i) {
            const CoreProg::RAWLOC& r = Access::raw(*program, i);
            describe(("RAW" + std::to_string(i + 1)).c_str(), r.pRoot, r.pLeafvectors, r.pCorevectors);
        }
        return out;
    }
    void read(const std::string& sections) {
        CoreNode* element = programElement(sections);
        Access::rdhrm(*program, element);
        Access::rdraw(*program, element);
    }
    void empty() {
        Access::dlvct(*program);
        program->init_();
        Access::loaded(*program) = true;
    }
    // A sampling-toolkit response set of `levels` levels, its vector file at VECTORS/name/name.XML.
    void toolkitSet(const std::string& name, int levels) {
        CoreFsys store(&fixture.pool, CoreAnsx((root.string() + "/VECTORS/").c_str()), false);
        CoreEnvu toolkit(&fixture.pool, &store);
        toolkit.ctone(CoreAnsx((name + ".wav").c_str()), 0, 8000, false, 10000, 0.1, 0.0, 0.05, levels, 6.0, 0.0);
        CoreAnsx report;
        toolkit.build(CoreAnsx((name + ".wav").c_str()), CoreAnsx((name + ".WAV").c_str()), false, 1000, 0.1, 0.0,
                      0.05, 6.0, 0.0, false, "0", nullptr, report, false, false);
    }
};

TEST_F(CoreProgTrees, TreesListEveryNodeOnceWithNamesAlongTheStickyPath) {
    write("VECTORS/PLATES/PLATE.XML", "<VECTOR><ELEMENT><FILENAME>X.WAV</FILENAME></ELEMENT><ELEMENT>"
                                      "<FILEPATH>R/</FILEPATH><FILENAME>Y.WAV</FILENAME></ELEMENT></VECTOR>");
    toolkitSet("ONE", 1);
    toolkitSet("TWO", 2);
    const std::string leaf = "<ELEMENT><FILENAME>Z.WAV</FILENAME></ELEMENT>";
    struct Row {
        std::string sections;
        std::string expected;
    };
    const Row rows[] = {
        // Three levels; an ELEMENT with VECTOR ignores its FILENAME and FILEPATH; "element" in any case;
        // other children of a VECTOR are skipped.
        {"<H1><ELEMENT><VECTOR><ELEMENT><VECTOR><ELEMENT><FILEPATH>P/</FILEPATH><FILENAME>A.WAV</FILENAME>"
         "</ELEMENT><ELEMENT><FILENAME>B.WAV</FILENAME></ELEMENT></VECTOR></ELEMENT><element><FILENAME>C.WAV"
         "</FILENAME><FILEPATH>Q/</FILEPATH><VECTOR><NOTE>1</NOTE><ELEMENT><FILENAME>D.WAV</FILENAME></ELEMENT>"
         "</VECTOR></element></VECTOR></ELEMENT></H1>",
         "H1 VECTORS/P/A.WAV,VECTORS/P/B.WAV VECTORS/P/D.WAV / ,;"},
        // A vector file: the path holds into it and after it, and the next section starts afresh.
        {"<H1><ELEMENT><VECTOR><ELEMENT><FILENAME>PLATE.XML</FILENAME><FILEPATH>PLATES/</FILEPATH><CONTROL>"
         "<SOURCE>LFO1</SOURCE></CONTROL></ELEMENT>" +
             leaf + "</VECTOR></ELEMENT></H1><H2><ELEMENT><VECTOR>" + leaf + "</VECTOR></ELEMENT></H2>",
         "H1 VECTORS/PLATES/X.WAV,VECTORS/R/Y.WAV / VECTORS/PLATES/PLATE.XML,VECTORS/R/Z.WAV;"
         "H2 VECTORS/Z.WAV /;"},
        {"<RAW2><ELEMENT><VECTOR><ELEMENT><VECTOR></VECTOR></ELEMENT></VECTOR></ELEMENT></RAW2>" // RAW only
         "<H1><ELEMENT><VECTOR>" + leaf + "</VECTOR></ELEMENT></H1>",
         "H1 VECTORS/Z.WAV /;RAW2  / ;"},
        // The toolkit's files: one level without COMMON, two with it.
        {"<H1><ELEMENT><FILENAME>ONE.XML</FILENAME><FILEPATH>ONE/</FILEPATH><CONTROL><X>1</X></CONTROL>"
         "</ELEMENT></H1><H2><ELEMENT><FILENAME>TWO.XML</FILENAME><FILEPATH>TWO/</FILEPATH><CONTROL><X>1</X>"
         "</CONTROL></ELEMENT></H2>",
         "H1 VECTORS/ONE/ONE (0.00 dB).WAV /;H2 VECTORS/TWO/TWO (0.00 dB).WAV,VECTORS/TWO/TWO (-6.00 dB).WAV /;"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sections);
        read(row.sections);
        EXPECT_EQ(trees(), row.expected);
        empty();
    }
    read("<H1><ELEMENT><FILENAME>TWO.XML</FILENAME><FILEPATH>TWO/</FILEPATH><CONTROL><X>1</X></CONTROL>"
         "</ELEMENT></H1>");
    EXPECT_EQ(values(Access::record(*program, 0).pRoot).substr(0, 10), "-192.64..0");
    // The plate file's vector sits beside a file element, which gets no kernel: said once.
    EXPECT_NE(log().find("files play silence: VECTORS/R/Z.WAV<"), std::string::npos);
}

TEST_F(CoreProgTrees, EveryKeyReachesTheNodeWithItsDefault) {
    struct Row {
        const char* section; // H1 or RAW1
        const char* control; // keys of the root ELEMENT's CONTROL
        const char* common;  // keys of the root VECTOR's COMMON
        const char* expected;
    };
    const char* plain = "up0/0 fo0,0 ls-1,-1 ci-1 lq0.01";
    const Row rows[] = {
        {"H1", "", "", "-2..2 up0/0 fo0,0 ls-1,-1 ci-1 lq0.01 v:[-2,-2] pad:ON pan:OFF gain:"}, // not bound
        {"H1", "<SOURCE>LFO1</SOURCE><MINVALUE>0</MINVALUE><MAXVALUE>5</MAXVALUE>", "", "v:LFO1[-2,2] pad:ON pan:OFF gain:"},
        {"H1", "<SOURCE>LFO1</SOURCE><MINVALUE>-1</MINVALUE>", "", "v:LFO1[-1,0] pad:ON pan:OFF gain:"},
        {"H1", "<MINVALUE>-1</MINVALUE><MAXVALUE>5</MAXVALUE><BUSSOURCE>LFO2</BUSSOURCE>", "", "v:[-2,-2] pad:ON"},
        {"H1", "<PANFACTOR>0</PANFACTOR><PANSOURCE>LFO2</PANSOURCE><GAINPADSOURCE>0</GAINPADSOURCE>", "",
         "pad:ON pan:OFF gain:"},
        {"H1", "<PANFACTOR>45</PANFACTOR><PANSOURCE>LFO2</PANSOURCE><GAINPADSOURCE>MIX1</GAINPADSOURCE>"
               "<GAINSOURCE>LFO3</GAINSOURCE>", "", "pad:MIX1 pan:LFO2 gain:LFO3"},
        {"H1", "", "<OFFSET>5000</OFFSET><FADEIN>9000</FADEIN><LIQUIDFACTOR>50</LIQUIDFACTOR>",
         "up1000/1000 fo0,0 ls-1,-1 ci-1 lq0.5"}, // the forced offset caps OFFSET
        {"H1", "", "<OFFSET>-50</OFFSET><FADEIN>10</FADEIN>", "up-50/-50 fo0,0 ls-1,-1 ci-1 lq0.01"},
        {"H1", "", "<OT1><FADEOUT>10</FADEOUT><LENGTH>20</LENGTH></OT1><FADEOUT>7</FADEOUT>",
         "up0/0 fo10,0 ls20,0 ci-1 lq0.01"},
        {"H1", "", "<FADEOUT>7</FADEOUT><LENGTH>30</LENGTH><FADEINCURVE>3.7</FADEINCURVE>",
         "up0/0 fo7,0 ls30,-1 ci3 lq0.01"},
        {"H1", "", "<FADEINCURVE>0</FADEINCURVE><LENGTH>0</LENGTH>", plain},
        {"RAW1", "<SOURCE>LFO1</SOURCE><GAINPADFACTOR>3</GAINPADFACTOR><PANFACTOR>45</PANFACTOR>"
                 "<GAINSOURCE>LFO3</GAINSOURCE>", "", "v:LFO1[-2,2] pad:1 pan:1 gain:"},
        {"RAW1", "", "<SWITCHMODE>1</SWITCHMODE><OFFSET>5000</OFFSET><LENGTH>30</LENGTH><FADEINCURVE>2</FADEINCURVE>",
         "up0/0 fo-1,-1 ls-1,-1 ci0 lq0.01"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.section) + row.control + row.common);
        const std::string section = row.section;
        read("<" + section + "><ELEMENT><CONTROL><X>1</X>" + row.control +
             "</CONTROL><VECTOR><COMMON><MINVALUE>-2</MINVALUE><MAXVALUE>2</MAXVALUE><UNITVALUE>LFO4</UNITVALUE>" +
             row.common + "</COMMON><ELEMENT><FILENAME>A.WAV</FILENAME></ELEMENT><ELEMENT><WEIGHT>1</WEIGHT>"
             "<FILENAME>B.WAV</FILENAME></ELEMENT></VECTOR></ELEMENT></" + section + ">" +
             (section == "RAW1" ? "<H1><ELEMENT><VECTOR></VECTOR></ELEMENT></H1>" : ""));
        CoreVctr* root = section == "H1" ? Access::record(*program, 0).pRoot : Access::raw(*program, 0).pRoot;
        EXPECT_NE(values(root).find(row.expected), std::string::npos) << values(root);
        empty();
    }
    // UNITVALUE shows in the log line; SWITCHMODE only there in a raw tree.
    EXPECT_NE(log().find(">----COMMON:2:L:-2:2:0:0:LFO4:0:ON:0:0:0:-1:C<"), std::string::npos);
    EXPECT_NE(log().find(":ON:S<"), std::string::npos);
}

TEST_F(CoreProgTrees, VectorFilesAreReadOnceAndKeptEvenWhenUnreadable) {
    write("VECTORS/A.XML", std::string("<VEC\0TOR/>", 11));
    EXPECT_EQ(text(Access::getas(*program, "VECTORS/A.XML")), "<VECTOR/>");
    std::filesystem::remove(root / "VECTORS/A.XML");
    EXPECT_EQ(text(Access::getas(*program, "vectors/a.xml")), "<VECTOR/>"); // from memory
    EXPECT_EQ(text(Access::getas(*program, "VECTORS/LATE.XML")), "0");
    write("VECTORS/LATE.XML", "<VECTOR/>");
    EXPECT_EQ(text(Access::getas(*program, "VECTORS/LATE.XML")), "0"); // the failure is kept
    // A container item, read from the memory the container filled.
    CoreFsys packing(&fixture.pool);
    const char item[] = "<VECTOR/>";
    ASSERT_TRUE(packing.setit(packing.crtit("VECTORS/PACKED.XML"), item, 9, "", false, false));
    ASSERT_TRUE(packing.savea(base() + "PACK.Q7V"));
    ASSERT_TRUE(files->loada(base() + "PACK.Q7V", "0", false, nullptr));
    EXPECT_EQ(text(Access::getas(*program, "VECTORS/PACKED.XML")), "<VECTOR/>");
}

TEST_F(CoreProgTrees, HarmonicSectionsStopAtTheFirstGapAndBuildTheHybridRecord) {
    auto section = [](int n, const std::string& extra, const std::string& inElement = "") {
        const std::string tag = "H" + std::to_string(n);
        return "<" + tag + "><ELEMENT><VECTOR><ELEMENT><FILENAME>A.WAV</FILENAME></ELEMENT><ELEMENT>"
               "<FILEPATH>P/</FILEPATH><FILENAME>B.WAV</FILENAME></ELEMENT></VECTOR>" + inElement + "</ELEMENT>" +
               extra + "</" + tag + ">";
    };
    struct Row {
        std::string document;
        const char* expected; // count | per record: in use, third stage, train threshold | active raws
    };
    const Row rows[] = {
        {section(1, "") + section(2, "<FORCEOT2>1</FORCEOT2>") + section(4, ""), "2|V0 V3 - -|0000"},
        {"<FORCEHYBRID>1</FORCEHYBRID>" + section(1, "<FORCEOT2>1</FORCEOT2>", "<TRAINTHRESHOLD>-6</TRAINTHRESHOLD>") +
             section(2, "<FORCEOT2>1</FORCEOT2>"),
         "2|V0.501187 V3 - V0.501187|0000"},
        {section(1, "<TRAINTHRESHOLD>-12</TRAINTHRESHOLD>", "<TRAINTHRESHOLD>0</TRAINTHRESHOLD>") +
             section(2, "<TRAINTHRESHOLD>-12</TRAINTHRESHOLD>", "<TRAINTHRESHOLD>-6</TRAINTHRESHOLD>") +
             "<RAW3><ELEMENT><VECTOR></VECTOR></ELEMENT></RAW3>",
         "2|V0.251189 V0.501187 - -|0010"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.document);
        CoreNode* element = programElement(row.document);
        program->setfh(element->exslc("FORCEHYBRID"));
        Access::rdhrm(*program, element);
        Access::rdraw(*program, element);
        std::string state = std::to_string(program->gethc(true)) + "|";
        for (int h = 0; h <= Access::capacity(*program); ++h) {
            const CoreProg::HLOC& r = Access::record(*program, h);
            state += !r.bValid ? "-" : "V" + std::string(r.bThirdon ? "3" : text(CoreAnsx(r.dTrainthreshold)));
            state += h < Access::capacity(*program) ? " " : "|";
        }
        for (int i = 0; i < CoreProg::iCraws; ++i) state += Access::raw(*program, i).bActive ? "1" : "0";
        EXPECT_EQ(state, row.expected);
        // The hybrid record carries harmonic 0's elements under the same names.
        const std::string names = trees();
        if (program->getfh()) {
            EXPECT_NE(names.find("H4 VECTORS/A.WAV,VECTORS/P/B.WAV /;"), std::string::npos) << names;
        }
        empty();
        program->setfh(false);
    }
    EXPECT_THROW(Access::rdhrm(*program, programElement(section(2, ""))), CoreAnsx);
    EXPECT_EQ(text(Access::currentTag(*program)), "H1");
}

TEST_F(CoreProgTrees, FailuresReportTheirChainAndLeaveNothingBehind) {
    write("VECTORS/bad.xml", "</X>");
    write("VECTORS/zero.xml", "0");
    write("VECTORS/novec.xml", "<OTHER>1</OTHER>");
    write("VECTORS/inner.xml", "<VECTOR><ELEMENT><WEIGHT>1</WEIGHT></ELEMENT></VECTOR>");
    const std::string good = "<H1><ELEMENT><VECTOR><ELEMENT><FILENAME>A.WAV</FILENAME></ELEMENT></VECTOR></ELEMENT></H1>";
    auto file = [](const char* name) {
        return std::string("<ELEMENT><FILENAME>") + name + "</FILENAME><CONTROL><X>1</X></CONTROL></ELEMENT>";
    };
    struct Row {
        std::string sections;
        std::vector<std::string> errors;
    };
    const Row rows[] = {
        {good + "<H2><ELEMENT><VECTOR>" + file("sub.xml") + "</VECTOR></ELEMENT></H2>",
         {"Error in file VECTORS/sub.xml", "Error in tag ", "Error in tag ELEMENT", "Error in tag "}},
        {"<H1>" + file("bad.xml") + "</H1>",
         {"Error in file (text): XML closing tag without an open element at byte 2", "Error in file VECTORS/bad.xml",
          "Error in tag "}},
        {"<H1>" + file("zero.xml") + "</H1>", {"Error in file VECTORS/zero.xml", "Error in tag "}},
        {"<H1>" + file("novec.xml") + "</H1>", {"Error in file VECTORS/novec.xml", "Error in tag VECTOR"}},
        {"<H1>" + file("inner.xml") + "</H1>",
         {"Error in tag FILENAME", "Error in tag ELEMENT", "Error in file VECTORS/inner.xml", "Error in tag VECTOR"}},
        {"<H1><ELEMENT><WEIGHT>1</WEIGHT><CONTROL><X>1</X></CONTROL></ELEMENT></H1>", {"Error in tag ELEMENT"}},
        {"<H1><ELEMENT><WEIGHT>1</WEIGHT></ELEMENT></H1>", {"Error in tag ELEMENT"}},
        {"<H1><ELEMENT><VECTOR><ELEMENT><CONTROL><X>1</X></CONTROL></ELEMENT></VECTOR></ELEMENT></H1>",
         {"Error in tag FILENAME", "Error in tag ELEMENT", "Error in tag "}},
        {"<H1><ELEMENT><VECTOR><ELEMENT><WEIGHT>1</WEIGHT></ELEMENT></VECTOR></ELEMENT></H1>",
         {"Error in tag FILENAME", "Error in tag ELEMENT", "Error in tag "}},
        {"<H1><ELEMENT><FILENAME>A.WAV</FILENAME></ELEMENT></H1>", {"Error in tag ELEMENT"}},
        {"<H1><FORCEOT2>1</FORCEOT2></H1>", {"Error in tag ELEMENT"}},
        {good + "<RAW1><X>1</X></RAW1>", {"Error in tag ELEMENT"}},
    };
    const int64_t baseline = fixture.pool.getma();
    auto failsCleanly = [&](const std::string& sections) {
        EXPECT_THROW(read(sections), CoreAnsx);
        const std::vector<std::string> chain = errors();
        empty();
        EXPECT_EQ(fixture.pool.getma(), baseline);
        for (int h = 0; h <= Access::capacity(*program); ++h) EXPECT_EQ(Access::record(*program, h).pRoot, nullptr);
        return chain;
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.sections);
        EXPECT_EQ(failsCleanly(row.sections), row.errors);
    }

    // Every allocation of a two-level tree made to fail in turn; the core vector's own construction
    // is among them, with its leaf child already listed.
    const std::string tree = "<H1><ELEMENT><VECTOR><ELEMENT><VECTOR><ELEMENT><FILENAME>A.WAV</FILENAME></ELEMENT>"
                             "<ELEMENT><FILENAME>B.WAV</FILENAME><WEIGHT>1</WEIGHT></ELEMENT></VECTOR></ELEMENT>"
                             "</VECTOR></ELEMENT></H1>";
    std::set<std::vector<std::string>> chains;
    for (int64_t limit = baseline;; limit += 16) {
        fixture.pool.setal(limit);
        try {
            read(tree);
            break;
        } catch (const CoreAnsx&) {
            fixture.pool.setal(INT64_MAX);
            chains.insert(failsCleanly(""));
        }
    }
    fixture.pool.setal(INT64_MAX);
    EXPECT_EQ(chains.count({"Error in tag FADEOUTCURVE", "Error in tag "}), 1u);
    EXPECT_EQ(chains.count({"Error in tag FADEOUTCURVE", "Error in tag ", "Error in tag ELEMENT", "Error in tag "}), 1u);
}

TEST_F(CoreProgTrees, RecordsHoldAnyNumberOfVectors) {
    CoreLog_::setdb(0, false);
    std::string many = "<H1><ELEMENT><VECTOR>";
    for (int i = 0; i < 10001; ++i)
        many += "<ELEMENT><WEIGHT>" + std::to_string(i) + "</WEIGHT><VECTOR><ELEMENT><FILENAME>A.WAV</FILENAME>"
                "</ELEMENT></VECTOR></ELEMENT>";
    read(many + "</VECTOR></ELEMENT></H1>");
    EXPECT_EQ(Access::record(*program, 0).pLeafvectors->Count, 10001);
    EXPECT_EQ(Access::record(*program, 0).pCorevectors->Count, 1);
}

} // namespace
