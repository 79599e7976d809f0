// Tests of the XML tree node: absent and present values, numeric reads that stay finite and in range,
// exact against normalised name comparisons, deletion without recursion, value edits and overlays, and
// path operations that create missing levels and never move a tree into itself.
#include "base/CoreNode.h"
#include "tests/base/XmlTree.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(CoreNode, ValueZeroIsAbsentAFramedZeroIsPresentAndLookupsTakeTheLastMatch) {
    CoreNode root("ROOT");
    for (CoreNode* child :
         {valued("RAW", "0"), valued("SAVED", " 0 "), element("EMPTY", {}), valued("A", "1"),
          valued("A", "2"), new CoreNode(static_cast<const char*>(nullptr))})
        root.addcd(child);
    // tag, present, getlc, getls, gtnli(7), gtnld(2.5), gtnlb(true), gtnls("d")
    const std::tuple<const char*, bool, const char*, const char*, int, double, bool, const char*> rows[] = {
        {"RAW", false, "0", "", 7, 2.5, true, "d"},
        {"saved", true, " 0 ", "0", 0, 0.0, false, "0"},
        {"EMPTY", false, "0", "", 7, 2.5, true, "d"},
        {" a ", true, "2", "2", 2, 2.0, true, "2"}};
    for (const auto& [tag, present, raw, value, asInt, asDouble, asBool, asText] : rows) {
        SCOPED_TRACE(tag);
        EXPECT_EQ(root.exslc(tag), present);
        EXPECT_STREQ(root.getlc(tag).c_str(), raw);
        EXPECT_STREQ(root.getls(tag).c_str(), value);
        EXPECT_EQ(CoreNode::gtnli(&root, tag, 7), asInt);
        EXPECT_EQ(CoreNode::gtnld(&root, tag, 2.5), asDouble);
        EXPECT_EQ(CoreNode::gtnlb(&root, tag, true), asBool);
        EXPECT_STREQ(CoreNode::gtnls(&root, tag, "d").c_str(), asText);
    }
    EXPECT_EQ(CoreNode::gtnli(nullptr, "RAW", 5), 5);
    EXPECT_STREQ(static_cast<CoreNode*>(root.getcn()->Items[5])->gettx().c_str(), ""); // from a null text
    const CoreAnsx path[] = {"A"}; // a path takes the first match, a lookup the last
    EXPECT_EQ(static_cast<void*>(root.pfind(path, 1)), root.getcn()->Items[3]);
    EXPECT_EQ(static_cast<void*>(root.getcd("a")), root.getcn()->Items[4]);
}

TEST(CoreNode, NumericReadsTrimAcceptACommaAndStayFiniteAndInRange) {
    CoreNode root("ROOT");
    // value, getli, getld (and gtnld), gtnli with default 7, gtnlb with default true
    const std::tuple<const char*, int, double, int, bool> rows[] = {
        {"1,5", 1, 1.5, 1, true},
        {"nan", 0, 0.0, 0, false},
        {"-1e999", -1, 0.0, 0, false},
        {"1.79769E+308", 1, 1.79769e308, INT32_MAX, true}, // what "%G" writes for the largest double
        {"-3e10", -3, -3e10, INT32_MIN, true},
        {"99999999999", INT32_MAX, 99999999999.0, INT32_MAX, true}};
    for (const auto& [value, asInt, asDouble, truncated, asBool] : rows) {
        root.delcn();
        root.addcd(valued("V", value));
        EXPECT_EQ(root.getli("V"), asInt) << value;
        EXPECT_EQ(root.getlb("V"), asInt != 0) << value;
        EXPECT_DOUBLE_EQ(root.getld("V"), asDouble) << value;
        EXPECT_DOUBLE_EQ(CoreNode::gtnld(&root, "V", 9.0), asDouble) << value;
        EXPECT_EQ(CoreNode::gtnli(&root, "V", 7), truncated) << value;
        EXPECT_EQ(CoreNode::gtnlb(&root, "V", true), asBool) << value;
    }
}

TEST(CoreNode, ExactComparisonsDifferFromNormalisedLookups) {
    CoreNode root("Gain");
    for (CoreNode* child : {valued(" gain ", "a"), valued("GAIN", " b "), valued("\t\nGaIn\r\v\f", "d"),
                            element("GAIN", {}), valued("\xE9x", "1")})
        root.addcd(child);
    // Normalised: case and the six blank characters of Trim are ignored on both sides; only a-z change case.
    EXPECT_STREQ(root.getcd(" gAIn\t")->gettx().c_str(), "GAIN");
    EXPECT_TRUE(root.exsnc("  GAIN") && !root.exsnc("GAI") && root.exsnc("\xE9X") && !root.exsnc("\xC9X"));
    // getcc and getls(tag, k) take the tag unchanged; cdis_ upper-cases its own text but does not trim it.
    EXPECT_EQ(root.getcc("GAIN"), 4);
    EXPECT_EQ(root.getcc(" GAIN"), 0);
    const std::pair<int, const char*> kth[] = {{1, "B"}, {3, ""}, {4, ""}, {-1, ""}};
    for (const auto& [k, value] : kth) EXPECT_STREQ(root.getls("GAIN", k).c_str(), value) << k;
    EXPECT_TRUE(root.cdis_("GAIN") && !root.cdis_("Gain") && !root.cdis_("GAINS"));
}

