// CoreDsif: the display object: owns the cell grid, the soft-key menus, the page state table, the
// widget groups, the name lists the pages choose from and the batch message rows, and holds the page
// state. Built by the master object with the processor, the message queue, the blink clock and the
// plug-in's host interface. Its drawing and parameter members run on the renderer's thread under the
// display lock; the size and glyph-count accessors read values fixed at construction (any thread).
#pragma once
#include "base/CoreAnsx.h"
#include "base/CoreTthr.h"
#include "display/CoreCnst.h"
#include "display/CoreMenu.h"
#include "display/DisplayHost.h"

#include <array>
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

    CoreDsif(CorePrcs* processor, CoreDspc* queue, CoreBlnk* blink, DisplayHost* host);
    ~CoreDsif() override;
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

private:
    friend class CoreDsifTestAccess;
    static constexpr int iCnavigationlevels = 5; // the program memory's navigation path, levels 0 .. 4

    bool pointerHit(short x, short y, int length, short px, short py) const;
    bool displayed(short p);

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
    std::unique_ptr<CoreTevn> pEvent; // made when the display thread is started
    std::unique_ptr<CoreSmph> pLock;
    int iPriority = 1;
    CoreCnst::POPMENUCONTENTDATA* pPopupdata = nullptr;
    DisplayHost* pHost;
};
