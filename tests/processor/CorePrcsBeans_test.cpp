// Beans: the rules every case follows (failed engine, booting, unserved ids, index domains), checked
// from a table of cases written independently of the engine's own, and the cases' forwards.
#include "ChunkFolder.h"
#include "CoreMmryTestAccess.h"
#include "HostBlocks.h"
#include "ProgramFolder.h"
#include "base/CoreLog_.h"
#include "base/CoreSgrd.h"
#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CorePrm_.h"
#include "base/CoreButl.h"
#include "convolution/CoreCnvl.h"
#include "processor/CoreDcry.h"
#include "processor/CoreMmry.h"
#include "tests/common/CountingAllocator.h"
#include "tests/common/LogCapture.h"
#include "tests/program/ProgramFixtures.h"

#include <atomic>
#include <functional>
#include <chrono>
#include <climits>
#include <map>
#include <sstream>
#include <thread>

namespace {

using BEAN = CorePrcs::BEANSTRUCT;

// One case: kind g(et), s(et), a(ction); type b h i l d t v; served while booting; index domain:
// the highest index (and subindex) the case accepts, -1 for cases that take no record, -2 for any.
struct Case {
    int32_t id;
    char kind;
    char type;
    bool always;
    int32_t top;
    int32_t subTop; // -1: the subindex is not checked
};

// The cases as the Parts list them, group by group: "kind type always top subTop : ids".
const char* const caseGroups = R"(
g b 0 -1 -1 : 2 11 20 21 23 24 25 26 27 31 33 35 37
g b 1 -1 -1 : 22 41 42 46 53 58 59 60 63 81 146 147 148 181 218 226 248 255 256 258
g b 1 -2 -1 : 14 157
g b 1 9 -1 : 154 192
g b 1 7 -1 : 108 109
g b 1 H -1 : 162
g b 1 15 -1 : 196 206 207
g d 0 -1 -1 : 0 1 3 4 5 8 12 14 19 34 36
g d 1 3 -1 : 92 93 94 95 96 97
g d 1 7 -1 : 106 107
g d 1 4 -1 : 113 122 123 124 125 259
g d 1 1 -1 : 131 132 135 136
g d 1 1 3 : 134
g d 1 15 -1 : 199 200 208 209 214 215 216 217
g d 1 H -1 : 150 151
g d 1 H 1 : 159 160 161
g d 0 9 -1 : 155 156 193
g d 1 9 -1 : 188 189 235
g d 1 3 -1 : 219
g h 1 -1 -1 : 21 32 38 43 45 48 50 51 54 55 73 74 75 221 251
g h 1 4 -1 : 112
g h 1 1 -1 : 129 130
g h 1 1 3 : 138
g h 1 9 -1 : 194
g h 1 7 -1 : 220
g i 1 -1 -1 : 44 67 69 85 86 145 172 173 182 183 184 185 239 246 257
g i 1 1 -1 : 166
g i 1 -2 -1 : 168 169 174
g i 1 4 -1 : 260
g l 0 -1 -1 : 6 7 10 28 29 30
g l 1 -1 -1 : 49 52 61 65 70 71 236
g l 1 4 -1 : 114 115 117 118
g l 1 1 3 : 137
g l 1 H -1 : 149
g l 1 1 -1 : 158
g t 0 -1 -1 : 9 13 15 16 17 18 39 40 76
g t 0 9999 -1 : 87
g t 0 9 -1 : 152 153
g t 1 -1 -1 : 47 56 62 64 68 72 77 101 102 145 224 226 227 228 247 249 250
g t 1 3 -1 : 89 90 91
g t 1 7 -1 : 103 110 111
g t 1 4 -1 : 116 119 252 253 261
g t 1 1 -1 : 126 127 128 139 140 141 142
g t 1 9999 -1 : 167 177 232
g t 1 -2 -1 : 170 221 239
g t 1 9999 2 : 175
g t 1 2 -1 : 176
g t 1 15 -1 : 197 198 201 202 203 204 210 211
g t 1 9 -1 : 229 230 231
s h 1 -1 -1 : 21 32 38 45 50 51 54 55 180
s h 1 -2 -1 : 179
s h 1 4 -1 : 112
s h 1 1 -1 : 129 130
s h 1 1 3 : 138
s i 1 -1 -1 : 44 66 67 78 82 84 88
s i 1 9 -1 : 178
s i 1 -2 -1 : 186 245
s i 1 4 -1 : 260
s l 0 -1 -1 : 7 10 30 83
s l 1 -1 -1 : 52 65 70 236
s l 1 1 -1 : 158
s l 1 4 -1 : 114 115 117 118
s l 1 1 3 : 137
s d 0 -1 -1 : 0 1 8 12 19
s d 0 9 -1 : 155 156
s d 1 9 -1 : 188 189 190 191 193 235
s d 1 H -1 : 150
s d 1 H 1 : 161
s d 1 3 -1 : 92 93 98 99
s d 1 4 -1 : 120 259
s d 1 1 -1 : 131 132 135 136
s d 1 1 3 : 134
s d 1 15 -1 : 214 215 216 217
s b 0 -1 -1 : 11 20 21 23 24 33 35 37 41
s b 1 -1 -1 : 53 144 254 258
s b 1 9 -1 : 187
s b 1 H -1 : 165
s b 1 15 -1 : 196
s t 1 -1 -1 : 62 223 224 233 234 237 238
s t 0 -1 -1 : 9 13 39 56 64 87
s t 1 2 -1 : 171 176
s t 1 3 -1 : 90 91 100
s t 1 7 -1 : 103 104 105
s t 1 4 -1 : 116 119 252 253 261
s t 1 1 -1 : 126 127 128 139 140 141 142
s t 1 15 -1 : 197 198 201 202 203 204 210 211
s t 1 9999 -1 : 167 177
s t 1 9999 2 : 170
a v 1 -1 -1 : 79 80 222 225 239 241 242 243 244
a v 1 4 -1 : 121
a v 1 1 -1 : 133 143
a v 1 15 -1 : 195
a v 1 15 15 : 205
)";

constexpr int32_t kHarmonicTop = -3; // "H": HDIMMAX, filled in per engine

std::vector<Case> cases() {
    std::vector<Case> out;
    std::istringstream lines(caseGroups);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty()) continue;
        std::istringstream in(line);
        std::string kind, type, always, top, subTop, colon;
        in >> kind >> type >> always >> top >> subTop >> colon;
        for (int32_t id; in >> id;)
            out.push_back({id, kind[0], type[0], always == "1", top == "H" ? kHarmonicTop : std::stoi(top),
                           std::stoi(subTop)});
    }
    return out;
}

const Case* findCase(const std::vector<Case>& all, char kind, char type, int32_t id) {
    for (const Case& c : all)
        if (c.id == id && c.kind == kind && c.type == type) return &c;
    return nullptr;
}

const char kinds[] = {'g', 's', 'a'};
const char types[] = {'b', 'h', 'i', 'l', 'd', 't', 'v'};

// Calls one case; a getter's answer as text, "" for setters and actions.
std::string call(CorePrcs& e, char kind, char type, int32_t id, BEAN* b) {
    if (kind == 'g') {
        switch (type) {
        case 'b': return std::to_string(e.getbb(id, b));
        case 'h': return std::to_string(e.getbh(id, b));
        case 'i': return std::to_string(e.getbi(id, b));
        case 'l': return std::to_string(e.getbl(id, b));
        case 'd': return CoreAnsx(e.getbd(id, b)).c_str();
        case 't': return std::string("\"") + e.getbs(id, b).c_str() + "\"";
        default: return "";
        }
    }
    if (kind == 's') {
        switch (type) {
        case 'b': e.setbb(id, true, b); break;
        case 'h': e.setbh(id, 3, b); break;
        case 'i': e.setbi(id, 3, b); break;
        case 'l': e.setbl(id, 3, b); break;
        case 'd': e.setbd(id, 0.375, b); break;
        case 't': e.setbs(id, CoreAnsx("MIX3"), b); break;
        default: break;
        }
    }
    if (kind == 'a' && type == 'v') e.setbv(id, b);
    return "";
}

std::string zeroOf(char type, bool failed) {
    if (type == 't') return failed ? "\"0\"" : "\"\"";
    if (type == 'd') return "0";
    return "0";
}

// ---- forwards -------------------------------------------------------------------------------------

// What a row's forward check reads: the engine, its program and memory, and the index record.
struct Ctx {
    CorePrcs& e;
    CoreProg& p;
    CoreMmry* m;
    int16_t i, s;
};
using Read = std::function<std::string(const Ctx&)>;

std::string B(bool v) { return std::to_string(v); }
std::string N(int64_t v) { return std::to_string(v); }
std::string D(double v) { return CoreAnsx(v).c_str(); }
std::string T(const CoreAnsx& v) { return "\"" + std::string(v.c_str()) + "\""; }
std::string T(const std::string& v) { return "\"" + v + "\""; }
std::string K(CorePrcs& e, const char* key) { return CorePrcsTestAccess::probe(e, key); }
std::string F(CorePrcs& e, const char* name) { return CorePrcsTestAccess::field(e, name); }

// One forward per (kind, type, id): for a getter the accessor it equals at the top index of its
// domain; for a setter (written with value, at the top index) the accessor that shows the write, read
// after 121, 133 or 143 for follower, dynamics and envelope rows; for an action its effect. expect ""
// means the value as the getter of that type would print it; "!" that the read changed, "=" that it
// did not. prepare runs before the call; index and subindex, when set, replace the top ones.
struct Forward {
    std::string key; // kind, type, id: "gd92"
    Read read;
    std::string value = "";
    std::string expect = "";
    std::function<void(const Ctx&)> prepare = nullptr;
    int32_t index = INT_MIN, subindex = INT_MIN;
};

// The control text as the Parts print it: a mapped parameter's label, units and value (3 decimals),
// else the control's, decibels for the unit "dB".
std::string controlText(const Ctx& c, int which) {
    CoreIfce* control = c.p.getif(c.i);
    const int16_t mapped = control->getcp();
    CorePrm_* parameter = mapped >= 0 ? c.p.getpm(mapped) : nullptr;
    if (which == 0) return T(parameter ? parameter->getlb() : control->getlb());
    if (which == 2) return T(parameter ? parameter->getun() : control->getun());
    if (parameter)
        return T(parameter->getpu() + CoreAnsx::_FloatToStrF(parameter->getvl(), 0, 15, 3) + parameter->getou());
    double v = control->getvl(false);
    if (control->getun() == CoreAnsx("dB")) v = v > 0.0 ? std::max(-192.64, 20.0 * std::log10(v)) : -192.64;
    return T(CoreAnsx::_FloatToStrF(v, 0, 15, 3));
}

// One of the MIDI fields bean 180 fills: status, controller, channel + 1, value.
std::string midiField(const Ctx& c, int which) {
    std::istringstream fields(F(c.e, "midi"));
    std::string field;
    for (int k = 0; k <= which; ++k) std::getline(fields, field, '/');
    return field;
}

