#include "base/CoreNode.h"
#include "base/CoreButl.h"

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// The same white space as CoreAnsx::Trim: space, tab, line feed, vertical tab, form feed, return.
bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}
char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The trimmed byte range of a text. Names are compared on these ranges, ASCII case-insensitively,
// which gives exactly the result of comparing upper-cased, trimmed copies without allocating.
struct Span {
    const char* data;
    int size;
};

Span rawSpan(const CoreAnsx& text) {
    const char* data = text.c_str();
    int size = text.Length();
    if (!data || size < 0) return {"", 0};
    return {data, size};
}

Span trimmedSpan(const CoreAnsx& text) {
    Span s = rawSpan(text);
    while (s.size > 0 && isBlank(s.data[0])) {
        ++s.data;
        --s.size;
    }
    while (s.size > 0 && isBlank(s.data[s.size - 1])) --s.size;
    return s;
}

bool sameName(const CoreAnsx& text, Span key) {
    Span t = trimmedSpan(text);
    if (t.size != key.size) return false;
    for (int i = 0; i < t.size; ++i)
        if (upperAscii(t.data[i]) != upperAscii(key.data[i])) return false;
    return true;
}

// text upper-cased and trimmed equals key byte for byte (key taken unchanged).
bool normalisedEquals(const CoreAnsx& text, Span key) {
    Span t = trimmedSpan(text);
    if (t.size != key.size) return false;
    for (int i = 0; i < t.size; ++i)
        if (upperAscii(t.data[i]) != key.data[i]) return false;
    return true;
}

bool isAbsentMarker(const CoreAnsx& value) {
    Span s = rawSpan(value);
    return s.size == 1 && s.data[0] == '0';
}

int saturateToInt32(double truncated) {
    if (truncated >= 2147483647.0) return INT32_MAX;
    if (truncated <= -2147483648.0) return INT32_MIN;
    return static_cast<int>(truncated);
}

} // namespace

CoreNode::CoreNode(const CoreAnsx& text) : sText(text), pChildren(new CoreTlst) {}

CoreNode::CoreNode(const char* text) : CoreNode(CoreAnsx(text ? text : "")) {}

CoreNode::CoreNode(bool b) : CoreNode(CoreAnsx(b ? "1" : "0")) {}

CoreNode::CoreNode(int v) : CoreNode(CoreAnsx(v)) {}

CoreNode::CoreNode(double v) : sText(), pChildren(new CoreTlst) {
    // The string conversion already ignores the locale; the ',' guard keeps stored files readable
    // should that ever change.
    std::string formatted = CoreAnsx(v).c_str();
    for (char& c : formatted)
        if (c == ',') c = '.';
    sText = CoreAnsx(formatted.c_str());
}

CoreNode::~CoreNode() {
    if (!pChildren) return;
    // Unlink every descendant into a work list before deleting it, so that each delete sees a node
    // without children and the depth of the tree never reaches the call stack.
    std::vector<CoreNode*> pending;
    auto detachChildren = [&pending](CoreNode* node) {
        CoreTlst* list = node->pChildren;
        node->pChildren = nullptr;
        if (!list) return;
        for (int i = list->Count - 1; i >= 0; --i) pending.push_back(static_cast<CoreNode*>(list->Items[i]));
        delete list;
    };
    detachChildren(this);
    while (!pending.empty()) {
        CoreNode* node = pending.back();
        pending.pop_back();
        if (!node) continue;
        detachChildren(node);
        delete node;
    }
}

CoreNode* CoreNode::getcd() const {
    return count() > 0 ? child(0) : nullptr;
}

bool CoreNode::leaf_() const {
    return count() == 0;
}

bool CoreNode::addcd(CoreNode* node) {
    if (!node) return false;
    if (!pChildren) pChildren = new CoreTlst;
    return pChildren->Add(node);
}

void CoreNode::removeAt(int index) {
    if (pChildren) pChildren->Delete(index);
}

bool CoreNode::holds(const CoreNode* node) const {
    if (!node) return false;
    std::vector<const CoreNode*> pending{this};
    while (!pending.empty()) {
        const CoreNode* current = pending.back();
        pending.pop_back();
        if (current == node) return true;
        for (int i = 0; i < current->count(); ++i)
            if (current->child(i)) pending.push_back(current->child(i));
    }
    return false;
}

CoreNode* CoreNode::getcd(const CoreAnsx& tag) const {
    Span key = trimmedSpan(tag);
    for (int i = count() - 1; i >= 0; --i)
        if (sameName(child(i)->sText, key)) return child(i);
    return nullptr;
}

