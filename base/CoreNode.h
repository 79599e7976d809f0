// CoreNode: one node of the in-memory XML tree: a text (an element's tag name or a leaf's value) and an
// owned, ordered list of children. Offers typed reads of child values, case-insensitive name lookups,
// value edits and path operations. Not thread-safe: a tree is used by one thread at a time.
#pragma once
#include "base/CoreAnsx.h"
#include "base/CoreTlst.h"

class CoreNode {
public:
    explicit CoreNode(const CoreAnsx& text);
    // Without this a string literal would pick the bool constructor (a standard conversion beats the
    // user-defined one to CoreAnsx) and CoreNode("ABC") would hold "1".
    explicit CoreNode(const char* text);
    explicit CoreNode(bool b);   // "1" or "0"
    explicit CoreNode(int v);    // "%i"
    explicit CoreNode(double v); // "%G" with '.' as decimal point
    // Deletes the whole subtree without recursion, so a chain of any depth cannot exhaust the stack.
    ~CoreNode();
    CoreNode(const CoreNode&) = delete;
    CoreNode& operator=(const CoreNode&) = delete;

    CoreTlst* getcn() const { return pChildren; } // may be null after delcn(tag)
    CoreNode* getcd() const;                      // first child or null
    bool leaf_() const;
    CoreAnsx gettx() const { return sText; }
    void settx(const CoreAnsx& text) {
        sText = text;
        bAsread = false;
    }
    bool addcd(CoreNode* node); // takes ownership; a null node is refused (false)

    // Lookups among the children. Unless stated otherwise, names compare upper-cased and trimmed on
    // both sides; the value of an element is the raw text of its first child, "0" when it has none.
    CoreNode* getcd(const CoreAnsx& tag) const; // the LAST match
    bool exsnc(const CoreAnsx& tag) const;
    int getcc(const CoreAnsx& tag) const;  // tag is compared unchanged (caller upper-cases and trims)
    bool cdis_(const CoreAnsx& tag) const; // own text upper-cased, not trimmed, against tag unchanged
    CoreAnsx getlc(const CoreAnsx& tag) const;
    bool exslc(const CoreAnsx& tag) const; // a value of exactly "0" counts as absent
    CoreAnsx getls(const CoreAnsx& tag) const;
    CoreAnsx getls(const CoreAnsx& tag, int k) const; // k-th exact match's value, trimmed, upper-cased
    int getli(const CoreAnsx& tag) const;             // saturated to the 32-bit range
    bool getlb(const CoreAnsx& tag) const;
    double getld(const CoreAnsx& tag) const; // ',' read as '.'; 0.0 for anything not a finite number

    // Reads with a default, used only when the value is absent by the "0" rule (or node is null).
    static CoreAnsx gtnls(const CoreNode* node, const CoreAnsx& tag, const CoreAnsx& def);
    static double gtnld(const CoreNode* node, const CoreAnsx& tag, double def);
    static int gtnli(const CoreNode* node, const CoreAnsx& tag, int def); // truncated, saturated
    static bool gtnlb(const CoreNode* node, const CoreAnsx& tag, bool def);

    void delcn();                    // deletes every child; the list stays
    void delcn(const CoreAnsx& tag); // deletes matching children; drops the list when none is left
    void upglf(const CoreAnsx& tag, CoreNode* node);
    // Sets the value of every element named tag in this subtree (matching elements are not searched
    // further): to replacement when search is "0", else by editing the value of the first child.
    void rplce(const CoreAnsx& tag, const CoreAnsx& replacement, const CoreAnsx& search, bool whole);
    // Makes every element of the template exist in target and gives it the template's values.
    static void templ(CoreNode* tmpl, CoreNode* target);
    // One line per node: level + 1 '>' characters, a space, the text; children at level + 1.
    CoreAnsx debug(int level, const CoreNode* node) const;

    // Path operations. Level i of the path is matched among the children of the node found at level
    // i - 1, taking the FIRST match; missing intermediate levels are created and stay in the tree.
    CoreNode* pcore(const CoreAnsx* path, int n, bool cut, bool keep);
    CoreNode* pfind(const CoreAnsx* path, int n) { return pcore(path, n, false, false); }
    CoreNode* psplt(const CoreAnsx* path, int n) { return pcore(path, n, true, true); } // caller owns
    CoreNode* pdlte(const CoreAnsx* path, int n) { return pcore(path, n, true, false); }
    // Appends node at the path, creating every missing level (the last one included); n below 1
    // appends to this node. False only for a null node.
    bool pappd(const CoreAnsx* path, int n, CoreNode* node);
    // Deletes the node at the path, then appends node to the parent level.
    bool prplc(const CoreAnsx* path, int n, CoreNode* node);
    // Moves the node at srcpath below src to dstpath of this node. A missing source moves nothing;
    // so does a move that would put a node inside its own subtree.
    bool pmove(const CoreAnsx* srcpath, int srcn, CoreNode* src, const CoreAnsx* dstpath, int dstn,
               bool replace);

private:
    friend class CoreXml_;
    CoreAnsx sText;
    CoreTlst* pChildren;
    // The text is a value exactly as the document reader found it; set only by CoreXml_, cleared by
    // settx. The writer needs it to put a bare "0" (absent) back bare.
    bool bAsread = false;

    const CoreAnsx& text() const { return sText; }
    int count() const { return pChildren ? pChildren->Count : 0; }
    CoreNode* child(int index) const { return static_cast<CoreNode*>(pChildren->Items[index]); }
    bool holds(const CoreNode* node) const; // node is this node or lies anywhere below it
    void removeAt(int index);               // unlinks without deleting
    CoreNode* walkCreating(const CoreAnsx* path, int n);
    static void templTree(CoreNode* tmpl, CoreNode* target);
};
