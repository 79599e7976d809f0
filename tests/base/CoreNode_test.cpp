#include "base/CoreNode.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

namespace {

CoreNode* element(const char* name, std::initializer_list<CoreNode*> children) {
    CoreNode* node = new CoreNode(name);
    for (CoreNode* child : children) node->addcd(child);
    return node;
}

// An element whose only child is a leaf holding value.
CoreNode* valued(const char* name, const char* value) {
    return element(name, {new CoreNode(value)});
}

std::string dump(const CoreNode& node) {
    return node.debug(0, nullptr).c_str();
}

std::string text(const CoreAnsx& s) {
    return s.c_str();
}

} // namespace

TEST(CoreNode, ConstructorsGiveTextsAndAnEmptyChildList) {
    struct Case {
        std::unique_ptr<CoreNode> node;
        const char* expected;
    };
    Case cases[] = {
        {std::make_unique<CoreNode>("ABC"), "ABC"}, {std::make_unique<CoreNode>(CoreAnsx(" x ")), " x "},
        {std::make_unique<CoreNode>(7), "7"},       {std::make_unique<CoreNode>(-12), "-12"},
        {std::make_unique<CoreNode>(0.5), "0.5"},   {std::make_unique<CoreNode>(1e-7), "1E-07"},
        {std::make_unique<CoreNode>(true), "1"},    {std::make_unique<CoreNode>(false), "0"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text(c.node->gettx()), c.expected);
        ASSERT_NE(c.node->getcn(), nullptr);
        EXPECT_EQ(c.node->getcn()->Count, 0);
        EXPECT_TRUE(c.node->leaf_());
        EXPECT_EQ(c.node->getcd(), nullptr);
    }
}

TEST(CoreNode, ValueLookupTakesLastMatchWhilePathTakesFirst) {
    CoreNode root("ROOT");
    CoreNode* first = valued("A", "1");
    CoreNode* second = valued("A", "2");
    root.addcd(first);
    root.addcd(second);
    EXPECT_EQ(root.getcd(CoreAnsx("a")), second);
    EXPECT_EQ(root.getli(CoreAnsx("A")), 2);
    const CoreAnsx path[] = {CoreAnsx("A")};
    EXPECT_EQ(root.pfind(path, 1), first);
    EXPECT_EQ(root.getcd(), first);
}

TEST(CoreNode, ValueZeroIsAbsentButFramedZeroIsPresent) {
    CoreNode root("ROOT");
    root.addcd(valued("RAW", "0"));
    root.addcd(valued("SAVED", " 0 "));
    root.addcd(element("EMPTYELEMENT", {}));

    EXPECT_FALSE(root.exslc(CoreAnsx("RAW")));
    EXPECT_EQ(text(root.getlc(CoreAnsx("RAW"))), "0");
    EXPECT_EQ(text(root.getls(CoreAnsx("RAW"))), "");
    EXPECT_EQ(CoreNode::gtnli(&root, CoreAnsx("RAW"), 7), 7);
    EXPECT_EQ(CoreNode::gtnld(&root, CoreAnsx("RAW"), 2.5), 2.5);
    EXPECT_EQ(CoreNode::gtnlb(&root, CoreAnsx("RAW"), true), true);
    EXPECT_EQ(text(CoreNode::gtnls(&root, CoreAnsx("RAW"), CoreAnsx("dflt"))), "dflt");

    EXPECT_TRUE(root.exslc(CoreAnsx("saved")));
    EXPECT_EQ(text(root.getls(CoreAnsx("SAVED"))), "0");
    EXPECT_EQ(CoreNode::gtnli(&root, CoreAnsx("SAVED"), 7), 0);
    EXPECT_EQ(CoreNode::gtnld(&root, CoreAnsx("SAVED"), 2.5), 0.0);
    EXPECT_EQ(CoreNode::gtnlb(&root, CoreAnsx("SAVED"), true), false);
    EXPECT_EQ(text(CoreNode::gtnls(&root, CoreAnsx("SAVED"), CoreAnsx("dflt"))), "0");

    // A missing element and an element without a value read like "0".
    for (const char* tag : {"MISSING", "EMPTYELEMENT"}) {
        EXPECT_EQ(text(root.getlc(CoreAnsx(tag))), "0") << tag;
        EXPECT_FALSE(root.exslc(CoreAnsx(tag))) << tag;
        EXPECT_EQ(CoreNode::gtnli(&root, CoreAnsx(tag), -3), -3) << tag;
    }
    EXPECT_EQ(CoreNode::gtnli(nullptr, CoreAnsx("RAW"), 5), 5);
}

