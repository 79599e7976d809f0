// CoreDsif: the display object: owns the cell grid, the soft-key menus, the page state table, the
// widget groups, the name lists the pages choose from and the batch message rows, and holds the page
// state. Built by the master object with the processor, the message queue, the blink clock and the
// plug-in's host interface; its thread (Execute) runs the batches the pages start. The renderer
// (updte), setdp and loadp run on the control thread under the display lock; the drawing, parameter
// and page members run inside a pass. flldd and the size and glyph-count accessors may be called from
// any thread: the export reads a front copy of the cells under its own short lock.
// Lock order: control thread -> display lock -> bean lock -> the engine's locks; the export, page
// table, message queue, message rows and popup holder locks are leaves.
#pragma once
#include "base/CoreAnsx.h"
#include "base/CoreTthr.h"
#include "display/CoreCnst.h"
#include "display/CoreDswb.h"
#include "display/CoreMenu.h"
#include "display/DataSitm.h"
#include "display/DisplayHost.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

class CoreBlnk;
class CoreDsbf;
class CoreDsbr;
class CoreDsge;
class CoreDsgm;
class CoreDsgt;
class CoreDsmn;
class CoreDspc;
class CoreNode;
class CorePmsg;
class CorePrcs;
class CoreSmph;
class CoreStte;
class CoreTevn;

class CoreDsif : public CoreTthr {
public:
    static constexpr short iCdimx = 58;
    static constexpr short iCdimy = 14;
    static constexpr short iCdimaddx = 49;
    static constexpr short iCdimaddy = 3;
    static constexpr short iCmessagerows = 8;
    static constexpr int iCparameters = 16;

    // The values of one renderer pass that the frame hands to a page's entry and render steps.
    struct PASS {
        CoreAnsx action;      // empty at the start of a pass; looked up in the page table at its end
        bool changed = false; // the state differs from the previous pass's
        bool click = false;   // a pointer message came this pass
        short column = 0;     // its cell; 0, 0 when none came
        short row = 0;
        int32_t slot = 0; // int bean 67 read at the start of the frame
        bool editor = false;
    };
    // A page: its entry (after a page change or a re-entry request) and its render step (every pass).
    using PageStep = void (CoreDsif::*)(PASS&);
    struct PAGE {
        PageStep entry = nullptr;
        PageStep render = nullptr;
        const char* label = ""; // written on row 0 by the placeholder entry
    };
    static constexpr int iCpages = 20; // states 0 .. 19 have pages; 20 .. 23 are the frame's own

    // Builds everything and starts the display thread.
    CoreDsif(CorePrcs* processor, CoreDspc* queue, CoreBlnk* blink, DisplayHost* host);
    // Stops the thread (a running batch is finished first), waits for it, frees what it owns.
    ~CoreDsif() override;
    void Terminate() override; // sets the flag and wakes the thread
    void Execute() override;
    CoreDsif(const CoreDsif&) = delete;
    CoreDsif& operator=(const CoreDsif&) = delete;

    // ---- sizes and font facts (processor-free; any thread)
    short getdx() const { return iDimx; }
    short getdy() const { return iDimy; }
    short getax() const { return iAddx; }
    short getay() const { return iAddy; }
    short getdx(short font) const;
    short getdy(short font) const;
    short getax(short font) const;
    short getay(short font) const;
    short getre(short font) const; // 0 for a font that does not exist
    double read_(short font, short x, short y) const;
    short getfc() const { return iFontcolour; }

    // ---- cell export (any thread). newdd fills an empty record (deldd first when reusing one);
    // flldd copies the last exported cells into a record of this display's sizes (others get nothing);
    // deldd frees and nulls what a record holds (twice is harmless).
    void newdd(CoreCnst::DISPLAYDATA* data) const;
    void flldd(CoreCnst::DISPLAYDATA* data) const;
    static void deldd(CoreCnst::DISPLAYDATA* data);

