// CoreBitm: the editor's bitmap, whose image comes from an item of a skin's file store or, by number,
// from the built-in images; and the shared bitmap pool, one object per process, that hands out one
// decoded copy of each skin image to every editor asking for it, counted by reference. Editors call
// stabm and purgb on the pool between begin and end__, which hold its lock; bitmaps handed out are
// only read afterwards. The pool's creation and deletion are guarded by the editor's static lock.
#pragma once
#include "base/CoreAnsx.h"
#include "platform/gui/CBitmap.h"

#include <cstdint>
#include <memory>

class CoreFsys;
class CoreSmph;
class CoreTlst;

class CoreBitm : public CBitmap {
public:
    // One bitmap the pool handed out. key and folder are empty for a built-in image, which is
    // never shared.
    struct BITMAPLOC {
        CoreAnsx key;       // the item name it was decoded from
        CoreAnsx folder;    // the base folder of the store it came from
        int32_t references; // hand-outs not yet given back
        int32_t resource;   // the built-in number the caller gave
        CoreBitm* bitmap;   // owned
    };

    CoreBitm();                          // the pool
    explicit CoreBitm(int32_t resource); // a plain bitmap: the built-in image of the number (0: none)
    ~CoreBitm() override;
    CoreBitm(const CoreBitm&) = delete;
    CoreBitm& operator=(const CoreBitm&) = delete;

    void begin(); // takes the pool's lock, waiting as long as needed
    void end__();
    void setna(bool noAlpha) { setNoAlpha(noAlpha); }
    // Decodes item name of fsys (PNG only; other extensions draw opaque). False, and no image, when
    // the item is missing or does not decode.
    bool ldfle(CoreFsys* fsys, const CoreAnsx& name);

    // Pool only. Sets *out to a bitmap for name ("0": none; the skin's getfn filter comes first) and
    // lists its entry in own once more. A name the store lacks, or whose item does not decode, gives
    // a new built-in image of resource; a decoded image is shared by every caller asking with the
    // same folder, the same name in any case and the same resource. privateOnly looks for a shared
    // copy in own alone.
    void stabm(CoreTlst* own, CoreFsys* fsys, const CoreAnsx& name, CoreBitm** out, int32_t resource,
               bool privateOnly);
    // Gives back every entry of own (an entry already gone is skipped) and empties own.
    void purgb(CoreTlst* own);
    int32_t getec() const; // entries held; call under begin/end__

private:
    bool master = false;
    CoreTlst* entries = nullptr;
    CoreSmph* lock = nullptr;

    BITMAPLOC* shared(const CoreTlst* list, const CoreAnsx& key, const CoreAnsx& folder,
                      int32_t resource) const;
};
