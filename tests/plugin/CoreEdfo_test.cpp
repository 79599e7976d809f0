#include "plugin/CoreEdfo.h"

#include "NoticeLog.h"

#include "base/CoreBlnk.h"
#include "base/CorePool.h"
#include "base/CoreTlst.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsif.h"
#include "display/CoreDspc.h"
#include "platform/gui/CMovieBitmap.h"
#include "platform/gui/CoreGlyf.h"
#include "plugin/CoreBitm.h"
#include "plugin/CoreCtrl.h"
#include "plugin/CoreEdit.h"
#include "plugin/CoreFrme.h"
#include "plugin/CoreSkin.h"
#include "plugin/CoreZrlg.h"
#include "tests/common/EngineFixture.h"
#include "tests/common/PngWriter.h"
#include "tests/display/RecordingHost.h"
#include "tests/gui/GuiGolden.h"
#include "tests/plugin/BootedEffect.h"
#include "tests/plugin/RecordingProperties.h"
#include "tests/plugin/SkinText.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string tag(const std::string& name, const std::string& content) {
    return "<" + name + ">" + content + "</" + name + ">";
}

constexpr int kGlyphs[3] = {108, 94, 108};
constexpr int kWidth[3] = {6, 6, 12};
constexpr int kHeight[3] = {12, 12, 24};

// A font strip whose every glyph is one flat colour naming its set, layer and index.
std::string patternStrip(int set, int layer) {
    pngtest::Image image;
    image.width = kWidth[layer];
    image.height = kHeight[layer] * kGlyphs[layer];
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const int glyph = y / kHeight[layer];
            image.rows.insert(image.rows.end(),
                              {uint8_t(40 + 70 * set), uint8_t(2 * glyph), uint8_t(60 * layer), 255});
        }
    return pngtest::write(image);
}

// A skin folder: ROM.XML holding elements and, with fontSets above 0, that many font sets of
// pattern strips.
std::string writeSkin(const std::filesystem::path& folder, const std::string& elements, int fontSets = 0) {
    std::map<std::string, std::string> items;
    std::string fonts;
    for (int set = 0; set < fontSets; ++set) {
        std::string element = tag("FONTNAME", "Set" + std::to_string(set));
        const char* layers[3] = {"FONT1", "FONTNEG", "FONT2"};
        for (int layer = 0; layer < 3; ++layer) {
            const std::string name = "font" + std::to_string(set) + std::to_string(layer) + ".png";
            items[name] = patternStrip(set, layer);
            element += tag(layers[layer], name);
        }
        fonts += tag("ELEMENT", element);
    }
    items["ROM.XML"] = tag("SKIN", (fonts.empty() ? "" : tag("FONTS", fonts)) + elements);
    return skintest::writeFolder(folder, items);
}

// The cell values the editor reads through property 100104, in a record of the display's sizes.
class Cells {
public:
    explicit Cells(const CoreDsif& display) : rDisplay(display) {
        display.newdd(&data);
        fill(-1.0);
    }
    ~Cells() { CoreDsif::deldd(&data); }
    Cells(const Cells&) = delete;
    Cells& operator=(const Cells&) = delete;

    void fill(double value) { std::fill(data.values, data.values + data.total, value); }
    void set(int font, int column, int row, double value) {
        data.values[data.rowstarts[font][row] + column] = value;
    }
    void glyph(int font, int column, int row, int glyph) {
        set(font, column, row, (glyph + 0.5) / rDisplay.getre(int16_t(font)));
    }
    // Characters in font units from (column, row), each cell valued as the display's font does.
    void text(int font, int column, int row, const std::string& characters, const CoreDsbf& grid) {
        for (size_t i = 0; i < characters.size(); ++i)
            set(font, column + int(i), row,
                grid.getfn(int16_t(font))->getrw(int16_t(uint8_t(characters[i]))));
    }

    CoreCnst::DISPLAYDATA data;

private:
    const CoreDsif& rDisplay;
};