std::vector<Forward> forwards(const std::string& data) {
    using A = CorePrcsTestAccess;
    const std::string path = data + "/";
    return {
        // getters, bool
        {"gb2", [](const Ctx& c) { return B(c.m->getwp(A::currentSlot(c.e))); }},
        {"gb11", [](const Ctx& c) { return B(A::ownRate(c.e)); }},
        {"gb20", [](const Ctx& c) { return K(c.e, "SCANBOOT"); }},
        {"gb21", [](const Ctx& c) { return K(c.e, "FASTBOOT"); }},
        {"gb22", [](const Ctx& c) { return B(K(c.e, "FASTBOOT") == "1" && K(c.e, "found")[1] == '0'); }},
        {"gb23", [](const Ctx& c) { return B(c.p.getf2()); }},
        {"gb24", [](const Ctx& c) { return B(c.p.getfi()); }},
        {"gb25", [](const Ctx& c) { return B(A::useWorker(c.e)); }},
        {"gb26", [](const Ctx& c) { return F(c.e, "hasworker"); }},
        {"gb27", [](const Ctx& c) { return B(c.p.getfh()); }},
        {"gb31", [](const Ctx& c) { return B(c.p.getfr() != c.p.getcr()); }},
        {"gb33", [](const Ctx& c) { return B(c.p.getfm()); }},
        {"gb35", [](const Ctx& c) { return K(c.e, "NODROP"); }},
        {"gb37", [](const Ctx& c) { return K(c.e, "AUTOTHREAD"); }},
        {"gb41", [](const Ctx& c) { return K(c.e, "MODE"); }},
        {"gb42", [](const Ctx& c) { return B(A::anyRefused(c.e)); }},
        {"gb46", [](const Ctx& c) { return B(A::busy(c.e).getvl()); }},
        {"gb53", [](const Ctx& c) { return B(c.e.getby()); }},
        {"gb58", [](const Ctx& c) { return B(c.p.getnc()); }},
        // 59, 60, 63, 81: flags the getter consumes, raised first.
        {"gb59", [](const Ctx&) { return "1"; }, "", "", [](const Ctx& c) { A::midi(c.e).mdctr(0, 0, 1, 1, 0); }},
        {"gb60", [](const Ctx&) { return "1"; }, "", "", [](const Ctx& c) { A::paramsUpdated(c.e) = true; }},
        {"gb63", [](const Ctx&) { return "1"; }, "", "", [](const Ctx& c) { A::meterFlag(c.e) = true; }},
        {"gb81", [](const Ctx&) { return "1"; }, "", "", [](const Ctx& c) { A::meterFlag(c.e) = true; }},
        {"gb108", [](const Ctx& c) { return B(c.p.getfn(c.i)->getfa()->iscst()); }},
        {"gb109", [](const Ctx& c) { return B(c.p.getfn(c.i)->getfb()->iscst()); }},
        {"gb14", [](const Ctx&) { return "1"; }, "", "", nullptr, 0, 0}, // SMOOTH 0 applies
        {"gb146", [](const Ctx& c) { return B(c.e.getbt().first); }},
        {"gb147", [](const Ctx& c) { return B(c.e.getbt().last); }},
        {"gb148", [](const Ctx& c) { return B(c.e.getbt().result); }},
        {"gb154", [](const Ctx& c) { return B(c.p.getif(c.i)->isalt()); }},
        {"gb157", [](const Ctx& c) {
             const CoreCnvl* first = A::records(c.e)[0].convolver;
             return B(first->getbe(c.i) && first->ldble(c.i));
         }, "", "", nullptr, 0, 0},
        {"gb162", [](const Ctx& c) { return B(c.e.getoe(c.i, 0)); }, "", "", nullptr, INT_MIN, 0},
        {"gb181", [](const Ctx& c) { return F(c.e, "midilearn"); }},
        {"gb192", [](const Ctx& c) { return B(c.p.getif(c.i)->isval(true)); }},
        {"gb196", [](const Ctx& c) { return B(c.p.getpm(c.i)->isdis()); }},
        {"gb206", [](const Ctx& c) { return B(c.p.getpm(c.i)->getfa()->iscst()); }},
        {"gb207", [](const Ctx& c) { return B(c.p.getpm(c.i)->getfb()->iscst()); }},
        {"gb218", [](const Ctx& c) { return B(A::clipShown(c.e)); }},
        {"gb226", [](const Ctx&) { return "1"; }}, // an empty batch store ends at once
        {"gb248", [](const Ctx& c) { return B(c.m->islte()); }},
        {"gb255", [](const Ctx& c) { return F(c.e, "quadactive"); }},
        {"gb256", [](const Ctx& c) { return K(c.e, "LEGACYSTEREOCHANNEL"); }},
        {"gb258", [](const Ctx& c) { return F(c.e, "bypassrequest"); }},
        // getters, double
        {"gd0", [](const Ctx& c) { return D(c.p.getpi()); }},
        {"gd1", [](const Ctx& c) { return D(c.p.getpo()); }},
        {"gd3", [](const Ctx& c) { return D(2.0 * c.p.getif(8)->getvl(false)); }},
        {"gd4", [](const Ctx& c) { return D(2.0 * c.p.getif(9)->getvl(false)); }},
        {"gd5", [](const Ctx& c) { return D(c.p.getsz()); }},
        {"gd8", [](const Ctx& c) { return D(c.p.getff()); }},
        {"gd12", [](const Ctx& c) { return D(c.p.getdr()); }},
        {"gd14", [](const Ctx& c) { return D(A::smooth(c.e) + 1.0); }},
        {"gd19", [](const Ctx& c) {
             const int32_t rate = A::sampleRate(c.e);
             return D(CoreButl::upftp(rate, CoreButl::tpfup(rate, std::stoll(K(c.e, "AHEADLENGTH")))));
         }},
        {"gd34", [](const Ctx& c) { return F(c.e, "tempo"); }},
        {"gd36", [](const Ctx& c) { return D(CoreButl::upftp(A::sampleRate(c.e), 64 * std::stoll(F(c.e, "dspdim")))); }},
        {"gd92", [](const Ctx& c) { return D(c.p.getlf(c.i)->getqt()); }},
        {"gd93", [](const Ctx& c) { return D(c.p.getlf(c.i)->getph()); }},
        {"gd94", [](const Ctx& c) { return D(c.p.getlf(c.i)->getrt()->getbl()); }},
        {"gd95", [](const Ctx& c) { return D(c.p.getlf(c.i)->getrt()->getbu()); }},
        {"gd96", [](const Ctx& c) { return D(c.p.getlf(c.i)->getrt()->getsl()); }},
        {"gd97", [](const Ctx& c) { return D(c.p.getlf(c.i)->getrt()->getsu()); }},
        {"gd106", [](const Ctx& c) { return D(c.p.getfn(c.i)->getfa()->getcv()); }},
        {"gd107", [](const Ctx& c) { return D(c.p.getfn(c.i)->getfb()->getcv()); }},
        {"gd113", [](const Ctx& c) { return D(c.p.getef(c.i)->getba()); }},
        {"gd122", [](const Ctx& c) { return D(c.p.getef(c.i)->getat()->getsl()); }},
        {"gd123", [](const Ctx& c) { return D(c.p.getef(c.i)->getat()->getsu()); }},
        {"gd124", [](const Ctx& c) { return D(c.p.getef(c.i)->getrl()->getsl()); }},
        {"gd125", [](const Ctx& c) { return D(c.p.getef(c.i)->getrl()->getsu()); }},
        {"gd259", [](const Ctx& c) { return D(c.p.getef(c.i)->gethf()); }},
        {"gd131", [](const Ctx& c) { return D(c.p.getdy(c.i)->getbd(3)); }},
        {"gd132", [](const Ctx& c) { return D(c.p.getdy(c.i)->getbd(4)); }},
        {"gd134", [](const Ctx& c) { return D(c.p.geten(c.i)->getlv()[c.s]); }},
        {"gd135", [](const Ctx& c) { return D(c.p.geten(c.i)->getlf()); }},
        {"gd136", [](const Ctx& c) { return D(c.p.geten(c.i)->gettf()); }},
        {"gd150", [](const Ctx& c) { return D(c.e.getco(c.i)); }},
        {"gd151", [](const Ctx& c) { return D(c.e.getmo(c.i)); }},
        {"gd159", [](const Ctx& c) { return D(c.e.getib(c.i, c.s, false)); }},
        {"gd160", [](const Ctx& c) { return D(c.e.getib(c.i, c.s, true)); }},
        {"gd161", [](const Ctx& c) { return D(c.e.getod(c.i, c.s)); }},
        {"gd155", [](const Ctx& c) { return D(c.p.getif(c.i)->getvl(false)); }},
        {"gd156", [](const Ctx& c) { return D(c.p.getif(c.i)->getvl(true)); }},
        {"gd193", [](const Ctx& c) { return D(c.p.getif(c.i)->getvl(true)); }},
        {"gd188", [](const Ctx& c) { return D(c.p.getif(c.i)->getiv(false)); }},
        {"gd189", [](const Ctx& c) { return D(c.p.getif(c.i)->getiv(true)); }},
        {"gd235", [](const Ctx& c) { return D(c.p.getif(c.i)->getpa()); }},
        {"gd219", [](const Ctx& c) { return D(A::meterShown(c.e, c.i)); }},
        {"gd199", [](const Ctx& c) { return D(c.p.getpm(c.i)->getbf()); }},
        {"gd200", [](const Ctx& c) { return D(c.p.getpm(c.i)->getvl()); }},
        {"gd208", [](const Ctx& c) { return D(c.p.getpm(c.i)->getfa()->getcv()); }},
        {"gd209", [](const Ctx& c) { return D(c.p.getpm(c.i)->getfb()->getcv()); }},
        {"gd214", [](const Ctx& c) { return D(c.p.getpm(c.i)->getmn()); }},
        {"gd215", [](const Ctx& c) { return D(c.p.getpm(c.i)->getmx()); }},
        {"gd216", [](const Ctx& c) { return D(c.p.getpm(c.i)->getbn()); }},
        {"gd217", [](const Ctx& c) { return D(c.p.getpm(c.i)->getbx()); }},
        // getters, short
        {"gh21", [](const Ctx& c) { return K(c.e, "FASTBOOT"); }},
        {"gh32", [](const Ctx& c) { return K(c.e, "FONTCOLOUR"); }},
        {"gh38", [](const Ctx& c) { return K(c.e, "LOADERPRIORITY"); }},
        {"gh43", [](const Ctx& c) { return K(c.e, "HDIMMAX"); }},
        {"gh45", [](const Ctx& c) { return N(static_cast<int16_t>(A::exportQuality(c.e))); }},
        {"gh48", [](const Ctx& c) { return K(c.e, "METERTYPE"); }},
        {"gh50", [](const Ctx& c) { return K(c.e, "OTIMED"); }},
        {"gh51", [](const Ctx& c) { return K(c.e, "OFREQD"); }},
        {"gh54", [](const Ctx& c) { return K(c.e, "HDIM"); }},
        {"gh55", [](const Ctx& c) { return N(c.p.getsh()); }},
        {"gh73", [](const Ctx& c) { return K(c.e, "DL"); }},
        {"gh74", [](const Ctx& c) { return N(A::hdim(c.e) == 0 ? -1 : A::smooth(c.e)); }},
        {"gh75", [](const Ctx& c) { return N(A::harmonicsInUse(c.e)); }},
        {"gh221", [](const Ctx& c) { return F(c.e, "statusrows"); }},
        {"gh251", [](const Ctx& c) { return K(c.e, "FORCOLUMN"); }},
        {"gh112", [](const Ctx& c) { return N(c.p.getef(c.i)->getex()); }},
        {"gh129", [](const Ctx& c) { return N(c.p.getdy(c.i)->getst()); }},
        {"gh130", [](const Ctx& c) { return N(c.p.getdy(c.i)->getrc()); }},
        {"gh138", [](const Ctx& c) { return N(c.p.geten(c.i)->getcv()[c.s]); }},
        {"gh194", [](const Ctx& c) { return N(c.p.getif(c.i)->getcp()); }},
        {"gh220", [](const Ctx& c) { return N(A::led(c.e, c.i)); }},
        // getters, int
        {"gi44", [](const Ctx& c) { return N(A::sampleRate(c.e)); }},
        {"gi67", [](const Ctx& c) { return N(A::currentSlot(c.e)); }},
        {"gi69", [](const Ctx& c) { return F(c.e, "workdim"); }},
        {"gi85", [](const Ctx& c) { return F(c.e, "poolused"); }},
        {"gi86", [](const Ctx& c) { return F(c.e, "poolmax"); }},
        {"gi145", [](const Ctx& c) { return N(c.e.getbt().step); }},
        {"gi166", [](const Ctx& c) { return N(c.e.getpf(c.i)); }},
        {"gi168", [](const Ctx& c) { return N(c.m->getck(c.i, c.s, nullptr, 1)); }, "", "", nullptr, 0, 0},
        {"gi169", [](const Ctx& c) { return N(c.m->getbk(c.i, c.s)); }, "", "", nullptr, 0, 0},
        {"gi174", [](const Ctx& c) { return N(c.m->getbs()); }, "", "", nullptr, 0, 0},
        {"gi172", [](const Ctx& c) { return N(c.m->getbs()); }},
        {"gi173", [](const Ctx& c) { return N(c.m->getbc()); }},
        {"gi182", [](const Ctx& c) { return midiField(c, 0); }},
        {"gi183", [](const Ctx& c) { return midiField(c, 1); }},
        {"gi184", [](const Ctx& c) { return midiField(c, 2); }},
        {"gi185", [](const Ctx& c) { return midiField(c, 3); }},
        {"gi239", [](const Ctx& c) { return F(c.e, "queries"); }},
        {"gi246", [](const Ctx& c) { return N(c.m->gettn()); }},
        {"gi257", [](const Ctx&) { return "0"; }}, // no shared registry in the fixture
        {"gi260", [](const Ctx& c) { return N(c.p.getef(c.i)->getho()); }},
        // getters, long
        {"gl6", [](const Ctx& c) { return N(c.p.getsm()); }},
        {"gl7", [](const Ctx& c) { return N(c.p.getua()); }},
        {"gl10", [](const Ctx& c) { return N(c.e.getrc()); }},
        {"gl28", [](const Ctx& c) { return N(c.p.getfr()); }},
        {"gl29", [](const Ctx& c) { return N(c.p.getcr()); }},
        {"gl30", [](const Ctx& c) { return K(c.e, "RATECONVERSION"); }},
        {"gl49", [](const Ctx& c) { return N(A::reportedLatency(c.e)); }},
        {"gl52", [](const Ctx& c) { return F(c.e, "programrate"); }},
        {"gl61", [](const Ctx& c) { return N(c.e.getts()); }},
        {"gl65", [](const Ctx& c) { return K(c.e, "GUIRATE"); }},
        {"gl70", [](const Ctx& c) { return K(c.e, "FORCEOFFSET"); }},
        {"gl71", [](const Ctx& c) { return N(A::blockStep(c.e)); }},
        {"gl236", [](const Ctx& c) { return F(c.e, "saveddsp"); }},
        {"gl114", [](const Ctx& c) { return N(c.p.getef(c.i)->getma()); }},
        {"gl115", [](const Ctx& c) { return N(c.p.getef(c.i)->getxa()); }},
        {"gl117", [](const Ctx& c) { return N(c.p.getef(c.i)->getmr()); }},
        {"gl118", [](const Ctx& c) { return N(c.p.getef(c.i)->getxr()); }},
        {"gl137", [](const Ctx& c) { return N(c.p.geten(c.i)->gettm()[c.s]); }},
        {"gl149", [](const Ctx& c) { return N(c.p.getid(c.i)); }},
        {"gl158", [](const Ctx& c) { return N(c.e.getfl(c.i)); }},
        // getters, text
        {"gt9", [](const Ctx& c) { return T(c.p.getfs()); }},
        {"gt13", [](const Ctx& c) { return T(c.p.getys()); }},
        {"gt15", [](const Ctx& c) { return T(K(c.e, "datapath") + K(c.e, "SETUPSUBPATH")); }},
        {"gt16", [](const Ctx& c) { return T(K(c.e, "datapath") + K(c.e, "PROGRAMSUBPATH")); }},
        {"gt17", [](const Ctx& c) { return T(K(c.e, "datapath") + K(c.e, "VECTORSUBPATH")); }},
        {"gt101", [](const Ctx& c) { return T(K(c.e, "datapath") + K(c.e, "PROGRAMSUBPATH")); }},
        {"gt102", [](const Ctx& c) { return T(K(c.e, "datapath") + K(c.e, "VECTORSUBPATH")); }},
        {"gt18", [](const Ctx& c) { return T(K(c.e, "SETUPROMNAME")); }},
        {"gt39", [](const Ctx& c) { return T(c.p.getar()); }},
        {"gt40", [](const Ctx& c) { return T(F(c.e, "gpustatus")); }},
        {"gt76", [](const Ctx& c) { return T(c.e.getnp()); }},
        {"gt87", [](const Ctx& c) { return T(c.m->getpf(c.i)); }},
        {"gt152", [](const Ctx& c) { return T(c.p.getif(c.i)->getlb()); }},
        {"gt153", [](const Ctx& c) { return T(c.p.getif(c.i)->getun()); }},
        {"gt47", [](const Ctx&) { return T(CoreAnsx(CoreLog_::sCversion_)); }},
        {"gt56", [](const Ctx& c) { return T(c.p.getnm()); }},
        {"gt62", [](const Ctx& c) { return T(K(c.e, "datapath") + K(c.e, "SKINSUBPATH") + K(c.e, "skin")); }},
        {"gt64", [](const Ctx& c) { return T(c.p.getds()); }},
        {"gt68", [](const Ctx& c) { return T(c.e.getdt()); }},
        {"gt72", [](const Ctx& c) { return T(K(c.e, "datapath")); }},
        {"gt77", [](const Ctx& c) { return T(K(c.e, "MAGIC")); }},
        {"gt145", [](const Ctx& c) { return T(c.e.getbt().text); }},
        {"gt224", [](const Ctx& c) { return T(F(c.e, "batchitem")); }},
        {"gt226", [](const Ctx&) { return T(std::string()); }},
        {"gt227", [](const Ctx& c) { return T(K(c.e, "SERVERADDRESS")); }},
        {"gt228", [](const Ctx& c) { return T(K(c.e, "SERVERPORT")); }},
        {"gt247", [](const Ctx& c) { return T(c.m->gette()); }},
        {"gt249", [](const Ctx& c) { return T(c.m->gettt()); }},
        {"gt250", [](const Ctx& c) { return T(A::dictionary(c.e)->getvl(CoreAnsx("CATEGORY"), CoreAnsx("LST"))); }},
        {"gt89", [](const Ctx& c) { return T(c.p.getlf(c.i)->getrc()); }},
        {"gt90", [](const Ctx& c) { return T(c.p.getlf(c.i)->getsh()); }},
        {"gt91", [](const Ctx& c) { return T(c.p.getlf(c.i)->getps()); }},
        {"gt103", [](const Ctx& c) { return T(c.p.getfn(c.i)->getfn()); }},
        {"gt110", [](const Ctx& c) { return T(c.p.getfn(c.i)->getfa()->getsc()); }},
        {"gt111", [](const Ctx& c) { return T(c.p.getfn(c.i)->getfb()->getsc()); }},
        {"gt116", [](const Ctx& c) { return T(c.p.getef(c.i)->getat()->getsa()); }},
        {"gt119", [](const Ctx& c) { return T(c.p.getef(c.i)->getrl()->getsa()); }},
        {"gt252", [](const Ctx& c) { return T(c.p.getef(c.i)->getda()); }},
        {"gt253", [](const Ctx& c) { return T(c.p.getef(c.i)->getdr()); }},
        {"gt261", [](const Ctx& c) { return T(c.p.getef(c.i)->gethp()); }},
        {"gt126", [](const Ctx& c) { return T(c.p.getdy(c.i)->getbs(1)); }},
        {"gt127", [](const Ctx& c) { return T(c.p.getdy(c.i)->getbs(0)); }},
        {"gt128", [](const Ctx& c) { return T(c.p.getdy(c.i)->getbs(2)); }},
        {"gt139", [](const Ctx& c) { return T(c.p.geten(c.i)->getpr(0)->getsc()); }},
        {"gt140", [](const Ctx& c) { return T(c.p.geten(c.i)->getpr(1)->getsc()); }},
        {"gt141", [](const Ctx& c) { return T(c.p.geten(c.i)->getpr(2)->getsc()); }},
        {"gt142", [](const Ctx& c) { return T(c.p.geten(c.i)->getpr(3)->getsc()); }},
        {"gt167", [](const Ctx& c) { return T(c.m->getnm(c.i)); }},
        {"gt177", [](const Ctx& c) { return T(c.m->getds(c.i)); }},
        {"gt232", [](const Ctx& c) { return T(c.m->getcc(c.i)); }},
        {"gt170", [](const Ctx& c) { return T(c.m->getbc(c.i)); }, "", "", nullptr, 0, 0},
        {"gt221", [](const Ctx& c) { return T(F(c.e, "statusrow0")); }, "", "", nullptr, 0, 0},
        {"gt239", [](const Ctx&) { return T(std::string()); }, "", "", nullptr, 0, 0}, // nothing listed yet
        {"gt175", [](const Ctx& c) { return T(c.m->getct(c.i, c.s)); }},
        {"gt176", [](const Ctx& c) { return T(c.p.getct(c.i)); }},
        {"gt197", [](const Ctx& c) { return T(c.p.getpm(c.i)->getpl()); }},
        {"gt198", [](const Ctx& c) { return T(c.p.getpm(c.i)->getlb()); }},
        {"gt201", [](const Ctx& c) { return T(c.p.getpm(c.i)->getpu()); }},
        {"gt202", [](const Ctx& c) { return T(c.p.getpm(c.i)->getou()); }},
        {"gt203", [](const Ctx& c) { return T(c.p.getpm(c.i)->getun()); }},
        {"gt204", [](const Ctx& c) { return T(c.p.getpm(c.i)->getfn()); }},
        {"gt210", [](const Ctx& c) { return T(c.p.getpm(c.i)->getfa()->getsc()); }},
        {"gt211", [](const Ctx& c) { return T(c.p.getpm(c.i)->getfb()->getsc()); }},
        {"gt229", [](const Ctx& c) { return controlText(c, 0); }},
        {"gt230", [](const Ctx& c) { return controlText(c, 1); }},
        {"gt231", [](const Ctx& c) { return controlText(c, 2); }},

        // setters, short
        {"sh21", [](const Ctx& c) { return K(c.e, "FASTBOOT"); }, "1"},
        {"sh32", [](const Ctx& c) { return K(c.e, "FONTCOLOUR"); }},
        {"sh38", [](const Ctx& c) { return K(c.e, "LOADERPRIORITY"); }},
        {"sh45", [](const Ctx& c) { return N(A::exportQuality(c.e)); }},
        {"sh50", [](const Ctx& c) { return K(c.e, "OTIMED"); }, "2"},
        {"sh51", [](const Ctx& c) { return K(c.e, "OFREQD"); }, "10"},
        {"sh54", [](const Ctx& c) { return K(c.e, "HDIM"); }, "2"},
        {"sh55", [](const Ctx& c) { return N(c.p.getsh()); }, "2"},
        {"sh179", [](const Ctx& c) { return K(c.e, "midi3"); }, "3", "176/7", nullptr, 176, 7},
        {"sh180", [](const Ctx& c) { return F(c.e, "midi"); }, "3", "176/7/16/0"},
        {"sh112", [](const Ctx& c) { return N(c.p.getef(c.i)->getex()); }, "1"},
        {"sh129", [](const Ctx& c) { return N(c.p.getdy(c.i)->getst()); }, "0"},
        {"sh130", [](const Ctx& c) { return N(c.p.getdy(c.i)->getrc()); }},
        {"sh138", [](const Ctx& c) { return N(c.p.geten(c.i)->getcv()[c.s]); }, "2"},
        // setters, int
        {"si44", [](const Ctx& c) { return N(A::sampleRate(c.e)); }, "44100"},
        {"si66", [](const Ctx& c) { return F(c.e, "requestedrate"); }, "3000"},
        {"si78", [](const Ctx& c) { return F(c.e, "requestedrate"); }, "3500"},
        {"si82", [](const Ctx& c) { return D(c.p.getif(std::stoi(F(c.e, "focus")))->getvl(false)); }, "3", "!"},
        {"si84", [](const Ctx& c) { return N(A::hostBlock(c.e)); }, "128"},
        {"si67", [](const Ctx& c) { return N(A::currentSlot(c.e)); }},
        {"si178", [](const Ctx& c) {
             CoreIfce* control = c.p.getif(c.i);
             const double before = control->getvl(false);
             control->mswhl(1);
             return D(control->getvl(false) - before);
         }, "4", "0.25"},
        {"si186", [](const Ctx& c) { return N(std::lround(c.p.getif(3)->getvl(false) * 127)); },
         std::to_string(176 << 8 | 7 << 16 | 64 << 24), "64", nullptr, 0, 0},
        {"si245", [](const Ctx& c) { return N(c.m->gettn()); }, "3", "=", nullptr, 0, 0},
        {"si260", [](const Ctx& c) { return N(c.p.getef(c.i)->getho()); }, "2"},
        // setters, long
        {"sl7", [](const Ctx& c) { return N(c.p.getua()); }, "700"},
        {"sl10", [](const Ctx& c) { return N(c.e.getrc()); }, "4000", "!"}, // whole block steps
        {"sl30", [](const Ctx& c) { return K(c.e, "RATECONVERSION"); }},
        {"sl83", [](const Ctx& c) { return F(c.e, "focus"); }},
        {"sl52", [](const Ctx& c) { return F(c.e, "programrate"); }, "4500"},
        {"sl65", [](const Ctx& c) { return K(c.e, "GUIRATE"); }, "40"},
        {"sl70", [](const Ctx& c) { return K(c.e, "FORCEOFFSET"); }, "5"},
        {"sl236", [](const Ctx& c) { return F(c.e, "saveddsp"); }, "1024"},
        {"sl158", [](const Ctx& c) { return N(c.e.getfl(c.i)); }, "1500000"},
        {"sl114", [](const Ctx& c) { return N(c.p.getef(c.i)->getma()); }, "33"},
        {"sl115", [](const Ctx& c) { return N(c.p.getef(c.i)->getxa()); }, "3333"},
        {"sl117", [](const Ctx& c) { return N(c.p.getef(c.i)->getmr()); }, "44"},
        {"sl118", [](const Ctx& c) { return N(c.p.getef(c.i)->getxr()); }, "4444"},
        {"sl137", [](const Ctx& c) { return N(c.p.geten(c.i)->gettm()[c.s]); }, "777"},
        // setters, double
        {"sd0", [](const Ctx& c) { return D(c.p.getpi()); }},
        {"sd1", [](const Ctx& c) { return D(c.p.getpo()); }},
        {"sd8", [](const Ctx& c) { return D(c.p.getff()); }},
        {"sd12", [](const Ctx& c) { return D(c.p.getdr()); }},
        // 19 keeps the microseconds of the sample count it makes, rounded up.
        {"sd19", [](const Ctx& c) {
             const int64_t rate = A::sampleRate(c.e), count = CoreButl::tpfup(rate, 3000);
             return B(K(c.e, "AHEADLENGTH") == N((count * 1000000 + rate - 1) / rate));
         }, "3000", "1"},
        {"sd155", [](const Ctx& c) { return D(c.p.getif(c.i)->getvl(false)); }},
        {"sd156", [](const Ctx& c) { return D(c.p.getif(c.i)->getvl(true)); }, "0.625"},
        {"sd188", [](const Ctx& c) { return D(c.p.getif(c.i)->getiv(false)); }, "0.8125"},
        {"sd189", [](const Ctx& c) { return D(c.p.getif(c.i)->getiv(true)); }, "0.4375"},
        {"sd190", [](const Ctx& c) { return D(c.p.getif(c.i)->getiv(false)); }, "0.125"},
        {"sd191", [](const Ctx& c) { return D(c.p.getif(c.i)->getiv(true)); }, "0.625"},
        {"sd193", [](const Ctx& c) { return D(c.p.getif(c.i)->getvl(true)); }, "0.5"},
        {"sd235", [](const Ctx& c) { return D(c.p.getif(c.i)->getpa()); }},
        {"sd150", [](const Ctx& c) { return D(c.e.getco(c.i)); }, "2000", "", nullptr, 0, 0}, // a harmonic in use
        {"sd161", [](const Ctx& c) { return D(c.e.getod(c.i, c.s)); }, "400000", "!", nullptr, 0, 1},
        {"sd92", [](const Ctx& c) { return D(c.p.getlf(c.i)->getqt()); }},
        {"sd93", [](const Ctx& c) { return D(c.p.getlf(c.i)->getph()); }, "30"},
        {"sd98", [](const Ctx& c) { return D(c.p.getlf(c.i)->getrt()->getsl()); }, "1.25"},
        {"sd99", [](const Ctx& c) { return D(c.p.getlf(c.i)->getrt()->getsu()); }, "7.5"},
        {"sd120", [](const Ctx& c) { return D(c.p.getef(c.i)->getba()); }},
        {"sd259", [](const Ctx& c) { return D(c.p.getef(c.i)->gethf()); }, "250"},
        {"sd131", [](const Ctx& c) { return D(c.p.getdy(c.i)->getbd(3)); }, "18"},
        {"sd132", [](const Ctx& c) { return D(c.p.getdy(c.i)->getbd(4)); }, "4.5"},
        {"sd134", [](const Ctx& c) { return D(c.p.geten(c.i)->getlv()[c.s]); }},
        {"sd135", [](const Ctx& c) { return D(c.p.geten(c.i)->getlf()); }},
        {"sd136", [](const Ctx& c) { return D(c.p.geten(c.i)->gettf()); }},
        {"sd214", [](const Ctx& c) { return D(c.p.getpm(c.i)->getmn()); }, "2.5"},
        {"sd215", [](const Ctx& c) { return D(c.p.getpm(c.i)->getmx()); }, "50"},
        {"sd216", [](const Ctx& c) { return D(c.p.getpm(c.i)->getbn()); }, "3.5"},
        {"sd217", [](const Ctx& c) { return D(c.p.getpm(c.i)->getbx()); }, "45"},
        // setters, bool
        {"sb11", [](const Ctx& c) { return B(A::ownRate(c.e)); }, "0"},
        {"sb20", [](const Ctx& c) { return K(c.e, "SCANBOOT"); }, "0"},
        {"sb21", [](const Ctx& c) { return K(c.e, "FASTBOOT"); }, "0"},
        {"sb23", [](const Ctx& c) { return B(c.p.getf2()); }, "0"},
        {"sb24", [](const Ctx& c) { return B(c.p.getfi()); }},
        {"sb33", [](const Ctx& c) { return B(c.p.getfm()); }},
        {"sb35", [](const Ctx& c) { return K(c.e, "NODROP") + F(c.e, "nosleep"); }, "1", "11"},
        {"sb37", [](const Ctx& c) { return K(c.e, "AUTOTHREAD"); }, "0"},
        {"sb41", [](const Ctx& c) { return K(c.e, "MODE"); }, "0"},
        {"sb53", [](const Ctx& c) { return B(c.e.getby()); }},
        {"sb144", [](const Ctx& c) { return N(c.e.getbt().step) + B(A::busy(c.e).getvl()); }, "0", "="}, // booted: nothing runs
        {"sb254", [](const Ctx& c) { return B(A::quadWanted(c.e)); }, "0"},
        {"sb258", [](const Ctx& c) { return F(c.e, "bypassrequest") + B(c.e.getby()); }, "0", "00"},
        {"sb187", [](const Ctx& c) { return B(c.p.getif(c.i)->isalt()); }},
        {"sb165", [](const Ctx& c) { return B(c.p.getn3(c.i)); }},
        {"sb196", [](const Ctx& c) { return B(c.p.getpm(c.i)->isdis()); }, "0"},
        // setters, text
        {"st62", [](const Ctx& c) { return T(K(c.e, "SKINNAME")); }, "skins/Dark.q7s", "\"Dark.q7s\""},
        {"st223", [](const Ctx& c) { return T(F(c.e, "batchkey")); }, "KEY"},
        {"st224", [](const Ctx& c) { return T(F(c.e, "batchitem")); }},
        {"st233", [](const Ctx& c) { return T(F(c.e, "description")); }, path + "progs/PACKED.Q7P"},
        {"st234", [path](const Ctx&) { return B(readBytes(path + "progs/PACKED.Q7P").find("Rewritten") != std::string::npos); },
         "Rewritten", "1"},
        {"st237", [](const Ctx& c) { return T(F(c.e, "query")); }, path + "progs", "\"" + path + "progs|\""},
        {"st238", [](const Ctx& c) { return T(F(c.e, "query")); }, "*.XML", "\"" + path + "progs|*.XML\""},
        {"st9", [](const Ctx& c) { return T(c.p.getfs()); }},
        {"st13", [](const Ctx& c) { return T(c.p.getys()); }},
        {"st39", [](const Ctx& c) { return T(c.p.getar()); }},
        {"st56", [](const Ctx& c) { return T(c.p.getnm()); }, "Renamed"},
        {"st64", [](const Ctx& c) { return T(c.p.getds()); }, "Described"},
        {"st87", [](const Ctx& c) { return T(c.m->getpf(A::currentSlot(c.e))); }, "OTHER.XML", "!"},
        {"st171", [](const Ctx& c) { return N(c.m->getbs()); }, "Reverb", "!"},
        {"st176", [](const Ctx& c) { return T(c.p.getct(c.i)); }, "Huge"},
        {"st90", [](const Ctx& c) { return T(c.p.getlf(c.i)->getsh()); }, "Sine"},
        {"st91", [](const Ctx& c) { return T(c.p.getlf(c.i)->getps()); }},
        {"st100", [](const Ctx& c) { return T(c.p.getlf(c.i)->getrc()); }},
        {"st103", [](const Ctx& c) { return T(c.p.getfn(c.i)->getfn()); }, "a-b"},
        {"st104", [](const Ctx& c) { return T(c.p.getfn(c.i)->getfa()->getsc()); }},
        {"st105", [](const Ctx& c) { return T(c.p.getfn(c.i)->getfb()->getsc()); }},
        {"st116", [](const Ctx& c) { return T(c.p.getef(c.i)->getat()->getsa()); }},
        {"st119", [](const Ctx& c) { return T(c.p.getef(c.i)->getrl()->getsa()); }},
        {"st252", [](const Ctx& c) { return T(c.p.getef(c.i)->getda()); }},
        {"st253", [](const Ctx& c) { return T(c.p.getef(c.i)->getdr()); }},
        {"st261", [](const Ctx& c) { return T(c.p.getef(c.i)->gethp()); }},
        {"st126", [](const Ctx& c) { return T(c.p.getdy(c.i)->getbs(1)); }},
        {"st127", [](const Ctx& c) { return T(c.p.getdy(c.i)->getbs(0)); }},
        {"st128", [](const Ctx& c) { return T(c.p.getdy(c.i)->getbs(2)); }},
        {"st139", [](const Ctx& c) { return T(c.p.geten(c.i)->getpr(0)->getsc()); }},
        {"st140", [](const Ctx& c) { return T(c.p.geten(c.i)->getpr(1)->getsc()); }},
        {"st141", [](const Ctx& c) { return T(c.p.geten(c.i)->getpr(2)->getsc()); }},
        {"st142", [](const Ctx& c) { return T(c.p.geten(c.i)->getpr(3)->getsc()); }},
        {"st197", [](const Ctx& c) { return T(c.p.getpm(c.i)->getpl()); }, "3"},
        {"st198", [](const Ctx& c) { return T(c.p.getpm(c.i)->getlb()); }, "Width"},
        {"st201", [](const Ctx& c) { return T(c.p.getpm(c.i)->getpu()); }, "~"},
        {"st202", [](const Ctx& c) { return T(c.p.getpm(c.i)->getou()); }, "ms"},
        {"st203", [](const Ctx& c) { return T(c.p.getpm(c.i)->getun()); }, "Hz"},
        {"st204", [](const Ctx& c) { return T(c.p.getpm(c.i)->getfn()); }, "a+b"},
        {"st210", [](const Ctx& c) { return T(c.p.getpm(c.i)->getfa()->getsc()); }},
        {"st211", [](const Ctx& c) { return T(c.p.getpm(c.i)->getfb()->getsc()); }},
        {"st167", [](const Ctx& c) { return T(c.m->getnm(c.i)); }, "Named", "", nullptr, 2, 0},
        {"st177", [](const Ctx& c) { return T(c.m->getds(c.i)); }, "About", "", nullptr, 2, 0},
        {"st170", [](const Ctx& c) { return T(c.m->getct(c.i, c.s)); }, "Plates", "", nullptr, 2, 2},
        // actions
        {"av79", [](const Ctx& c) { return A::settingsDocument(c.e); }, "", "="}, // settings given as text
        {"av80", [](const Ctx& c) { return B(A::ringsHold(c.e, 0.0, true)); }, "", "1",
         [](const Ctx& c) { A::fillRings(c.e, 0.5); }},
        {"av121", [](const Ctx& c) { return D(c.p.getef(c.i)->getat()->getsl()); }, "", "55",
         [](const Ctx& c) { c.p.getef(c.i)->setma(55); }},
        {"av133", [](const Ctx& c) { return D(c.p.getdy(c.i)->getbd(3)); }, "", "9",
         [](const Ctx& c) { c.p.getdy(c.i)->setbd(3, 9.0); }},
        {"av143", [](const Ctx& c) { return D(c.p.geten(c.i)->getlf()); }, "", "0.75",
         [](const Ctx& c) { c.p.geten(c.i)->setlf(0.75); }},
        {"av195", [](const Ctx& c) { return D(c.p.getpm(c.i)->getvl()); }, "", "!",
         [](const Ctx& c) { c.p.getif(0)->setvl(c.p.getif(0)->getvl(false) > 0.5 ? 0.1 : 0.9, false); }, 0, 0},
        {"av205", [](const Ctx& c) { return T(c.p.getpm(15)->getlb()); }, "", "\"Label15\"", nullptr, 15, 14},
        {"av222", [](const Ctx& c) { return T(F(c.e, "statusrow0")); }, "", "\"\"",
         [](const Ctx& c) { A::statusBoard(c.e).addrw(CoreAnsx("one")), A::statusBoard(c.e).addrw(CoreAnsx("two")); }},
        {"av225", [](const Ctx& c) { return T(F(c.e, "batchitem")); }, "", "\"\""},
        {"av239", [](const Ctx& c) { return B(F(c.e, "queries") != "0"); }, "", "1"},
        {"av241", [](const Ctx& c) { return B(A::paramsUpdated(c.e)); }, "", "1",
         [](const Ctx& c) { A::paramsUpdated(c.e) = false; }},
        {"av242", [](const Ctx& c) { return N(c.m->getbs()); }, "", "="},
        {"av243", [](const Ctx& c) { return N(c.m->getbs()); }, "", "="},
        {"av244", [](const Ctx& c) { return N(c.m->gettn()); }, "", "="},
        // last: a load replaces every element
        {"si88", [](const Ctx& c) { return T(c.p.getnm()); }, "2", "\"Packed\""},
    };
}

