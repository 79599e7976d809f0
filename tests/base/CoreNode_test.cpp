#include "base/CoreNode.h"
#include "tests/base/XmlTree.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(CoreNode, ConstructorsGiveTextsAndAnEmptyChildList) {
    const std::pair<std::unique_ptr<CoreNode>, const char*> rows[] = {
        {std::make_unique<CoreNode>("ABC"), "ABC"},
        {std::make_unique<CoreNode>(-12), "-12"},
        {std::make_unique<CoreNode>(1e-7), "1E-07"},
        {std::make_unique<CoreNode>(true), "1"}};
    for (const auto& [node, text] : rows) {
        EXPECT_STREQ(node->gettx().c_str(), text);
        ASSERT_NE(node->getcn(), nullptr);
        EXPECT_TRUE(node->leaf_());
        EXPECT_EQ(node->getcd(), nullptr);
    }
}

TEST(CoreNode, ValueZeroIsAbsentAFramedZeroIsPresentAndLookupsTakeTheLastMatch) {
    CoreNode root("ROOT");
    for (CoreNode* child : {valued("RAW", "0"), valued("SAVED", " 0 "), element("EMPTY", {}),
                            valued("A", "1"), valued("A", "2")})
        root.addcd(child);
    // tag, present, getlc, getls, gtnli(7), gtnld(2.5), gtnlb(true), gtnls("d")
    const std::tuple<const char*, bool, const char*, const char*, int, double, bool, const char*> rows[] = {
        {"RAW", false, "0", "", 7, 2.5, true, "d"},
        {"saved", true, " 0 ", "0", 0, 0.0, false, "0"},
        {"MISSING", false, "0", "", 7, 2.5, true, "d"},
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
    const CoreAnsx path[] = {"A"}; // a path takes the first match, a lookup the last
    EXPECT_EQ(static_cast<void*>(root.pfind(path, 1)), root.getcn()->Items[3]);
    EXPECT_EQ(static_cast<void*>(root.getcd("a")), root.getcn()->Items[4]);
}

TEST(CoreNode, NumericReadsTrimAcceptACommaAndStayFiniteAndInRange) {
    CoreNode root("ROOT");
    // value, getli, getld (and gtnld), gtnli with default 7, gtnlb with default true
    const std::tuple<const char*, int, double, int, bool> rows[] = {
        {"1,5", 1, 1.5, 1, true},
        {" 12 ", 12, 12.0, 12, true},
        {"", 0, 0.0, 0, false},
        {"-0.7", 0, -0.7, 0, false},
        {"nan", 0, 0.0, 0, false},
        {"inf", 0, 0.0, 0, false},
        {"1e999", 1, 0.0, 0, false},
        {"-1e999", -1, 0.0, 0, false},
        {"1.79769E+308", 1, 1.79769e308, INT32_MAX, true}, // what "%G" writes for the largest double
        {"-3e10", -3, -3e10, INT32_MIN, true},
        {"99999999999", INT32_MAX, 99999999999.0, INT32_MAX, true},
        {"-99999999999", INT32_MIN, -99999999999.0, INT32_MIN, true}};
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
    for (CoreNode* child : {valued(" gain ", "a"), valued("GAIN", " b "), valued("Gain", "c"),
                            valued("\t\nGaIn\r\v\f", "d"), element("GAIN", {}), valued("\xE9x", "1")})
        root.addcd(child);
    // Normalised: case and the six blank characters of Trim are ignored on both sides; only a-z change case.
    EXPECT_STREQ(root.getcd(" gAIn\t")->gettx().c_str(), "GAIN");
    EXPECT_TRUE(root.exsnc("  GAIN"));
    EXPECT_FALSE(root.exsnc("GAI"));
    EXPECT_TRUE(root.exsnc("\xE9X"));
    EXPECT_FALSE(root.exsnc("\xC9X"));
    // getcc and getls(tag, k) take the tag unchanged; cdis_ upper-cases its own text but does not trim it.
    EXPECT_EQ(root.getcc("GAIN"), 5);
    EXPECT_EQ(root.getcc(" GAIN"), 0);
    const std::pair<int, const char*> kth[] = {{0, "A"}, {1, "B"}, {3, "D"}, {4, ""}, {5, ""}, {-1, ""}};
    for (const auto& [k, value] : kth) EXPECT_STREQ(root.getls("GAIN", k).c_str(), value) << k;
    EXPECT_STREQ(root.getls("gain", 0).c_str(), "");
    EXPECT_TRUE(root.cdis_("GAIN"));
    EXPECT_FALSE(root.cdis_("Gain"));
    EXPECT_FALSE(CoreNode(" Gain").cdis_("GAIN"));
}

TEST(CoreNode, DeletingChildrenKeepsOrDropsTheListAndADeepChainDeletesWithoutRecursion) {
    CoreNode root("ROOT");
    root.addcd(valued("X", "1"));
    root.delcn("x");
    EXPECT_EQ(root.getcn(), nullptr); // no match left: the list goes
    root.delcn("X");
    EXPECT_FALSE(root.addcd(nullptr));
    for (CoreNode* child : {valued("Y", "2"), valued("x", "3"), valued(" X ", "4")}) root.addcd(child);
    root.delcn("X");
    EXPECT_EQ(dump(&root), "> ROOT\n>> Y\n>>> 2\n");
    root.delcn();
    ASSERT_NE(root.getcn(), nullptr);
    EXPECT_EQ(root.getcn()->Count, 0);

    for (bool asRoot : {true, false}) {
        auto* top = new CoreNode("ROOT");
        CoreNode* tail = top;
        for (int i = 0; i < 200000; ++i) {
            CoreNode* next = new CoreNode("A");
            tail->addcd(next);
            tail = next;
        }
        if (asRoot)
            delete top;
        else {
            top->delcn();
            EXPECT_TRUE(top->leaf_());
            delete top;
        }
    }
}

TEST(CoreNode, ValueEditsReplaceSetAndOverlay) {
    CoreNode root("ROOT");
    for (CoreNode* child : {valued("A", "1"), valued("B", "2"), valued("a", "3")}) root.addcd(child);
    root.upglf("A", new CoreNode("9")); // every match goes, one element comes at the end
    EXPECT_EQ(dump(&root), "> ROOT\n>> B\n>>> 2\n>> A\n>>> 9\n");

    CoreNode tree("ROOT"); // without a search: every matching element is set, matches not searched further
    for (CoreNode* child :
         {valued("A", "1"), element("B", {valued("a", "x"), element("C", {valued("A", "y")})}),
          element("A", {valued("A", "inner")}), element("A", {})})
        tree.addcd(child);
    tree.rplce("A", "R", "0", false);
    EXPECT_EQ(dump(&tree),
              "> ROOT\n>> A\n>>> R\n>> B\n>>> a\n>>>> R\n>>> C\n>>>> A\n>>>>> R\n>> A\n>>> R\n>> A\n>>> R\n");
    // With a search, the first child's value is edited (rescanning, terminating, or whole) and stays the only
    // child.
    const std::tuple<const char*, const char*, const char*, bool, const char*> edits[] = {
        {" x1x ", "x", "y", false, " y1y "},
        {" x1x ", "x", "whole", true, "whole"},
        {"aab", "ab", "b", false, "b"},
        {"abab", "ab", "xab", false, "xabxab"},
        {"abc", "", "z", false, "abc"}};
    for (const auto& [value, search, replacement, whole, expected] : edits) {
        CoreNode one("ROOT");
        one.addcd(element("A", {new CoreNode(value), valued("X", "1")}));
        one.rplce("a", replacement, search, whole);
        EXPECT_STREQ(one.getlc("A").c_str(), expected) << value << " / " << search;
        EXPECT_EQ(one.getcd("A")->getcn()->Count, 1);
    }

    CoreNode target("ROOT"), tmpl("ROOT");
    for (CoreNode* child : {valued("A", "5"), element("B", {valued("C", "1")})}) tmpl.addcd(child);
    for (CoreNode* child :
         {element("A", {new CoreNode("7"), valued("OLD", "x")}), valued("D", "3"), valued("B", "0")})
        target.addcd(child);
    CoreNode::templ(&tmpl, &target); // "B" holding "0" counts as absent: a new B is appended
    const std::string overlaid = "> ROOT\n>> A\n>>> 5\n>> D\n>>> 3\n>> B\n>>> 0\n>> B\n>>> C\n>>>> 1\n";
    EXPECT_EQ(dump(&target), overlaid);
    CoreNode* inner = target.getcd("B");
    for (const auto& [from, to] :
         {std::pair{&target, &target}, {&target, inner}, {inner, &target}, {nullptr, &target}})
        CoreNode::templ(from, to); // onto itself or between a tree and part of it: nothing changes
    EXPECT_EQ(dump(&target), overlaid);
    EXPECT_EQ(std::string(target.debug(1, target.getcd()).c_str()), ">> A\n>>> 5\n");
}

TEST(CoreNode, PathsFindSplitDeleteAppendAndReplaceTheFirstMatchCreatingMissingLevels) {
    CoreNode root("ROOT");
    root.addcd(element("A", {valued("B", "1"), valued("B", "2")}));
    const CoreAnsx missing[] = {"P", "q", "R"}, ab[] = {" a", "B "}, a[] = {"A"};
    EXPECT_EQ(root.pfind(missing, 3), nullptr); // the walk leaves its intermediate levels
    EXPECT_EQ(root.pcore(ab, 0, true, false), nullptr);
    EXPECT_EQ(root.pcore(nullptr, 3, false, false), nullptr);
    std::unique_ptr<CoreNode> cut(root.psplt(ab, 2));
    EXPECT_EQ(dump(cut.get()), "> B\n>> 1\n");
    EXPECT_EQ(root.pdlte(ab, 2), nullptr);
    EXPECT_EQ(dump(&root), "> ROOT\n>> A\n>> P\n>>> q\n");
    EXPECT_TRUE(root.pappd(missing, 3, new CoreNode("3"))); // the last level is created too
    EXPECT_TRUE(root.pappd(a, 0, valued("TOP", "4")));      // the empty path is this node
    EXPECT_FALSE(root.pappd(a, 1, nullptr));
    EXPECT_TRUE(root.prplc(a, 1, valued("A", "new")));
    EXPECT_EQ(dump(&root), "> ROOT\n>> P\n>>> q\n>>>> R\n>>>>> 3\n>> TOP\n>>> 4\n>> A\n>>> new\n");
}

TEST(CoreNode, MovesWithinAndBetweenTreesButNeverIntoTheirOwnSubtree) {
    CoreNode root("ROOT"), other("ROOT");
    root.addcd(element("SRC", {valued("A", "1"), valued("B", "2")}));
    root.addcd(element("DST", {valued("A", "old")}));
    other.addcd(element("X", {valued("Y", "7")}));
    const CoreAnsx fromA[] = {"SRC", "A"}, toA[] = {"DST", "A"}, fromB[] = {"SRC", "B"},
                   under[] = {"NEW", "PLACE"};
    const CoreAnsx fromOther[] = {"X", "Y"}, dst[] = {"DST"}, gone[] = {"Q", "Y"}, inner[] = {"A"};
    EXPECT_TRUE(root.pmove(fromA, 2, &root, toA, 2, true));
    EXPECT_TRUE(root.pmove(fromB, 2, &root, under, 2, false)); // a missing destination is created
    EXPECT_TRUE(root.pmove(fromOther, 2, &other, dst, 1, false));
    const std::string moved =
        "> ROOT\n>> SRC\n>> DST\n>>> A\n>>>> 1\n>>> Y\n>>>> 7\n>> NEW\n>>> PLACE\n>>>> B\n>>>>> 2\n";
    EXPECT_EQ(dump(&root), moved);
    EXPECT_FALSE(root.pmove(gone, 2, &other, dst, 1, false)); // a missing source moves nothing
    EXPECT_FALSE(root.pmove(gone, 2, nullptr, dst, 1, false));
    EXPECT_EQ(dump(&other), "> ROOT\n>> X\n>> Q\n");
    EXPECT_FALSE(root.getcd("DST")->pmove(dst, 1, &root, inner, 1, false)); // below itself: refused
    EXPECT_EQ(dump(&root), moved);
}