TEST(CoreNode, DeletingChildrenKeepsOrDropsTheListAndADeepChainDeletesWithoutRecursion) {
    CoreNode root("ROOT");
    EXPECT_FALSE(root.addcd(nullptr));
    for (CoreNode* child : {valued("Y", "2"), valued("x", "3"), valued(" X ", "4")}) root.addcd(child);
    root.delcn("X");
    EXPECT_EQ(dump(&root), "> ROOT\n>> Y\n>>> 2\n");
    root.delcn("y");
    EXPECT_EQ(root.getcn(), nullptr); // no match left: the list goes
    for (bool asRoot : {true, false}) {
        auto* top = new CoreNode("ROOT");
        CoreNode* tail = top;
        for (int i = 0; i < 200000; ++i) {
            CoreNode* next = new CoreNode("A");
            tail->addcd(next);
            tail = next;
        }
        if (!asRoot) top->delcn();
        delete top;
    }
}

TEST(CoreNode, ValueEditsReplaceSetAndOverlay) {
    CoreNode root("ROOT");
    for (CoreNode* child : {valued("A", "1"), valued("B", "2"), valued("a", "3")}) root.addcd(child);
    root.upglf("A", new CoreNode("9")); // every match goes, one element comes at the end
    EXPECT_EQ(dump(&root), "> ROOT\n>> B\n>>> 2\n>> A\n>>> 9\n");
    CoreNode tree("ROOT"); // without a search: every matching element is set, matches not searched further
    for (CoreNode* child :
         {element("B", {element("C", {valued("A", "y")})}), element("A", {valued("A", "inner")})})
        tree.addcd(child);
    tree.rplce("A", "R", "0", false);
    EXPECT_EQ(dump(&tree), "> ROOT\n>> B\n>>> C\n>>>> A\n>>>>> R\n>> A\n>>> R\n");
    // With a search, the first child's value is edited (rescanning, or whole) and stays the only child.
    const std::tuple<const char*, const char*, const char*, bool, const char*> edits[] = {
        {"aab", "ab", "b", false, "b"}, {" x1x ", "x", "whole", true, "whole"}};
    for (const auto& [value, search, replacement, whole, expected] : edits) {
        CoreNode one("ROOT");
        one.addcd(element("A", {new CoreNode(value), valued("X", "1")}));
        one.rplce("a", replacement, search, whole);
        EXPECT_STREQ(one.getlc("A").c_str(), expected) << value << " / " << search;
        EXPECT_EQ(one.getcd("A")->getcn()->Count, 1);
    }
    CoreNode target("ROOT"), tmpl("ROOT");
    for (CoreNode* child : {valued("A", "5"), element("B", {valued("C", "1")})}) tmpl.addcd(child);
    for (CoreNode* child : {element("A", {new CoreNode("7"), valued("OLD", "x")}), valued("B", "0")})
        target.addcd(child);
    CoreNode::templ(&tmpl, &target); // "B" holding "0" counts as absent: a new B is appended
    const std::string overlaid = "> ROOT\n>> A\n>>> 5\n>> B\n>>> 0\n>> B\n>>> C\n>>>> 1\n";
    EXPECT_EQ(dump(&target), overlaid);
    for (const auto& [from, to] : {std::pair{&target, target.getcd("B")}, {target.getcd("B"), &target}})
        CoreNode::templ(from, to); // between a tree and part of it: nothing changes
    EXPECT_EQ(dump(&target), overlaid);
}

TEST(CoreNode, PathsCreateMissingLevelsAndMovesNeverEnterTheirOwnSubtree) {
    CoreNode root("ROOT"), other("ROOT");
    root.addcd(element("SRC", {valued("A", "1"), valued("B", "2")}));
    root.addcd(element("DST", {valued("A", "old")}));
    other.addcd(element("X", {valued("Y", "7")}));
    const CoreAnsx fromA[] = {"SRC", "A"}, toA[] = {"DST", "A"}, fromB[] = {"SRC", "B"},
                   under[] = {"NEW", "PLACE"};
    const CoreAnsx fromOther[] = {"X", "Y"}, dst[] = {"DST"}, gone[] = {"Q", "Y"}, inner[] = {"A"},
                   deep[] = {"P", "Q", "R"};
    EXPECT_EQ(root.pcore(fromA, 0, true, false), nullptr);
    EXPECT_TRUE(root.pmove(fromA, 2, &root, toA, 2, true));
    EXPECT_TRUE(root.pmove(fromB, 2, &root, under, 2, false)); // a missing destination is created
    EXPECT_TRUE(root.pmove(fromOther, 2, &other, dst, 1, false));
    EXPECT_EQ(root.pfind(deep, 3), nullptr); // a missing end: the walk leaves its intermediate levels
    EXPECT_TRUE(root.pappd(deep, 3, new CoreNode("3"))); // every missing level is created
    const std::string moved =
        "> ROOT\n>> SRC\n>> DST\n>>> A\n>>>> 1\n>>> Y\n>>>> 7\n>> NEW\n>>> PLACE\n>>>> B\n>>>>> "
        "2\n>> P\n>>> Q\n>>>> R\n>>>>> 3\n";
    EXPECT_EQ(dump(&root), moved);
    EXPECT_FALSE(root.pmove(gone, 2, nullptr, dst, 1, false)); // no source tree, or a missing source: nothing
    EXPECT_FALSE(root.pmove(inner, 1, &other, dst, 1, false));
    EXPECT_FALSE(root.getcd("DST")->pmove(dst, 1, &root, inner, 1, false)); // below itself: refused
    EXPECT_EQ(dump(&root), moved);
    EXPECT_FALSE(other.pappd(inner, 1, nullptr));
    EXPECT_TRUE(other.pappd(inner, 0, valued("TOP", "4"))); // the empty path is the node itself
    EXPECT_EQ(dump(&other), "> ROOT\n>> X\n>> TOP\n>>> 4\n");
}
