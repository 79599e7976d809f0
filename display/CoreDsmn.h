// CoreDsmn: one popup menu of the display: a tree of entry texts, the cell rectangle the editor opens
// it over, and the flattening of the tree into the plug-in object's content holder, which the editor
// copies from its own thread under the holder's lock. Owned by the popup group (CoreDsgm); built and
// flattened under the display lock on the renderer's thread.
#pragma once
#include "base/CoreAnsx.h"
#include "display/CoreCnst.h"
#include "display/DisplayHost.h"

class CoreNode;
class CorePrcs;
class CoreXml_;

class CoreDsmn {
public:
    CoreDsmn(CorePrcs* processor, DisplayHost* host);
    ~CoreDsmn();
    CoreDsmn(const CoreDsmn&) = delete;
    CoreDsmn& operator=(const CoreDsmn&) = delete;

    void defne(short column, short row, short width, short height);
    void getdf(short& column, short& row, short& width, short& height) const;
    bool ishre(short column, short row) const; // both bounds included
    void setar(bool on) { bArmed = on; }
    bool getar() const { return bArmed; }
    void clear();
    void adden(const CoreAnsx& text);
    CoreNode* adden(const CoreAnsx& text, CoreNode* parent); // null parent: the top level
    static int getnn(const CoreNode* node); // nodes below, at all depths; an absent child list is empty
    int pushd(CoreCnst::POPMENUCONTENTDATA* holder, const CoreAnsx& title);
    // The holder's lock is held by the caller.
    int pushd(const CoreNode* node, int index, int parent, CoreCnst::POPMENUCONTENTDATA* holder);
    // Room for n cleared records; takes the holder's lock.
    static void new__(int n, CoreCnst::POPMENUCONTENTDATA* holder);
    static void delte(CoreCnst::POPMENUCONTENTDATA* holder);
    CoreAnsx gettx() const;
    CoreNode* getrt() const { return pEntries; } // the entries root

private:
    static void replaceRecords(int n, CoreCnst::POPMENUCONTENTDATA* holder); // under the holder's lock
    static void setText(CoreCnst::POPMENUENTRY& record, const CoreAnsx& text);

    short iColumn = 0;
    short iRow = 0;
    short iWidth = 0;
    short iHeight = 0;
    bool bArmed = false;
    CorePrcs* pProcessor;
    DisplayHost* pHost;
    CoreXml_* pDocument = nullptr; // owned
    CoreNode* pEntries = nullptr;  // inside pDocument
    CoreNode* pRoot = nullptr;     // inside pDocument
};
