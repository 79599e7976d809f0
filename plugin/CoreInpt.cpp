#include "plugin/CoreInpt.h"

#include "display/CoreDspc.h"
#include "platform/gui/CoreGevt.h"
#include "plugin/CorePpwr.h"

namespace {

struct KeyCode {
    int32_t layer;
    int32_t display;
};
// The editing keys the display knows by their own codes; the other keys without a character keep
// the layer's code.
constexpr KeyCode kEditingKeys[] = {
    {CoreGevt::kKeyReturn, 13}, {CoreGevt::kKeyBackspace, 8}, {CoreGevt::kKeyHome, 36},
    {CoreGevt::kKeyDelete, 46}, {CoreGevt::kKeyEnd, 35},      {CoreGevt::kKeyLeft, 37},
    {CoreGevt::kKeyRight, 39},  {CoreGevt::kKeyPageUp, 11},   {CoreGevt::kKeyPageDown, 12},
    {CoreGevt::kKeyUp, 30},     {CoreGevt::kKeyDown, 31},     {CoreGevt::kKeyInsert, 5},
    {CoreGevt::kKeyEscape, 27}, {CoreGevt::kKeyTab, 9},
};
constexpr int32_t kF1Display = 45;       // F1 acts as insert
constexpr int32_t kFunctionDisplay = 16; // every other function key

} // namespace

std::optional<int32_t> CoreInpt::dspky(const CoreGevt& key) {
    if (key.kind != CoreGevt::kKey) return std::nullopt;
    if (key.key == CoreGevt::kKeyFunction) return key.index == 1 ? kF1Display : kFunctionDisplay;
    for (const KeyCode& code : kEditingKeys)
        if (code.layer == key.key) return code.display;
    if (key.character > 0 && key.character <= 255) return key.character;
    return std::nullopt;
}

void CoreInpt::keytr(void* effect, const CoreGevt& key) {
    const std::optional<int32_t> code = dspky(key);
    if (!effect || !code) return;
    CoreDspc::MESSAGELOC message{};
    message.type = 1;
    message.a = *code & 0xFF;
    static_cast<CorePpwr*>(effect)->wsprp(CorePpwr::iCdisplaymessage, 0, 0, &message, sizeof message);
}
