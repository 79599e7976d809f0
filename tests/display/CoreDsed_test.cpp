// Edit fields and the edit group: key editing by field type, normalising, the commit test, drawing,
// bounds that the page or the keys push past the field, and the group's clicks, keys and keyboard flag.
#include "display/CoreDsed.h"

#include "GoldenScreen.h"
#include "RecordingHost.h"
#include "display/CoreDsge.h"
#include "tests/common/DecimalCommaLocale.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr short kText = CoreDsed::iCtext, kWhole = CoreDsed::iCwhole, kDecimal = CoreDsed::iCdecimal;

struct Screen {
    CoreBlnk clock;
    CoreDsbf grid{&clock, 58, 14, 49, 3};
    std::string row(int y, int from, int count) const {
        std::string text;
        for (int x = from; x < from + count; ++x) text += grid.cell(x, y)->getch();
        return text;
    }
    std::string fonts(int y, int from, int count) const {
        std::string text;
        for (int x = from; x < from + count; ++x) text += static_cast<char>('0' + grid.cell(x, y)->getfn());
        return text;
    }
};

CoreDspc::MESSAGELOC key(int code) { return CoreDspc::MESSAGELOC{1, 0, code, 0, 0, 0}; }

} // namespace

TEST(CoreDsed, KeyScriptsEditByFieldType) {
    // The field sits at column 10; click: the column clicked (which places the cursor). Keys use the
    // display codes: 8 Backspace, 13 Return, 35 End, 36 Home, 37 Left, 39 Right, 45 Insert, 46 Delete.
    struct Row {
        const char* name;
        short type, width;
        bool clear;
        const char* start;
        short click;
        const char* keys;
        const char* text;
        bool armed;
        short cursor;
        bool changed;
        double number; // getvi or getvd by type
    };
    const Row rows[] = {
        {"decimal 1 comma 5", kDecimal, 8, true, "3", 10, "1,5\r", "1.5", false, 3, true, 1.5},
        {"decimal n 2", kDecimal, 8, true, "3", 10, "n2\r", "-2", false, 2, true, -2},
        {"decimal blank is a point", kDecimal, 8, true, "3", 10, "2 5\r", "2.5", false, 3, true, 2.5},
        {"decimal letters are ignored", kDecimal, 8, false, "7", 10, "x\r", "7", false, 0, false, 7},
        {"full stop deletes", kDecimal, 8, false, "123", 10, ".\r", "23", false, 0, true, 23},
        {"minus toggles insert", kDecimal, 8, false, "123", 10, "-9\r", "9123", false, 1, true, 9123},
        {"whole plus ignored", kWhole, 4, true, "5", 10, "+7\r", "7", false, 1, true, 7},
        {"whole minus does nothing", kWhole, 4, false, "12", 10, "-\r", "12", false, 0, false, 12},
        {"whole full stop deletes", kWhole, 4, false, "12", 10, ".\r", "2", false, 0, true, 2},
        {"four digits confirm", kWhole, 4, true, "0", 10, "1234", "1234", false, 3, true, 1234},
        {"overflow drops the rest", kWhole, 4, true, "0", 10, "123456", "1234", false, 3, true, 1234},
        {"right from the last place", kWhole, 4, false, "12", 13, "'", "12", false, 3, false, 12},
        {"return then more keys", kText, 6, true, "x", 10, "ab\rcd", "abcd  ", false, 4, true, 0},
        {"backspace at 0", kText, 6, false, "abc", 10, "\b\r", "bc    ", false, 0, true, 0},
        {"left at 0 stays", kText, 6, false, "abc", 10, "%", "abc   ", true, 0, false, 0},
        {"end in blanks", kText, 6, true, "abc", 12, "#", "      ", true, 0, false, 0},
        {"end after text", kText, 6, false, "abc", 10, "#", "abc   ", true, 2, false, 0},
        {"home", kText, 6, false, "abc", 12, "$", "abc   ", true, 0, false, 0},
        {"underscore is minus", kText, 6, true, "x", 10, "a_\r", "a-    ", false, 2, true, 0},
        {"insert keeps underscore", kText, 6, false, "ab", 10, "-_\r", "_ab   ", false, 1, true, 0},
        {"insert into a full field", kText, 3, false, "abc", 10, "-z\r", "abc", false, 0, false, 0},
        {"codes 128 to 255", kText, 4, true, "x", 10, "\xE9\xFF\r", "\xE9\xFF  ", false, 2, true, 0},
        {"not edited restores", kText, 6, false, "abc", 11, "'\r", "abc", false, 2, false, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Screen s;
        CoreDsed field(&s.grid);
        field.defne(0, 1, 10, 2, r.width, r.clear, r.type);
        field.setvs(r.start);
        ASSERT_TRUE(field.ishre(r.click, 2));
        field.setar(true);
        field.updte(r.keys);
        EXPECT_EQ(std::string(field.getvs().c_str()), r.text);
        EXPECT_EQ(field.getar(), r.armed);
        EXPECT_EQ(field.getcr(), r.cursor);
        EXPECT_EQ(field.ischg(), r.changed);
        EXPECT_FALSE(field.ischg()); // once per accepted edit
        if (r.type == kWhole) {
            EXPECT_EQ(field.getvi(), static_cast<int>(r.number));
        } else if (r.type == kDecimal) {
            EXPECT_DOUBLE_EQ(field.getvd(), r.number);
        }
    }
}

TEST(CoreDsed, NormalisesValuesWhateverTheLocale) {
    struct Row {
        short type;
        const char* given;
        const char* text;
    };
    const Row rows[] = {
        {kWhole, "  -12x", "-12"}, {kWhole, "abc", "0 "},          {kWhole, "", "0 "},
        {kDecimal, "abc", "0 "},   {kDecimal, "", "0 "},           {kDecimal, "1e-5", "1E-05"},
        {kDecimal, "1234567", "1.23457E+06"}, {kDecimal, " 2.5e", "2.5"}, {kDecimal, "1e999", "1.79769E+308"},
        {kText, " a b ", " a b "},
    };
    DecimalCommaLocale comma;
    for (bool underComma : {false, true}) {
        if (underComma && !comma.active()) continue;
        for (const Row& r : rows) {
            SCOPED_TRACE(std::string(r.given) + (underComma ? " (decimal comma)" : ""));
            Screen s;
            CoreDsed field(&s.grid);
            field.defne(0, 1, 0, 0, 12, false, r.type);
            field.setvs(r.given);
            EXPECT_EQ(std::string(field.getvs().c_str()), r.text);
            EXPECT_FALSE(field.ischg()); // the page's own value is no change
        }
    }
    if (!comma.active()) GTEST_LOG_(INFO) << "no decimal-comma locale: ran under the C locale only";
}

TEST(CoreDsed, DrawsIdleArmedAndAbsentValues) {
    struct Row {
        const char* name;
        short type;
        const char* value;
        bool arm;
        const char* cells; // columns 10 .. 15: the field's five and the cell after it
        const char* fonts;
    };
    const Row rows[] = {
        {"whole zero shows", kWhole, "0", false, "0    ~", "000003"},
        {"text zero is absent", kText, "0", false, "~~~~~~", "333333"},
        {"idle text", kText, "ab", false, "ab   ~", "000003"},
        {"armed shows dots and the cursor", kText, "a b", true, "a.b..~", "100003"},
        {"armed empty (clear on arm)", kDecimal, "", true, ".....~", "100003"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Screen s;
        s.grid.write(CoreAnsx("~~~~~~"), 10, 3, 3, false, false);
        CoreDsed field(&s.grid);
        field.defne(0, 1, 10, 3, 5, std::string(r.value).empty(), r.type);
        field.setvs(r.value);
        if (r.arm) {
            ASSERT_TRUE(field.ishre(10, 3));
            field.setar(true);
        }
        field.draw_();
        EXPECT_EQ(s.row(3, 10, 6), r.cells);
        EXPECT_EQ(s.fonts(3, 10, 6), r.fonts);
    }
    // Values set while armed change nothing; fed while idle they are never a change.
    Screen s;
    CoreDsed field(&s.grid);
    field.defne(0, 1, 0, 0, 5, false, kWhole);
    field.setvi(42);
    field.setar(true);
    field.setvi(7);
    field.setvd(1.5);
    field.setvs("9");
    EXPECT_STREQ(field.getvs().c_str(), "42");
    field.setar(false);
    EXPECT_FALSE(field.ischg());
    field.setvi(42);
    EXPECT_FALSE(field.ischg());
}

TEST(CoreDsed, KeysAndDrawingStayInsideTheField) {
    // AddressSanitizer checks every case: nothing is written outside the work buffer or the grid row.
    struct Row {
        const char* name;
        short widthAtClick, width, click;
        const char* keys;
        const char* text;
    };
    const Row rows[] = {
        {"redefined narrower than its cursor", 8, 3, 17, "xy", "abx"},
        {"width 0 takes nothing", 0, 0, 10, "abc", "abcdef"},
        {"width 1", 1, 1, 10, "z", "z"},
        {"right at the last place confirms", 4, 4, 13, "'", "abcd"},
        {"delete at the last place", 4, 4, 13, ".\r", "abc"},
        {"backspace at the last place", 4, 4, 13, "\b\r", "abd"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Screen s;
        CoreDsed field(&s.grid);
        field.defne(0, 1, 10, 5, r.widthAtClick, false, kText);
        field.setvs("abcdef");
        field.ishre(r.click, 5);
        field.setar(true);
        field.defne(0, 1, 10, 5, r.width, false, kText);
        field.updte(r.keys);
        field.setar(false);
        EXPECT_EQ(std::string(field.getvs().c_str()).substr(0, std::string(r.text).size()), r.text);
        field.setar(true);
        field.draw_();
        EXPECT_EQ(s.grid.cell(10 + r.width, 5)->getch(), ' '); // nothing past the field
    }
    Screen s; // a field at the right edge draws only what the grid holds
    CoreDsed edge(&s.grid);
    edge.defne(0, 1, 55, 0, 8, false, kText);
    edge.setvs("abcdefgh");
    edge.draw_();
    EXPECT_EQ(s.row(0, 55, 3), "abc");
}

TEST(CoreDsge, ClicksArmFieldsAndTheKeyboardFollows) {
    struct Row {
        const char* name;
        short column, row;
        bool down;
        std::vector<std::string> log;
        bool armed;
    };
    const Row rows[] = {
        {"click in the field", 12, 2, true, {"stprp 100105 01", "prchg 100105"}, true},
        {"click outside", 40, 5, true, {"stprp 100105 00", "prchg 100105"}, false},
        {"click at (0, 0)", 0, 0, true, {}, false},
        {"button up", 12, 2, false, {}, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Screen s;
        CoreDspc queue;
        RecordingHost host;
        CoreDsge group(&s.grid, &queue, &host);
        group.reset(2);
        group.gettx(0)->defne(0, 1, 10, 2, 5, false, kText);
        group.gettx(1)->defne(0, 1, 20, 2, 5, false, kText);
        group.focus(r.column, r.row, r.down);
        EXPECT_EQ(host.log, r.log);
        EXPECT_EQ(group.gettx(0)->getar(), r.armed);
        EXPECT_FALSE(group.gettx(1)->getar());
    }
    // Beyond the fields that exist, also after clear (which keeps the count), there is no field.
    Screen s;
    CoreDsge group(&s.grid, nullptr, nullptr);
    group.reset(2);
    EXPECT_EQ(group.gettx(2), nullptr);
    EXPECT_EQ(group.gettx(-1), nullptr);
    group.clear();
    EXPECT_EQ(group.gettx(0), nullptr);
    group.focus(12, 2, true); // no host, no fields: nothing to do, nothing to crash
    group.draw_();
}

TEST(CoreDsge, TypingSessionGolden) {
    // Keys queued before the click are dropped; keys after it are typed; a confirmed field (Return)
    // confirms at once and releases the keyboard on the next pass; a click outside confirms a field
    // being edited and sends 0.
    Screen s;
    CoreDspc queue;
    RecordingHost host;
    CoreDsge group(&s.grid, &queue, &host);
    group.reset(2);
    group.gettx(0)->defne(0, 1, 4, 3, 6, true, kWhole);
    group.gettx(1)->defne(0, 1, 4, 5, 10, false, kText);
    group.gettx(0)->setvi(17);
    group.gettx(1)->setvs("name");
    std::vector<std::string> passes;
    const auto click = [&](short column, short row) {
        host.log.push_back("-- click (" + std::to_string(column) + ", " + std::to_string(row) + ")");
        group.focus(column, row, true);
    };
    const auto pass = [&](const std::string& what) {
        host.log.push_back("-- pass " + what);
        group.draw_();
        std::string line = what + ":";
        for (short i = 0; i < 2; ++i) {
            CoreDsed* f = group.gettx(i);
            line += " [" + std::string(f->getvs().c_str()) + "] armed " + (f->getar() ? "1" : "0") + " changed " +
                    (f->ischg() ? "1" : "0");
        }
        passes.push_back(line);
    };
    const auto type = [&queue](std::initializer_list<int> codes) {
        for (int code : codes) {
            const CoreDspc::MESSAGELOC m = key(code);
            queue.addms(&m);
        }
    };
    type({'9', '9'});
    pass("stale keys");
    click(5, 3);
    type({0, '4', 'x', '2', 13});
    pass("typed 42");
    pass("next pass");
    click(6, 5);
    type({'-', 'X', 'Y'});
    pass("insert XY");
    click(40, 10);
    pass("clicked outside");
    GoldenScreen screen("CoreDsge typing session");
    screen.section("passes", passes).section("host", host.log);
    EXPECT_TRUE(screen.matches(s.grid, "dsge_typing_session.txt"));
}