// A text display over its own frame, the way the editor builds and opens it.
struct Rig {
    Rig(CoreDsif& display, const CoreSkin* skin, CorePpwr* effect) {
        pool.begin();
        text = std::make_unique<CoreEdfo>(&display, &pool, &own, skin ? skin->getfs() : nullptr, skin, 10,
                                          effect);
        pool.end__();
    }
    ~Rig() {
        text->close();
        text.reset();
        frame.setBackground(nullptr); // the pool frees what it handed out
        pool.purgb(&own);
    }
    void open() {
        int32_t tag = 3000;
        text->open(nullptr, tag, &frame);
    }
    // Views of the set attached to the frame: pieces and cells.
    int attached(int set) const {
        int count = 0;
        for (CMovieBitmap* view : text->getpv(set)) count += frame.isChild(view);
        for (int layer = 0; layer < 3; ++layer)
            for (CMovieBitmap* view : text->getly(set, layer).views) count += frame.isChild(view);
        return count;
    }

    CoreFrme frame{CRect(0, 0, 900, 330), nullptr, nullptr, nullptr};
    CoreBitm pool;
    CoreTlst own;
    std::unique_ptr<CoreEdfo> text;
};

class CoreEdfoTest : public BootedEngineTest {
protected:
    void SetUp() override {
        BootedEngineTest::SetUp();
        engine = booted();
    }
    void TearDown() override {
        displays.clear();
        engine.reset();
        BootedEngineTest::TearDown();
    }
    CoreDsif& display(int32_t addChars = 0) {
        auto host = std::make_unique<RecordingHost>();
        host->addWidth = addChars;
        displays.push_back(std::make_unique<CoreDsif>(engine.get(), &queue, &clock, host.get()));
        hosts.push_back(std::move(host));
        return *displays.back();
    }

    CoreDspc queue;
    CoreBlnk clock;
    CoreDsbf grid{&clock, 58, 14, 49, 3}; // the display's font tables
    std::unique_ptr<CorePrcs> engine;
    std::vector<std::unique_ptr<RecordingHost>> hosts;
    std::vector<std::unique_ptr<CoreDsif>> displays;
};

} // namespace