// Calls a setter or action with a value given as text.
void callWith(CorePrcs& e, char kind, char type, int32_t id, BEAN* b, const std::string& value) {
    if (kind == 'a') return e.setbv(id, b);
    switch (type) {
    case 'b': return e.setbb(id, value == "1", b);
    case 'h': return e.setbh(id, static_cast<int16_t>(std::stoi(value)), b);
    case 'i': return e.setbi(id, std::stoi(value), b);
    case 'l': return e.setbl(id, std::stoi(value), b);
    case 'd': return e.setbd(id, std::stod(value), b);
    case 't': return e.setbs(id, CoreAnsx(value.c_str()), b);
    default: return;
    }
}

std::string defaultValue(char type) {
    switch (type) {
    case 'b': return "1";
    case 'd': return "0.375";
    case 't': return "MIX3";
    default: return "3";
    }
}

// A value as the getter of its type prints it.
std::string printed(char type, const std::string& value) {
    if (type == 'd') return D(std::stod(value));
    if (type == 't') return T(value);
    if (type == 'b') return value;
    return N(std::stoll(value));
}

// The action that applies a follower, dynamics or envelope setter's pending value; 0 for none.
int32_t applyingAction(int32_t id) {
    for (int32_t follower : {112, 114, 115, 116, 117, 118, 119, 120, 252, 253, 259, 260, 261})
        if (id == follower) return 121;
    if (id >= 126 && id <= 132) return 133;
    if (id >= 134 && id <= 142) return 143;
    return 0;
}

