#include "base/CoreXml_.h"
#include "base/CoreButl.h"
#include "base/CoreLog_.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

// A file whose text could not be held by a CoreAnsx (32-bit length with its NUL) is unreadable.
constexpr size_t kMaxTextBytes = 0x7FFFFF00u;
constexpr size_t kReadChunk = 65536;

bool isBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

struct Tag {
    size_t begin; // byte index of the tag text (behind '<' and a leading '/')
    size_t end;   // byte index of the closing '>'
    char first;   // the character right after '<'
};

// One step of the tag scanner: the next '<' ... '>' from pos. At the end of the text pos is set one
// past the terminating NUL and the result is false.
bool scanTag(const char* text, size_t length, size_t& pos, Tag& tag) {
    if (pos < length) {
        const void* open = std::memchr(text + pos, CoreXml_::sCcharop, length - pos);
        if (open) {
            size_t p = static_cast<size_t>(static_cast<const char*>(open) - text) + 1;
            if (p < length) {
                char first = text[p];
                if (first == CoreXml_::sCcharen) ++p;
                const void* close =
                    p < length ? std::memchr(text + p, CoreXml_::sCcharcl, length - p) : nullptr;
                if (close) {
                    tag.begin = p;
                    tag.end = static_cast<size_t>(static_cast<const char*>(close) - text);
                    tag.first = first;
                    pos = tag.end + 1;
                    return true;
                }
            }
        }
    }
    pos = length + 1;
    return false;
}

bool isSkipped(char first) {
    return first == CoreXml_::sCcharc2 || first == CoreXml_::sCcharc1;
}

size_t textLength(const CoreAnsx& text) {
    int length = text.Length();
    return length > 0 ? static_cast<size_t>(length) : 0; // an unset string reports -1
}

// The reader keeps '&lt;' literally and has no escapes, so bytes that would end or open a tag are
// replaced where they are written; each change is logged so that the user can find the node.
void appendName(std::string& out, const CoreAnsx& name, bool logChange) {
    const char* data = name.c_str();
    size_t length = textLength(name);
    bool needsPrefix = length == 0 || data[0] == '!' || data[0] == '?' || data[0] == '/';
    bool needsReplace = std::memchr(data, '<', length) || std::memchr(data, '>', length);
    if (!needsPrefix && !needsReplace) {
        out.append(data, length);
        return;
    }
    std::string written = needsPrefix ? "_" : "";
    for (size_t i = 0; i < length; ++i) written += data[i] == '<' ? '(' : data[i] == '>' ? ')' : data[i];
    out += written;
    if (logChange)
        CoreLog_::loger(CoreAnsx("XML: element name '") + name + "' written as '" + written.c_str() + "'", 1);
}

void appendValue(std::string& out, const CoreAnsx& value, bool asRead, const CoreAnsx& element) {
    // A value read as the bare "0" counts as absent; framed it would read as present on the next load,
    // so it goes back as it was read. A "0" that a writer set is meant as present and is framed.
    if (asRead && textLength(value) == 1 && value.c_str()[0] == '0') {
        out += '0';
        return;
    }
    const char* data = value.c_str();
    size_t begin = 0, end = textLength(value);
    while (begin < end && isBlank(data[begin])) ++begin;
    while (end > begin && isBlank(data[end - 1])) --end;
    if (begin == end) return;
    out += ' ';
    size_t start = out.size();
    out.append(data + begin, end - begin);
    bool changed = false;
    for (size_t i = start; i < out.size(); ++i) {
        if (out[i] == '<') {
            out[i] = '(';
            changed = true;
        }
    }
    if (changed)
        CoreLog_::loger(CoreAnsx("XML: value '") + value + "' of element '" + element + "' written as '" +
                            CoreAnsx(out.substr(start).c_str()) + "'",
                        1);
    out += ' ';
}

} // namespace

CoreXml_::CoreXml_() : pRoot(nullptr), bOwns(false) {}

CoreXml_::~CoreXml_() {
    close();
}

void CoreXml_::setrt(CoreNode* node) {
    if (bOwns && pRoot != node) delete pRoot;
    pRoot = node;
    bOwns = true;
}