TEST(CoreNode, NumericReadsTrimAcceptCommaAndStayFiniteAndInRange) {
    CoreNode root("ROOT");
    const struct {
        const char* value;
        int asInt;       // getli
        double asDouble; // getld and gtnld (default 9.0 never used: the values are present)
        int truncated;   // gtnli with default 7
        bool asBool;     // gtnlb with default true
    } cases[] = {
        {"1,5", 1, 1.5, 1, true},
        {" 12 ", 12, 12.0, 12, true},
        {"", 0, 0.0, 0, false},
        {"-0.7", 0, -0.7, 0, false},
        {"nan", 0, 0.0, 0, false},
        {"inf", 0, 0.0, 0, false},
        {"1e999", 1, 0.0, 0, false},
        {"-1e999", -1, 0.0, 0, false},
        {"1.79769E+308", 1, 1.79769e308, INT32_MAX, true}, // what "%G" writes for the largest double
        {"3e10", 3, 3e10, INT32_MAX, true},
        {"-3e10", -3, -3e10, INT32_MIN, true},
        {"99999999999", INT32_MAX, 99999999999.0, INT32_MAX, true},
        {"-99999999999", INT32_MIN, -99999999999.0, INT32_MIN, true},
    };
    for (const auto& c : cases) {
        root.delcn();
        root.addcd(valued("V", c.value));
        EXPECT_EQ(root.getli(CoreAnsx("V")), c.asInt) << c.value;
        EXPECT_EQ(root.getlb(CoreAnsx("V")), c.asInt != 0) << c.value;
        EXPECT_DOUBLE_EQ(root.getld(CoreAnsx("V")), c.asDouble) << c.value;
        EXPECT_DOUBLE_EQ(CoreNode::gtnld(&root, CoreAnsx("V"), 9.0), c.asDouble) << c.value;
        EXPECT_EQ(CoreNode::gtnli(&root, CoreAnsx("V"), 7), c.truncated) << c.value;
        EXPECT_EQ(CoreNode::gtnlb(&root, CoreAnsx("V"), true), c.asBool) << c.value;
    }
}

