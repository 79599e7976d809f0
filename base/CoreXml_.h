// CoreXml_: an XML document: reads a file or a text into a CoreNode tree under the document node
// "ROOT" and writes it back in the system's own dialect (nested elements and character data only;
// no attributes, entities, CDATA or self-closing tags). Every XML file of the system goes through it.
// Not thread-safe: one thread at a time, under the caller's lock.
#pragma once
#include "base/CoreAnsx.h"
#include "base/CoreNode.h"

#include <string>
#include <vector>

class CoreXml_ {
public:
    static constexpr const char* sCroot = "ROOT";
    static constexpr const char* sCopenytag = "<";
    static constexpr const char* sCopenntag = "</";
    static constexpr const char* sCclsextag = ">";
    static constexpr const char* sCexcludetag[2] = {"<!", "<?"};
    static const int iCindent = 2;
    // Deepest nesting the reader accepts; deeper input fails like a stray closing tag, so that no
    // file or host chunk can drive the recursive parts of the system off the stack.
    static const int iCmaxdepth = 256;
    static constexpr char sCcharnl = '\0';
    static constexpr char sCcharop = '<';
    static constexpr char sCcharcl = '>';
    static constexpr char sCcharc1 = '?';
    static constexpr char sCcharc2 = '!';
    static constexpr char sCcharen = '/';

    CoreXml_();
    ~CoreXml_();
    CoreXml_(const CoreXml_&) = delete;
    CoreXml_& operator=(const CoreXml_&) = delete;

    // Parses source (a file path when fromfile, else the text) into a new tree and returns its root.
    // An unreadable file, or the text "0", gives null and an empty document. A closing tag without an
    // open element, nesting beyond iCmaxdepth or any failure while building throws a CoreAnsx with
    // the empty text and leaves the document empty. With utf16, input starting FF FE is turned into
    // 8-bit text first.
    CoreNode* getdc(const CoreAnsx& source, bool fromfile, bool utf16);
    CoreNode* getff(const CoreAnsx& path, bool utf16) { return getdc(path, true, utf16); }
    CoreNode* getfc(const CoreAnsx& text) { return getdc(text, false, false); }
    // Every byte of the file except zero bytes; "0" when it cannot be opened or read. The name is
    // found whatever its case.
    static CoreAnsx getas(const CoreAnsx& path);

    // The top-level elements as text (without the file header): values trimmed and framed by one space
    // each, except a value read as the bare "0", which stays bare so that it still reads as absent;
    // values beside child elements are left out, as the reader drops them; pretty adds line breaks and
    // two spaces of indentation per level.
    CoreAnsx settc(bool pretty, bool topnewline) const;
    // Appends to out the text settc (pretty off) gives for element once its text has been read back
    // into a document, without building that copy: values beside child elements are dropped and the
    // values of one element are written as one. The children listed in skipped are left out; the
    // elements in extra follow the others. level is element's depth in the document read back (1 for
    // a top-level element); false, with out incomplete, when reading back would fail on iCmaxdepth.
    static bool setec(const CoreNode* element, int level, std::string& out,
                      const std::vector<const CoreNode*>& skipped = {},
                      const std::vector<const CoreNode*>& extra = {});
    // Writes the header and settc(pretty, topnewline) to path through a temporary file renamed over
    // the target; true when the file was replaced, and the old file stays whole otherwise.
    bool settf(const CoreAnsx& path, bool pretty, bool topnewline, bool flag) const;

    CoreNode* getrt() const { return pRoot; }
    void setrt(CoreNode* node); // deletes an owned old root; the document owns node
    void free_();               // forgets the root without deleting it; the caller keeps the tree
    void close();

    // Path operations on the root. pappd and pappr give a rootless document a new owned root first;
    // pdlte, pmove and merge leave a rootless document unchanged.
    bool pappd(const CoreAnsx* path, int n, CoreNode* node);
    CoreNode* pdlte(const CoreAnsx* path, int n);
    // Sets a new element path[n - 1] holding node at the path: the first old element of that name
    // goes, the new one is appended to the parent level. n below 1 takes nothing (false).
    bool pappr(const CoreAnsx* path, int n, CoreNode* node);
    bool pmove(const CoreAnsx* srcpath, int srcn, CoreXml_* src, const CoreAnsx* dstpath, int dstn,
               bool replace);
    // Lays the children of the other document's first top-level element over this document's
    // element of the same name; the other document loses them.
    void merge(CoreXml_* other);
    // Copies src's subtree into dst by name (a value replaces what dst held). Returns level + 1.
    static int patch(CoreNode* src, int level, CoreNode* dst);

    static CoreAnsx sbstr(const CoreAnsx& text, int k); // tail from the 1-based position k

    // Tag scanner over text from the 0-based byte position pos. Each copies the next tag's text
    // (without '<', a leading '/' and '>') into out, moves pos behind its '>' and returns true; at
    // the end of the text pos ends one past the terminating NUL and the result is false. fndtc
    // takes any tag and reports the character after '<'; fndte skips tags beginning "<!" or "<?"
    // and reports whether the tag opens an element.
    static bool fndtc(const CoreAnsx& text, int& pos, CoreAnsx& out, char& first);
    static bool fndte(const CoreAnsx& text, int& pos, CoreAnsx& out, bool& opening);

private:
    CoreNode* pRoot;
    bool bOwns;

    CoreNode* parse(const char* text, const CoreAnsx& source);
    static void patchTree(CoreNode* src, int level, CoreNode* dst);
};