void CoreXml_::free_() {
    pRoot = nullptr;
}

void CoreXml_::close() {
    if (bOwns) delete pRoot;
    pRoot = nullptr;
    bOwns = false;
}

CoreAnsx CoreXml_::getas(const CoreAnsx& path) {
    std::FILE* file = CoreButl::ffpen(path, "r");
    if (!file) return CoreAnsx("0");
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (std::fseek(file, 0, SEEK_SET) != 0) size = -1;
    std::string data;
    // The whole file in one read when its size is known; further chunks only for files that grow
    // or report no size.
    size_t request = size > 0 ? static_cast<size_t>(size) : kReadChunk;
    bool tooLarge = request > kMaxTextBytes;
    while (!tooLarge) {
        size_t used = data.size();
        data.resize(used + request);
        size_t got = std::fread(data.data() + used, 1, request, file);
        data.resize(used + got);
        if (got < request) break;
        int next = std::fgetc(file); // the usual case: the first read took the whole file
        if (next == EOF) break;
        std::ungetc(next, file);
        tooLarge = data.size() > kMaxTextBytes;
        request = kReadChunk;
    }
    bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (tooLarge || failed) {
        CoreLog_::logfl(path + (tooLarge ? ": too large to read as text" : ": read failed"), 1);
        return CoreAnsx("0");
    }
    data.erase(std::remove(data.begin(), data.end(), '\0'), data.end());
    return CoreAnsx(data.c_str());
}

CoreNode* CoreXml_::getdc(const CoreAnsx& source, bool fromfile, bool utf16) {
    close();
    CoreAnsx fileText;
    if (fromfile) fileText = getas(source);
    const CoreAnsx* text = fromfile ? &fileText : &source;
    if (*text == CoreAnsx("0")) return nullptr;
    CoreAnsx converted;
    if (utf16) {
        converted = CoreButl::getu8(*text);
        text = &converted;
    }
    CoreNode* root = parse(text->c_str(), fromfile ? source : CoreAnsx("(text)"));
    pRoot = root;
    bOwns = true;
    return root;
}

CoreNode* CoreXml_::parse(const char* text, const CoreAnsx& source) {
    const size_t length = std::strlen(text);
    std::unique_ptr<CoreNode> root(new CoreNode(CoreAnsx(sCroot)));
    CoreAnsx reason;
    bool failed = false;
    size_t failedAt = 0;
    try {
        std::vector<CoreNode*> open{root.get()}; // the document node, then every open element
        std::string collected;                   // character data behind the last opening tag
        std::string name;
        bool pending = false;
        size_t pos = 0;
        Tag tag;
        while (scanTag(text, length, pos, tag)) {
            if (isSkipped(tag.first)) continue;
            if (tag.first == sCcharen) {
                // Only character data that a closing tag ends right after its opening tag is a value.
                if (pending) {
                    std::unique_ptr<CoreNode> leaf(new CoreNode(CoreAnsx(collected.c_str())));
                    leaf->bAsread = true;
                    if (!open.back()->addcd(leaf.get())) throw CoreAnsx("out of memory");
                    leaf.release();
                    pending = false;
                }
                if (open.size() == 1) {
                    failed = true;
                    reason = "closing tag without an open element";
                    failedAt = tag.begin;
                    break;
                }
                open.pop_back();
                continue;
            }
            if (open.size() > static_cast<size_t>(iCmaxdepth)) {
                failed = true;
                reason = CoreAnsx("more than ") + CoreAnsx(iCmaxdepth) + " nested elements";
                failedAt = tag.begin;
                break;
            }
            name.assign(text + tag.begin, tag.end - tag.begin);
            std::unique_ptr<CoreNode> element(new CoreNode(CoreAnsx(name.c_str())));
            if (!open.back()->addcd(element.get())) throw CoreAnsx("out of memory");
            open.push_back(element.release());
            const void* next = std::memchr(text + pos, sCcharop, length - pos);
            size_t stop = next ? static_cast<size_t>(static_cast<const char*>(next) - text) : length;
            collected.assign(text + pos, stop - pos);
            pending = true;
        }
    } catch (const CoreAnsx& error) {
        failed = true;
        reason = error;
    } catch (const std::exception& error) {
        failed = true;
        reason = error.what();
    } catch (...) {
        failed = true;
        reason = "unknown failure";
    }
    if (failed) {
        CoreLog_::logfl(source + ": XML " + reason + " at byte " + CoreAnsx(static_cast<int>(failedAt)), 1);
        throw CoreAnsx("");
    }
    return root.release();
}

