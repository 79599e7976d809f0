#include "platform/gui/CView.h"

#include "platform/gui/CBitmap.h"
#include "platform/gui/CFrame.h"

std::atomic<int32_t> CView::iVliveviews{0};

CView::CView(const CRect& size) : cSize(size) { iVliveviews.fetch_add(1, std::memory_order_relaxed); }

CView::~CView() {
    if (pFrame) pFrame->removeView(this);
    for (Watch* w = pWatch; w; w = w->pOuter) w->pView = nullptr;
    setBackground(nullptr);
    iVliveviews.fetch_sub(1, std::memory_order_relaxed);
}

void CView::draw(CDrawContext* context) {
    if (pBackground) pBackground->draw(context, cSize, cBackOffset);
}

void CView::mouse(CDrawContext*, CPoint&, int32_t) {}

void CView::onMouseMoved(CDrawContext*, CPoint&) {}

void CView::onMouseUp(CDrawContext*, CPoint&) {}

bool CView::onWheel(CDrawContext*, const CPoint&, CMouseWheelAxis, float) { return false; }

void CView::setDirty(bool state) {
    bDirty = state;
    if (state && pFrame) pFrame->setDirty(true);
}

void CView::setViewSize(const CRect& size) {
    cSize = size;
    setDirty(true);
}

void CView::setBackground(CBitmap* background) {
    if (background == pBackground) return;
    if (background) background->remember();
    if (pBackground) pBackground->forget();
    pBackground = background;
    setDirty(true);
}

CView::Watch::Watch(CView* view) : pView(view), pOuter(view ? view->pWatch : nullptr) {
    if (view) view->pWatch = this;
}

CView::Watch::~Watch() {
    if (pView) pView->pWatch = pOuter;
}