TEST_F(CoreEdfoTest, PlacesCellsAndMarginPiecesFromTheSkin) {
    struct Place {
        int layer; // 0 .. 2 a cell of that layer, -1 a margin piece
        int index;
        CRect rect;
    };
    struct Row {
        const char* name;
        std::string elements; // inside SKIN; "none" for no skin at all
        int32_t addChars;
        int pieces, views;
        bool addMargins;
        std::vector<Place> places;
    };
    // clang-format off
    const std::vector<Place> defaults = {
        {0, 0, CRect(194, 53, 200, 65)}, {0, 13 * 58 + 57, CRect(536, 209, 542, 221)},
        {1, 13 * 58 + 57, CRect(536, 209, 542, 221)}, {2, 6 * 29 + 28, CRect(530, 197, 542, 221)},
        {0, 812 + 0, CRect(595, 41, 601, 53)}, {0, 812 + 48, CRect(883, 41, 889, 53)}, // add cells
        {0, 812 + 98, CRect(595, 65, 601, 77)}, {2, 203 + 23, CRect(871, 41, 883, 65)},
        {-1, 0, CRect(188, 53, 194, 65)}, {-1, 1, CRect(542, 53, 548, 65)},     // left, right of row 0
        {-1, 28, CRect(194, 50, 200, 53)}, {-1, 29, CRect(194, 221, 200, 222)}, // above, below column 0
        {-1, 144, CRect(188, 50, 194, 53)}, {-1, 145, CRect(188, 221, 194, 222)}, // corners
        {-1, 146, CRect(542, 50, 548, 53)}, {-1, 147, CRect(542, 221, 548, 222)},
        {-1, 148, CRect(592, 41, 595, 53)}, {-1, 149, CRect(889, 41, 892, 53)}, // add area: row 0
        {-1, 154, CRect(595, 39, 601, 41)},                                     // above add column 0
        {-1, 203, CRect(592, 39, 595, 41)}, {-1, 204, CRect(889, 39, 892, 41)}, // add-area corners
    };
    // clang-format on
    const std::string gainout =
        tag("SLIDERS", tag("GAINOUT", tag("DISPLAYADDCHARS", "4") + tag("DISPLAYADDX", "120") +
                                          tag("DISPLAYADDY", "280")));
    const std::string moved = tag("DISPLAYX", "10") + tag("DISPLAYY", "20") + tag("DISPLAYTOP", "5");
    // Readouts: the add area is the four columns beside GAINOUT, in each of its three rows.
    const std::vector<Place> readouts = {
        {0, 812 + 0, CRect(120, 280, 126, 292)},     {0, 812 + 3, CRect(138, 280, 144, 292)},
        {0, 812 + 4 + 2, CRect(132, 292, 138, 304)}, {0, 812 + 8 + 3, CRect(138, 304, 144, 316)},
        {1, 812 + 11, CRect(138, 304, 144, 316)},    {2, 203 + 1, CRect(132, 280, 144, 304)}};
    const int readoutViews = 2 * (812 + 12) + 203 + 2 + 160;
    // clang-format off
    const std::vector<Row> rows = {
        {"no skin", "none", 0, 205, 2350, true, defaults},
        {"no GLOBAL", "", 0, 205, 2350, true, defaults},
        {"DISPLAYLEFT 1", tag("GLOBAL", tag("DISPLAYLEFT", "1")), 0, 205, 2350, true,
         {{-1, 0, CRect(193, 53, 194, 65)}, {-1, 144, CRect(193, 50, 194, 53)}}},
        {"DISPLAYLEFT 0 is absent", tag("GLOBAL", tag("DISPLAYLEFT", "0")), 0, 205, 2350, true,
         {{-1, 0, CRect(188, 53, 194, 65)}}},
        {"GLOBAL moves the grid", tag("GLOBAL", moved), 0, 205, 2350, true,
         {{0, 0, CRect(10, 20, 16, 32)}, {-1, 28, CRect(10, 15, 16, 20)}}},
        {"GAINOUT readout", gainout, 4, 148 + 4 + 6 + 2, readoutViews, false, readouts},
    };
    // clang-format on
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        TempFolder folder("skin");
        CorePool pool;
        std::unique_ptr<CoreSkin> skin;
        if (r.elements != "none")
            skin = std::make_unique<CoreSkin>(
                &pool, CoreAnsx(writeSkin(folder.path / "skin", r.elements).c_str()), nullptr);
        RecordingProperties props;
        Rig rig(display(r.addChars), skin.get(), &props);
        rig.open();
        EXPECT_EQ(rig.text->getpc(), r.pieces);
        int views = rig.text->getpc();
        for (int layer = 0; layer < 3; ++layer) views += rig.text->getly(0, layer).total;
        EXPECT_EQ(views, r.views);
        for (const Place& p : r.places) {
            SCOPED_TRACE(std::to_string(p.layer) + "/" + std::to_string(p.index));
            const CMovieBitmap* view = p.layer < 0 ? rig.text->getpv(0)[size_t(p.index)]
                                                   : rig.text->getly(0, p.layer).views[size_t(p.index)];
            ASSERT_NE(view, nullptr);
            EXPECT_EQ(view->getViewSize(), p.rect);
        }
        // After an update every main piece is attached, and the add area's only when it is shown.
        rig.text->updte(0);
        const std::vector<char>& pieces = rig.text->getpa(0);
        EXPECT_EQ(int(std::count(pieces.begin(), pieces.end(), 1)), r.addMargins ? r.pieces : 148);
        EXPECT_EQ(rig.text->hasam(), r.addMargins);
    }
}