    // ---- page state and batches
    void updte(bool editor); // one renderer pass (display/CoreDsifFrame.cpp); control thread only
    void setdp();            // after a chunk restore: the home page, or the boot page while booting
    void btcst(const CoreAnsx& key, const CoreAnsx& value); // one batch variable
    void loadp(int32_t slot);              // a program load as a batch; never waits for a batch
    void setmr(const CoreAnsx& text);      // the popup menu's choice, "1234 - Name"
    void setsp(int32_t slot, bool listTop, bool gridStart);
    void upprm(); // refreshes the sixteen user parameters
    void savem(); // saves the master settings
    CoreSmph& getlk() { return *pLock; } // the display lock, for the control thread's setdu
    short getcs() const { return iState; }
    short getns() const { return iNextstate; }

    // ---- soft keys and message pollers (display/CoreDsifFrame.cpp)
    void drmnu(bool changed);
    void fnmnu(short key);
    bool getmp(short& column, short& row, int& x, int& y, bool& held);
    bool wasbp();
    int32_t getst();
    void getmw();

    // ---- drawing helpers (display/CoreDsifDraw.cpp); (px, py) is this pass's pointer cell
    bool drbtn(short x, short y, const CoreAnsx& text, short px, short py);
    bool drtb2(short x, short y, const CoreAnsx& offtext, const CoreAnsx& ontext, bool on, short px, short py);
    bool drtbt(short x, short y, const CoreAnsx& offtext, const CoreAnsx& ontext, bool on, short px, short py);
    void label(const CoreAnsx& key, const CoreAnsx& text, int x, int y);
    int32_t fnu2t(double microseconds); // saturated to int32_t
    double fnt2u(int32_t samples);

    // ---- parameter rows (display/CoreDsifParameters.cpp); parameters 0 .. 15 by bean index
    void drprm(int column, int row, short n, short bar, bool selected, bool plain);
    short getpp(short n, bool displayed);
    short prmsw(short p, bool back);
    short prtmx(short n);
    CoreAnsx getpn(short p);
    // Both replace the caller's array (array-new, or null) even when the count is 0; a count below 0
    // counts as 0.
    void rsvas(CoreAnsx** array, int& count, short countBean, short textBean);
    void readr(const CoreAnsx& folder, const CoreAnsx& pattern, CoreAnsx** array, int& count);
    double getnh(double value, int& x, int& y);

    // ---- popup menus (display/CoreDsifPopup.cpp)
    void scanm(CoreDsmn* menu, int level, CoreNode* parent);
    void setpd(CoreCnst::POPMENUCONTENTDATA* holder) { pPopupdata = holder; }

    // ---- shared by the pages: the load batch (its variables, then "BTCH") and the information line
    void startLoad(int32_t slot, const CoreAnsx& action, PASS& pass);
    void drawInfoLine(const CoreAnsx& head);

protected:
    // Builds everything but leaves the display thread unstarted (the public constructor resumes it);
    // also for a derived class, whose thread would otherwise start before the derived part exists.
    struct NOTHREAD {};
    CoreDsif(CorePrcs* processor, CoreDspc* queue, CoreBlnk* blink, DisplayHost* host, NOTHREAD);

private:
    friend class CoreDsifTestAccess;

    // The pages' entry and render steps and their own helpers.
    // ---- program and compact program pages (display/CoreDsifProgram.cpp, CoreDsifCompact.cpp)
    void programEntry(PASS& pass); // both pages' entry
    void programRender(PASS& pass);
    void compactRender(PASS& pass);
    void programViewV(PASS& pass);
    void programViewL(PASS& pass);
    CoreAnsx programName();
    void drawProgramName(PASS& pass);
    void commitSlotField(PASS& pass);
    void loadProgramSlot(int32_t slot, PASS& pass);
    void drawProgramText(const CoreAnsx& descriptionHead, const CoreAnsx& rateHead, int markOffset);
    void drawProgramGains(bool labelEach);
    void drawProgramFigures(int titleWidth, short prfColumn);
    void drawProgramParameters(PASS& pass, bool listView);
    void scrollProgramList(bool up);
    void drawProgramList(PASS& pass);

