// DataSitm: one item row of a selector page: where the item sits, what kind of item it is, which bean
// it loads from and writes to, how the engine value and the shown value convert into each other, and
// the write group it belongs to. A selector page is a constant table of these rows; the display
// object's selector pattern (display/CoreDsifSelector.cpp) defines, loads and writes them. Constant
// data only.
#pragma once
#include <cstdint>

struct DataSitm {
    // What the item is.
    enum Kind : uint8_t {
        RANGE,      // a number between lower and upper
        LIST,       // a choice among texts (list and count below)
        SOURCES,    // a choice among the display's source names; the bean holds a source key
        WAVES,      // a choice among the waveform keys
        OPERATIONS, // a choice among the operation keys
        DUALSOURCE, // a source or a constant in lower .. upper, written as one text
        DUALJOIN,   // the list (one entry, "JOIN") or a level in lower .. upper; a negative level is JOIN
    };
    // How the bean's type is read and written.
    enum Bean : uint8_t { BOOL, SHORT, INT, LONG, DOUBLE, TEXT };
    // The conversion between the bean's value and the item.
    enum Conv : uint8_t {
        PLAIN,    // the number as it is; a list: the position as it is
        DECIBEL,  // linear gain in, decibels shown; written as 10^(v/20), v = 0 gives 1.0
        SCALED,   // shown = bean x factor; written as v / factor (a long bean: truncated)
        SAMPLES,  // samples in, milliseconds shown at int bean 44; written back as samples
        NEAREST,  // a list of numbers: the nearest entry in, the entry's number out
        KEYTEXT,  // a list position: the key (or the list text) at it out, the text's position in
        FLAG,     // a bool bean; the position 0 is false
        BIPOLAR,  // 0 .. 1 in, -1 .. 1 shown; written back as (v + 1) / 2
    };
    // Which items of a write group are asked whether they changed.
    enum Rule : uint8_t {
        ALL,   // every item is asked (each one's seen mark is taken)
        FIRST, // the first change ends the asking
    };

    // Written with designated initialisers; what a row leaves out takes these defaults.
    int16_t slot = 0;   // the item's number in the selector group
    int16_t column = 0; // of the value
    int16_t row = 0;
    int16_t width = 5;
    const char* unit = ""; // drawn after the value
    bool whole = false;    // whole-number display (the ceiling, no decimals)
    Kind kind = RANGE;
    double lower = 0.0; // bounds of a ranged item or of a dual item's number
    double upper = 1.0;
    const char* const* list = nullptr; // the texts of a LIST item
    int16_t count = 0;                 // their number
    Bean type = DOUBLE;
    int16_t readBean = 0;
    int16_t writeBean = -1; // -1: the page writes this item itself (its group is the page's own)
    int16_t index = 0;      // bean index; the page's element number is added when byElement
    int16_t subindex = 0;
    bool byElement = false;
    Conv conv = PLAIN;
    double factor = 1.0; // SCALED only
    int16_t group = 0;   // write group: its items are written together, in table order
    Rule rule = FIRST;
    int16_t apply = 0; // action bean set once after the group is written (index as the items); 0: none
    // DUALSOURCE: the bool bean telling that the constant is in force, the double bean holding it.
    int16_t constantFlagBean = 0;
    int16_t constantBean = 0;
};