CoreAnsx CoreXml_::settc(bool pretty, bool topnewline) const {
    if (!pRoot) return CoreAnsx("");
    // An explicit stack in place of recursion; frame.wasleaf tells whether a value was met among
    // the children, in which case the closing tag follows on the same line.
    struct Frame {
        const CoreNode* node;
        int next;
        int level;
        bool wasleaf;
        bool elements; // the node has a child element
    };
    const auto holdsElements = [](const CoreNode* node) {
        for (int i = 0; i < node->count(); ++i)
            if (node->child(i)->count() > 0) return true;
        return false;
    };
    std::string out;
    auto indent = [&out, pretty](int level) {
        if (pretty) out.append(static_cast<size_t>(iCindent * level), ' ');
    };
    std::vector<Frame> frames{{pRoot, 0, 0, false, holdsElements(pRoot)}};
    while (!frames.empty()) {
        Frame& frame = frames.back();
        if (frame.next >= frame.node->count()) {
            Frame done = frame;
            frames.pop_back();
            if (frames.empty()) break;
            if (!done.wasleaf) indent(frames.back().level);
            out += sCopenntag;
            appendName(out, done.node->text(), false);
            out += sCclsextag;
            if (pretty) out += '\n';
            continue;
        }
        const CoreNode* child = frame.node->child(frame.next++);
        if (child->count() == 0) {
            // The reader keeps only text that a closing tag ends right after its opening tag, so a
            // value beside child elements is written as a blank one would be (the setup writers put
            // one there): written, it would read back as a different document.
            if (!frame.elements) appendValue(out, child->text(), child->bAsread, frame.node->text());
            frame.wasleaf = true;
            continue;
        }
        if (pretty && frame.next == 1) out += '\n';
        indent(frame.level);
        out += sCopenytag;
        appendName(out, child->text(), true);
        out += sCclsextag;
        if (frame.level == 0 && pretty && topnewline) out += '\n';
        int level = frame.level + 1;
        frames.push_back({child, 0, level, false, holdsElements(child)});
    }
    return CoreAnsx(out.c_str());
}

bool CoreXml_::setec(const CoreNode* element, int level, std::string& out,
                     const std::vector<const CoreNode*>& skipped, const std::vector<const CoreNode*>& extra) {
    struct Frame {
        const CoreNode* node;
        int next;
        int level;
    };
    const auto isSkipped = [&skipped](const CoreNode* node) {
        return std::find(skipped.begin(), skipped.end(), node) != skipped.end();
    };
    std::string values;
    std::vector<Frame> frames;
    // Writes node's opening tag; an element holding only values is written whole, as the reader
    // makes it one value: the text between its tags. Any other element stays open on the stack.
    const auto open = [&](const CoreNode* node, int depth) {
        if (depth > iCmaxdepth) return false;
        out += sCopenytag;
        appendName(out, node->text(), true);
        out += sCclsextag;
        bool elements = false;
        for (int i = 0; i < node->count() && !elements; ++i) elements = node->child(i)->count() > 0;
        if (elements) {
            frames.push_back({node, 0, depth});
            return true;
        }
        if (node->count() == 1) {
            const CoreNode* value = node->child(0);
            appendValue(out, value->text(), value->bAsread, node->text());
        } else {
            values.clear();
            for (int i = 0; i < node->count(); ++i)
                appendValue(values, node->child(i)->text(), node->child(i)->bAsread, node->text());
            appendValue(out, CoreAnsx(values.c_str()), true, node->text());
        }
        out += sCopenntag;
        appendName(out, node->text(), false);
        out += sCclsextag;
        return true;
    };
    if (!element || element->count() == 0) return true;
    if (!open(element, level)) return false;
    size_t extras = frames.empty() ? extra.size() : 0;
    while (!frames.empty()) {
        Frame& frame = frames.back();
        if (frame.next < frame.node->count()) {
            const CoreNode* child = frame.node->child(frame.next++);
            if (child->count() == 0 || (frames.size() == 1 && isSkipped(child))) continue;
            if (!open(child, frame.level + 1)) return false;
            continue;
        }
        if (frames.size() == 1 && extras < extra.size()) {
            if (!open(extra[extras++], frame.level + 1)) return false;
            continue;
        }
        const CoreNode* node = frame.node;
        frames.pop_back();
        out += sCopenntag;
        appendName(out, node->text(), false);
        out += sCclsextag;
    }
    return true;
}