TEST(CoreNode, ExactComparisonsDifferFromNormalisedLookups) {
    CoreNode root("Gain");
    root.addcd(valued(" gain ", "a"));
    root.addcd(valued("GAIN", " b "));
    root.addcd(valued("Gain", "c"));
    root.addcd(valued("\t\nGaIn\r\v\f", "d"));
    root.addcd(element("GAIN", {}));

    // Normalised: case and the six blank characters of Trim are ignored on both sides.
    EXPECT_EQ(text(root.getcd(CoreAnsx(" gAIn\t"))->gettx()), "GAIN");
    EXPECT_EQ(text(root.getls(CoreAnsx("gain"))), "");
    EXPECT_TRUE(root.exsnc(CoreAnsx("  GAIN")));
    EXPECT_FALSE(root.exsnc(CoreAnsx("GAI")));

    // getcc and getls(tag, k) take the tag unchanged.
    EXPECT_EQ(root.getcc(CoreAnsx("GAIN")), 5);
    EXPECT_EQ(root.getcc(CoreAnsx("gain")), 0);
    EXPECT_EQ(root.getcc(CoreAnsx(" GAIN")), 0);
    EXPECT_EQ(text(root.getls(CoreAnsx("GAIN"), 0)), "A");
    EXPECT_EQ(text(root.getls(CoreAnsx("GAIN"), 1)), "B");
    EXPECT_EQ(text(root.getls(CoreAnsx("GAIN"), 3)), "D");
    EXPECT_EQ(text(root.getls(CoreAnsx("GAIN"), 4)), ""); // a match without a value
    EXPECT_EQ(text(root.getls(CoreAnsx("GAIN"), 5)), "");
    EXPECT_EQ(text(root.getls(CoreAnsx("gain"), 0)), "");
    EXPECT_EQ(text(root.getls(CoreAnsx("GAIN"), -1)), "");

    // cdis_ upper-cases its own text but does not trim it.
    EXPECT_TRUE(root.cdis_(CoreAnsx("GAIN")));
    EXPECT_FALSE(root.cdis_(CoreAnsx("Gain")));
    CoreNode padded(" Gain");
    EXPECT_FALSE(padded.cdis_(CoreAnsx("GAIN")));
    EXPECT_TRUE(padded.cdis_(CoreAnsx(" GAIN")));

    // Only a-z change case; bytes above 127 compare as they are.
    CoreNode latin("ROOT");
    latin.addcd(valued("\xE9x", "1"));
    EXPECT_TRUE(latin.exsnc(CoreAnsx("\xE9X")));
    EXPECT_FALSE(latin.exsnc(CoreAnsx("\xC9X")));
}

TEST(CoreNode, DeletingChildrenKeepsOrDropsTheList) {
    CoreNode root("ROOT");
    root.addcd(valued("X", "1"));
    root.delcn(CoreAnsx("x"));
    EXPECT_EQ(root.getcn(), nullptr);
    EXPECT_TRUE(root.leaf_());
    EXPECT_EQ(root.getcd(CoreAnsx("X")), nullptr);
    root.delcn(CoreAnsx("X")); // no list at all: nothing happens
    EXPECT_TRUE(root.addcd(valued("Y", "2")));
    ASSERT_NE(root.getcn(), nullptr);
    EXPECT_EQ(root.getcn()->Count, 1);

    root.addcd(valued("x", "3"));
    root.addcd(valued(" X ", "4"));
    root.delcn(CoreAnsx("X"));
    EXPECT_EQ(dump(root), "> ROOT\n>> Y\n>>> 2\n");

    root.delcn();
    ASSERT_NE(root.getcn(), nullptr);
    EXPECT_EQ(root.getcn()->Count, 0);
    EXPECT_FALSE(root.addcd(nullptr));
}

TEST(CoreNode, UpglfReplacesEveryMatchWithOneElementAtTheEnd) {
    CoreNode root("ROOT");
    root.addcd(valued("A", "1"));
    root.addcd(valued("B", "2"));
    root.addcd(valued("a", "3"));
    root.upglf(CoreAnsx("A"), new CoreNode("9"));
    EXPECT_EQ(dump(root), "> ROOT\n>> B\n>>> 2\n>> A\n>>> 9\n");
}

TEST(CoreNode, RplceWithoutSearchSetsEveryMatchingElement) {
    CoreNode root("ROOT");
    root.addcd(valued("A", "1"));
    root.addcd(element("B", {valued("a", "x"), element("C", {valued("A", "y")})}));
    root.addcd(element("A", {valued("A", "inner")})); // a match is not searched further
    root.addcd(element("A", {}));
    root.rplce(CoreAnsx("A"), CoreAnsx("R"), CoreAnsx("0"), false);
    EXPECT_EQ(dump(root), "> ROOT\n>> A\n>>> R\n>> B\n>>> a\n>>>> R\n>>> C\n>>>> A\n>>>>> R\n"
                          ">> A\n>>> R\n>> A\n>>> R\n");
}

