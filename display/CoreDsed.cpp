#include "display/CoreDsed.h"

#include "base/CoreButl.h"

#include <cmath>
#include <string>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// The whole number at the start of text: an optional sign and the digits after it; 0 when none.
long long leadingWhole(const CoreAnsx& text) {
    const char* c = text.c_str();
    bool negative = false;
    if (*c == '+' || *c == '-') negative = *c++ == '-';
    long long value = 0;
    for (; isDigit(*c); ++c) {
        value = value * 10 + (*c - '0');
        if (value > 4294967296LL) value = 4294967296LL; // beyond any int: saturates below
    }
    return negative ? -value : value;
}

// The longest prefix of text that forms a decimal number (sign, digits, point, exponent).
std::string decimalPrefix(const CoreAnsx& text) {
    const std::string s = text.c_str();
    size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    size_t digits = 0;
    while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && isDigit(s[i])) ++i, ++digits;
    }
    if (digits == 0) return "";
    size_t end = i;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        if (j < s.size() && (s[j] == '+' || s[j] == '-')) ++j;
        if (j < s.size() && isDigit(s[j])) {
            while (j < s.size() && isDigit(s[j])) ++j;
            end = j;
        }
    }
    return s.substr(0, end);
}

} // namespace

CoreDsed::CoreDsed(CoreDsbf* grid) : sText(""), sCommitted(""), pGrid(grid) {}

void CoreDsed::defne(short textfont, short cursorfont, short column, short row, short width, bool clearonarm,
                     short type) {
    iTextfont = textfont;
    iCursorfont = cursorfont;
    iColumn = column;
    iRow = row;
    iWidth = width;
    bClearonarm = clearonarm;
    iType = type;
    setrg(column, row, width, 1);
    bHidden = false;
}

void CoreDsed::setx_(short column) { iColumn = column; }

void CoreDsed::setrg(short column, short row, short width, short height) {
    iHitcolumn = column;
    iHitrow = row;
    iHitwidth = width;
    iHitheight = height;
}

void CoreDsed::movea(bool hidden) { bHidden = hidden; }

bool CoreDsed::ishre(short column, short row) {
    if (bHidden) return false;
    if (row < iHitrow || row >= iHitrow + iHitheight || column < iHitcolumn || column >= iHitcolumn + iHitwidth)
        return false;
    const int place = column - iHitcolumn;
    iCursor = (bClearonarm || place < 0 || place > iWidth - 1) ? 0 : static_cast<short>(place);
    return true;
}

void CoreDsed::setar(bool on) {
    if (on) {
        if (bClearonarm) sText = "";
        bEdited = false;
        bInsert = false;
    } else if (bEdited) {
        valdt();
    } else {
        sText = sCommitted;
    }
    bArmed = on;
}

void CoreDsed::limitCursor() {
    if (iCursor > iWidth - 1) iCursor = static_cast<short>(iWidth - 1);
    if (iCursor < 0) iCursor = 0;
}