// The program writers' every-section document, with the elements it leaves out given values of their
// own (LFO4, FUN3..8, EVF3..5, DNM2, ENV2, the other parameters, the other MIX controls), so that every
// element has values and no two elements of a family agree.
std::string everySectionProgram() {
    using progtest::xml;
    const auto n = [](double v) { return std::string(CoreAnsx(v).c_str()); };
    std::string more = "LFO4{MINRATE=1.5 MAXRATE=6 SOURCE=MIX4 SHAPE=Triang PHASEFACTOR=90 PHASESOURCE=MIX2 "
                       "RATEQUANTIZE=0.5} ";
    for (int k = 3; k <= 8; ++k)
        more += "FUN" + std::to_string(k) + "{A=" + n(0.1 * k) + " B=MIX" + std::to_string(k) + " FUN=a+b} ";
    for (int k = 3; k <= 5; ++k)
        more += "EVF" + std::to_string(k) + "{EXP=" + std::to_string(k % 3) + " OUTPUTBALANCE=" + n(0.15 * k) +
                " BUSBALANCESOURCE=MIX" + std::to_string(k) + " FILTERSOURCE=LFO" + std::to_string(k - 2) +
                " FILTERFREQUENCY=" + std::to_string(100 * k) + " FILTERORDER=" + std::to_string(k) +
                " DATTACKSOURCE=MIX" + std::to_string(k + 1) + " DRELEASESOURCE=MIX" + std::to_string(k + 2) +
                " ENABLEEATERT=1 MINATTACK=" + std::to_string(1000 * k) + " MAXATTACK=" + std::to_string(20000 * k) +
                " ATTACKSOURCE=LFO" + std::to_string(k - 2) + " MINRELEASE=" + std::to_string(10000 * k) +
                " MAXRELEASE=" + std::to_string(110000 * k) + " RELEASESOURCE=FUN" + std::to_string(k) + "} ";
    more += "DNM2{RATIOEXPSOURCE=LFO2 THRESHOLDSOURCE=MIX3 INPUTSOURCE=EVF2 RATIOCURVE=2 RANGELIMIT=12 "
            "GAINPADFACTOR=-2} ENV2{CONTROL{ACTIVSOURCE=EVF2 DEACTIVSOURCE=LFO1} LEVEL{START=0.125 ATTACK=0.75 "
            "BREAK=0.375 SUSTAIN=0.625 COMMON{MODFACTOR=0.5 MODSOURCE=MIX4}} TIME{ATTACK=15000 DECAY=25000 "
            "SLOPE=35000 RELEASE=45000 COMMON{MODFACTOR=2 MODSOURCE=MIX5}} CURVE{ATTACK=2 DECAY=3 SLOPE=0 "
            "RELEASE=1}} MIX4=-0.25 MIX6=0.125 MIX7=0.875 MIX8=-0.75 ";
    std::string parameters;
    for (int k = 1; k <= 16; ++k) {
        if (k == 1 || k == 3) continue;
        const std::string j = std::to_string(k);
        parameters += "PRM" + j + "{PRELABEL=" + std::to_string((k - 1) % 8 + 1) + " LABEL=Label" + j +
                      " PREUNIT=pre" + j + " POSTUNIT=post" + j + " UNIT=u" + j + " MINVALUE=" + j +
                      " MAXVALUE=" + std::to_string(20 + k) + " BARMINVALUE=" + std::to_string(k + 1) +
                      " BARMAXVALUE=" + std::to_string(19 + k) +
                      (k == 16 ? " A=0.75" : " A=MIX" + std::to_string((k - 1) % 8 + 1)) +
                      " B=" + n(0.05 * k) + " FUN=a*b} ";
    }
    std::string text = progtest::fixtureText;
    text.insert(text.find("<DISPLAY>") + 9, xml(parameters));
    text.insert(text.rfind("</PROGRAM>"), xml(more));
    return text;
}