TEST_F(CoreEdfoTest, AttachesOneSetAndOnlyTheCellsThatShow) {
    TempFolder folder("skin");
    CorePool pool;
    CoreSkin skin(&pool, CoreAnsx(writeSkin(folder.path / "skin", "", 3).c_str()), nullptr);
    ASSERT_EQ(skin.getsk()->fontsets, 3);
    CoreDsif& dsif = display();
    RecordingProperties props;
    Cells cells(dsif);
    const int viewsBefore = CView::getLiveCount();
    Rig rig(dsif, &skin, &props);
    rig.open();
    const int viewsOpen = CView::getLiveCount();
    EXPECT_EQ(viewsOpen - viewsBefore, 3 * 2350);
    EXPECT_EQ(rig.frame.getNbViews(), 0); // nothing before the first update
    EXPECT_EQ(rig.text->getcr(), -1);

    // Font 0 everywhere (main and add area), a font-2 title over grid cells (0..3, 0..1).
    for (int row = 0; row < 17; ++row)
        for (int column = 0; column < (row < 14 ? 58 : 49); ++column) cells.glyph(0, column, row, 0);
    for (int column : {0, 2}) cells.set(0, column, 0, -1.0);
    cells.glyph(2, 0, 0, 5);
    cells.glyph(2, 1, 0, 6);
    props.putCells(cells.data);
    const int shown = 148 + 57 + 959 - 2 + 2; // pieces, cells of font 0 and font 2
    for (int16_t set : {int16_t(-1), int16_t(3)}) {
        SCOPED_TRACE(set);
        rig.text->updte(set);
        EXPECT_EQ(rig.text->getcr(), 0);
        EXPECT_EQ(rig.attached(0), shown);
        EXPECT_EQ(rig.frame.getNbViews(), shown);
    }
    EXPECT_FLOAT_EQ(rig.text->getly(0, 2).views[1]->getValue(), float(6.5 / 108));

    // Grid cell (4, 2) moves from font 0 to the font-2 cell (2, 1) and back.
    const auto layer0 = [&] { return rig.frame.isChild(rig.text->getly(0, 0).views[2 * 58 + 4]); };
    const auto layer2 = [&] { return rig.frame.isChild(rig.text->getly(0, 2).views[1 * 29 + 2]); };
    const auto viewsOfTheCell = [&] {
        return int(layer0()) + int(rig.frame.isChild(rig.text->getly(0, 1).views[2 * 58 + 4])) + int(layer2());
    };
    cells.set(0, 4, 2, -1.0);
    cells.glyph(2, 2, 1, 7);
    props.putCells(cells.data);
    rig.text->updte(0);
    EXPECT_FALSE(layer0());
    EXPECT_TRUE(layer2());
    EXPECT_EQ(viewsOfTheCell(), 1);
    EXPECT_EQ(rig.attached(0), shown);
    cells.glyph(0, 4, 2, 3);
    cells.set(2, 2, 1, -1.0);
    props.putCells(cells.data);
    rig.text->updte(0);
    EXPECT_TRUE(layer0());
    EXPECT_FALSE(layer2());
    EXPECT_EQ(viewsOfTheCell(), 1);
    EXPECT_EQ(rig.attached(0), shown);

    // An update that changes nothing leaves the frame clean.
    rig.frame.doIdleStuff();
    const int32_t redraws = rig.frame.getRedrawCount();
    rig.text->updte(0);
    rig.frame.doIdleStuff();
    EXPECT_EQ(rig.frame.getRedrawCount(), redraws);

    // Set 0 to set 1: every view of set 0 leaves, set 1 shows the same cells; nothing made or freed.
    rig.text->updte(1);
    EXPECT_EQ(rig.text->getcr(), 1);
    EXPECT_EQ(rig.attached(0), 0);
    EXPECT_EQ(rig.attached(1), shown);
    EXPECT_EQ(rig.frame.getNbViews(), shown);
    EXPECT_TRUE(rig.frame.isChild(rig.text->getly(1, 0).views[2 * 58 + 4]));
    rig.text->resfn(1);
    EXPECT_EQ(rig.frame.getNbViews(), 0);
    EXPECT_EQ(CView::getLiveCount(), viewsOpen);

    rig.text->close();
    EXPECT_EQ(CView::getLiveCount(), viewsBefore);
    EXPECT_EQ(rig.text->getcr(), -1);
}

TEST_F(CoreEdfoTest, WithoutAnEffectShowsTheValuesLastRead) {
    CoreDsif& dsif = display();
    Rig rig(dsif, nullptr, nullptr);
    rig.open();
    rig.text->updte(0); // never read: every cell of every layer holds 0, its first glyph
    EXPECT_EQ(rig.attached(0), 2350);
    for (int layer = 0; layer < 3; ++layer)
        for (CMovieBitmap* view : rig.text->getly(0, layer).views) ASSERT_EQ(view->getValue(), 0.0f);
}

