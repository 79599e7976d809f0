#include "display/CoreDsmn.h"

#include "base/CoreNode.h"
#include "base/CoreSgrd.h"
#include "base/CoreTlst.h"
#include "base/CoreXml_.h"

#include <algorithm>
#include <cstring>

CoreDsmn::CoreDsmn(CorePrcs* processor, DisplayHost* host) : pProcessor(processor), pHost(host) { clear(); }

CoreDsmn::~CoreDsmn() { delete pDocument; }

void CoreDsmn::defne(short column, short row, short width, short height) {
    iColumn = column;
    iRow = row;
    iWidth = width;
    iHeight = height;
}

void CoreDsmn::getdf(short& column, short& row, short& width, short& height) const {
    column = iColumn;
    row = iRow;
    width = iWidth;
    height = iHeight;
}

bool CoreDsmn::ishre(short column, short row) const {
    return column >= iColumn && column <= iColumn + iWidth && row >= iRow && row <= iRow + iHeight;
}

void CoreDsmn::clear() {
    delete pDocument;
    pDocument = new CoreXml_();
    pRoot = new CoreNode(CoreAnsx(CoreXml_::sCroot));
    pDocument->setrt(pRoot);
    pEntries = new CoreNode(CoreAnsx(CoreXml_::sCroot));
    pRoot->addcd(pEntries);
}

void CoreDsmn::adden(const CoreAnsx& text) { adden(text, nullptr); }

CoreNode* CoreDsmn::adden(const CoreAnsx& text, CoreNode* parent) {
    CoreNode* node = new CoreNode(text);
    (parent ? parent : pEntries)->addcd(node);
    return node;
}

int CoreDsmn::getnn(const CoreNode* node) {
    const CoreTlst* children = node ? node->getcn() : nullptr;
    int n = 0;
    for (int i = 0; children && i < children->Count; ++i)
        n += 1 + getnn(static_cast<const CoreNode*>(children->Items[i]));
    return n;
}

void CoreDsmn::setText(CoreCnst::POPMENUENTRY& record, const CoreAnsx& text) {
    std::memset(record.text, 0, sizeof(record.text));
    const int length = std::clamp(text.Length(), 0, CoreCnst::iCpopuptext - 1);
    std::memcpy(record.text, text.c_str(), static_cast<size_t>(length));
}

void CoreDsmn::replaceRecords(int n, CoreCnst::POPMENUCONTENTDATA* holder) {
    if (holder->count != 0 && holder->items) delete[] holder->items;
    holder->items = nullptr;
    holder->count = 0;
    if (n <= 0) return;
    holder->items = new CoreCnst::POPMENUENTRY[static_cast<size_t>(n)]();
    holder->count = n;
}

int CoreDsmn::pushd(CoreCnst::POPMENUCONTENTDATA* holder, const CoreAnsx& title) {
    const int n = 1 + getnn(pEntries);
    if (!holder) return n;
    CoreSgrd guard(holder->lock);
    replaceRecords(n, holder);
    holder->items[0].parent = -1;
    setText(holder->items[0], title);
    pushd(pEntries, 1, -1, holder);
    return n;
}

int CoreDsmn::pushd(const CoreNode* node, int index, int parent, CoreCnst::POPMENUCONTENTDATA* holder) {
    const CoreTlst* children = node ? node->getcn() : nullptr;
    for (int i = 0; children && i < children->Count; ++i) {
        const auto* child = static_cast<const CoreNode*>(children->Items[i]);
        if (index >= holder->count) return index;
        const int own = index;
        holder->items[own].parent = parent;
        setText(holder->items[own], child->gettx());
        index = pushd(child, own + 1, own, holder);
    }
    return index;
}

void CoreDsmn::new__(int n, CoreCnst::POPMENUCONTENTDATA* holder) {
    if (!holder) return;
    CoreSgrd guard(holder->lock);
    replaceRecords(n, holder);
}

void CoreDsmn::delte(CoreCnst::POPMENUCONTENTDATA* holder) {
    if (!holder) return;
    CoreSgrd guard(holder->lock);
    replaceRecords(0, holder);
}

CoreAnsx CoreDsmn::gettx() const { return pDocument->settc(true, true); }