class CorePrcsBeansTest : public ChunkFolderTest {
protected:
    // The booted fixture engine with slot 1 (the every-section document) loaded.
    std::unique_ptr<CorePrcs> fixture(const std::string& more = "") {
        if (!std::filesystem::exists(data() / "setups/every.xml")) {
            writeFolder();
            progtest::writeFixtureFiles(pool, data() / "vectors");
            writeText(data() / "progs/EVERY.XML", everySectionProgram());
            std::string setup = bytesOf(data() / "setups/fixture.xml");
            setup.replace(setup.find("THREE.XML"), 9, "EVERY.XML");
            writeText(data() / "setups/every.xml", setup);
        }
        auto e = loaded(more, "every.xml");
        if (e->isfailed()) return e;
        BEAN none{0, 0};
        e->setbi(88, kThree, &none);
        return e;
    }
    // What a case that must change nothing could change.
    static std::string fingerprint(CorePrcs& e) {
        std::string out = Access::settingsDocument(e) + "|" + std::to_string(Access::currentSlot(e).load());
        out += "|" + std::to_string(Access::busy(e).getvl()) + std::to_string(e.getby());
        if (e.isfailed()) return out;
        CoreProg& p = Access::program(e);
        out += std::string("|") + p.getnm().c_str() + p.getds().c_str() + p.getct(0).c_str();
        out += CoreAnsx(p.getlf(0)->getph()).c_str() + std::string(p.getpm(0)->getlb().c_str());
        out += CoreAnsx(p.getif(0)->getvl(true)).c_str() + std::string(p.getef(0)->getda().c_str());
        return out;
    }
};

std::unique_ptr<CorePrcs> failedEngine(EngineFolderTest&, std::function<std::unique_ptr<CorePrcs>(const std::string&)> make) {
    return make("<WORKBUFFER>2000000000</WORKBUFFER><DSPBUFFER>65536</DSPBUFFER><FORCEOFFSET>2000000000</FORCEOFFSET>");
}

} // namespace

TEST_F(CorePrcsBeansTest, TheTableHasTheCasesOfTheParts) {
    const std::vector<Case> all = cases();
    std::map<char, int> perKind;
    for (const Case& c : all) ++perKind[c.kind];
    EXPECT_EQ(perKind['g'], 220);
    EXPECT_EQ(perKind['s'], 129);
    EXPECT_EQ(perKind['a'], 14);
}

TEST_F(CorePrcsBeansTest, UnservedCasesAnswerZeroAndChangeNothing) {
    auto e = fixture();
    ASSERT_FALSE(e->isfailed());
    const std::vector<Case> all = cases();
    const std::string before = fingerprint(*e);
    std::vector<int32_t> ids = {INT_MIN, INT_MAX};
    for (int32_t id = -1; id <= 300; ++id) ids.push_back(id);
    for (char kind : kinds)
        for (char type : types) {
            if ((kind == 'a') != (type == 'v')) continue;
            for (int32_t id : ids) {
                if (findCase(all, kind, type, id)) continue;
                BEAN b{0, 0};
                SCOPED_TRACE(std::string(1, kind) + type + std::to_string(id));
                EXPECT_EQ(call(*e, kind, type, id, &b), kind == 'g' ? zeroOf(type, false) : "");
            }
        }
    EXPECT_EQ(fingerprint(*e), before);
}

TEST_F(CorePrcsBeansTest, AFailedEngineAnswersZeroAndTextZero) {
    auto e = failedEngine(*this, [this](const std::string& s) { return make(s); });
    ASSERT_TRUE(e->isfailed());
    const std::string before = fingerprint(*e);
    for (const Case& c : cases()) {
        BEAN b{0, 0};
        SCOPED_TRACE(std::string(1, c.kind) + c.type + std::to_string(c.id));
        EXPECT_EQ(call(*e, c.kind, c.type, c.id, &b), c.kind == 'g' ? zeroOf(c.type, true) : "");
    }
    EXPECT_EQ(fingerprint(*e), before);
}

TEST_F(CorePrcsBeansTest, WhileBootingGatedCasesAnswerZeroOrDoNothing) {
    auto e = fixture();
    ASSERT_FALSE(e->isfailed());
    Access::busy(*e).setvl(true);
    const std::string before = fingerprint(*e);
    for (const Case& c : cases()) {
        if (c.always) continue;
        BEAN b{0, 0};
        SCOPED_TRACE(std::string(1, c.kind) + c.type + std::to_string(c.id));
        EXPECT_EQ(call(*e, c.kind, c.type, c.id, &b), c.kind == 'g' ? zeroOf(c.type, false) : "");
    }
    EXPECT_EQ(fingerprint(*e), before);
    // The rest answer while booting.
    EXPECT_EQ(e->getbl(52, nullptr), 3000);
    EXPECT_TRUE(e->getbb(46, nullptr));
    EXPECT_EQ(e->getbs(16, nullptr), CoreAnsx(""));
    EXPECT_NE(e->getbs(101, nullptr), CoreAnsx(""));
}

TEST_F(CorePrcsBeansTest, IndexesOutsideTheDomainGiveTheDefaultAndChangeNothing) {
    auto e = fixture();
    ASSERT_FALSE(e->isfailed());
    const int32_t hdimmax = e->getbh(43, nullptr);
    const std::string before = fingerprint(*e);
    for (const Case& c : cases()) {
        if (c.top == -1 || c.top == -2) continue;
        if (c.kind == 's' && c.id == 88) continue;
        const int32_t top = c.top == kHarmonicTop ? hdimmax : c.top;
        const int32_t subTop = c.subTop < 0 ? 0 : c.subTop;
        std::vector<BEAN> outside = {{-1, 0}, {top + 1, 0}, {65536, 0}, {INT_MIN, 0}};
        if (c.subTop >= 0) outside.insert(outside.end(), {{0, -1}, {0, subTop + 1}, {0, 65536}});
        SCOPED_TRACE(std::string(1, c.kind) + c.type + std::to_string(c.id));
        for (BEAN& b : outside)
            EXPECT_EQ(call(*e, c.kind, c.type, c.id, &b), c.kind == 'g' ? zeroOf(c.type, false) : "")
                << b.index << "/" << b.subindex;
        EXPECT_EQ(call(*e, c.kind, c.type, c.id, nullptr), c.kind == 'g' ? zeroOf(c.type, false) : "");
    }
    EXPECT_EQ(fingerprint(*e), before);
}