// For every code and font, the layer draws the strip image the display's table names for the code,
// and that image shows the code's own shape (the blank for codes the font lacks): built-in strips
// (the demo skin's first set) and the demo skin's amber strips alike.
TEST_F(CoreEdfoTest, EveryCodeShowsItsShapeInEveryStrip) {
    CorePool pool;
    CoreSkin skin(&pool, CoreAnsx(VORLAN_DEMO_FOLDER "/demo/skins/Demo/"), nullptr);
    ASSERT_EQ(skin.getsk()->fontsets, 2);
    CoreDsif& dsif = display(skin.getsk()->displayaddchars);
    RecordingProperties props;
    Rig rig(dsif, &skin, &props);
    rig.open();
    Cells cells(dsif);
    for (int16_t set = 0; set < 2; ++set)
        for (int font = 0; font < 3; ++font) {
            const CoreEdfo::LAYERLOC& layer = rig.text->getly(set, font);
            const CoreDsfn& table = *grid.getfn(int16_t(font));
            const int scale = font == 2 ? 2 : 1;
            for (int first = 0; first < 256; first += layer.total) {
                cells.fill(-1.0);
                const int last = std::min(256, first + layer.total);
                for (int code = first; code < last; ++code) {
                    const int n = code - first;
                    const int mainRows = n < layer.maincells ? 0 : layer.maincells / layer.columns;
                    const int k = n < layer.maincells ? n : n - layer.maincells;
                    const int perRow = n < layer.maincells ? layer.columns : layer.addcolumns;
                    cells.set(font, k % perRow, mainRows + k / perRow, table.getrw(int16_t(code)));
                }
                props.putCells(cells.data);
                rig.text->updte(set);
                rig.frame.doIdleStuff();
                const CDrawContext& image = rig.frame.getImage();
                for (int code = first; code < last; ++code) {
                    const bool own = table.getrs(int16_t(code)) != 0 || code == ' ';
                    const auto shape = CoreGlyf::cell(own ? code : ' ');
                    const CRect r = layer.views[size_t(code - first)]->getViewSize();
                    int wrong = 0;
                    for (int y = 0; y < r.height(); ++y)
                        for (int x = 0; x < r.width(); ++x) {
                            const bool inked = (shape[size_t(y / scale)] >> (x / scale)) & 1u;
                            const bool bright = image.getPixel(r.left + x, r.top + y).green >= 128;
                            wrong += inked != (font == 1 ? !bright : bright); // font 1 is inverted
                        }
                    ASSERT_EQ(wrong, 0) << "set " << set << " font " << font << " code " << code;
                }
            }
        }
}

// The display region drawn with the built-in fonts and with the demo skin's amber set: text in font
// 0, a selection in font 1, a double-size title in font 2 and the add area.
TEST_F(CoreEdfoTest, DrawsTheDisplayRegion) {
    CorePool pool;
    CoreSkin demo(&pool, CoreAnsx(VORLAN_DEMO_FOLDER "/demo/skins/Demo/"), nullptr);
    struct Row {
        const char* golden;
        const CoreSkin* skin;
        int16_t set;
        int32_t background;
        CRect region; // the grid and its margins, the add area (the demo skin's readouts)
    };
    const Row rows[] = {{"text_display_builtin", nullptr, 0, 100, CRect(188, 39, 892, 222)},
                        {"text_display_amber", &demo, 1, 0, CRect(145, 14, 582, 209)}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.golden);
        CoreDsif& dsif = display(r.skin ? r.skin->getsk()->displayaddchars : 0);
        RecordingProperties props;
        Rig rig(dsif, r.skin, &props);
        CoreBitm* background = nullptr;
        rig.pool.stabm(&rig.own, r.skin ? r.skin->getfs() : nullptr,
                       r.skin ? CoreSkin::getfn(r.skin->getsk()->background) : CoreAnsx("0"), &background,
                       r.background, false);
        rig.frame.setBackground(background);
        rig.open();
        Cells cells(dsif);
        cells.text(2, 1, 0, "VORLAN 3", grid);
        for (int row = 2; row < 13; ++row)
            cells.text(0, 0, row,
                       "Row " + std::to_string(row) + ": abcdefghijklmnopqrstuvwxyz 0123456789 (+-*/)", grid);
        cells.text(1, 10, 5, " selected ", grid);
        for (int column = 10; column < 20; ++column) cells.set(0, column, 5, -1.0);
        cells.text(1, 0, 13, " PROG ", grid);
        cells.text(0, 6, 13, "  LIST  KERN  MIDI", grid);
        for (int row = 14; row < 17; ++row)
            cells.text(0, 0, row, "add " + std::to_string(row - 14) + " 0.50 dB", grid);
        props.putCells(cells.data);
        rig.text->updte(r.set);
        rig.frame.doIdleStuff();
        const CRect& region = r.region;
        CDrawContext crop(region.width(), region.height());
        crop.drawSurface(rig.frame.getImage().getSurface(), CRect(0, 0, region.width(), region.height()),
                         CPoint(region.left, region.top));
        guitest::expectGolden(crop, r.golden);
    }
}

