// CoreDcry: the category dictionary: display texts for the category keys that programs carry, read
// once from an optional XML file (DICTIONARY, then one element per section, then one leaf per key).
// Built by the processor and lent to the program memory; read-only after construction, so lookups
// may come from any thread.
#pragma once
#include "base/CoreAnsx.h"

class CoreNode;
class CoreXml_;

class CoreDcry {
public:
    // A missing, malformed or unnamed ("NULL") file, or one without DICTIONARY, gives an empty
    // dictionary; nothing is reported. The file is found whatever its case.
    explicit CoreDcry(const CoreAnsx& path);
    ~CoreDcry();
    CoreDcry(const CoreDcry&) = delete;
    CoreDcry& operator=(const CoreDcry&) = delete;

    // The trimmed text of section/key (tags compared trimmed, case ignored); key itself when the
    // dictionary, the section or the key is missing or the text is "0".
    CoreAnsx getvl(const CoreAnsx& section, const CoreAnsx& key) const;

private:
    bool bLoaded;
    CoreXml_* pDocument;
    CoreNode* pDictionary; // inside pDocument
};