bool CoreNode::exsnc(const CoreAnsx& tag) const {
    return getcd(tag) != nullptr;
}

int CoreNode::getcc(const CoreAnsx& tag) const {
    Span key = rawSpan(tag);
    int matches = 0;
    for (int i = 0; i < count(); ++i)
        if (normalisedEquals(child(i)->sText, key)) ++matches;
    return matches;
}

bool CoreNode::cdis_(const CoreAnsx& tag) const {
    Span own = rawSpan(sText);
    Span key = rawSpan(tag);
    if (own.size != key.size) return false;
    for (int i = 0; i < own.size; ++i)
        if (upperAscii(own.data[i]) != key.data[i]) return false;
    return true;
}

CoreAnsx CoreNode::getlc(const CoreAnsx& tag) const {
    const CoreNode* element = getcd(tag);
    const CoreNode* value = element ? element->getcd() : nullptr;
    return value ? value->sText : CoreAnsx("0");
}

bool CoreNode::exslc(const CoreAnsx& tag) const {
    return !isAbsentMarker(getlc(tag));
}

CoreAnsx CoreNode::getls(const CoreAnsx& tag) const {
    CoreAnsx value = getlc(tag);
    if (isAbsentMarker(value)) return CoreAnsx("");
    return value.Trim();
}

CoreAnsx CoreNode::getls(const CoreAnsx& tag, int k) const {
    if (k < 0) return CoreAnsx("");
    Span key = rawSpan(tag);
    for (int i = 0; i < count(); ++i) {
        if (!normalisedEquals(child(i)->sText, key)) continue;
        if (k-- > 0) continue;
        const CoreNode* value = child(i)->getcd();
        return value ? value->sText.Trim().UpperCase() : CoreAnsx("");
    }
    return CoreAnsx("");
}

int CoreNode::getli(const CoreAnsx& tag) const {
    CoreAnsx value = getlc(tag);
    if (isAbsentMarker(value) || rawSpan(value).size == 0) return 0;
    return value.Trim().ToInt();
}

bool CoreNode::getlb(const CoreAnsx& tag) const {
    return getli(tag) != 0;
}

double CoreNode::getld(const CoreAnsx& tag) const {
    CoreAnsx value = getlc(tag);
    Span raw = rawSpan(value);
    if (isAbsentMarker(value) || raw.size == 0) return 0.0;
    std::string decimal(raw.data, static_cast<size_t>(raw.size));
    for (char& c : decimal)
        if (c == ',') c = '.';
    // Only finite numbers may reach gains, times and kernels. The string conversion saturates an
    // overflowing text ('1e999') to the largest double, which our own writer never produces ("%G"
    // rounds it down), so that value counts as unreadable too.
    double number = CoreAnsx(decimal.c_str()).Trim().ToDouble();
    return (std::isfinite(number) && std::fabs(number) != DBL_MAX) ? number : 0.0;
}

CoreAnsx CoreNode::gtnls(const CoreNode* node, const CoreAnsx& tag, const CoreAnsx& def) {
    return (node && node->exslc(tag)) ? node->getls(tag) : def;
}

double CoreNode::gtnld(const CoreNode* node, const CoreAnsx& tag, double def) {
    return (node && node->exslc(tag)) ? node->getld(tag) : def;
}

int CoreNode::gtnli(const CoreNode* node, const CoreAnsx& tag, int def) {
    return (node && node->exslc(tag)) ? saturateToInt32(std::trunc(node->getld(tag))) : def;
}

bool CoreNode::gtnlb(const CoreNode* node, const CoreAnsx& tag, bool def) {
    return (node && node->exslc(tag)) ? std::trunc(node->getld(tag)) != 0.0 : def;
}

void CoreNode::delcn() {
    if (!pChildren) return;
    for (int i = pChildren->Count - 1; i >= 0; --i) delete child(i);
    pChildren->Clear();
}

void CoreNode::delcn(const CoreAnsx& tag) {
    Span key = trimmedSpan(tag);
    for (int i = count() - 1; i >= 0; --i) {
        if (!sameName(child(i)->sText, key)) continue;
        delete child(i);
        removeAt(i);
    }
    if (count() == 0) {
        delete pChildren;
        pChildren = nullptr;
    }
}

void CoreNode::upglf(const CoreAnsx& tag, CoreNode* node) {
    CoreNode* element = new CoreNode(tag);
    element->addcd(node);
    delcn(tag);
    addcd(element);
}

