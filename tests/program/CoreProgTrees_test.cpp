// The harmonic and raw sections with their vector trees: shapes and names, the values every node
// receives, vector files read through the file store, and failures that must leave nothing behind.
#include "ProgramFixtures.h"
#include "program/CoreEnvu.h"

#include <utility>

namespace {

using namespace progtest;

// What a node received: range, offset/fade-in, fade-outs, lengths, fade-in curve, liquid, and the
// sources (the vector control with its range) of its controls.
std::string values(CoreVctr* v) {
    int offset = 0, fadeIn = 0;
    v->getup(offset, fadeIn);
    const CoreParm* vector = v->controlAt(4);
    return num(v->getmn()) + ".." + num(v->getmx()) + " up" + num(offset) + "/" + num(fadeIn) + " fo" +
           num(v->chnfo(0)) + "," + num(v->chnfo(1)) + " ls" + num(v->chnls(0)) + "," + num(v->chnls(1)) +
           " ci" + num(v->chnci()) + " lq" + num(v->getlq()) + " v:" + text(vector->getsc()) + "[" +
           num(vector->getsl()) + "," + num(vector->getsu()) + "] pad:" + text(v->controlAt(1)->getsc()) +
           " pan:" + text(v->controlAt(3)->getsc()) + " gain:" + text(v->controlAt(2)->getsc());
}

// The element names of each listed node of one record, leaf list then core list. (A node listed twice
// or not at all would be deleted twice or never: the sanitizers and the pool checks see that.)
std::string tree(CoreTlst* leaves, CoreTlst* cores) {
    std::string out;
    for (CoreTlst* list : {leaves, cores}) {
        for (int i = 0; i < list->Count; ++i) {
            auto* node = static_cast<CoreVctr*>(list->Items[i]);
            out += " ";
            for (int k = 0; k < node->getne(); ++k) out += (k ? "," : "") + text(node->getfn(k));
        }
        out += list == leaves ? " /" : ";";
    }
    return out;
}

class CoreProgTrees : public LoadTest {
protected:
    // The "Error in ..." lines of the log without those words, in order and joined by '|'; the log
    // starts afresh.
    std::string errors() {
        std::string found;
        std::istringstream lines(log());
        const std::string marker = std::string(CoreLog_::sCerrorprm) + "Error in ";
        for (std::string line; std::getline(lines, line);)
            if (line.find(marker) != std::string::npos)
                found += "|" + line.substr(line.find(marker) + marker.size());
        std::filesystem::remove(root / "reader.log");
        return found;
    }
    // The harmonic count, then each record read: in use ("*" third stage on, "@" train threshold) with
    // its tree, and each active raw record with its tree.
    std::string records() {
        std::string out = num(program->gethc(true));
        for (int h = 0; h <= Access::capacity(*program); ++h) {
            const CoreProg::HLOC& r = Access::record(*program, h);
            if (r.bValid)
                out += " H" + num(h + 1) + (r.bThirdon ? "*" : "@" + num(r.dTrainthreshold)) +
                       tree(r.pLeafvectors, r.pCorevectors);
        }
        for (int i = 0; i < CoreProg::iCraws; ++i) {
            const CoreProg::RAWLOC& r = Access::raw(*program, i);
            if (r.bActive) out += " RAW" + num(i + 1) + tree(r.pLeafvectors, r.pCorevectors);
        }
        return out;
    }
    void read(const std::string& sections) {
        CoreNode* element = programElement(sections);
        Access::rdhrm(*program, element);
        Access::rdraw(*program, element);
    }
    void empty() { // the reader's failure path
        Access::dlvct(*program);
        program->init_();
        Access::loaded(*program) = true;
    }
};

TEST_F(CoreProgTrees, SectionsFillTheirRecordsWithEveryNodeListedOnceAlongTheStickyPath) {
    write("VECTORS/PLATES/PLATE.XML", xml("VECTOR{ELEMENT{FILENAME=X} ELEMENT{FILEPATH=R/ FILENAME=Y}}"));
    // The sampling toolkit's response sets: one level is written without COMMON, two with it.
    for (const auto& [name, levels] : {std::pair{"ONE", 1}, std::pair{"TWO", 2}}) {
        CoreFsys store(&filePool, base() + "VECTORS/", false);
        CoreEnvu toolkit(&filePool, &store);
        const CoreAnsx recording = CoreAnsx(name) + ".wav";
        toolkit.ctone(recording, 0, 8000, false, 10000, 0.1, 0.0, 0.05, levels, 6.0, 0.0);
        CoreAnsx report;
        toolkit.build(recording, CoreAnsx(name) + ".WAV", false, 1000, 0.1, 0.0, 0.05, 6.0, 0.0, false, "0",
                      nullptr, report, false, false);
    }
    const std::string leaf = "ELEMENT{FILENAME=Z}";
    auto section = [](int n, const std::string& extra, const std::string& inElement = "") {
        return "H" + num(n) + "{ELEMENT{VECTOR{ELEMENT{FILENAME=A} ELEMENT{FILEPATH=P/ FILENAME=B}} " +
               inElement + "} " + extra + "}";
    };
    const std::string rows[][2] = {
        // Three levels; an ELEMENT with a VECTOR ignores its FILENAME and FILEPATH; "element" in any case;
        // other children of a VECTOR are skipped.
        {"H1{ELEMENT{VECTOR{ELEMENT{VECTOR{ELEMENT{FILEPATH=P/ FILENAME=A} ELEMENT{FILENAME=B}}} "
         "element{FILENAME=C FILEPATH=Q/ VECTOR{NOTE=1 " +
             leaf + "}}}}}",
         "1 H1@0 VECTORS/P/A,VECTORS/P/B VECTORS/P/Z / ,;"},
        // A vector file: the path holds into it and after it; the next section starts afresh.
        {"H1{ELEMENT{VECTOR{ELEMENT{FILENAME=PLATE.XML FILEPATH=PLATES/ CONTROL{SOURCE=LFO1}} " + leaf +
             "}}} H2{ELEMENT{VECTOR{" + leaf + "}}}",
         "2 H1@0 VECTORS/PLATES/X,VECTORS/R/Y / VECTORS/PLATES/PLATE.XML,VECTORS/R/Z; H2@0 VECTORS/Z /;"},
        {"RAW2{ELEMENT{VECTOR{ELEMENT{VECTOR=}}}} H1{ELEMENT{VECTOR{" + leaf + "}}}",
         "1 H1@0 VECTORS/Z /; RAW2  / ;"},
        // Reading stops at the first missing section; FORCEOT2 of H1 gives way to the hybrid record, which
        // takes H1's elements, names and threshold; TRAINTHRESHOLD under the ELEMENT first, else the H.
        {section(1, "") + section(2, "FORCEOT2=1") + section(4, ""),
         "2 H1@0 VECTORS/A,VECTORS/P/B /; H2* VECTORS/A,VECTORS/P/B /;"},
        {"FORCEHYBRID=1 " + section(1, "FORCEOT2=1", "TRAINTHRESHOLD=-6"),
         "1 H1@0.501187 VECTORS/A,VECTORS/P/B /; H4@0.501187 VECTORS/A,VECTORS/P/B /;"},
        {section(1, "TRAINTHRESHOLD=-12", "TRAINTHRESHOLD=0") +
             section(2, "TRAINTHRESHOLD=-12", "TRAINTHRESHOLD=-6") + "RAW3{ELEMENT{VECTOR=}}",
         "2 H1@0.251189 VECTORS/A,VECTORS/P/B /; H2@0.501187 VECTORS/A,VECTORS/P/B /; RAW3  /;"},
        {"H1{ELEMENT{FILENAME=ONE.XML FILEPATH=ONE/ CONTROL{X=1}}} "
         "H2{ELEMENT{FILENAME=TWO.XML FILEPATH=TWO/ CONTROL{X=1}}}",
         "2 H1@0 VECTORS/ONE/ONE (0.00 dB).WAV /; "
         "H2@0 VECTORS/TWO/TWO (0.00 dB).WAV,VECTORS/TWO/TWO (-6.00 dB).WAV /;"},
    };
    for (const auto& [sections, expected] : rows) {
        SCOPED_TRACE(sections);
        program->setfh(sections.find("FORCEHYBRID") != std::string::npos);
        read(sections);
        EXPECT_EQ(records(), expected);
        empty();
    }
    EXPECT_THROW(Access::rdhrm(*program, programElement(section(2, ""))), CoreAnsx);
    EXPECT_EQ(text(Access::currentTag(*program)), "H1");
    // The plate file's vector sits beside a file element, which gets no kernel: said once.
    EXPECT_NE(log().find("files play silence: VECTORS/R/Z<"), std::string::npos);
}

TEST_F(CoreProgTrees, EveryKeyReachesTheNodeWithItsDefault) {
    struct Row {
        const char* section; // H1 or RAW1
        const char* control; // keys of the root ELEMENT's CONTROL
        const char* common;  // keys of the root VECTOR's COMMON
        const char* expected;
    };
    const Row rows[] = {
        {"H1", "", "", "-2..2 up0/0 fo0,0 ls-1,-1 ci-1 lq0.01 v:[-2,-2] pad:ON pan:OFF gain:"}, // not bound
        {"H1", "SOURCE=LFO1 MINVALUE=0 MAXVALUE=5", "", "v:LFO1[-2,2]"},
        {"H1", "PANFACTOR=0 PANSOURCE=LFO2 GAINPADSOURCE=0", "", "pad:ON pan:OFF"},
        {"H1", "PANFACTOR=45 PANSOURCE=LFO2 GAINPADSOURCE=MIX1 GAINSOURCE=LFO3", "",
         "pad:MIX1 pan:LFO2 gain:LFO3"},
        {"H1", "", "OFFSET=5000 FADEIN=9000 LIQUIDFACTOR=50",
         "up1000/1000 fo0,0 ls-1,-1 ci-1 lq0.5"}, // forced
        {"H1", "", "OT1{FADEOUT=10 LENGTH=20} FADEOUT=7", "fo10,0 ls20,0"},
        {"H1", "", "FADEOUT=7 LENGTH=30 FADEINCURVE=3.7", "fo7,0 ls30,-1 ci3"},
        {"RAW1", "SOURCE=LFO1 GAINPADFACTOR=3 PANFACTOR=45 GAINSOURCE=LFO3", "",
         "v:LFO1[-2,2] pad:1 pan:1 gain:"},
        {"RAW1", "", "SWITCHMODE=1 OFFSET=50 LENGTH=30 FADEINCURVE=2", "up0/0 fo-1,-1 ls-1,-1 ci0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.section) + row.control + row.common);
        const std::string section = row.section;
        read(section + "{ELEMENT{CONTROL{X=1 " + row.control + "} VECTOR{COMMON{MINVALUE=-2 MAXVALUE=2 " +
             "UNITVALUE=LFO4 " + row.common +
             "} ELEMENT{FILENAME=A.WAV} ELEMENT{WEIGHT=1 FILENAME=B.WAV}}}} " +
             (section == "RAW1" ? "H1{ELEMENT{VECTOR=}}" : ""));
        CoreVctr* root = Access::record(*program, 0).pRoot;
        if (section == "RAW1") root = Access::raw(*program, 0).pRoot;
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
    CoreFsys packing(&filePool); // a container item: read from the memory the container filled
    ASSERT_TRUE(packing.setit(packing.crtit("VECTORS/PACKED.XML"), "<VECTOR/>", 9, "", false, false));
    ASSERT_TRUE(packing.savea(base() + "PACK.Q7V"));
    ASSERT_TRUE(files->loada(base() + "PACK.Q7V", "0", false, nullptr));
    EXPECT_EQ(text(Access::getas(*program, "VECTORS/PACKED.XML")), "<VECTOR/>");
}

TEST_F(CoreProgTrees, FailuresReportTheirChainAndLeaveNothingBehind) {
    write("VECTORS/bad.xml", "</X>");
    write("VECTORS/zero.xml", "0");
    write("VECTORS/novec.xml", xml("OTHER=1"));
    write("VECTORS/self.xml", xml("VECTOR{ELEMENT{FILENAME=SELF.XML CONTROL{X=1}}}"));
    const std::string good = "H1{ELEMENT{VECTOR{ELEMENT{FILENAME=A}}}} ";
    auto file = [](const char* name) {
        return std::string("H1{ELEMENT{FILENAME=") + name + " CONTROL{X=1}}}";
    };
    const std::string rows[][2] = {
        {good + "H2{ELEMENT{VECTOR{ELEMENT{FILENAME=sub.xml CONTROL{X=1}}}}}",
         "|file VECTORS/sub.xml|tag |tag ELEMENT|tag "},
        {file("bad.xml"),
         "|file (text): XML closing tag without an open element at byte 2|file VECTORS/bad.xml|tag "},
        {file("zero.xml"), "|file VECTORS/zero.xml: not an XML document|file VECTORS/zero.xml|tag "},
        {file("novec.xml"), "|file VECTORS/novec.xml|tag VECTOR"},
        {file("self.xml"), "|file VECTORS/SELF.XML|tag |tag ELEMENT|file VECTORS/self.xml|tag VECTOR"},
        {"H1{ELEMENT{VECTOR{ELEMENT{WEIGHT=1}}}}", "|tag FILENAME|tag ELEMENT|tag "},
        {"H1{ELEMENT{VECTOR{ELEMENT{WEIGHT=1 CONTROL{X=1}}}}}", "|tag FILENAME|tag ELEMENT|tag "},
        {"H1{ELEMENT{WEIGHT=1}}", "|tag ELEMENT"},
        {"H1{ELEMENT{CONTROL{X=1}}}", "|tag ELEMENT"},
        {"H1{ELEMENT{FILENAME=A}}", "|tag ELEMENT"}, // a top-level leaf
        {"H1{FORCEOT2=1}", "|tag ELEMENT"},
        {good + "RAW1{X=1}", "|tag ELEMENT"},
    };
    const int64_t baseline = fixture.pool.getma();
    auto cleanUp = [&] {
        const std::string chain = errors();
        empty();
        EXPECT_EQ(fixture.pool.getma(), baseline);
        return chain;
    };
    for (const auto& [sections, chain] : rows) {
        SCOPED_TRACE(sections);
        EXPECT_THROW(read(sections), CoreAnsx);
        EXPECT_EQ(text(Access::currentTag(*program)), "ELEMENT"); // what the reader's handler logs
        EXPECT_EQ(cleanUp(), chain);
    }
}

TEST_F(CoreProgTrees, RecordsHoldAnyNumberOfVectors) {
    CoreLog_::setdb(0, false);
    std::string many = "H1{ELEMENT{VECTOR{";
    for (int i = 0; i < 10001; ++i)
        many += "ELEMENT{WEIGHT=" + std::to_string(i) + " VECTOR{ELEMENT{FILENAME=A}}} ";
    read(many + "}}}");
    EXPECT_EQ(Access::record(*program, 0).pLeafvectors->Count, 10001);
    EXPECT_EQ(Access::record(*program, 0).pCorevectors->Count, 1);
}

// Files F1 .. F<depth>, each naming the next eight times, the last eight WAVs (or eight vectors of one
// WAV each): eight to the depth leaf vectors. Nine files would ask for tens of millions of nodes;
// the file readings or, where the vectors around the WAVs outnumber them, the vectors run out first.
TEST_F(CoreProgTrees, FanOutChainsOfVectorFilesStopAtTheProgramsBudget) {
    CoreLog_::setdb(1, false);
    wav("T.WAV", response(16, 2));
    const struct {
        int depth;
        bool wrapped;
        std::string refusal; // empty: the program reads
    } rows[] = {
        {3, false, ""},
        {9, false, std::to_string(CoreProg::iCtreefiles) + " vector file readings"},
        {9, true, std::to_string(CoreProg::iCtreevectors) + " vectors"},
    };
    for (const auto& row : rows) {
        const std::string prefix = "D" + num(row.depth) + (row.wrapped ? "W" : "F");
        SCOPED_TRACE(prefix);
        for (int n = 1; n <= row.depth; ++n) {
            std::string elements;
            for (int k = 0; k < 8; ++k)
                elements += n < row.depth ? "ELEMENT{FILENAME=" + prefix + num(n + 1) + ".XML CONTROL{X=1}} "
                            : row.wrapped ? "ELEMENT{VECTOR{ELEMENT{FILENAME=T.WAV}}} "
                                          : "ELEMENT{FILENAME=T.WAV} ";
            write("VECTORS/" + prefix + num(n) + ".XML", xml("VECTOR{" + elements + "}"));
        }
        program->init_();
        const int64_t held = fixture.pool.getma();
        fixture.pool.setal(held + (int64_t{256} << 20)); // past this a regression allocates no more
        errors();
        const bool reads = row.refusal.empty();
        EXPECT_EQ(load(*program, "<PROGRAM>" + xml("H1{ELEMENT{FILENAME=" + prefix + "1.XML CONTROL{X=1}}}") +
                                     "</PROGRAM>"),
                  reads);
        const CoreProg::HLOC& record = Access::record(*program, 0);
        if (reads) {
            EXPECT_EQ(record.pLeafvectors->Count, 64);
            EXPECT_EQ(program->getsm(), 512);
            continue;
        }
        EXPECT_NE(log().find("need more than " + row.refusal), std::string::npos);
        EXPECT_TRUE(errors().ends_with("|tag ELEMENT"));
        EXPECT_FALSE(record.bValid || record.pLeafvectors->Count || record.pCorevectors->Count);
        EXPECT_EQ(fixture.pool.getma(), held);
        EXPECT_LT(fixture.pool.getxa() - held, int64_t{64} << 20);
    }
}

// A WAV named where a vector file belongs fails that program; the store keeps the WAV for the next.
TEST_F(CoreProgTrees, AWavReadAsAVectorFileStaysAWavInTheStore) {
    wav("A.WAV", response(300, 10));
    for (int attempt = 0; attempt < 2; ++attempt)
        EXPECT_FALSE(
            load(*program, "<PROGRAM>" + xml("H1{ELEMENT{FILENAME=A.WAV CONTROL{X=1}}}") + "</PROGRAM>"));
    const std::string chain = "|file VECTORS/A.WAV: not an XML document|file VECTORS/A.WAV|tag |tag ELEMENT";
    EXPECT_EQ(errors(), chain + chain);
    auto next = fresh(48000);
    ASSERT_TRUE(
        load(*next, "<PROGRAM>" + xml("H1{ELEMENT{VECTOR{ELEMENT{FILENAME=A.WAV}}}}") + "</PROGRAM>"));
    EXPECT_EQ(Access::record(*next, 0).iLongestimpulse, 300);
}

} // namespace