bool CoreXml_::settf(const CoreAnsx& path, bool pretty, bool topnewline, bool flag) const {
    return CoreButl::svatx(path, settc(pretty, topnewline), flag);
}

bool CoreXml_::pappd(const CoreAnsx* path, int n, CoreNode* node) {
    if (!node) return false;
    if (!pRoot) setrt(new CoreNode(CoreAnsx(sCroot)));
    return pRoot->pappd(path, n, node);
}

CoreNode* CoreXml_::pdlte(const CoreAnsx* path, int n) {
    return pRoot ? pRoot->pdlte(path, n) : nullptr;
}

bool CoreXml_::pappr(const CoreAnsx* path, int n, CoreNode* node) {
    if (!path || n < 1 || !node) return false;
    if (!pRoot) setrt(new CoreNode(CoreAnsx(sCroot)));
    CoreNode* element = new CoreNode(path[n - 1]);
    element->addcd(node);
    return pRoot->prplc(path, n, element);
}

bool CoreXml_::pmove(const CoreAnsx* srcpath, int srcn, CoreXml_* src, const CoreAnsx* dstpath, int dstn,
                     bool replace) {
    if (!pRoot || !src || !src->pRoot) return false;
    return pRoot->pmove(srcpath, srcn, src->pRoot, dstpath, dstn, replace);
}

void CoreXml_::merge(CoreXml_* other) {
    if (!other || other == this || !pRoot || !other->pRoot || other->pRoot == pRoot) return;
    CoreNode* top = other->pRoot->getcd();
    if (!top) return;
    // Each move takes the FIRST element of the name out of top, so the index is re-checked.
    for (int i = top->count() - 1; i >= 0; --i) {
        if (i >= top->count()) continue;
        CoreAnsx path[2] = {top->text(), top->child(i)->text()};
        pdlte(path, 2);
        pmove(path, 2, other, path, 2, true);
    }
}

int CoreXml_::patch(CoreNode* src, int level, CoreNode* dst) {
    // Copying a tree into itself or into part of itself would delete the nodes being read.
    if (src && dst && !src->holds(dst) && !dst->holds(src)) patchTree(src, level, dst);
    return level + 1;
}

void CoreXml_::patchTree(CoreNode* src, int level, CoreNode* dst) {
    for (int i = 0; i < src->count(); ++i) {
        CoreNode* c = src->child(i);
        if (c->leaf_()) dst->delcn();
        CoreNode* x = dst->getcd(c->text());
        if (!x) {
            x = new CoreNode(c->text());
            dst->addcd(x);
        }
        patchTree(c, level + 1, x);
    }
}

CoreAnsx CoreXml_::sbstr(const CoreAnsx& text, int k) {
    return text.SubString(k, text.Length() - k + 1);
}

bool CoreXml_::fndtc(const CoreAnsx& text, int& pos, CoreAnsx& out, char& first) {
    const char* data = text.c_str();
    size_t length = textLength(text);
    size_t at = pos < 0 ? 0 : static_cast<size_t>(pos);
    Tag tag;
    bool found = scanTag(data, length, at, tag);
    pos = static_cast<int>(at);
    if (!found) return false;
    out = CoreAnsx(std::string(data + tag.begin, tag.end - tag.begin).c_str());
    first = tag.first;
    return true;
}

bool CoreXml_::fndte(const CoreAnsx& text, int& pos, CoreAnsx& out, bool& opening) {
    char first = sCcharnl;
    do {
        if (!fndtc(text, pos, out, first)) return false;
    } while (isSkipped(first));
    opening = first != sCcharen;
    return true;
}