void CoreNode::rplce(const CoreAnsx& tag, const CoreAnsx& replacement, const CoreAnsx& search, bool whole) {
    Span key = trimmedSpan(tag);
    const bool editing = !isAbsentMarker(search);
    std::vector<CoreNode*> pending{this};
    while (!pending.empty()) {
        CoreNode* node = pending.back();
        pending.pop_back();
        if (!sameName(node->sText, key)) {
            for (int i = node->count() - 1; i >= 0; --i) pending.push_back(node->child(i));
            continue;
        }
        // The children are consumed last to first, so the value that survives is the one made
        // from the first child.
        CoreAnsx value = replacement;
        if (editing && node->count() > 0 && !whole)
            value = CoreButl::rplce(node->child(0)->sText, search, replacement);
        node->delcn();
        node->addcd(new CoreNode(value));
    }
}

void CoreNode::templ(CoreNode* tmpl, CoreNode* target) {
    if (!tmpl || !target) return;
    // Overlaying a tree onto itself or onto part of itself would delete the nodes being read.
    if (tmpl->holds(target) || target->holds(tmpl)) return;
    templTree(tmpl, target);
}

void CoreNode::templTree(CoreNode* tmpl, CoreNode* target) {
    for (int i = 0; i < tmpl->count(); ++i) {
        CoreNode* t = tmpl->child(i);
        const CoreAnsx& name = t->sText;
        CoreNode* x;
        if (target->exslc(name)) {
            x = target->getcd(name);
        } else {
            if (t->leaf_()) target->delcn(); // a template value replaces whatever the target held
            x = new CoreNode(name);
            target->addcd(x);
        }
        templTree(t, x);
    }
}

CoreAnsx CoreNode::debug(int level, const CoreNode* node) const {
    struct Entry {
        const CoreNode* node;
        int level;
    };
    std::string out;
    std::vector<Entry> pending{{node ? node : this, level}};
    while (!pending.empty()) {
        Entry entry = pending.back();
        pending.pop_back();
        out.append(static_cast<size_t>(entry.level + 1 > 0 ? entry.level + 1 : 0), '>');
        out += ' ';
        out += entry.node->sText.c_str();
        out += '\n';
        for (int i = entry.node->count() - 1; i >= 0; --i)
            pending.push_back({entry.node->child(i), entry.level + 1});
    }
    return CoreAnsx(out.c_str());
}

CoreNode* CoreNode::pcore(const CoreAnsx* path, int n, bool cut, bool keep) {
    if (!path || n < 1) return nullptr;
    CoreNode* current = this;
    CoreNode* parent = nullptr;
    int index = -1;
    for (int level = 0; level < n; ++level) {
        Span key = trimmedSpan(path[level]);
        int found = -1;
        for (int i = 0; i < current->count(); ++i) {
            if (sameName(current->child(i)->sText, key)) {
                found = i;
                break;
            }
        }
        if (found >= 0) {
            parent = current;
            index = found;
            current = current->child(found);
        } else if (level < n - 1) {
            CoreNode* created = new CoreNode(path[level]);
            current->addcd(created);
            current = created;
        } else {
            return nullptr;
        }
    }
    if (!cut) return current;
    parent->removeAt(index);
    if (keep) return current;
    delete current;
    return nullptr;
}

CoreNode* CoreNode::walkCreating(const CoreAnsx* path, int n) {
    CoreNode* current = this;
    for (int level = 0; path && level < n; ++level) {
        Span key = trimmedSpan(path[level]);
        CoreNode* next = nullptr;
        for (int i = 0; i < current->count() && !next; ++i)
            if (sameName(current->child(i)->sText, key)) next = current->child(i);
        if (!next) {
            next = new CoreNode(path[level]);
            current->addcd(next);
        }
        current = next;
    }
    return current;
}

bool CoreNode::pappd(const CoreAnsx* path, int n, CoreNode* node) {
    if (!node) return false;
    return walkCreating(path, n)->addcd(node);
}

bool CoreNode::prplc(const CoreAnsx* path, int n, CoreNode* node) {
    if (!node) return false;
    pdlte(path, n);
    return walkCreating(path, n - 1)->addcd(node);
}

bool CoreNode::pmove(const CoreAnsx* srcpath, int srcn, CoreNode* src, const CoreAnsx* dstpath, int dstn,
                     bool replace) {
    if (!src) return false;
    CoreNode* found = src->pfind(srcpath, srcn);
    // Moving a node below itself would make a cycle and lose the subtree.
    if (!found || found->holds(this)) return false;
    CoreNode* moved = src->psplt(srcpath, srcn);
    return replace ? prplc(dstpath, dstn, moved) : pappd(dstpath, dstn, moved);
}
