#include "plugin/CoreEdfo.h"

#include "base/CoreLog_.h"
#include "display/CoreDsif.h"
#include "platform/gui/CMovieBitmap.h"
#include "plugin/CoreBitm.h"
#include "plugin/CoreFrme.h"
#include "plugin/CorePpwr.h"
#include "plugin/CoreSkin.h"

namespace {

constexpr int kGlyphWidth[CoreEdfo::iClayers] = {6, 6, 12};
constexpr int kGlyphHeight[CoreEdfo::iClayers] = {12, 12, 24};
constexpr int kResource[CoreEdfo::iClayers] = {200, 201, 202}; // the built-in strips
constexpr int kGridWidth = 348; // 58 columns of 6 pixels, whatever the grid reports

// A skin value replaces the default only when it is not negative.
void take(int& field, int32_t skinValue) {
    if (skinValue >= 0) field = skinValue;
}

} // namespace

CoreEdfo::CoreEdfo(CoreDsif* display, CoreBitm* pool, CoreTlst* own, CoreFsys* fsys, const CoreSkin* skin,
                   int slotcount, CorePpwr* effect)
    : iSlotcount(slotcount > 0 ? slotcount : 0), pOwn(own), pPool(pool), pEffect(effect) {
    const CoreSkin::SKIN* s = skin ? skin->getsk() : nullptr;
    if (s) {
        bVisible = s->displayset;
        iFontsets = s->fontsets > 0 ? s->fontsets : 1;
        take(iLeft, s->displayx);
        take(iTop, s->displayy);
        take(iMarginleft, s->displayleft);
        take(iMarginright, s->displayright);
        take(iMargintop, s->displaytop);
        take(iMarginbottom, s->displaybottom);
        take(iAddmarginleft, s->displayaddleft);
        take(iAddmarginright, s->displayaddright);
        take(iAddmargintop, s->displayaddtop);
        take(iAddleft, s->displayaddx);
        take(iAddtop, s->displayaddy);
    }
    vSlots.assign(size_t(iSlotcount), SLOTLOC());
    if (s && s->sliders)
        for (int i = 0; i < iSlotcount && i < CoreSkin::iCslots; ++i) {
            const CoreSkin::PARAMETERLOC& p = s->parameters[i];
            if (!p.present) continue;
            vSlots[size_t(i)] = {p.addfirst, p.addlast, p.addx, p.addy};
        }

    iRight = iLeft + kGridWidth;
    iBottom = iTop + kGlyphHeight[0] * display->getdy();
    iAddright = iAddleft + kGlyphWidth[0] * display->getax();
    iColumns = display->getdx(0);
    iRows = display->getdy(0);
    iAddcolumns = display->getax(0);
    iAddrows = display->getay(0);
    bAddarea = CoreLog_::iCproductn == 1;

    iMainpieces = 2 * (iRows + iColumns) + 4;
    iPiececount = iMainpieces + (bAddarea ? iAddcolumns + 2 * iAddrows + 2 : 0);
    // Margin pieces around an add area whose every column sits beside its slot would be blank
    // tiles over the skin's artwork.
    bAddmargins = bAddarea;
    if (bAddarea && iAddcolumns > 0) {
        bool everyColumnPlaced = true;
        for (int c = 0; c < iAddcolumns && everyColumnPlaced; ++c) everyColumnPlaced = addColumnPlaced(c);
        bAddmargins = !everyColumnPlaced;
    }

    for (int16_t font = 0; font < iClayers; ++font)
        aFontsizes[font] = {display->getax(font), display->getdx(font), display->getay(font),
                            display->getdy(font)};

    vSets.resize(size_t(iFontsets));
    vPieces.resize(size_t(iFontsets));
    for (int set = 0; set < iFontsets; ++set) {
        std::vector<LAYERLOC>& layers = vSets[size_t(set)];
        layers.resize(iClayers);
        for (int16_t font = 0; font < iClayers; ++font) {
            LAYERLOC& layer = layers[size_t(font)];
            layer.glyphwidth = kGlyphWidth[font];
            layer.glyphheight = kGlyphHeight[font];
            layer.resource = kResource[font];
            const CoreAnsx name = skin ? skin->getfn(int16_t(set), font) : CoreAnsx("0");
            pool->stabm(own, fsys, name, &layer.bitmap, layer.resource, false);
            layer.columns = display->getdx(font);
            layer.addcolumns = display->getax(font);
            layer.maincells = layer.columns * display->getdy(font);
            layer.addcells = bAddarea ? layer.addcolumns * display->getay(font) : 0;
            layer.total = layer.maincells + layer.addcells;
            layer.glyphs = display->getre(font);
            layer.attached.assign(size_t(layer.total), 0);
            layer.views.assign(size_t(layer.total), nullptr);
            layer.tags.assign(size_t(layer.total), 0);
        }
        vPieces[size_t(set)].attached.assign(size_t(iPiececount), 0);
        vPieces[size_t(set)].views.assign(size_t(iPiececount), nullptr);
    }
    display->newdd(&cData);
}