TEST(CoreNode, RplceWithSearchEditsTheFirstChildsValue) {
    struct Case {
        const char* value;
        const char* search;
        const char* replacement;
        bool whole;
        const char* expected;
    } cases[] = {
        {" x1x ", "x", "y", false, " y1y "},    {" x1x ", "x", "whole", true, "whole"},
        {"aab", "ab", "b", false, "b"},         // rescans from the start after each replacement
        {"abab", "ab", "xab", false, "xabxab"}, // replacement holds search: one pass
        {"abc", "", "z", false, "abc"},         // empty search: unchanged
        {"abc", "q", "z", false, "abc"},
    };
    for (const Case& c : cases) {
        CoreNode root("ROOT");
        root.addcd(valued("A", c.value));
        root.rplce(CoreAnsx("a"), CoreAnsx(c.replacement), CoreAnsx(c.search), c.whole);
        ASSERT_EQ(root.getcd(CoreAnsx("A"))->getcn()->Count, 1) << c.value;
        EXPECT_EQ(text(root.getlc(CoreAnsx("A"))), c.expected) << c.value << " / " << c.search;
    }

    CoreNode several("ROOT");
    several.addcd(element("A", {new CoreNode("first"), new CoreNode("second"), valued("X", "1")}));
    several.addcd(element("A", {}));
    several.rplce(CoreAnsx("A"), CoreAnsx("I"), CoreAnsx("i"), false);
    EXPECT_EQ(dump(several), "> ROOT\n>> A\n>>> fIrst\n>> A\n>>> I\n");
}

TEST(CoreNode, TemplOverlaysValuesAndKeepsUnnamedTargetElements) {
    CoreNode tmpl("ROOT");
    tmpl.addcd(valued("A", " 5 "));
    CoreNode target("ROOT");
    target.addcd(valued("A", " 7 "));
    CoreNode::templ(&tmpl, &target);
    EXPECT_EQ(dump(target), "> ROOT\n>> A\n>>>  5 \n");

    CoreNode richTemplate("ROOT");
    richTemplate.addcd(valued("A", "5"));
    richTemplate.addcd(element("B", {valued("C", "1")}));
    CoreNode richTarget("ROOT");
    richTarget.addcd(element("A", {new CoreNode("7"), valued("OLD", "x")}));
    richTarget.addcd(valued("D", "3"));
    richTarget.addcd(valued("B", "0")); // absent by the "0" rule: a new B is appended
    CoreNode::templ(&richTemplate, &richTarget);
    EXPECT_EQ(dump(richTarget), "> ROOT\n>> A\n>>> 5\n>> D\n>>> 3\n>> B\n>>> 0\n>> B\n>>> C\n>>>> 1\n");
    EXPECT_EQ(text(richTarget.getcd(CoreAnsx("B"))->getls(CoreAnsx("C"))), "1");

    // Onto itself, or between a tree and part of it: nothing changes.
    const std::string before = dump(richTarget);
    CoreNode::templ(&richTarget, &richTarget);
    CoreNode::templ(&richTarget, richTarget.getcd(CoreAnsx("B")));
    CoreNode::templ(richTarget.getcd(CoreAnsx("B")), &richTarget);
    CoreNode::templ(nullptr, &richTarget);
    EXPECT_EQ(dump(richTarget), before);
}

TEST(CoreNode, DebugDumpsOneLinePerNodeWithLevelMarks) {
    CoreNode root("ROOT");
    root.addcd(element("A", {valued("B", "1"), new CoreNode(" v ")}));
    EXPECT_EQ(dump(root), "> ROOT\n>> A\n>>> B\n>>>> 1\n>>>  v \n");
    EXPECT_EQ(text(root.debug(1, root.getcd())), ">> A\n>>> B\n>>>> 1\n>>>  v \n");
}