    // ---- program list pages (display/CoreDsifLists.cpp)
    void listEntry(PASS& pass);
    void listRender(PASS& pass);
    void compactListEntry(PASS& pass);
    void compactListRender(PASS& pass);
    void renderList(PASS& pass, bool compact);
    CoreAnsx drawCategoryColumn(bool compact, short px, short py);
    void moveGridStart(int step, bool aligned, int cells);
    bool gridStartShown(bool categoryMode);
    void fillGrid(int columns, bool categoryMode, int32_t current);

    // ---- kernel page (display/CoreDsifKernel.cpp)
    void kernelEntry(PASS& pass);
    void kernelRender(PASS& pass);
    void kernelDirection(short r, short n, PASS& pass); // marker and direction button of row r
    void kernelBatch(const char* key, const char* print, const char* flag, bool on, const char* step,
                     PASS& pass);
    CoreDswb aKernelkept; // the kernel page's items as loaded or last written

    // ---- master settings pages (display/CoreDsifMaster.cpp)
    void masterEntry(PASS& pass);
    void masterRender(PASS& pass);
    void compactMasterEntry(PASS& pass);
    void compactMasterRender(PASS& pass);
    void masterHeader(int items, bool full);
    void loadMasterItems(int items, bool full);
    void masterTitle(bool full);
    void masterItems(int items, bool full, PASS& pass);
    CoreDswb oMasterkept; // what the last entry loaded

    // ---- memory page (display/CoreDsifMemory.cpp)
    void memoryEntry(PASS& pass);
    void memoryRender(PASS& pass);
    void memoryCommits(int32_t current);
    void memoryOverwrite(int32_t picked, int32_t& current, PASS& pass);
    void memoryDelete(int32_t picked, int32_t current, PASS& pass);
    void memorySaveAs(PASS& pass);
    CoreDswb oMemorykept; // what the memory page loaded into its fields

    // ---- MIDI, disk, about and test pages (display/CoreDsifMidi.cpp, CoreDsifDisk.cpp, CoreDsifAbout.cpp)
    void midiEntry(PASS& pass);
    void midiRender(PASS& pass);
    void diskEntry(PASS& pass);
    void diskRender(PASS& pass);
    void aboutEntry(PASS& pass);
    void aboutRender(PASS& pass);
    void testEntry(PASS& pass);
    void testRender(PASS& pass);
    CoreDswb wSmallpages; // what the MIDI page's fields and the test page's items were loaded with

