#include "platform/gui/CFrame.h"

#include "platform/gui/AEffGUIEditor.h"
#include "platform/gui/CBitmap.h"
#include "platform/gui/COptionMenu.h"
#include "platform/gui/CView.h"
#include "platform/gui/CoreGwin.h"

#include <cmath>

CFrame::CFrame(const CRect& size, void* systemWindow, AEffGUIEditor* editor)
    : cSize(size), cImage(size.width(), size.height()), pEditor(editor) {
    if (systemWindow) pWindow = CoreGwin::create(this, systemWindow, sEmbedError);
}

CFrame::~CFrame() {
    closePopup();
    for (CView* view = pFirst; view;) {
        CView* next = view->pNext;
        view->pFrame = nullptr;
        view->pPrevious = view->pNext = nullptr;
        view = next;
    }
    pFirst = pLast = pPressed = nullptr;
    iViews = 0;
    pKeyHook = nullptr;
    updateKeyFocus();
    setBackground(nullptr);
    delete pWindow;
}

bool CFrame::addView(CView* view) {
    if (!view || view->pFrame == this) return false;
    if (view->pFrame) view->pFrame->removeView(view);
    view->pFrame = this;
    view->pPrevious = pLast;
    view->pNext = nullptr;
    (pLast ? pLast->pNext : pFirst) = view;
    pLast = view;
    ++iViews;
    bDirty = true;
    return true;
}

bool CFrame::removeView(CView* view, const bool&) {
    if (!view || view->pFrame != this) return false;
    (view->pPrevious ? view->pPrevious->pNext : pFirst) = view->pNext;
    (view->pNext ? view->pNext->pPrevious : pLast) = view->pPrevious;
    view->pPrevious = view->pNext = nullptr;
    view->pFrame = nullptr;
    --iViews;
    if (pPressed == view) pPressed = nullptr;
    if (view == pOpenRoot) closePopup();
    bDirty = true;
    return true;
}

bool CFrame::isChild(const CView* view) const { return view && view->pFrame == this; }

void CFrame::setBackground(CBitmap* background) {
    if (background == pBackground) return;
    if (background) background->remember();
    if (pBackground) pBackground->forget();
    pBackground = background;
    bDirty = true;
}

CView* CFrame::viewAt(const CPoint& where) const {
    for (CView* view = pLast; view; view = view->pPrevious)
        if (view->getMouseEnabled() && view->getViewSize().pointInside(where)) return view;
    return nullptr;
}

void CFrame::mouse(CDrawContext* context, CPoint& where, int32_t buttons) {
    // A popup opened by this press owns its release: no view may wait for it.
    if (pOpenRoot) return;
    CView* view = viewAt(where);
    if (!view) return;
    pPressed = view; // a menu opening its popup clears it again
    view->mouse(context, where, buttons);
}

bool CFrame::onWheel(CDrawContext* context, const CPoint& where, CMouseWheelAxis axis, float distance) {
    CView* view = viewAt(where);
    return view && view->onWheel(context, where, axis, distance);
}

void CFrame::update(CDrawContext*) {}

void CFrame::post(const CoreGevt& event) {
    std::lock_guard<std::mutex> hold(mQueue);
    if (event.kind == CoreGevt::kMove && !vQueue.empty() && vQueue.back().kind == CoreGevt::kMove) {
        vQueue.back() = event;
        return;
    }
    if (vQueue.size() >= size_t(iCqueuelimit)) return;
    vQueue.push_back(event);
}

void CFrame::idle() {
    if (pWindow && !pWindow->pollEvents(sEmbedError)) {
        // The window is gone: the frame goes on offscreen, its popup closed.
        delete pWindow;
        pWindow = nullptr;
        closePopup();
        bPopupsChanged = false;
    }
    std::vector<CoreGevt> events;
    {
        std::lock_guard<std::mutex> hold(mQueue);
        events.swap(vQueue);
    }
    for (const CoreGevt& event : events) dispatch(event);
    update(&cImage);
    const int32_t before = iRedraws;
    redraw();
    if (pWindow && iRedraws != before) pWindow->showImage();
    if (pWindow && bPopupsChanged) pWindow->showPopups();
    bPopupsChanged = false;
}

void CFrame::doIdleStuff() {
    update(&cImage);
    redraw();
}

void CFrame::dispatch(const CoreGevt& event) {
    switch (event.kind) {
    case CoreGevt::kDown:
    case CoreGevt::kMove:
    case CoreGevt::kUp: {
        cLocation = event.where;
        cImage.setMouseButtons(event.buttons);
        if (pOpenRoot) {
            popupPointer(event);
            return;
        }
        CPoint where = event.where;
        if (event.kind == CoreGevt::kDown) {
            if (!pPressed) mouse(&cImage, where, event.buttons);
        } else if (event.kind == CoreGevt::kMove) {
            if (pPressed) pPressed->onMouseMoved(&cImage, where);
        } else if (CView* view = pPressed) {
            pPressed = nullptr;
            view->onMouseUp(&cImage, where);
        }
        return;
    }
    case CoreGevt::kWheel:
        if (!pOpenRoot && std::isfinite(event.distance))
            onWheel(&cImage, event.where, CMouseWheelAxis(event.axis), event.distance);
        return;
    case CoreGevt::kKey:
        if (pOpenRoot) popupKey(event);
        else if (pKeyHook) pKeyHook(pKeyHookUser, event);
        return;
    case CoreGevt::kChoice:
        if (pOpenRoot) popupChoice(event.menu, event.index);
        return;
    }
}

void CFrame::redraw() {
    if (!bDirty) return;
    const CRect whole(0, 0, cSize.width(), cSize.height());
    if (!pBackground || pBackground->getWidth() < whole.width() || pBackground->getHeight() < whole.height())
        cImage.fillRect(whole, CColor{0, 0, 0, 255});
    if (pBackground) pBackground->draw(&cImage, whole);
    for (CView* view = pFirst; view; view = view->pNext) {
        if (!view->getViewSize().isEmpty()) view->draw(&cImage);
        view->bDirty = false;
    }
    bDirty = false;
    ++iRedraws;
}

void CFrame::setKeyHook(CoreKeyHook hook, void* user) {
    pKeyHook = hook;
    pKeyHookUser = hook ? user : nullptr;
    updateKeyFocus();
}

void CFrame::updateKeyFocus() {
    const bool wanted = pKeyHook != nullptr || pOpenRoot != nullptr;
    if (wanted == bKeyFocus) return;
    bKeyFocus = wanted;
    if (pEditor) pEditor->setKeyFocus(wanted);
    if (pWindow) pWindow->setKeyFocus(wanted);
}