TEST(CoreNode, PfindOfMissingPathLeavesIntermediateLevels) {
    CoreNode root("ROOT");
    const CoreAnsx path[] = {CoreAnsx("P"), CoreAnsx("q"), CoreAnsx("R")};
    EXPECT_EQ(root.pfind(path, 3), nullptr);
    EXPECT_EQ(dump(root), "> ROOT\n>> P\n>>> q\n");
    CoreNode* r = new CoreNode("r");
    root.getcd()->getcd()->addcd(r);
    const CoreAnsx found[] = {CoreAnsx(" p"), CoreAnsx("Q "), CoreAnsx("r")};
    EXPECT_EQ(root.pfind(found, 3), r);
    EXPECT_EQ(root.pcore(found, 0, true, false), nullptr);
    EXPECT_EQ(root.pcore(nullptr, 3, false, false), nullptr);
    EXPECT_EQ(root.pfind(found, 3), r);
}

TEST(CoreNode, PspltHandsTheSubtreeToTheCaller) {
    CoreNode root("ROOT");
    root.addcd(element("A", {valued("B", "1"), valued("B", "2")}));
    const CoreAnsx path[] = {CoreAnsx("A"), CoreAnsx("B")};
    std::unique_ptr<CoreNode> cut(root.psplt(path, 2));
    ASSERT_NE(cut, nullptr);
    EXPECT_EQ(dump(*cut), "> B\n>> 1\n");
    EXPECT_EQ(dump(root), "> ROOT\n>> A\n>>> B\n>>>> 2\n");

    const CoreAnsx missing[] = {CoreAnsx("X"), CoreAnsx("Y")};
    EXPECT_EQ(root.psplt(missing, 2), nullptr);
    EXPECT_EQ(dump(root), "> ROOT\n>> A\n>>> B\n>>>> 2\n>> X\n");
}

TEST(CoreNode, PdlteDeletesTheFirstMatch) {
    CoreNode root("ROOT");
    root.addcd(valued("A", "1"));
    root.addcd(valued("A", "2"));
    const CoreAnsx path[] = {CoreAnsx("a")};
    EXPECT_EQ(root.pdlte(path, 1), nullptr);
    EXPECT_EQ(dump(root), "> ROOT\n>> A\n>>> 2\n");
    const CoreAnsx missing[] = {CoreAnsx("Z")};
    EXPECT_EQ(root.pdlte(missing, 1), nullptr);
    EXPECT_EQ(dump(root), "> ROOT\n>> A\n>>> 2\n");
}

TEST(CoreNode, PappdCreatesMissingLevelsIncludingTheLast) {
    CoreNode root("ROOT");
    root.addcd(element("A", {valued("B", "1")}));
    const CoreAnsx existing[] = {CoreAnsx("A")};
    EXPECT_TRUE(root.pappd(existing, 1, valued("C", "2")));
    const CoreAnsx missing[] = {CoreAnsx("A"), CoreAnsx("D"), CoreAnsx("E")};
    EXPECT_TRUE(root.pappd(missing, 3, new CoreNode("3")));
    EXPECT_EQ(dump(root), "> ROOT\n>> A\n>>> B\n>>>> 1\n>>> C\n>>>> 2\n>>> D\n>>>> E\n>>>>> 3\n");
    EXPECT_FALSE(root.pappd(existing, 1, nullptr));
    EXPECT_TRUE(root.pappd(existing, 0, valued("TOP", "4"))); // the empty path is this node
    EXPECT_EQ(text(root.getls(CoreAnsx("TOP"))), "4");
}

TEST(CoreNode, PrplcReplacesAtTheEndOfTheParentLevel) {
    CoreNode root("ROOT");
    root.addcd(element("S", {valued("A", "1"), valued("B", "2"), valued("A", "3")}));
    const CoreAnsx path[] = {CoreAnsx("S"), CoreAnsx("A")};
    EXPECT_TRUE(root.prplc(path, 2, valued("A", "9")));
    EXPECT_EQ(dump(root), "> ROOT\n>> S\n>>> B\n>>>> 2\n>>> A\n>>>> 3\n>>> A\n>>>> 9\n");

    const CoreAnsx missing[] = {CoreAnsx("T"), CoreAnsx("A")};
    EXPECT_TRUE(root.prplc(missing, 2, valued("A", "5")));
    EXPECT_EQ(text(root.getcd(CoreAnsx("T"))->getls(CoreAnsx("A"))), "5");
    const CoreAnsx top[] = {CoreAnsx("S")};
    EXPECT_TRUE(root.prplc(top, 1, valued("S", "new")));
    EXPECT_EQ(dump(root), "> ROOT\n>> T\n>>> A\n>>>> 5\n>> S\n>>> new\n");
}