CoreEdfo::~CoreEdfo() {
    // close deletes the views; one left behind (no close) leaves its frame as it is deleted.
    for (std::vector<LAYERLOC>& layers : vSets)
        for (LAYERLOC& layer : layers)
            for (CMovieBitmap* view : layer.views) delete view;
    for (PIECES& pieces : vPieces)
        for (CMovieBitmap* view : pieces.views) delete view;
    CoreDsif::deldd(&cData);
}

bool CoreEdfo::addColumnPlaced(int column) const {
    for (const SLOTLOC& slot : vSlots)
        if (slot.addfirst >= 0 && slot.addfirst <= column && column < slot.addlast) return true;
    return false;
}

CMovieBitmap* CoreEdfo::makeCell(const LAYERLOC& layer, int left, int top, int32_t tag) {
    CPoint origin(0, 0);
    return new CMovieBitmap(CRect(left, top, left + layer.glyphwidth, top + layer.glyphheight), pListener,
                            tag, layer.glyphs, layer.glyphheight, layer.bitmap, origin);
}

CMovieBitmap* CoreEdfo::makePiece(int set, int left, int top, int right, int bottom, int32_t tag) {
    // One image as tall as a layer-0 glyph: the piece shows the top of the strip, the blank glyph.
    const LAYERLOC& normal = vSets[size_t(set)][0];
    CPoint origin(0, 0);
    return new CMovieBitmap(CRect(left, top, right, bottom), pListener, tag, 1, normal.glyphheight,
                            normal.bitmap, origin);
}

void CoreEdfo::open(CControlListener* listener, int32_t& tag, CoreFrme* frame) {
    pListener = listener;
    pFrame = frame;
    const LAYERLOC& first = vSets[0][0];
    if (frame) frame->setmb(bVisible, iLeft, iTop, iRight, iBottom, first.glyphwidth, first.glyphheight);

    for (int set = 0; set < iFontsets; ++set) {
        std::vector<LAYERLOC>& layers = vSets[size_t(set)];
        for (LAYERLOC& layer : layers) {
            for (int i = 0; i < layer.maincells; ++i) {
                const int column = layer.columns > 0 ? i % layer.columns : 0;
                const int row = layer.columns > 0 ? i / layer.columns : 0;
                layer.tags[size_t(i)] = layer.resource + i + 1;
                layer.views[size_t(i)] = makeCell(layer, iLeft + column * layer.glyphwidth,
                                                  iTop + row * layer.glyphheight, layer.tags[size_t(i)]);
                layer.attached[size_t(i)] = 0;
            }
        }

        PIECES& pieces = vPieces[size_t(set)];
        const int w = first.glyphwidth, h = first.glyphheight;
        int n = 0;
        const auto piece = [&](int left, int top, int right, int bottom) {
            pieces.views[size_t(n)] = makePiece(set, left, top, right, bottom, tag++);
            pieces.attached[size_t(n)] = 0;
            ++n;
        };
        for (int r = 0; r < iRows; ++r) {
            piece(iLeft - iMarginleft, iTop + r * h, iLeft, iTop + (r + 1) * h);
            piece(iRight, iTop + r * h, iRight + iMarginright, iTop + (r + 1) * h);
        }
        for (int c = 0; c < iColumns; ++c) {
            piece(iLeft + c * w, iTop - iMargintop, iLeft + (c + 1) * w, iTop);
            piece(iLeft + c * w, iBottom, iLeft + (c + 1) * w, iBottom + iMarginbottom);
        }
        piece(iLeft - iMarginleft, iTop - iMargintop, iLeft, iTop);             // top-left
        piece(iLeft - iMarginleft, iBottom, iLeft, iBottom + iMarginbottom);    // bottom-left
        piece(iRight, iTop - iMargintop, iRight + iMarginright, iTop);          // top-right
        piece(iRight, iBottom, iRight + iMarginright, iBottom + iMarginbottom); // bottom-right

        if (!bAddarea) continue;
        for (LAYERLOC& layer : layers) {
            for (int k = 0; k < layer.addcells; ++k) {
                const int index = layer.maincells + k;
                const int row = layer.addcolumns > 0 ? k / layer.addcolumns : 0;
                const int column = layer.addcolumns > 0 ? k % layer.addcolumns : 0;
                int x = iAddleft + column * layer.glyphwidth, y = iAddtop + row * layer.glyphheight;
                // A slot's readout columns sit beside its control: the first slot claiming the column.
                for (const SLOTLOC& slot : vSlots) {
                    if (slot.addfirst < 0 || column < slot.addfirst || column >= slot.addlast) continue;
                    x = slot.addx + (column - slot.addfirst) * layer.glyphwidth;
                    y = slot.addy + row * layer.glyphheight;
                    break;
                }
                layer.tags[size_t(index)] = layer.resource + index + 1;
                layer.views[size_t(index)] = makeCell(layer, x, y, layer.tags[size_t(index)]);
                layer.attached[size_t(index)] = 0;
            }
        }
        for (int r = 0; r < iAddrows; ++r) {
            piece(iAddleft - iAddmarginleft, iAddtop + r * h, iAddleft, iAddtop + (r + 1) * h);
            piece(iAddright, iAddtop + r * h, iAddright + iAddmarginright, iAddtop + (r + 1) * h);
        }
        for (int c = 0; c < iAddcolumns; ++c)
            piece(iAddleft + c * w, iAddtop - iAddmargintop, iAddleft + (c + 1) * w, iAddtop);
        piece(iAddleft - iAddmarginleft, iAddtop - iAddmargintop, iAddleft, iAddtop);    // top-left
        piece(iAddright, iAddtop - iAddmargintop, iAddright + iAddmarginright, iAddtop); // top-right
    }
    iCurrent = -1;
}

