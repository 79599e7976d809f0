#include "base/CorePmsg.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

std::vector<std::string> rowsOf(const CorePmsg& board) {
    std::vector<std::string> rows;
    for (int i = 0; i < board.getrw(); ++i) rows.emplace_back(board.getrw(i).c_str());
    return rows;
}

using Rows = std::vector<std::string>;

} // namespace

TEST(CorePmsg, RowsScrollUpWhenEveryRowIsUsed) {
    CorePmsg board(3, 10);
    EXPECT_EQ(board.getrw(), 3);
    EXPECT_EQ(board.getus(), 0);
    EXPECT_EQ(rowsOf(board), (Rows{"", "", ""}));
    board.addrw(CoreAnsx("A"));
    board.addrw(CoreAnsx("B"));
    EXPECT_EQ(rowsOf(board), (Rows{"A", "B", ""}));
    EXPECT_EQ(board.getus(), 2);
    board.addrw(CoreAnsx("C"));
    board.addrw(CoreAnsx("D"));
    EXPECT_EQ(rowsOf(board), (Rows{"B", "C", "D"}));
    EXPECT_EQ(board.getus(), 3);

    board.clear();
    EXPECT_EQ(rowsOf(board), (Rows{"", "", ""}));
    EXPECT_EQ(board.getus(), 0);
    board.addrw(CoreAnsx("E"));
    EXPECT_EQ(rowsOf(board), (Rows{"E", "", ""}));
}

TEST(CorePmsg, LongLinesKeepTheirLastWidthCharacters) {
    CorePmsg board(4, 5);
    board.addrw(CoreAnsx("abcdefg"));
    board.addrw(CoreAnsx("abcde"));
    board.addrw(CoreAnsx("ab"));
    board.addrw(CoreAnsx(""));
    EXPECT_EQ(rowsOf(board), (Rows{"cdefg", "abcde", "ab", ""}));

    CorePmsg narrow(1, 0);
    narrow.addrw(CoreAnsx("abc"));
    EXPECT_EQ(rowsOf(narrow), (Rows{""}));
}

TEST(CorePmsg, RowAccessOutsideTheBoardGivesEmptyText) {
    CorePmsg board(2, 8);
    board.addrw(CoreAnsx("first"));
    board.addrw(CoreAnsx("second"));
    EXPECT_STREQ(board.getrw(-1).c_str(), "");
    EXPECT_STREQ(board.getrw(2).c_str(), "");
    EXPECT_STREQ(board.getrw(0).c_str(), "first");

    CoreAnsx copies[2];
    CoreAnsx* out = copies;
    board.getrw(&out);
    EXPECT_STREQ(copies[0].c_str(), "first");
    EXPECT_STREQ(copies[1].c_str(), "second");
}

TEST(CorePmsg, BoardWithoutRowsIgnoresLines) {
    for (int rows : {0, -3}) {
        CorePmsg board(rows, 10);
        board.addrw(CoreAnsx("lost"));
        EXPECT_EQ(board.getrw(), 0);
        EXPECT_EQ(board.getus(), 0);
        EXPECT_STREQ(board.getrw(0).c_str(), "");
        CoreAnsx* out = nullptr;
        board.getrw(&out);
    }
}

TEST(CorePmsg, ConcurrentWritersLeaveOnlyWholeAddedLines) {
    const int threads = 8;
    const int linesPerThread = 1000;
    CorePmsg board(5, 12);
    std::vector<std::thread> writers;
    std::set<std::string> added;
    for (int t = 0; t < threads; ++t)
        for (int i = 0; i < linesPerThread; ++i)
            added.insert("T" + std::to_string(t) + "-" + std::to_string(i));
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([&board, t] {
            for (int i = 0; i < linesPerThread; ++i) {
                board.addrw(CoreAnsx(("T" + std::to_string(t) + "-" + std::to_string(i)).c_str()));
                (void)board.getrw(i % 5);
            }
        });
    for (std::thread& writer : writers) writer.join();
    EXPECT_EQ(board.getus(), 5);
    std::set<std::string> seen;
    for (const std::string& row : rowsOf(board)) {
        EXPECT_EQ(added.count(row), 1u) << row;
        seen.insert(row);
    }
    EXPECT_EQ(seen.size(), 5u); // every line is stored once
}