namespace {

// Polls until done() holds or 20 s have passed.
bool waitFor(const std::function<bool()>& done) { return eventually(done, std::chrono::seconds(20)); }

// One status update, as the editor runs it on the listener thread when the control thread's notice
// arrives: the record the control thread sent last, read under the editor lock.
void showStatus(CoreEdit& edit) {
    edit.updte();
}

// Cells of fonts 0 .. 2 whose view does not show the exported value: attached exactly where the value
// is not negative, holding that value.
int wrongCells(const CoreEdfo& text, const CoreFrme& frame, const CoreCnst::DISPLAYDATA& exported) {
    int wrong = 0;
    for (int font = 0; font < 3; ++font) {
        const CoreEdfo::LAYERLOC& layer = text.getly(text.getcr(), font);
        for (int n = 0; n < layer.total; ++n) {
            const bool main = n < layer.maincells;
            const int k = main ? n : n - layer.maincells, perRow = main ? layer.columns : layer.addcolumns;
            const int row = (main ? 0 : layer.maincells / layer.columns) + k / perRow;
            const double v = exported.values[exported.rowstarts[font][row] + k % perRow];
            const CMovieBitmap* view = layer.views[size_t(n)];
            wrong += frame.isChild(view) != (v >= 0.0) || (v >= 0.0 && view->getValue() != float(v));
        }
    }
    return wrong;
}

} // namespace

// The plug-in in process on the demo folder with the demo skin's second font set selected, its editor
// open offscreen: a status update shows the grid the display exported, and a click on a soft key
// shows the page it leads to once a later pass has drawn it.
TEST(CoreEdfoPlugin, ShowsTheDisplaysGridAndFollowsItsPages) {
    BootedEffect fx(
        "<SKINSUBPATH>skins/</SKINSUBPATH><SKINNAME>Demo.q7s</SKINNAME><FONTCOLOUR>1</FONTCOLOUR>");
    ASSERT_TRUE(fx.booted);
    CoreZrlg& effect = *fx.effect; // its control, listener and display threads run throughout
    CoreCtrl* control = effect.getct();
    CoreEdit* edit = control->geted();
    const int32_t viewsClosed = CView::getLiveCount();
    ASSERT_TRUE(edit && edit->open(nullptr));
    ASSERT_NE(edit->getdf(), nullptr);
    CoreDsif* display = control->getms()->getds();
    CoreCnst::DISPLAYDATA exported;
    display->newdd(&exported);
    CoreCnst::DISPLAYDATA first;
    display->newdd(&first);
    // Until the status updates show a grid: the control thread sends one every render tick, and the
    // listener thread runs the updates its notices ask for, so the views are read under the editor lock.
    int16_t set = -1;
    const auto shown = [&] {
        control->setdu(true); // no pass meanwhile
        display->flldd(&exported);
        showStatus(*edit);
        edit->getlk()->locks();
        const bool same = wrongCells(*edit->getdf(), *edit->getfm(), exported) == 0;
        set = edit->getdf()->getcr();
        edit->getlk()->relse();
        control->setdu(false);
        return same;
    };
    // The mirror holds zeros until the first record: the selected set shows once one came.
    ASSERT_TRUE(waitFor([&] { return shown() && set == 1; }));
    edit->getlk()->locks();
    const std::vector<char> pieces = edit->getdf()->getpa(1);
    bool setZeroShown = false;
    for (CMovieBitmap* piece : edit->getdf()->getpv(0)) setZeroShown |= edit->getfm()->isChild(piece);
    edit->getlk()->relse();
    EXPECT_EQ(std::count(pieces.begin(), pieces.end(), 1), 148); // the add area is the readouts
    EXPECT_FALSE(setZeroShown);
    EXPECT_GT(
        std::count_if(exported.values, exported.values + exported.total, [](double v) { return v >= 0; }), 0);
    std::copy(exported.values, exported.values + exported.total, first.values);

    // Soft key 2 of the bottom row.
    int left, top, right, bottom, width, height;
    edit->getfm()->getmb(left, top, right, bottom, width, height);
    const CPoint key(left + 12 * width + 3, top + 13 * height + 6);
    edit->getfm()->post(CoreGevt::down(key, kLButton));
    edit->getfm()->post(CoreGevt::up(key));
    edit->idle();
    EXPECT_TRUE(waitFor(
        [&] { return shown() && !std::equal(first.values, first.values + first.total, exported.values); }));
    edit->close();
    EXPECT_EQ(CView::getLiveCount(), viewsClosed);
    CoreDsif::deldd(&exported);
    CoreDsif::deldd(&first);
}