TEST_F(CorePrcsBeansTest, GettersForwardToTheElementTheIndexNames) {
    auto e = fixture();
    ASSERT_FALSE(e->isfailed());
    CoreProg& p = Access::program(*e);
    struct Row {
        char type;
        int32_t id;
        int32_t index, subindex;
        std::function<std::string()> owner;
    };
    const auto d = [](double v) { return std::string(CoreAnsx(v).c_str()); };
    const auto t = [](const CoreAnsx& v) { return "\"" + std::string(v.c_str()) + "\""; };
    const std::vector<Row> rows = {
        {'d', 93, 3, 0, [&] { return d(p.getlf(3)->getph()); }},
        {'d', 92, 3, 0, [&] { return d(p.getlf(3)->getqt()); }},
        {'d', 107, 7, 0, [&] { return d(p.getfn(7)->getfb()->getcv()); }},
        {'d', 113, 4, 0, [&] { return d(p.getef(4)->getba()); }},
        {'d', 259, 4, 0, [&] { return d(p.getef(4)->gethf()); }},
        {'d', 131, 1, 0, [&] { return d(p.getdy(1)->getbd(3)); }},
        {'d', 132, 1, 0, [&] { return d(p.getdy(1)->getbd(4)); }},
        {'d', 134, 1, 3, [&] { return d(p.geten(1)->getlv()[3]); }},
        {'d', 135, 1, 0, [&] { return d(p.geten(1)->getlf()); }},
        {'d', 215, 15, 0, [&] { return d(p.getpm(15)->getmx()); }},
        {'d', 189, 9, 0, [&] { return d(p.getif(9)->getiv(true)); }},
        {'h', 112, 4, 0, [&] { return std::to_string(p.getef(4)->getex()); }},
        {'h', 130, 1, 0, [&] { return std::to_string(p.getdy(1)->getrc()); }},
        {'h', 138, 1, 3, [&] { return std::to_string(p.geten(1)->getcv()[3]); }},
        {'i', 260, 4, 0, [&] { return std::to_string(p.getef(4)->getho()); }},
        {'l', 118, 4, 0, [&] { return std::to_string(p.getef(4)->getxr()); }},
        {'l', 137, 1, 3, [&] { return std::to_string(p.geten(1)->gettm()[3]); }},
        {'l', 158, 1, 0, [&] { return std::to_string(e->getfl(1)); }},
        {'t', 198, 15, 0, [&] { return t(p.getpm(15)->getlb()); }},
        {'t', 90, 3, 0, [&] { return t(p.getlf(3)->getsh()); }},
        {'t', 56, 0, 0, [&] { return t(p.getnm()); }},
        {'t', 167, kThree, 0, [&] { return t(e->getmm()->getnm(kThree)); }},
        {'t', 175, kThree, 2, [&] { return t(e->getmm()->getct(kThree, 2)); }},
    };
    for (const Row& r : rows) {
        BEAN b{r.index, r.subindex};
        SCOPED_TRACE(std::string(1, r.type) + std::to_string(r.id));
        EXPECT_EQ(call(*e, 'g', r.type, r.id, &b), r.owner());
    }
    // Distinct per element: the top element's value is not element 0's.
    BEAN first{0, 0}, last{15, 0};
    EXPECT_NE(e->getbs(198, &first), e->getbs(198, &last));
}

TEST_F(CorePrcsBeansTest, EveryCaseForwardsToItsOwnerAtTheTopIndex) {
    const std::vector<Case> all = cases();
    const std::vector<Forward> table = forwards(data().string());
    std::map<std::string, const Forward*> byKey;
    for (const Forward& f : table) EXPECT_TRUE(byKey.emplace(f.key, &f).second) << "twice: " << f.key;
    for (const Case& c : all) EXPECT_EQ(byKey.count(std::string(1, c.kind) + c.type + std::to_string(c.id)), 1u)
        << "no forward: " << c.kind << c.type << c.id;
    EXPECT_EQ(byKey.size(), all.size());
    std::string alike;    // element getters whose top element reads as element 0
    std::string unshown;  // writes whose value the accessor showed already
    // Getters on one engine, then setters and actions in the table's order on another.
    for (const bool getters : {true, false}) {
        auto e = fixture();
        ASSERT_FALSE(e->isfailed());
        const int32_t hdimmax = e->getbh(43, nullptr);
        for (const Forward& f : table) {
            const char kind = f.key[0], type = f.key[1];
            const int32_t id = std::stoi(f.key.substr(2));
            const Case* c = findCase(all, kind, type, id);
            if (!c || (kind == 'g') != getters) continue;
            int32_t top = c->top == kHarmonicTop ? hdimmax : std::max(c->top, 0);
            int32_t sub = std::max(c->subTop, 0);
            if (f.index != INT_MIN) top = f.index;
            if (f.subindex != INT_MIN) sub = f.subindex;
            BEAN b{top, sub};
            const Ctx at{*e, Access::program(*e), e->getmm(), static_cast<int16_t>(top), static_cast<int16_t>(sub)};
            SCOPED_TRACE(f.key);
            if (f.prepare) f.prepare(at);
            if (getters) {
                const std::string expected = f.read(at);
                EXPECT_EQ(call(*e, kind, type, id, &b), expected);
                const Ctx first{at.e, at.p, at.m, 0, at.s};
                if ((c->top > 0 || c->top == kHarmonicTop) && type != 'b' && f.read(first) == expected)
                    alike += f.key + " ";
                continue;
            }
            const std::string before = f.read(at);
            const std::string value = f.value.empty() ? defaultValue(type) : f.value;
            callWith(*e, kind, type, id, &b, value);
            if (kind == 's' && applyingAction(id) != 0) e->setbv(applyingAction(id), &b);
            const std::string after = f.read(at);
            if (f.expect == "!")
                EXPECT_NE(after, before);
            else if (f.expect == "=")
                EXPECT_EQ(after, before);
            else {
                const std::string expected = f.expect.empty() ? printed(type, value) : f.expect;
                EXPECT_EQ(after, expected);
                if (before == expected) unshown += f.key + " ";
            }
        }
    }
    // A write that changes nothing shows nothing: every setter's value differs from the fixture's.
    EXPECT_EQ(unshown, "");
    // The LFO rate bounds are the engine's; meters, LEDs, the load figure and the bar fill are filled by
    // the audio path and the display update; no document sets a control's pan.
    EXPECT_EQ(alike, "gd94 gd95 gd235 gd219 gd199 gh220 gi166 ");
}

TEST_F(CorePrcsBeansTest, SettersReachTheElementAndPendingValuesWaitForTheirAction) {
    auto e = fixture();
    ASSERT_FALSE(e->isfailed());
    CoreProg& p = Access::program(*e);
    BEAN env{1, 2}, dyn{1, 0}, prm{3, 3};
    const double before = p.geten(1)->getlv()[2];
    e->setbd(134, 0.875, &env);
    EXPECT_EQ(e->getbd(134, &env), before); // pending until 143
    e->setbv(143, &env);
    EXPECT_EQ(e->getbd(134, &env), 0.875);
    e->setbs(126, CoreAnsx("LFO3"), &dyn);
    e->setbv(133, &dyn);
    EXPECT_STREQ(p.getdy(1)->getbs(1).c_str(), "LFO3");
    EXPECT_STRNE(p.getdy(1)->getbs(0).c_str(), "LFO3");
    const CorePrm_* third = p.getpm(3);
    e->setbv(205, &prm); // swapped with itself: unchanged
    EXPECT_EQ(p.getpm(3), third);
    BEAN lfo{2, 0};
    e->setbd(92, 0.0, &lfo);
    EXPECT_EQ(e->getbd(92, &lfo), 0.0);
    // 216/217 move the bar window at once.
    BEAN bar{2, 0};
    e->setbd(216, 5.0, &bar);
    EXPECT_EQ(e->getbd(216, &bar), 5.0);
    // Non-finite doubles are ignored.
    e->setbd(0, std::nan(""), nullptr);
    EXPECT_TRUE(std::isfinite(e->getbd(0, nullptr)));
}

TEST_F(CorePrcsBeansTest, EngineAndSettingBeansFollowTheParts) {
    auto e = fixture();
    ASSERT_FALSE(e->isfailed());
    BEAN zero{0, 0}, one{1, 0}, two{2, 0};
    // 158: selectors 0 and 1 only.
    e->setbl(158, 1234, &zero);
    e->setbl(158, 5678, &one);
    e->setbl(158, 9, &two);
    EXPECT_EQ(e->getbl(158, &zero), 1234);
    EXPECT_EQ(e->getbl(158, &one), 5678);
    EXPECT_EQ(e->getbl(158, &two), 0);
    // 52 with the current value leaves the program-rate flag; a new value raises it.
    e->setbb(11, false, nullptr);
    e->setbl(52, e->getbl(52, nullptr), nullptr);
    EXPECT_FALSE(e->getbb(11, nullptr));
    e->setbl(52, 4000, nullptr);
    EXPECT_TRUE(e->getbb(11, nullptr));
    EXPECT_EQ(e->getbl(52, nullptr), 4000);
    // 45 below 1 is clamped to 1; 70000 keeps its low 16 bits.
    e->setbh(45, -4, nullptr);
    EXPECT_EQ(e->getbh(45, nullptr), 1);
    Access::exportQuality(*e) = 70000;
    EXPECT_EQ(e->getbh(45, nullptr), static_cast<int16_t>(70000));
    // 44 also converts program times at the new rate; out-of-range rates are ignored.
    e->setbi(44, 44100, nullptr);
    EXPECT_EQ(e->getbi(44, nullptr), 44100);
    e->setbi(44, 0, nullptr);
    e->setbi(44, 2000000, nullptr);
    EXPECT_EQ(e->getbi(44, nullptr), 44100);
    // 19: microseconds of the configured sample count; negatives ignored.
    e->setbd(19, 3000.0, nullptr);
    EXPECT_DOUBLE_EQ(e->getbd(19, nullptr), 132 * 1e6 / 44100);
    e->setbd(19, -5.0, nullptr);
    EXPECT_DOUBLE_EQ(e->getbd(19, nullptr), 132 * 1e6 / 44100);
    // 62 keeps the file name only.
    e->setbs(62, CoreAnsx("skins/Dark.q7s"), nullptr);
    EXPECT_EQ(Access::probe(*e, "SKINNAME"), "Dark.q7s");
    // 49: the reported latency.
    EXPECT_EQ(e->getbl(49, nullptr), Access::reportedLatency(*e));
    // 67 / 88: slots outside 0..9999 change nothing.
    e->setbi(67, 10000, nullptr);
    e->setbi(67, -1, nullptr);
    EXPECT_EQ(e->getbi(67, nullptr), kThree);
    // 258 while booting only records the request; 53 does nothing.
    Access::busy(*e).setvl(true);
    const bool pass = e->getby();
    e->setbb(258, !pass, nullptr);
    e->setbb(53, !pass, nullptr);
    EXPECT_EQ(e->getby(), pass);
    EXPECT_EQ(e->getbb(258, nullptr), !pass);
}

TEST_F(CorePrcsBeansTest, ControlTextsPrintDecibelsAndMappedParameters) {
    auto e = fixture();
    ASSERT_FALSE(e->isfailed());
    CoreProg& p = Access::program(*e);
    CoreIfce* gainOut = p.getif(9);
    struct Row {
        double value;
        const char* text;
    };
    if (gainOut->getun() == CoreAnsx("dB") && gainOut->getcp() < 0) {
        for (const Row& r : {Row{0.0, "-192.640"}, Row{1.0, "0.000"}, Row{0.5, "-6.021"}}) {
            gainOut->setvl(r.value, false);
            BEAN b{9, 0};
            EXPECT_STREQ(e->getbs(230, &b).c_str(), r.text);
        }
    }
    // A control mapped to a user parameter shows pre-unit, value with 3 decimals, post-unit.
    CorePrm_* parameter = p.getpm(4);
    parameter->setvl(true, "0.5", "OFF", "a", "Depth", "1", "ms", "", "ms", 0.0, 5.0, 0.0, 5.0);
    BEAN control{0, 0};
    e->setbv(205, &control); // re-maps through adjif as a swap with itself does
    if (p.getif(0)->getcp() == 4) {
        EXPECT_STREQ(e->getbs(229, &control).c_str(), "Depth");
        const std::string shown = e->getbs(230, &control).c_str();
        EXPECT_EQ(shown.substr(shown.size() - 2), "ms");
    }
}

TEST_F(CorePrcsBeansTest, NoErrorLeavesABean) {
    auto e = fixture();
    ASSERT_FALSE(e->isfailed());
    // Slot 0's file vanished: the load throws inside; the bean answers and holds no lock.
    std::filesystem::remove(data() / "progs/INIT.XML");
    BEAN none{0, 0};
    EXPECT_NO_THROW(e->setbi(88, kMissing, &none));
    EXPECT_EQ(Access::engineLock(*e).counter(), 1);
    EXPECT_EQ(Access::blockLock(*e).counter(), 1);
    EXPECT_EQ(Access::beanLock(*e).counter(), 1);
    // An unreadable folder lists nothing.
    e->setbs(237, CoreAnsx((root / "no such folder").string().c_str()), nullptr);
    e->setbs(238, CoreAnsx("*.XML"), nullptr);
    EXPECT_NO_THROW(e->setbv(239, nullptr));
    EXPECT_EQ(e->getbi(239, nullptr), 0);
    BEAN row{0, 0};
    EXPECT_EQ(e->getbs(239, &row), CoreAnsx(""));
    e->setbs(237, CoreAnsx((data() / "progs").string().c_str()), nullptr);
    e->setbv(239, nullptr);
    EXPECT_GT(e->getbi(239, nullptr), 0);
}

