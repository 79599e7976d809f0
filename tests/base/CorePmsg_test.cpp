// Tests of the message board: rows scroll up, long lines keep their last characters, rows outside
// the board read empty, boards without rows or width store nothing, and concurrent writers leave
// only whole lines.
#include "base/CorePmsg.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using Rows = std::vector<std::string>;

// Every row through the array form, checked against the single-row form.
Rows rowsOf(const CorePmsg& board) {
    std::vector<CoreAnsx> copies(static_cast<size_t>(board.getrw()));
    CoreAnsx* out = copies.data();
    board.getrw(&out);
    Rows rows;
    for (int i = 0; i < board.getrw(); ++i) {
        EXPECT_STREQ(board.getrw(i).c_str(), copies[i].c_str());
        rows.emplace_back(copies[i].c_str());
    }
    return rows;
}

} // namespace

TEST(CorePmsg, RowsScrollUpAndLongLinesKeepTheirLastCharacters) {
    CorePmsg board(3, 5);
    board.addrw(CoreAnsx("abcdefg"));
    EXPECT_EQ(rowsOf(board), (Rows{"cdefg", "", ""}));
    for (const char* line : {"", "ab", "abcde"}) board.addrw(CoreAnsx(line));
    EXPECT_EQ(rowsOf(board), (Rows{"", "ab", "abcde"}));
    EXPECT_EQ(board.getus(), 3);
    EXPECT_STREQ(board.getrw(-1).c_str(), "");
    EXPECT_STREQ(board.getrw(3).c_str(), "");
    board.clear();
    board.addrw(CoreAnsx("E"));
    EXPECT_EQ(rowsOf(board), (Rows{"E", "", ""}));
    EXPECT_EQ(board.getus(), 1);
}

TEST(CorePmsg, BoardsWithoutRowsOrWidthStoreNothing) {
    for (const auto& [rows, width] : {std::pair{0, 10}, {1, 0}}) {
        CorePmsg board(rows, width);
        board.addrw(CoreAnsx("lost"));
        EXPECT_EQ(board.getus(), rows);
        EXPECT_EQ(rowsOf(board), Rows(rows, ""));
        EXPECT_STREQ(board.getrw(0).c_str(), "");
    }
}

TEST(CorePmsg, ConcurrentWritersLeaveOnlyWholeAddedLines) {
    const int threads = 8, linesPerThread = 1000;
    CorePmsg board(5, 12);
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; ++t)
        writers.emplace_back([&board, t] {
            for (int i = 0; i < linesPerThread; ++i) {
                board.addrw(CoreAnsx(("T" + std::to_string(t) + "-" + std::to_string(i)).c_str()));
                (void)board.getrw(i % 5);
            }
        });
    for (std::thread& writer : writers) writer.join();
    std::set<std::string> seen;
    for (const std::string& row : rowsOf(board)) {
        const size_t dash = row.find('-');
        ASSERT_EQ(row[0], 'T') << row;
        ASSERT_NE(dash, std::string::npos) << row;
        EXPECT_LT(std::stoi(row.substr(1, dash - 1)), threads) << row;
        EXPECT_LT(std::stoi(row.substr(dash + 1)), linesPerThread) << row;
        seen.insert(row);
    }
    EXPECT_EQ(seen.size(), 5u); // every line is stored once
}