    // ---- selector pattern; global, LFO, function and follower pages (display/CoreDsifSelector.cpp, CoreDsifGlobal.cpp, ...)
    // The selector pattern: a page is a constant table of item rows (DataSitm) plus its own steps.
    // element is the number the rows' byElement indexes add (follower, envelope ...).
    using OwnGroup = void (CoreDsif::*)(short group, PASS& pass); // writes a group of the page's own
    // reset(items, true, true, 1), then every row defined, loaded and kept (seen): viewing writes nothing.
    void selectorEntry(const DataSitm* rows, int count, short items, short element);
    void selectorLoad(const DataSitm& row, short element); // defines, loads and keeps one item
    // Sets a ranged item to the bean's value again (bounds kept, widened if needed) and keeps it.
    void selectorReload(const DataSitm& row, short element);
    void selectorFrame(const char* title, PASS& pass); // title padded to 48, focus, draw_
    // Asks the group's items in table order (its first row's rule) whether the user changed them.
    bool selectorChanged(const DataSitm* rows, int count, short group);
    // Writes the group: changed items converted, the others what they were loaded with; then its
    // apply action; then keeps what was written.
    void selectorWrite(const DataSitm* rows, int count, short group, short element);
    // Every group in table order: asked, and written when changed; a group whose rows the page
    // writes itself (writeBean -1) goes to own instead.
    void selectorWrites(const DataSitm* rows, int count, short element, PASS& pass, OwnGroup own);
    bool selectorExit(PASS& pass); // the exit button; a click on it sets the action "PROG"
    CoreDstx* selectorItem(short slot) const;
    void selectorKeep(const DataSitm& row, double raw); // a page's own write: the new loaded value
    // The conversions, once for every selector page.
    double selectorShown(const DataSitm& row, double raw); // bean value -> item value (ranged)
    double selectorStored(const DataSitm& row, double shown); // item value -> bean value; finite
    int selectorPosition(const DataSitm& row, double raw, const CoreAnsx& text) const; // list position
    CoreAnsx selectorKey(const DataSitm& row, int position) const; // key or list text at a position
    CoreAnsx selectorText(const DataSitm& row, int position) const; // the shown text at a position
    int selectorCount(const DataSitm& row) const;
    static CoreAnsx shortestText(double v); // shortest "%G"-style text that reads back to v
    CoreDswb mSelectorback;
    std::vector<char> vSelectorconstant; // per slot: a dual source item was loaded as a constant
    // The global page (display/CoreDsifGlobal.cpp).
    void globalEntry(PASS& pass);
    void globalRender(PASS& pass);
    void globalOwnGroup(short group, PASS& pass);
    void globalPeriod();    // loads the period item from beans 57 and 10
    void globalLookAhead(); // loads the look-ahead item over 0 .. the look-ahead length
    // The LFO page (display/CoreDsifLfo.cpp).
    void lfoEntry(PASS& pass);
    void lfoRender(PASS& pass);
    // The function page (display/CoreDsifFunction.cpp).
    void functionEntry(PASS& pass);
    void functionRender(PASS& pass);
    static CoreAnsx functionLevel(double constant);
    // The envelope follower page (display/CoreDsifFollower.cpp).
    void followerEntry(PASS& pass);
    void followerRender(PASS& pass);

    // ---- envelope, dynamics and user parameter pages (display/CoreDsifEnvelope.cpp, ...)
    void parameterListEntry(PASS& pass);
    void parameterListRender(PASS& pass);
    void envelopeEntry(PASS& pass);
    void envelopeRender(PASS& pass);
    void dynamicsEntry(PASS& pass);
    void dynamicsRender(PASS& pass);
    void selectForDrag(short p);
    void parameterEditEntry(PASS& pass);
    void parameterEditRender(PASS& pass);
    CoreDswb mParameterfields; // the edit page's fields as loaded and as last written


    static constexpr int iCnavigationlevels = 5; // the program memory's navigation path, levels 0 .. 4

    bool pointerHit(short x, short y, int length, short px, short py) const;
    bool displayed(short p);

    // Batches (display/CoreDsif.cpp).
    void setLoadVariables(int32_t slot, const CoreAnsx& action); // action bean 225, then the five variables
    void loadLocked(int32_t slot); // loadp's work; the caller holds the display lock
    void runBatch();          // one batch as the thread runs it: steps, rows, ACTION, state change
    void startPendingLoad();  // end of a pass: a load kept while the batch page showed
    void exportCells();       // copies the grid to the export copy under the export lock

    // The frame (display/CoreDsifFrame.cpp).
    void bootPage(PASS& pass);
    void batchEntry(PASS& pass);
    void batchPage(PASS& pass);
    void drawAddArea();
    // A page showing only its name on row 0: what the frame's own tests put in place of the pages.
    void placeholderEntry(PASS& pass);
    void placeholderRender(PASS& pass);
    bool runStep(PageStep step, PASS& pass, bool entry); // false when the step threw
    static const std::array<PAGE, iCpages>& pageTable();