double CoreEdfo::cellValue(int layer, int row, int column) const {
    // The record comes from the display's own newdd; the bounds guard a record of other sizes.
    if (!cData.values || layer >= cData.fontcount || !cData.rows || !cData.columns || !cData.rowstarts)
        return -1.0;
    if (row < 0 || row >= cData.rows[layer] || column < 0 || column >= cData.columns[layer]) return -1.0;
    const int64_t at = int64_t(cData.rowstarts[layer][row]) + column;
    return at >= 0 && at < cData.total ? cData.values[at] : -1.0;
}

void CoreEdfo::show(LAYERLOC& layer, int index, double value) {
    CMovieBitmap* view = layer.views[size_t(index)];
    if (!layer.attached[size_t(index)]) {
        pFrame->addView(view);
        layer.attached[size_t(index)] = 1;
    }
    // An unchanged value leaves the view clean, so an update that changes nothing redraws nothing.
    const auto shown = float(value);
    if (view->getValue() != shown) view->setValue(shown);
}

void CoreEdfo::hide(LAYERLOC& layer, int index) {
    if (!layer.attached[size_t(index)]) return;
    pFrame->removeView(layer.views[size_t(index)], false);
    layer.attached[size_t(index)] = 0;
}

void CoreEdfo::updte(int16_t set) {
    if (!pFrame) return; // not open: no views to show
    const int16_t s = set >= 0 && set < iFontsets ? set : int16_t(0);
    if (iCurrent != -1 && iCurrent != s) resfn(iCurrent);
    iCurrent = s;

    if (pEffect && cData.values && cData.total > 0) {
        uint32_t size = uint32_t(cData.total) * uint32_t(sizeof(double));
        pEffect->wgprp(CorePpwr::iCdisplaydata, 0, 0, cData.values, size);
    }

    std::vector<LAYERLOC>& layers = vSets[size_t(s)];
    for (int font = 0; font < iClayers; ++font) {
        LAYERLOC& layer = layers[size_t(font)];
        const FONTSIZE& size = aFontsizes[font];
        const int rows = size.rows + (bAddarea ? size.addrows : 0);
        int n = 0;
        for (int r = 0; r < rows; ++r) {
            const int columns = r < size.rows ? size.columns : size.addcolumns;
            for (int c = 0; c < columns && n < layer.total; ++c, ++n) {
                const double v = cellValue(font, r, c);
                if (v >= 0.0)
                    show(layer, n, v);
                else // another font's cell, or not a number
                    hide(layer, n);
            }
        }
    }

    PIECES& pieces = vPieces[size_t(s)];
    const int shown = bAddmargins ? iPiececount : iMainpieces;
    for (int i = 0; i < shown; ++i) {
        if (pieces.attached[size_t(i)]) continue;
        pFrame->addView(pieces.views[size_t(i)]);
        pieces.attached[size_t(i)] = 1;
    }
}

void CoreEdfo::resfn(int16_t set) {
    if (set < 0 || set >= iFontsets || !pFrame) return;
    for (LAYERLOC& layer : vSets[size_t(set)])
        for (int i = 0; i < layer.total; ++i) hide(layer, i);
    PIECES& pieces = vPieces[size_t(set)];
    for (int i = 0; i < iPiececount; ++i) {
        if (!pieces.attached[size_t(i)]) continue;
        pFrame->removeView(pieces.views[size_t(i)], false);
        pieces.attached[size_t(i)] = 0;
    }
}

void CoreEdfo::close() {
    for (int set = 0; set < iFontsets; ++set) {
        resfn(int16_t(set));
        PIECES& pieces = vPieces[size_t(set)];
        for (CMovieBitmap*& view : pieces.views) {
            delete view;
            view = nullptr;
        }
        for (LAYERLOC& layer : vSets[size_t(set)])
            for (CMovieBitmap*& view : layer.views) {
                delete view;
                view = nullptr;
            }
    }
    iCurrent = -1;
    pFrame = nullptr;
    pListener = nullptr;
}
