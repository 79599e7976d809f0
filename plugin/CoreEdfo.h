// CoreEdfo: the editor's character display: every cell of the display's grid, per font set of the skin
// and per font layer, as a movie-bitmap view of that layer's font strip, framed by margin pieces. The
// editor builds it, opens and closes it with the window and calls updte on status updates, always under
// its editor lock; views live from open to close, and an update only attaches, detaches and sets them.
#pragma once
#include "display/CoreCnst.h"

#include <cstdint>
#include <vector>

class CControlListener;
class CMovieBitmap;
class CoreBitm;
class CoreDsif;
class CoreFrme;
class CoreFsys;
class CorePpwr;
class CoreSkin;
class CoreTlst;

class CoreEdfo {
public:
    static constexpr int iClayers = 3; // fonts 0, 1 and 2 of the display; font 3 is never drawn

    // One font layer of one font set. Cells 0 .. maincells - 1 are the main grid in row order, the
    // add cells follow.
    struct LAYERLOC {
        int total = 0;     // maincells + addcells
        int maincells = 0; // getdx(L) × getdy(L)
        int addcells = 0;  // getax(L) × getay(L) when the add area exists, else 0
        int columns = 0;
        int addcolumns = 0;
        int glyphwidth = 0, glyphheight = 0; // pixels of one glyph of the strip
        int glyphs = 0;                      // images in the strip (CoreDsif::getre)
        std::vector<char> attached;          // total entries
        std::vector<CMovieBitmap*> views;    // total entries; null outside open .. close
        int resource = 0;                    // the built-in strip: 200, 201, 202
        std::vector<int32_t> tags;           // total entries
        CoreBitm* bitmap = nullptr;          // the strip, from the editor's bitmap list
    };
    // Where a control slot's readout columns of the add area go: columns addfirst .. addlast - 1
    // sit at (addx, addy) onward; both -1 when the slot has no readout.
    struct SLOTLOC {
        int addfirst = -1, addlast = -1;
        int addx = -1, addy = -1;
    };

    // display: the grid's sizes and glyph counts (not null); pool, own, fsys: where the font strips
    // come from (the editor's shared pool and bitmap list, the skin's store; call between the pool's
    // begin and end__); skin null: built-in geometry and fonts, one font set; effect null: no cell
    // values are ever read.
    CoreEdfo(CoreDsif* display, CoreBitm* pool, CoreTlst* own, CoreFsys* fsys, const CoreSkin* skin,
             int slotcount, CorePpwr* effect);
    ~CoreEdfo();
    CoreEdfo(const CoreEdfo&) = delete;
    CoreEdfo& operator=(const CoreEdfo&) = delete;

    // Creates every view of every font set, attached to nothing; margin pieces take consecutive tags
    // from the running tag.
    void open(CControlListener* listener, int32_t& tag, CoreFrme* frame);
    // Attaches font set set (0 when out of range), reads the cells (property 100104) and shows them.
    void updte(int16_t set);
    void resfn(int16_t set); // detaches every view of the set, deleting none
    void close();            // detaches and deletes every view

    // Read by the editor's tests and the benchmark.
    int getfs() const { return iFontsets; }
    int16_t getcr() const { return iCurrent; }
    int getpc() const { return iPiececount; }
    const LAYERLOC& getly(int set, int layer) const { return vSets[size_t(set)][size_t(layer)]; }
    const std::vector<CMovieBitmap*>& getpv(int set) const { return vPieces[size_t(set)].views; }
    const std::vector<char>& getpa(int set) const { return vPieces[size_t(set)].attached; }
    const SLOTLOC& getsl(int slot) const { return vSlots[size_t(slot)]; }
    bool hasam() const { return bAddmargins; } // the add area's margin pieces are shown

private:
    struct PIECES {
        std::vector<char> attached;
        std::vector<CMovieBitmap*> views;
    };
    struct FONTSIZE {
        int addcolumns = 0, columns = 0, addrows = 0, rows = 0;
    };

    CMovieBitmap* makePiece(int set, int left, int top, int right, int bottom, int32_t tag);
    CMovieBitmap* makeCell(const LAYERLOC& layer, int left, int top, int32_t tag);
    double cellValue(int layer, int row, int column) const;
    void show(LAYERLOC& layer, int index, double value);
    void hide(LAYERLOC& layer, int index);
    bool addColumnPlaced(int column) const;

    bool bVisible = true;
    int iPiececount = 0;
    int iMainpieces = 0; // pieces before the add area's
    int iFontsets = 1;
    int iLeft = 194, iTop = 53;
    int iMarginleft = 6, iMarginright = 6;
    int iRight = 0, iBottom = 0;
    int iColumns = 0, iRows = 0;
    int iMargintop = 3, iMarginbottom = 1;
    int iAddmarginleft = 3, iAddmarginright = 3, iAddmargintop = 2;
    int iAddleft = 595, iAddtop = 41;
    int iSlotcount = 0;
    int iAddright = 0;
    int iAddcolumns = 0, iAddrows = 0;
    bool bAddarea = false;
    bool bAddmargins = false;
    int16_t iCurrent = -1;
    std::vector<std::vector<LAYERLOC>> vSets;
    std::vector<PIECES> vPieces;
    std::vector<SLOTLOC> vSlots;
    CoreTlst* pOwn;
    CControlListener* pListener = nullptr;
    CoreFrme* pFrame = nullptr;
    CoreCnst::DISPLAYDATA cData;
    FONTSIZE aFontsizes[iClayers];
    CoreBitm* pPool;
    CorePpwr* pEffect;
};