    CoreAnsx sHomeaction;
    CoreAnsx sVersioningname;
    std::array<CoreAnsx, 3> aLevelfilters;
    CoreAnsx* pSkinfiles = nullptr;    // array-new, iSkincount entries
    CoreAnsx* pCategorynames = nullptr; // array-new, iCategorycount entries
    std::vector<CoreAnsx> vSourcelabels;
    std::vector<CoreAnsx> vSourcekeys;
    std::vector<CoreAnsx> vWavekeys;
    std::vector<CoreAnsx> vWavelabels;
    std::vector<CoreAnsx> vOperationkeys;
    std::vector<CoreAnsx> vOperationlabels;
    int iCategorylevel = 0;
    int iSourcecount = 0;
    int iWavecount = 0;
    int iOperationcount = 0;
    int iSkincount = 0;
    int iCategorycount = 0;
    int iListtop = 0;   // a program-memory slot
    int iGridstart = 0; // a program-memory slot
    int iCategorytop = 0;
    int iCategoryselection = 0;
    int iDisplaybank = 0;
    int iDisplayprogram = 0;
    int iTestcountdown = 10;
    int iTestcycle = 360;
    int iTestperiod = 10;
    int iClickx = 0; // editor pixels
    int iClicky = 0;
    int iDragx = 0;
    int iDragy = 0;
    int iPointerx = 0;
    int iPointery = 0;
    std::array<int, 2> aLevelselections{};
    short iDimx = iCdimx;
    short iDimy = iCdimy;
    short iAddx = iCdimaddx;
    short iAddy = iCdimaddy;
    short iKernellimit = 0;
    short iState = 20; // BOOT
    short iNextstate = 20;
    short iEnvelope = 0;
    short iFollower = 0;
    short iSelectedparameter = 0;
    short iLastselection = 0;
    short iMessagerowcount = iCmessagerows;
    short iFontcolour = 0;
    std::vector<int> vListslots;     // rows - 2
    std::vector<CoreAnsx> vProgramlabels;
    std::vector<CoreAnsx> vBanklabels;
    std::vector<CoreAnsx> vMessagerows;
    CoreAnsx sStatusline;
    std::array<std::vector<int>, 3> aGridslots; // rows - 3 each
    bool bPointerheld = false;
    bool bReentry = false;
    bool bDrag = false;
    bool bAllprograms = false;
    bool bProgramview = true;
    bool bPopuparmed = false;
    bool bMenustale = true;
    CorePrcs* pProcessor;
    CorePrcs* pProcessor2; // the same engine; some pages call through it
    std::unique_ptr<CoreDsbf> pGrid;
    std::array<CoreMenu, CoreMenu::iCdisplaymenus> aMenus;
    CoreMenu* pCurrentmenu = nullptr;
    CoreBlnk* pBlink;
    CoreDspc* pQueue;
    std::array<std::unique_ptr<CoreDsbr>, 2> aBars;
    std::unique_ptr<CoreStte> pTable;
    std::unique_ptr<CoreDsgt> pSelectors;
    std::unique_ptr<CoreDsge> pFields;
    std::unique_ptr<CoreDsgm> pPopups;
    std::unique_ptr<CorePmsg> pBatchrows;
    std::unique_ptr<CoreTevn> pEvent; // wakes the display thread: a batch to run, or Terminate
    std::unique_ptr<CoreSmph> pLock;
    int iPriority = 1;
    CoreCnst::POPMENUCONTENTDATA* pPopupdata = nullptr;
    DisplayHost* pHost;

    // Batches and pages.
    int32_t iPendingload = -1;   // a load asked for while the batch page showed; the latest wins
    std::atomic<bool> bEndedbysignal{false}; // the thread's last wait was woken by the event
    bool bStepfailed = false;    // a step of the current page threw; logged once per page entry
    std::array<PAGE, iCpages> aPages = pageTable(); // tests may replace entries

    // The cell export: (character, font, blink) of every main and add cell, under its own lock.
    struct CELL {
        unsigned char character = ' ';
        unsigned char font = 0;
        bool blink = false;
    };
    std::vector<CELL> vExport;
    std::unique_ptr<CoreSmph> pExportlock;
};
