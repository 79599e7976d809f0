// CFrame: the only container of views: the editor's offscreen image, its views in the order added,
// the input queue and the popup of an open option menu. Input is queued by post (any thread) and
// dispatched, and the image redrawn, only in idle and doIdleStuff. Every other call, and the
// listeners' calls that dispatch makes, come under the one lock its owner (the editor) holds;
// the frame itself locks only its queue. Holds views without owning them; deleting it closes its
// popup and detaches its views.
#pragma once
#include "platform/gui/CDrawContext.h"
#include "platform/gui/CRect.h"
#include "platform/gui/CoreGevt.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class AEffGUIEditor;
class CBitmap;
class COptionMenu;
class CView;
class CoreGwin;

// Gets every key while set and no popup is open.
using CoreKeyHook = void (*)(void* user, const CoreGevt& key);

class CFrame {
public:
    static constexpr int32_t iCqueuelimit = 256; // events beyond it are dropped
    static constexpr int32_t iCmenurow = 14;     // popup row height in pixels

    // systemWindow: the host's window to show in (null: offscreen); editor: told when the frame
    // starts or stops wanting keys (may be null).
    CFrame(const CRect& size, void* systemWindow, AEffGUIEditor* editor);
    virtual ~CFrame();
    CFrame(const CFrame&) = delete;
    CFrame& operator=(const CFrame&) = delete;

    // Adds at the top; a view of another frame moves here. False for null or a view already here.
    bool addView(CView* view);
    // Detaches in constant time, never deleting (the flag is kept for callers and ignored).
    bool removeView(CView* view, const bool& withForget = false);
    bool isChild(const CView* view) const;
    int32_t getNbViews() const { return iViews; }
    void setBackground(CBitmap* background); // remembered while set
    const CRect& getViewSize() const { return cSize; }

    // A press outside a popup; the base sends it to the topmost mouse-enabled view under the point,
    // which then gets the moves and the release. Once a popup is open (a subclass may have opened it
    // for this very press) the base leaves the press to the popup.
    virtual void mouse(CDrawContext* context, CPoint& where, int32_t buttons);
    // The base gives the turn to the topmost mouse-enabled view under the point.
    virtual bool onWheel(CDrawContext* context, const CPoint& where, CMouseWheelAxis axis, float distance);
    // Runs once per idle and doIdleStuff, after the input and before the redraw.
    virtual void update(CDrawContext* context);

    // Takes the window's input, dispatches the queue in order, updates, redraws when dirty and
    // hands the images to the window.
    void idle();
    // Updates and redraws when dirty.
    void doIdleStuff();
    void getCurrentLocation(CPoint& where) const { where = cLocation; }
    // Any thread: queues an event; consecutive moves merge, and a full queue drops it.
    void post(const CoreGevt& event);
    void setKeyHook(CoreKeyHook hook, void* user); // null clears it
    void setDirty(bool state = true) { bDirty = state; }

    // The popup's root menu, null while none is open.
    COptionMenu* getOpenMenu() const { return pOpenRoot; }
    // Levels are kept inside these bounds (frame coordinates); empty: no bounds.
    void setPopupBounds(const CRect& bounds) { cPopupBounds = bounds; }
    void openPopup(COptionMenu* root);
    void closePopup();
    int32_t getPopupLevelCount() const { return int32_t(vLevels.size()); }
    // Level i (0 the root's): its place in frame coordinates and its image.
    const CRect& getPopupLevelRect(int32_t level) const { return vLevels[size_t(level)].rect; }
    const CDrawContext& getPopupLevelImage(int32_t level) const { return *vLevels[size_t(level)].image; }
    int32_t getPopupHighlight(int32_t level) const { return vLevels[size_t(level)].highlight; }

    bool isEmbedded() const { return pWindow != nullptr; }
    const std::string& getEmbedError() const { return sEmbedError; }
    CDrawContext& getImage() { return cImage; }
    int32_t getRedrawCount() const { return iRedraws; }
    // For the editor base: it no longer exists.
    void detachEditor() { pEditor = nullptr; }

private:
    struct Level {
        COptionMenu* menu = nullptr;
        CRect rect;
        int32_t rows = 1;     // entries per column
        int32_t columnWidth = 0;
        int32_t highlight = -1;
        int32_t openedFrom = -1; // the parent level's entry that opened it
        std::unique_ptr<CDrawContext> image;
    };

    void dispatch(const CoreGevt& event);
    void redraw();
    CView* viewAt(const CPoint& where) const;
    void updateKeyFocus();

    // The popup (CFramePopup.cpp).
    void popupPointer(const CoreGevt& event);
    void popupKey(const CoreGevt& event);
    void popupChoice(COptionMenu* menu, int32_t index);
    void choose(COptionMenu* holder, int32_t index);
    void openLevel(COptionMenu* menu, const Level* parent, int32_t parentEntry);
    void closeLevelsAfter(size_t keep);
    void drawLevel(Level& level);
    void markTree(COptionMenu* menu, CFrame* frame, int depth);
    int32_t entryAt(const Level& level, const CPoint& where) const;
    int32_t levelAt(const CPoint& where) const;
    void highlight(size_t level, int32_t entry, bool openSubmenu);
    void step(int32_t direction);
    int32_t selectable(const COptionMenu* menu, int32_t from, int32_t direction) const;
    bool inOpenTree(const COptionMenu* menu) const;

    CRect cSize;
    CDrawContext cImage;
    AEffGUIEditor* pEditor;
    CoreGwin* pWindow = nullptr;
    std::string sEmbedError;
    CBitmap* pBackground = nullptr;
    CView* pFirst = nullptr;
    CView* pLast = nullptr;
    int32_t iViews = 0;
    CView* pPressed = nullptr; // gets the moves and release after its press
    CPoint cLocation;
    bool bDirty = true;
    int32_t iRedraws = 0;
    CoreKeyHook pKeyHook = nullptr;
    void* pKeyHookUser = nullptr;
    bool bKeyFocus = false;

    COptionMenu* pOpenRoot = nullptr;
    std::vector<COptionMenu*> vTree; // every menu of the open popup
    std::vector<Level> vLevels;
    bool bIgnoreRelease = false; // the opening press's release, until the pointer moves
    CPoint cOpenAt;
    bool bPopupsChanged = false;
    CRect cPopupBounds;

    std::mutex mQueue;
    std::vector<CoreGevt> vQueue;
};
