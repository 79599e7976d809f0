#include "display/CoreStte.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

struct Move {
    int from; // -1: any state
    const char* action;
    int to;
};

// The display's page moves, written out independently of the table under test.
const Move pageMoves[] = {
    {20, "ERRR", 21}, {20, "BOOT", 0},  {20, "BOO2", 18},  {17, "MAST", 19}, {18, "MAST", 19},
    {2, "MAS2", 19},  {23, "MAST", 19}, {18, "LIST", 17},  {19, "LIST", 17}, {23, "LIST", 17},
    {17, "PROG", 18}, {19, "PROG", 18}, {23, "PROG", 18},  {17, "BTCH", 23}, {18, "BTCH", 23},
    {19, "BTCH", 23}, {-1, "MIDI", 3},  {-1, "LIST", 1},   {-1, "KERN", 5},  {-1, "PROG", 0},
    {-1, "EDIT", 6},  {-1, "MAST", 2},  {-1, "DISK", 4},   {-1, "LFOS", 7},  {-1, "GLOB", 8},
    {-1, "FUNS", 9},  {-1, "EVFS", 10}, {-1, "ENVS", 11},  {-1, "DYNS", 12}, {-1, "PRMS", 13},
    {-1, "MEMO", 6},  {-1, "BTCH", 22}, {-1, "ABOUT", 15}, {-1, "TEST", 16}, {-1, "PARM", 14},
};

// Where an action leads from a state: the row naming that state, else the action's "any" row,
// else nowhere.
int expectedState(int state, const std::string& action) {
    for (const Move& move : pageMoves)
        if (move.from == state && action == move.action) return move.to;
    for (const Move& move : pageMoves)
        if (move.from < 0 && action == move.action) return move.to;
    return state;
}

} // namespace

TEST(CoreStte, LooksUpEveryStateAndAction) {
    CoreStte table;
    CoreStte::addDisplayRows(table);
    std::set<std::string> actions = {"", "MAS2", "BOO2", "prog", "PROG ", "  More> "};
    for (const Move& move : pageMoves) actions.insert(move.action);
    for (int state = 0; state <= 23; ++state)
        for (const std::string& action : actions) {
            SCOPED_TRACE(testing::Message() << "state " << state << ", action \"" << action << '"');
            const int expected = expectedState(state, action);
            EXPECT_EQ(table.getst(state, CoreAnsx(action.c_str())), expected);
            EXPECT_EQ(table.chngd(), expected != state);
        }
}

TEST(CoreStte, MovesBetweenTheCompactAndTheFullPages) {
    CoreStte table;
    CoreStte::addDisplayRows(table);
    struct Row {
        int from;
        const char* action;
        int to;
        bool changed;
    };
    const Row rows[] = {
        {19, "MAST", 2, true},  {2, "MAS2", 19, true},  {5, "MAS2", 5, false},   {18, "PROG", 0, true},
        {17, "PROG", 18, true}, {19, "PROG", 18, true}, {23, "PROG", 18, true},  {17, "BTCH", 23, true},
        {18, "BTCH", 23, true}, {19, "BTCH", 23, true}, {0, "BTCH", 22, true},   {22, "BTCH", 22, false},
        {23, "BTCH", 22, true}, {22, "KERN", 5, true},  {23, "KERN", 5, true},   {23, "LIST", 17, true},
        {23, "MAST", 19, true}, {22, "PROG", 0, true},  {0, "BOOT", 0, false},   {20, "BOOT", 0, true},
        {3, "", 3, false},      {0, "PROG", 0, false},  {-5, "ABOUT", 15, true}, {99, "nothing", 99, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.from << " \"" << r.action << '"');
        EXPECT_EQ(table.getst(r.from, CoreAnsx(r.action)), r.to);
        EXPECT_EQ(table.chngd(), r.changed);
    }
}

TEST(CoreStte, AnEmptyTableStaysAndTheFirstMatchingRowWins) {
    CoreStte table;
    EXPECT_EQ(table.getst(4, CoreAnsx("PROG")), 4);
    EXPECT_FALSE(table.chngd());
    table.addmp(-1, CoreAnsx("GO"), 7);
    table.addmp(3, CoreAnsx("GO"), 9); // after the any-state row: never reached
    EXPECT_EQ(table.getst(3, CoreAnsx("GO")), 7);
    EXPECT_TRUE(table.chngd());
}