void CoreDsed::updte(const CoreAnsx& keys) {
    if (keys.Length() <= 0 || iWidth < 1) return;
    limitCursor();
    const int width = iWidth;
    std::string buffer(static_cast<size_t>(width), ' ');
    const std::string text = sText.c_str();
    for (int i = 0; i < width && i < static_cast<int>(text.size()); ++i) buffer[static_cast<size_t>(i)] = text[static_cast<size_t>(i)];
    const auto at = [&buffer](int i) -> char& { return buffer[static_cast<size_t>(i)]; };
    int cursor = iCursor;
    const auto shiftLeftFrom = [&](int from) { // from .. end move one place left, the last place a blank
        for (int i = from; i < width - 1; ++i) at(i) = at(i + 1);
        at(width - 1) = ' ';
    };
    const auto place = [&](char c) {
        if (bInsert) {
            if (at(width - 1) != ' ') return;
            for (int i = width - 1; i > cursor; --i) at(i) = at(i - 1);
        }
        at(cursor) = c;
        ++cursor;
    };
    const std::string codes = keys.c_str();
    for (char key : codes) {
        const int code = static_cast<unsigned char>(key);
        switch (code) {
        case 0: break;
        case 8:
            if (cursor > 0) --cursor;
            shiftLeftFrom(cursor);
            bEdited = true;
            break;
        case 13: bArmed = false; break;
        case 35: {
            cursor = 0;
            for (int i = width - 1; i >= 0; --i)
                if (at(i) != ' ') {
                    cursor = i;
                    break;
                }
            break;
        }
        case 36: cursor = 0; break;
        case 37:
            if (cursor > 0) --cursor;
            break;
        case 39: ++cursor; break;
        case 45:
            if (iType != iCwhole) bInsert = !bInsert;
            break;
        case 46:
            shiftLeftFrom(cursor);
            bEdited = true;
            break;
        default: {
            char c = static_cast<char>(code);
            if (iType == iCwhole) {
                if (!isDigit(c)) break;
                at(cursor) = c;
                ++cursor;
                bEdited = true;
            } else if (iType == iCdecimal) {
                bEdited = true;
                if (c == 'n' || c == 'N') c = '-';
                if (c == ' ' || c == ',') c = '.';
                if (isDigit(c) || c == '.' || c == '+' || c == '-') place(c);
            } else {
                bEdited = true;
                if (!bInsert && c == '_') c = '-';
                place(c);
            }
        }
        }
        if (cursor >= width) {
            bArmed = false;
            cursor = width - 1;
            break;
        }
    }
    iCursor = static_cast<short>(cursor);
    sText = CoreAnsx(buffer.c_str());
    if (!bArmed) {
        if (bEdited)
            valdt();
        else
            sText = sCommitted;
    }
}

bool CoreDsed::valdt() {
    const CoreAnsx trimmed = sText.Trim();
    if (iType == iCwhole) {
        const long long value = leadingWhole(trimmed);
        if (value > 2147483647LL || value < -2147483647LL - 1) {
            sText = sCommitted;
            return false;
        }
        sText = value == 0 ? CoreAnsx("0 ") : CoreAnsx(static_cast<int>(value));
    } else if (iType == iCdecimal) {
        const std::string prefix = decimalPrefix(trimmed);
        const double value = prefix.empty() ? 0.0 : CoreAnsx(prefix.c_str()).ToDouble();
        if (!std::isfinite(value)) {
            sText = sCommitted;
            return false;
        }
        sText = value == 0.0 ? CoreAnsx("0 ") : CoreAnsx(value);
    }
    return true;
}

bool CoreDsed::ischg() {
    if (bArmed || sText == sCommitted) return false;
    sCommitted = sText;
    return true;
}

int CoreDsed::getvi() const {
    const long long value = leadingWhole(sText.Trim());
    if (value > 2147483647LL || value < -2147483647LL - 1) return 0;
    return static_cast<int>(value);
}

double CoreDsed::getvd() const {
    const std::string prefix = decimalPrefix(sText.Trim());
    const double value = prefix.empty() ? 0.0 : CoreAnsx(prefix.c_str()).ToDouble();
    return std::isfinite(value) ? value : 0.0;
}

void CoreDsed::setFromOutside(const CoreAnsx& text) {
    if (bArmed) return;
    sText = text;
    if (valdt())
        sCommitted = sText;
    else
        sText = sCommitted;
}

void CoreDsed::setvs(const CoreAnsx& text) { setFromOutside(text); }
void CoreDsed::setvi(int value) { setFromOutside(CoreButl::intas(value)); }
void CoreDsed::setvd(double value) { setFromOutside(CoreButl::dotas(value)); }

void CoreDsed::draw_() {
    if (!pGrid || bHidden || iWidth < 1 || sText == CoreAnsx("0")) return;
    limitCursor();
    const char fill = bArmed ? '.' : ' ';
    CoreAnsx shown = sText.Length() > 0 ? sText : CoreAnsx(fill);
    if (bArmed) shown = CoreButl::rplce(shown, ' ', '.');
    pGrid->write(CoreButl::rpad_(shown, iWidth, fill), iColumn, iRow, iTextfont, false, false);
    if (bArmed) {
        const CoreAnsx padded = CoreButl::rpad_(shown, iWidth, fill);
        pGrid->write(CoreButl::sbstr(padded, iCursor + 1, 1), static_cast<short>(iColumn + iCursor), iRow, iCursorfont,
                     bInsert, false);
    }
}