TEST(CoreNode, PmoveWithinAndBetweenTrees) {
    CoreNode root("ROOT");
    root.addcd(element("SRC", {valued("A", "1"), valued("B", "2")}));
    root.addcd(element("DST", {valued("A", "old")}));
    const CoreAnsx from[] = {CoreAnsx("SRC"), CoreAnsx("A")};
    const CoreAnsx to[] = {CoreAnsx("DST"), CoreAnsx("A")};
    EXPECT_TRUE(root.pmove(from, 2, &root, to, 2, true));
    EXPECT_EQ(dump(root), "> ROOT\n>> SRC\n>>> B\n>>>> 2\n>> DST\n>>> A\n>>>> 1\n");

    const CoreAnsx fromB[] = {CoreAnsx("SRC"), CoreAnsx("B")};
    const CoreAnsx under[] = {CoreAnsx("NEW"), CoreAnsx("PLACE")};
    EXPECT_TRUE(root.pmove(fromB, 2, &root, under, 2, false)); // missing destination is created
    EXPECT_EQ(dump(root), "> ROOT\n>> SRC\n>> DST\n>>> A\n>>>> 1\n>> NEW\n>>> PLACE\n>>>> B\n>>>>> 2\n");

    CoreNode other("ROOT");
    other.addcd(element("X", {valued("Y", "7")}));
    const CoreAnsx fromOther[] = {CoreAnsx("X"), CoreAnsx("Y")};
    const CoreAnsx dst[] = {CoreAnsx("DST")};
    EXPECT_TRUE(root.pmove(fromOther, 2, &other, dst, 1, false));
    EXPECT_EQ(dump(other), "> ROOT\n>> X\n");
    EXPECT_EQ(text(root.getcd(CoreAnsx("DST"))->getls(CoreAnsx("Y"))), "7");

    // A missing source moves nothing; the walk's intermediate level stays in the source.
    const std::string before = dump(root);
    const CoreAnsx gone[] = {CoreAnsx("Q"), CoreAnsx("Y")};
    EXPECT_FALSE(root.pmove(gone, 2, &other, dst, 1, false));
    EXPECT_FALSE(root.pmove(gone, 2, nullptr, dst, 1, false));
    EXPECT_EQ(dump(root), before);
    EXPECT_EQ(dump(other), "> ROOT\n>> X\n>> Q\n");

    // Moving an element below itself is refused rather than making a cycle.
    const CoreAnsx dstTree[] = {CoreAnsx("DST")};
    CoreNode* dstNode = root.getcd(CoreAnsx("DST"));
    const CoreAnsx inner[] = {CoreAnsx("A")};
    EXPECT_FALSE(dstNode->pmove(dstTree, 1, &root, inner, 1, false));
    EXPECT_EQ(dump(root), before);
}

TEST(CoreNode, DeletingADeepChainDoesNotExhaustTheStack) {
    auto* root = new CoreNode("ROOT");
    CoreNode* tail = root;
    for (int i = 0; i < 200000; ++i) {
        auto* next = new CoreNode("A");
        tail->addcd(next);
        tail = next;
    }
    tail->addcd(new CoreNode("end"));
    delete root;

    CoreNode holder("ROOT");
    tail = &holder;
    for (int i = 0; i < 200000; ++i) {
        auto* next = new CoreNode("A");
        tail->addcd(next);
        tail = next;
    }
    holder.delcn();
    EXPECT_TRUE(holder.leaf_());
}