namespace {

// Heap bytes in use in the process (every arena, mapped blocks included); 0 where the allocator
// does not report them (sanitizer builds), which leaves the bounds below unchecked.
int64_t heapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return int64_t(info.uordblks) + int64_t(info.hblkhd);
}

} // namespace

// A skin naming 32,767 font sets (the first two with their own strips, the rest none, so each would
// fall back to built-in strips of its own): the plug-in keeps a bounded number of them, so creating
// it and opening its editor cost what those sets cost, the selected set is clamped to them, and
// switching between the first two still shows each one's glyphs.
TEST(CoreEdfoPlugin, ASkinOfThousandsOfFontSetsCostsOnlyTheSetsItKeeps) {
    constexpr int kSets = 32767;
    constexpr int kViewsPerSet = 2350; // cells of the three layers and the margin pieces
    TempFolder skins("fontsets");
    std::map<std::string, std::string> items;
    std::string fonts;
    for (int set = 0; set < kSets; ++set) {
        std::string element = tag("FONTNAME", "Set" + std::to_string(set));
        const char* layers[3] = {"FONT1", "FONTNEG", "FONT2"};
        for (int layer = 0; set < 2 && layer < 3; ++layer) {
            const std::string name = "font" + std::to_string(set) + std::to_string(layer) + ".png";
            items[name] = patternStrip(set, layer);
            element += tag(layers[layer], name);
        }
        fonts += tag("ELEMENT", element);
    }
    items["ROM.XML"] = tag("SKIN", tag("FONTS", fonts));
    skintest::writeFolder(skins.path / "Many", items);

    const int64_t heapBefore = heapBytes();
    const int32_t viewsBefore = CView::getLiveCount();
    // The skin folder lies beside the effect's own temporary folder.
    BootedEffect fx("<SKINSUBPATH>../../" + skins.path.filename().string() +
                    "/</SKINSUBPATH><SKINNAME>Many</SKINNAME><FONTCOLOUR>20000</FONTCOLOUR>");
    ASSERT_TRUE(fx.booted);
    const int64_t heapCreated = heapBytes();
    // Checked before the editor opens: views for every set named would not fit in memory.
    ASSERT_LT(heapCreated - heapBefore, int64_t(64) << 20) << "bytes held once the plug-in exists";
    const CoreSkin::SKIN& skin = *fx.effect->getms()->getsk()->getsk();
    ASSERT_EQ(skin.fontsets, CoreSkin::iCfontsetsmax);
    EXPECT_EQ(skin.fontnames.back(), CoreAnsx(("Set" + std::to_string(CoreSkin::iCfontsetsmax - 1)).c_str()));
    CorePrcs::BEANSTRUCT none{};
    EXPECT_EQ(fx.effect->getms()->getpr()->getbh(32, &none), CoreSkin::iCfontsetsmax - 1);
    EXPECT_EQ(fx.logCount(std::to_string(kSets - CoreSkin::iCfontsetsmax) + " font sets after the first"),
              1u);

    CoreEdit* edit = fx.effect->getct()->geted();
    ASSERT_TRUE(edit && edit->open(nullptr));
    EXPECT_LE(CView::getLiveCount() - viewsBefore, CoreSkin::iCfontsetsmax * kViewsPerSet + 200);
    EXPECT_LT(heapBytes() - heapCreated, int64_t(16) << 20) << "bytes the open editor added";

    // Under the editor lock, so that no status update switches the set meanwhile.
    edit->getlk()->locks();
    CoreEdfo& text = *edit->getdf();
    EXPECT_EQ(text.getfs(), CoreSkin::iCfontsetsmax);
    for (int16_t set : {int16_t(0), int16_t(1), int16_t(0)}) {
        SCOPED_TRACE(set);
        text.updte(set);
        edit->getfm()->doIdleStuff();
        int shown = 0, wrong = 0;
        for (const CMovieBitmap* view : text.getly(set, 0).views) {
            if (!edit->getfm()->isChild(view)) continue;
            ++shown;
            const CRect& r = view->getViewSize();
            wrong += edit->getfm()->getImage().getPixel(r.left, r.top).red != 40 + 70 * set;
        }
        EXPECT_GT(shown, 0);
        EXPECT_EQ(wrong, 0);
    }
    edit->getlk()->relse();
    edit->close();
    EXPECT_EQ(CView::getLiveCount(), viewsBefore);
}