TEST_F(CorePrcsBeansTest, ExemptBeansNeverWaitForTheBeanAndEngineLocks) {
    auto e = fixture();
    ASSERT_FALSE(e->isfailed());
    CoreSgrd bean(Access::beanLock(*e));
    CoreSgrd engine(Access::engineLock(*e));
    CoreSgrd block(Access::blockLock(*e));
    const hostblocks::Stereo input(200 * 64, 0.25);
    const hostblocks::Stereo output = hostblocks::run(*e, input, [] { return 64; });
    EXPECT_EQ(output.size(), input.size()); // every host call returned (the dry path: no engine lock)
    BEAN control{2, 0}, offset{-5, 0};
    e->setbd(155, 0.25, &control);
    e->setbd(156, 0.5, &control);
    e->setbv(80, nullptr);
    e->setbi(186, 0x402BB0, &offset);
    EXPECT_EQ(e->getbd(156, &control), 0.5);
    EXPECT_FALSE(e->getbb(46, nullptr));
}

// The batch page reads the status rows on every pass while a batch step holds the bean lock for as
// long as a program load takes: the rows answer through their own lock alone.
TEST_F(CorePrcsBeansTest, StatusRowBeansAnswerWhileAnotherThreadHoldsTheBeanLock) {
    auto e = fixture();
    ASSERT_FALSE(e->isfailed());
    BEAN row{0, 0};
    const CoreAnsx before = e->getbs(221, &row);
    std::atomic<bool> held{false}, answered{false};
    std::thread holder([&] {
        CoreSgrd bean(Access::beanLock(*e));
        held = true;
        while (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    while (!held) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(e->getbh(221, nullptr), 1);
    EXPECT_EQ(e->getbs(221, &row), before);
    answered = true;
    holder.join();

    // A program load adds its rows on the batch's thread while this one reads them.
    for (const auto& [key, value] : {std::pair{"NEXTSTEP", "READPROGRAM"}, std::pair{"NEWPROGRAM", "1"}}) {
        e->setbs(223, key, nullptr);
        e->setbs(224, value, nullptr);
    }
    std::atomic<bool> ended{false};
    std::thread batch([&] {
        while (!e->getbb(226, nullptr)) {
        }
        ended = true;
    });
    for (int reads = 0; !ended || reads == 0; ++reads) {
        e->getbs(221, &row);
        e->getbh(221, nullptr);
    }
    batch.join();
    EXPECT_FALSE(e->getbb(46, nullptr));
    EXPECT_EQ(Access::beanLock(*e).counter(), 1);
}

TEST_F(CorePrcsBeansTest, DisplayHostTickAndLoadsShareTheEngine) {
    auto e = fixture();
    ASSERT_FALSE(e->isfailed());
    const std::vector<Case> all = cases();
    std::atomic<bool> stop{false};
    std::atomic<bool> finite{true};
    std::thread audio([&] {
        const hostblocks::Stereo input(256, 0.25);
        while (!stop) {
            const hostblocks::Stereo out = hostblocks::run(*e, input, [] { return 64; });
            for (size_t i = 0; i < out.size(); ++i)
                if (!std::isfinite(out.left[i]) || !std::isfinite(out.right[i])) finite = false;
        }
    });
    std::thread host([&] {
        for (int n = 0; !stop; ++n) {
            BEAN control{n % 10, 0};
            e->getbs(229 + n % 3, &control);
            e->setbd(156, (n % 100) / 100.0, &control);
        }
    });
    std::thread tick([&] {
        BEAN slot{1, 0};
        while (!stop) {
            e->getbb(81, nullptr);
            e->getbb(60, nullptr);
            e->getbb(63, nullptr);
            e->getbi(166, &slot);
            e->getbb(46, nullptr);
        }
    });
    // The display: every row, setters with random values (rates, modes, layout and bypass from values
    // an editor offers), between getters; loads and saves, for about two seconds.
    uint32_t seed = 12345;
    const auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 8; };
    const auto pick = [&next](std::initializer_list<int32_t> values) { return values.begin()[next() % values.size()]; };
    const auto setRandom = [&](const Case& c, BEAN* b) {
        if (c.kind == 's' && c.type == 'i') {
            const int32_t value = c.id == 44                  ? pick({44100, 48000})
                                  : c.id == 66 || c.id == 78 ? 1000 + static_cast<int32_t>(next() % 4000)
                                  : c.id == 84               ? pick({64, 256, 512})
                                                             : static_cast<int32_t>(next() % 1000);
            e->setbi(c.id, value, b);
        } else if (c.kind == 's' && c.type == 'h') {
            const int32_t value = c.id == 50 ? pick({0, 1, 2, 3}) : c.id == 51 ? pick({0, 11}) :
                                  c.id == 54 || c.id == 55 ? pick({1, 2, 3}) : static_cast<int32_t>(next() % 8);
            e->setbh(c.id, static_cast<int16_t>(value), b);
        } else if (c.kind == 's' && c.type == 'l') {
            e->setbl(c.id, c.id == 236 ? 512 : 1000 + static_cast<int32_t>(next() % 99000), b);
        } else if (c.kind == 's' && c.type == 'd') {
            e->setbd(c.id, (next() % 1000) / 1000.0, b);
        } else if (c.kind == 's' && c.type == 'b') {
            e->setbb(c.id, next() % 2 == 1, b);
        } else if (c.kind == 's' && c.type == 't') {
            e->setbs(c.id, c.id == 62 ? CoreAnsx("skins/Dark.q7s") : CoreAnsx(("MIX" + std::to_string(next() % 8 + 1)).c_str()), b);
        } else {
            call(*e, c.kind, c.type, c.id, b);
        }
    };
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (int round = 0; std::chrono::steady_clock::now() < until; ++round) {
        for (const Case& c : all) {
            if (c.kind == 's' && (c.id == 88 || (c.type == 't' && c.id == 87))) continue; // loads: below
            const int32_t top = c.top == kHarmonicTop ? 1 : std::max(c.top, 0);
            BEAN b{static_cast<int32_t>(next() % (top + 1)),
                   c.subTop > 0 ? static_cast<int32_t>(next() % (c.subTop + 1)) : 0};
            setRandom(c, &b);
        }
        BEAN none{0, 0};
        e->setbi(88, round % 2 == 0 ? kPacked : kThree, &none);
        e->setbv(79, nullptr);
    }
    stop = true;
    audio.join();
    host.join();
    tick.join();
    EXPECT_TRUE(finite.load());
    EXPECT_EQ(Access::beanLock(*e).counter(), 1);
    EXPECT_EQ(Access::engineLock(*e).counter(), 1);
}

TEST_F(CorePrcsBeansTest, BootBeansDriveAndReportTheBoot) {
    writeBootFolder();
    // Step by step through 144 (false): 145 step and text, 146 first, 147 last, 148 result.
    struct Row {
        int calls;
        int32_t step;
        bool first, last, result, booting;
    };
    const Row rows[] = {
        {1, 0, true, false, true, true},
        {9, 8, false, false, true, true},
        {12, 11, false, true, true, false},
        {13, 11, false, true, true, false}, // past the end: nothing runs
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.calls);
        auto e = make(bootSettings(), kRate);
        ASSERT_FALSE(e->isfailed());
        for (int call = 0; call < r.calls; ++call) e->setbb(144, false, nullptr);
        EXPECT_EQ(e->getbi(145, nullptr), r.step);
        EXPECT_EQ(e->getbb(146, nullptr), r.first);
        EXPECT_EQ(e->getbb(147, nullptr), r.last);
        EXPECT_EQ(e->getbb(148, nullptr), r.result);
        EXPECT_EQ(e->getbb(46, nullptr), r.booting);
        EXPECT_EQ(e->getbs(145, nullptr), e->getbt().text);
    }
    // Run-all: every step in one call.
    auto e = make(bootSettings(), kRate);
    e->setbb(144, true, nullptr);
    EXPECT_EQ(e->getbi(145, nullptr), 11);
    EXPECT_STREQ(e->getbs(145, nullptr).c_str(), CoreLog_::sCwarngbeo);
    EXPECT_TRUE(e->getbb(148, nullptr));
    // 68 is the committed program text; 226 with an empty store ends the batch with no message.
    EXPECT_EQ(e->getbs(68, nullptr), e->getdt());
    EXPECT_NE(e->getbs(68, nullptr).Pos("<PROGRAM>"), 0);
    EXPECT_TRUE(e->getbb(226, nullptr));
    EXPECT_EQ(e->getbs(226, nullptr), CoreAnsx(""));
}

TEST_F(CorePrcsBeansTest, AThrowingBootStepAnswersThroughTheBootBeansAndFreesTheLocks) {
    writeBootFolder();
    // A packed INIT whose vector container exists nowhere: reading slot 0 throws at step 8.
    pack(data() / "progs/LONE.Q7P", {{"LONE.XML", program("Lone", tag("H1", leaf("IMP.WAV")))}});
    writeText(data() / "setups/gone.xml", tag("SETUP", entry(0, "LONE.Q7P") + entry(kRoom, "ROOM.XML")));
    auto e = make(bootSettings(tag("SETUPROMNAME", "gone.xml")), kRate);
    ASSERT_FALSE(e->isfailed());
    const LogCapture log(1);
    EXPECT_NO_THROW(e->setbb(144, true, nullptr));
    EXPECT_FALSE(e->getbb(148, nullptr));
    EXPECT_EQ(e->getbi(145, nullptr), 8);
    EXPECT_STREQ(e->getbs(145, nullptr).c_str(), "PROGRAM #0 Ko: program not loaded (lone.q7p)");
    EXPECT_NE(log.text().find("Boot failed at step 8"), std::string::npos);
    for (CoreSmph* lock : {&Access::beanLock(*e), &Access::engineLock(*e), &Access::blockLock(*e)})
        EXPECT_EQ(lock->counter(), 1);
    EXPECT_TRUE(e->getbb(46, nullptr)); // stays booting
}

TEST_F(CorePrcsBeansTest, TheDescriptionBeanRewritesAContainerAndLeavesGarbageAlone) {
    auto e = fixture();
    ASSERT_FALSE(e->isfailed());
    const auto file = root / "KICK.Q7P";
    pack(file, {{"KICK.XML", "<PROGRAM><NAME>Kick</NAME><DESCRIPTION>old</DESCRIPTION></PROGRAM>"}});
    e->setbs(233, CoreAnsx(file.string().c_str()), nullptr);
    e->setbs(234, CoreAnsx("new text"), nullptr);
    EXPECT_NE(bytesOf(file).find("new text"), std::string::npos);
    // A garbage container: the file stays byte for byte, a log line, every lock free.
    const std::string garbage = "Q7P\x01\x02 not a container <DIM>99999999</DIM>";
    writeText(file, garbage);
    const LogCapture log(1);
    EXPECT_NO_THROW(e->setbs(234, CoreAnsx("other"), nullptr));
    EXPECT_EQ(bytesOf(file), garbage);
    EXPECT_NE(log.text().find("Description not written"), std::string::npos);
    EXPECT_EQ(Access::beanLock(*e).counter(), 1);
    EXPECT_EQ(Access::engineLock(*e).counter(), 1);
}

TEST_F(CorePrcsBeansTest, MidiBeanAppliesEachEventOnceInOrderWithoutAllocating) {
    auto e = fixture();
    ASSERT_FALSE(e->isfailed());
    e->setms(0, 176, 7);
    const auto packed = [](uint32_t value) { return static_cast<int32_t>(0u | 176u << 8 | 7u << 16 | value << 24); };
    CoreIfce& mix1 = *Access::program(*e).getif(0);
    // A negative offset counts as 0: applied at once.
    BEAN now{-40, 0};
    e->setbi(186, packed(0), &now);
    EXPECT_EQ(mix1.getvl(false), 0.0);
    // Offsets 1..20 with rising values; posted in one go, none allocates.
    const long before = heapAllocations.load();
    for (int32_t k = 1; k <= 20; ++k) {
        BEAN at{k, 0};
        e->setbi(186, packed(static_cast<uint32_t>(k * 6)), &at);
    }
    EXPECT_EQ(heapAllocations.load() - before, 0);
    // Frame by frame, the block processor's MIDI update applies exactly the event due at that frame.
    for (int32_t k = 1; k <= 20; ++k) {
        e->mdupd(Access::midi(*e).updte(1));
        SCOPED_TRACE(k);
        EXPECT_NEAR(mix1.getvl(false), k * 6 / 127.0, 1e-6); // the slot keeps a float
    }
    e->mdupd(Access::midi(*e).updte(-1)); // nothing left
    EXPECT_NEAR(mix1.getvl(false), 120 / 127.0, 1e-6);
}

TEST_F(CorePrcsBeansTest, ALoadThatFindsNoFileKeepsThePlayingCrossfadeProgram) {
    auto e = fixture();
    ASSERT_FALSE(e->isfailed());
    ASSERT_GE(e->getbh(74, nullptr), 0); // the every-section program crossfades
    e->getmm()->clrpr(0);
    BEAN none{0, 0};
    e->setbi(88, kEmpty, &none); // neither the free slot nor slot 0 names a file
    const hostblocks::Stereo output = hostblocks::run(*e, hostblocks::Stereo(64 * 64, 0.25), [] { return 64; });
    for (size_t i = 0; i < output.size(); ++i) ASSERT_TRUE(std::isfinite(output.left[i]) && std::isfinite(output.right[i]));
}

// The edge cases the Parts list, the meanings this build settles and the faults it mends, one row each
// on a fresh fixture engine.
TEST_F(CorePrcsBeansTest, EdgeCasesSettledMeaningsAndMendedFaults) {
    struct Row {
        const char* name;
        std::function<void(CorePrcs&, CoreProg&)> check;
    };
    BEAN zero{0, 0}, one{1, 0}, two{2, 0}, free{kEmpty, 0};
    const std::vector<Row> rows = {
        {"166 keeps the last figure while a block holds blocklock", [&](CorePrcs& e, CoreProg&) {
             const int16_t last = e.getbi(166, &zero);
             CorePrcsTestAccess::loadFigure(e) = 0.5;
             CoreSgrd block(CorePrcsTestAccess::blockLock(e));
             EXPECT_EQ(e.getbi(166, &zero), last);
         }},
        {"174 keeps the browse level within 0..2", [&](CorePrcs& e, CoreProg&) {
             CoreMmryTestAccess::put(*e.getmm(), 20, "A", "Reverb", "Halls", "Large");
             BEAN up{1, 0}, far{5, 0};
             for (int k = 0; k < 3; ++k) e.getbi(174, &up);
             e.getbi(174, &far);
             EXPECT_LE(e.getmm()->setbb(0), 2);
         }},
        {"while booting 16 is empty and 101 the same path", [&](CorePrcs& e, CoreProg&) {
             const CoreAnsx path = e.getbs(16, nullptr);
             CorePrcsTestAccess::busy(e).setvl(true);
             EXPECT_EQ(e.getbs(16, nullptr), CoreAnsx(""));
             EXPECT_EQ(e.getbs(101, nullptr), path);
         }},
        {"230 prints decibels of a dB control", [&](CorePrcs& e, CoreProg& p) {
             CoreIfce* control = p.getif(9); // GAINOUT: "dB"
             BEAN b{9, 0};
             for (const auto& [value, text] : {std::pair{0.0, "-192.640"}, {1.0, "0.000"}, {0.5, "-6.021"}}) {
                 control->setvl(value, false);
                 EXPECT_STREQ(e.getbs(230, &b).c_str(), text);
             }
         }},
        {"230 of a mapped parameter: pre-unit, value, post-unit", [&](CorePrcs& e, CoreProg& p) {
             p.getpm(4)->setvl(true, "0.25", "OFF", "a", "Time", "1", "", "", "ms", 0.0, 4.0, 0.0, 4.0);
             e.setbv(205, &zero); // re-maps
             ASSERT_EQ(p.getif(0)->getcp(), 4);
             EXPECT_STREQ(e.getbs(230, &zero).c_str(), "2.500ms");
         }},
        {"167 of a free slot is \"0\", 87 of it empty", [&](CorePrcs& e, CoreProg&) {
             EXPECT_STREQ(e.getbs(167, &free).c_str(), "0");
             EXPECT_STREQ(e.getbs(87, &free).c_str(), "");
         }},
        {"30 with -1 passes the stored conversion again", [&](CorePrcs& e, CoreProg& p) {
             e.setbl(30, 2500, nullptr);
             p.setrc(0);
             e.setbl(30, -1, nullptr);
             EXPECT_EQ(e.getbl(30, nullptr), 2500);
             EXPECT_EQ(progtest::Access::rateConversion(p), 2500);
         }},
        {"60 under a held blocklock answers false and keeps the flag", [&](CorePrcs& e, CoreProg&) {
             CorePrcsTestAccess::paramsUpdated(e) = true;
             {
                 CoreSgrd block(CorePrcsTestAccess::blockLock(e));
                 EXPECT_FALSE(e.getbb(60, nullptr));
             }
             EXPECT_TRUE(e.getbb(60, nullptr));
         }},
        {"155 with the value it has leaves the state unchanged", [&](CorePrcs& e, CoreProg& p) {
             BEAN b{2, 0};
             e.setbd(155, p.getif(2)->getvl(false), &b);
             CorePrcsTestAccess::stateChanged(e) = false;
             e.setbd(155, p.getif(2)->getvl(false), &b);
             EXPECT_FALSE(CorePrcsTestAccess::stateChanged(e).load());
         }},
        {"186 while booting moves no control", [&](CorePrcs& e, CoreProg& p) {
             e.setms(0, 176, 7);
             const double before = p.getif(0)->getvl(false);
             CorePrcsTestAccess::busy(e).setvl(true);
             e.setbi(186, static_cast<int32_t>(176u << 8 | 7u << 16 | 99u << 24), &zero);
             EXPECT_EQ(p.getif(0)->getvl(false), before);
         }},
        {"159 of a record not in use is 0", [&](CorePrcs& e, CoreProg&) {
             BEAN last{e.getbh(43, nullptr), 0};
             EXPECT_EQ(e.getbd(159, &last), 0.0);
         }},
        {"8 at 0 clears feedback-on, a positive factor sets it", [&](CorePrcs& e, CoreProg&) {
             e.setbd(8, 0.0, nullptr);
             EXPECT_FALSE(CorePrcsTestAccess::feedbackOn(e));
             e.setbd(8, 0.25, nullptr);
             EXPECT_TRUE(CorePrcsTestAccess::feedbackOn(e));
         }},
        {"162 with subindex 2 is false", [&](CorePrcs& e, CoreProg&) {
             BEAN b{0, 2};
             EXPECT_FALSE(e.getbb(162, &b));
         }},
        {"176 at 1 changes SUBCATEGORY1 only", [&](CorePrcs& e, CoreProg& p) {
             e.setbs(176, CoreAnsx("Rooms"), &one);
             EXPECT_STREQ(p.getct(0).c_str(), "Reverb");
             EXPECT_STREQ(p.getct(1).c_str(), "Rooms");
             EXPECT_STREQ(p.getct(2).c_str(), "Large");
         }},
        {"241 while booting does nothing", [&](CorePrcs& e, CoreProg&) {
             CorePrcsTestAccess::paramsUpdated(e) = false;
             CorePrcsTestAccess::busy(e).setvl(true);
             e.setbv(241, nullptr);
             EXPECT_FALSE(CorePrcsTestAccess::paramsUpdated(e).load());
         }},
        {"171 at level 2 keeps the texts of levels 0 and 1", [&](CorePrcs& e, CoreProg&) {
             e.setbs(171, CoreAnsx("Reverb"), &zero);
             e.setbs(171, CoreAnsx("Halls"), &one);
             e.setbs(171, CoreAnsx("Large"), &two);
             EXPECT_EQ(e.getmm()->setbb(0), 2);
             e.setbv(242, nullptr); // saves the three levels
             e.setbv(243, nullptr);
             EXPECT_EQ(e.getmm()->setbb(0), 2);
         }},
        {"243 without 242 gives an empty filter at first", [&](CorePrcs& e, CoreProg&) {
             e.setbs(171, CoreAnsx("Reverb"), &one);
             e.setbv(243, nullptr);
             EXPECT_EQ(e.getmm()->setbb(0), 0);
         }},
        {"239 on a folder without matches counts 0", [&](CorePrcs& e, CoreProg&) {
             e.setbs(237, CoreAnsx((data() / "progs").string().c_str()), nullptr);
             e.setbs(238, CoreAnsx("*.NONE"), nullptr);
             e.setbv(239, nullptr);
             EXPECT_EQ(e.getbi(239, nullptr), 0);
         }},
        {"184 is the channel + 1 of the last match", [&](CorePrcs& e, CoreProg&) {
             e.setms(0, 176, 7);
             e.setbi(186, static_cast<int32_t>(5u | 176u << 8 | 7u << 16 | 64u << 24), &zero);
             e.setbh(180, 0, nullptr);
             EXPECT_EQ(e.getbi(184, nullptr), 6);
             EXPECT_EQ(e.getbi(185, nullptr), 64);
         }},
        {"189 writes the main set and marks it not valid", [&](CorePrcs& e, CoreProg& p) {
             BEAN b{4, 0};
             e.setbd(191, 0.5, &b);
             e.setbd(189, 0.25, &b);
             EXPECT_EQ(p.getif(4)->getiv(true), 0.25);
             EXPECT_FALSE(p.getif(4)->isval(true));
         }},
        {"170 sets a slot's category, read through 175; 170's getter stays the browser entry",
         [&](CorePrcs& e, CoreProg&) {
             BEAN category{kThree, 1};
             e.setbs(170, CoreAnsx("Chambers"), &category);
             EXPECT_STREQ(e.getbs(175, &category).c_str(), "Chambers");
             BEAN entry{0, 0};
             EXPECT_EQ(e.getbs(170, &entry), e.getmm()->getbc(0));
         }},
        {"44 also converts program times at the new rate", [&](CorePrcs& e, CoreProg& p) {
             e.setbi(44, 44100, nullptr);
             EXPECT_EQ(progtest::Access::programRate(p), 44100);
         }},
        {"216 moves the bar window the fill reads", [&](CorePrcs& e, CoreProg& p) {
             BEAN b{1, 0};
             const double fill = e.getbd(199, &b);
             e.setbd(216, p.getpm(1)->getvl() - 1.0, &b);
             e.setbd(217, p.getpm(1)->getvl() + 3.0, &b);
             EXPECT_DOUBLE_EQ(e.getbd(199, &b), 0.25);
             EXPECT_NE(fill, 0.25);
         }},
        {"11: a load raises the program's own rate; 52 with a new value raises it", [&](CorePrcs& e, CoreProg&) {
             EXPECT_TRUE(e.getbb(11, nullptr)); // the document has PROGRAMRATE
             e.setbb(11, false, nullptr);
             e.setbl(52, e.getbl(52, nullptr) + 1000, nullptr);
             EXPECT_TRUE(e.getbb(11, nullptr));
         }},
        {"226 with an empty batch store ends at once", [&](CorePrcs& e, CoreProg&) {
             e.setbv(225, nullptr);
             EXPECT_TRUE(e.getbb(226, nullptr));
             EXPECT_STREQ(e.getbs(226, nullptr).c_str(), "");
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto e = fixture();
        ASSERT_FALSE(e->isfailed());
        row.check(*e, Access::program(*e));
    }
}

TEST_F(CorePrcsBeansTest, AfterAFailedBootBean88LoadsSlotZero) {
    writeBootFolder();
    std::filesystem::remove(data() / "vectors/ROOM.WAV");
    pack(data() / "progs/LONE.Q7P", {{"LONE.XML", program("Lone", tag("H1", leaf("IMP.WAV")))}});
    writeText(data() / "setups/gone.xml", tag("SETUP", entry(0, "LONE.Q7P") + entry(kRoom, "ROOM.XML")));
    auto e = make(bootSettings(tag("SETUPROMNAME", "gone.xml")), kRate);
    ASSERT_FALSE(e->isfailed());
    e->setbb(144, true, nullptr);
    ASSERT_FALSE(e->getbb(148, nullptr));
    writeText(data() / "setups/gone.xml", tag("SETUP", entry(0, "INIT.XML") + entry(kRoom, "ROOM.XML")));
    e->getmm()->loads(CoreAnsx("gone.xml"), 0, true);
    Access::boot(*e);
    BEAN none{0, 0};
    e->setbi(88, 1234, &none);
    EXPECT_EQ(e->getbi(67, nullptr), 0);
    EXPECT_STREQ(e->getbs(56, nullptr).c_str(), "Init");
}
