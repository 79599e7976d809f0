#include "display/CoreDsbf.h"
#include "display/DataLclz.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>

namespace {

constexpr int notPadded = -1;

struct List {
    const char* name;
    const char* const* entries;
    size_t length;                       // of the array
    int count;                           // its iC constant
    int width;                           // of every entry, or notPadded
    int shortEntry = -1, shortWidth = 0; // the one entry of another width
};

#define LIST(member, ...)                                                                                    \
    List {                                                                                                   \
#member, DataLclz::sC##member, std::size(DataLclz::sC##member), DataLclz::iC##member, __VA_ARGS__    \
    }

} // namespace

TEST(DataLclz, ListsHaveTheirCountsAndWidths) {
    const List lists[] = {
        LIST(geneoffon, 3),
        LIST(kernhdim, 8),
        LIST(mastmode, 15),
        LIST(mastmetertype, 15, 4, 12), // entry 4, "4 RMS 17    ", has 12 characters
        LIST(mastoptimization, 15),
        LIST(mastaudioquality, 1),
        LIST(masthdim, 13),
        LIST(mastboot, 6),
        LIST(mastscanboot, notPadded),
        LIST(mastnodrop, notPadded),
        LIST(mastthreadpriority, notPadded),
        LIST(mastdspbuffers, notPadded),
        LIST(lfo_ratequantize, notPadded),
        LIST(globsmooth, notPadded),
        LIST(evf_type, 7),
        LIST(evf_order, 1),
        LIST(env_attacksmooth, 4),
        LIST(env_curve, notPadded),
        LIST(dyn_type, 4),
        LIST(dyn_curve, notPadded),
        LIST(prm2prelabel, notPadded),
        LIST(aboulines, notPadded),
    };
    const int counts[] = {2, 21, 2, 9, 15, 5, 20, 2, 2, 2, 5, 7, 8, 31, 10, 4, 1, 10, 2, 10, 9, 9};
    static_assert(std::size(counts) == 22);
    // Every character of a list is one the display fonts draw (a blank or a glyph of its own).
    CoreDsbf grid(nullptr, 58, 14, 49, 3);
    for (size_t i = 0; i < std::size(lists); ++i) {
        const List& list = lists[i];
        SCOPED_TRACE(list.name);
        EXPECT_EQ(list.count, static_cast<int>(list.length));
        EXPECT_EQ(list.count, counts[i]);
        for (size_t entry = 0; entry < list.length; ++entry) {
            const std::string text = list.entries[entry];
            SCOPED_TRACE(text);
            const int width = static_cast<int>(entry) == list.shortEntry ? list.shortWidth : list.width;
            if (width != notPadded) {
                EXPECT_EQ(static_cast<int>(text.size()), width);
            }
            EXPECT_LE(text.size(), 58u);
            for (char c : text) EXPECT_TRUE(c == ' ' || grid.getfn(0)->getrs(c) != 0) << c;
        }
    }
}

TEST(DataLclz, SharedAndSpecialTexts) {
    struct Row {
        const char* first;
        const char* second;
    };
    const Row sameTexts[] = {
        {DataLclz::sCfun_adblabel, DataLclz::sCfun_bdblabel},
        {DataLclz::sCenv_levelattacklabel, DataLclz::sCenv_attacklabel},
        {DataLclz::sCenv_levelmodsourcelabel, DataLclz::sCenv_modsourcelabel},
        {DataLclz::sCkernhdimlabel, DataLclz::sCmasthdimlabel},
        {DataLclz::sCkernhdim[14], "14(13rd)"},
        {DataLclz::sCmidimixlabel, ""},
        {DataLclz::sCaboulines[1], CoreLog_::sCproductn},
    };
    for (const Row& r : sameTexts) EXPECT_STREQ(r.first, r.second);

    // The empty label writes nothing.
    CoreDsbf grid(nullptr, 58, 14, 49, 3);
    grid.write(DataLclz::sCmidimixlabel, 0, 0, 0, false, false);
    for (int column = 0; column < 58; ++column) EXPECT_EQ(grid.cell(column, 0)->getfn(), 3);
}
