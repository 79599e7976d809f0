// CoreRcsv: values terminated by semicolons, non-finite ones read as 0 and logged once, counts and
// fresh opens, the writer's fixed digits, both ways whatever the locale, whole-file writes, and
// mutated texts.
#include "filestore/CoreRcsv.h"

#include "FsysFixture.h"
#include "tests/common/ByteMutator.h"
#include "tests/common/DecimalCommaLocale.h"

#include <algorithm>
#include <cmath>

using namespace fsystest;

class CoreRcsvFiles : public FsysFiles {
protected:
    std::vector<double> readAll(CoreFsys& store, const std::string& name) {
        CoreRcsv csv(&pool, &store);
        if (!csv.open_(name.c_str())) return {};
        const int32_t n = csv.getdr();
        std::vector<double> values(static_cast<size_t>(n), -999.0);
        EXPECT_EQ(csv.getdt(values.data(), false), n);
        csv.close();
        return values;
    }
    std::vector<double> readText(const std::string& text) {
        writeBytes(root / "in.csv", text);
        CoreFsys store(&pool, folder(), false);
        return readAll(store, "in.csv");
    }
};

TEST_F(CoreRcsvFiles, NonFiniteValuesReadAsZeroAndAreLoggedOnce) {
    const std::vector<double> values = readText("nan;-INFINITY;1e999;-1e999;1e-400;5;1\n2;");
    EXPECT_EQ(values, (std::vector<double>{0, 0, 0, 0, 0, 5, 12})); // a line feed is no separator
    for (double v : values) EXPECT_FALSE(std::signbit(v));
    const std::string text = log();
    const size_t first = text.find("not finite");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find("not finite", first + 1), std::string::npos) << text;
    readText("1;2;");
    EXPECT_EQ(log(), text); // a clean file logs nothing
}

TEST_F(CoreRcsvFiles, CountDescribesTheItemOnceAndEachOpenStartsAfresh) {
    writeBytes(root / "a.csv", "1;2;3;");
    CoreFsys store(&pool, folder(), false);
    put(store, "MEM.CSV", "7;8;");
    CoreRcsv csv(&pool, &store);
    ASSERT_TRUE(csv.open_("A.CSV")); // found whatever its case
    EXPECT_EQ(csv.getdr(), 3);
    EXPECT_EQ(csv.getdr(), 3);
    std::vector<double> values(3);
    ASSERT_TRUE(csv.open_("mem.csv")); // held in memory
    EXPECT_EQ(csv.getdr(), 2);
    EXPECT_EQ(csv.getdt(values.data(), false), 2);
    EXPECT_EQ(values, (std::vector<double>{7, 8, 0}));
    EXPECT_FALSE(csv.open_("missing.csv"));
    EXPECT_EQ(csv.getdr() + csv.getdt(values.data(), false), 0);
}

TEST_F(CoreRcsvFiles, ReadingAndWritingIgnoreADecimalCommaLocale) {
    const double values[] = {0.25, -1.5};
    CoreFsys store(&pool, folder(), false);
    CoreRcsv csv(&pool, &store);
    bool written = false;
    std::vector<double> back;
    {
        DecimalCommaLocale comma;
        if (!comma.active()) GTEST_SKIP() << "no decimal-comma locale available";
        written = csv.wfile("loc.csv", values, 2);
        back = readAll(store, "loc.csv");
    }
    EXPECT_TRUE(written);
    EXPECT_EQ(readBytes(root / "loc.csv"), "0.2500000000000000;\n-1.5000000000000000;\n");
    EXPECT_EQ(back, (std::vector<double>{0.25, -1.5}));
}

TEST_F(CoreRcsvFiles, WriteReplacesTheFileOrReportsWhyNot) {
    const double values[] = {1.0, 2.0};
    CoreFsys store(&pool, folder(), false);
    CoreRcsv csv(&pool, &store);
    fs::create_directory(root / "Data");
    writeBytes(root / "Data" / "out.csv", "old contents that are longer than the new ones ...........");
    EXPECT_TRUE(csv.wfile("DATA/OUT.csv", values, 2)); // found whatever the case
    EXPECT_EQ(readBytes(root / "Data" / "out.csv"), "1.0000000000000000;\n2.0000000000000000;\n");
    EXPECT_FALSE(fs::exists(root / "DATA"));
    EXPECT_FALSE(csv.wfile("nowhere/x.csv", values, 2));
    EXPECT_NE(log().find("folder does not exist"), std::string::npos);
    // A write that cannot complete leaves what stood there.
    fs::create_directory(root / "taken");
    writeBytes(root / "taken" / "keep.txt", "keep");
    EXPECT_FALSE(csv.wfile("taken", values, 2));
    EXPECT_EQ(readBytes(root / "taken" / "keep.txt"), "keep");
    EXPECT_EQ(pool.getma(), 0);
}

TEST_F(CoreRcsvFiles, MutatedTextsGiveOneFiniteValuePerSemicolon) {
    const std::string seedText = "0.2500000000000000;\n-1.0000000000000000;\r\n1e-3;;42;\n";
    ByteMutator::Hints hints;
    hints.textStart = 0;
    hints.tokens = {"0", "7", ";", "\n", "-", "e", ".", "nan", "1e999", std::string(1, '\0'), "inf", "1e-999",
                    "99999999999999999999999"};
    ByteMutator mutator(20240615);
    CoreFsys store(&pool);
    const int32_t id = store.crtit("M.CSV");
    std::string text = seedText;
    for (int i = 0; i < 3000; ++i) {
        // Chains of mutations, restarted now and then, reach texts far from the seed.
        text = (i % 8 == 0) ? mutator.mutate(seedText, hints) : mutator.mutate(text, hints);
        if (text.size() > 4096) text.resize(4096);
        ASSERT_TRUE(store.setit(id, text.data(), static_cast<int32_t>(text.size()), "", true, false));
        CoreRcsv csv(&pool, &store);
        ASSERT_TRUE(csv.open_("M.CSV"));
        const int32_t n = csv.getdr();
        ASSERT_EQ(n, std::count(text.begin(), text.end(), ';')) << i;
        std::vector<double> values(static_cast<size_t>(n) + 1, 0.0);
        ASSERT_EQ(csv.getdt(values.data(), false), n);
        for (int32_t k = 0; k < n; ++k) ASSERT_TRUE(std::isfinite(values[k])) << i << " " << k;
    }
    store.init_();
    EXPECT_EQ(pool.getma(), 0);
}

