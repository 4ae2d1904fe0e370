#include "sim/files/KeyScript.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <strings.h>

#include "host/OrbiterAPI.h"
#include "sim/base/InputError.h"

namespace vtal::sim {
namespace {

struct NamedKey {
    const char *name;
    int code;
};

const NamedKey kNamedKeys[] = {
    {"[", OAPI_KEY_LBRACKET}, {"]", OAPI_KEY_RBRACKET}, {";", OAPI_KEY_SEMICOLON},
    {"'", OAPI_KEY_APOSTROPHE}, {"num0", OAPI_KEY_NUMPAD0}, {"num1", OAPI_KEY_NUMPAD1},
    {"num2", OAPI_KEY_NUMPAD2}, {"num3", OAPI_KEY_NUMPAD3}, {"num4", OAPI_KEY_NUMPAD4},
    {"num5", OAPI_KEY_NUMPAD5}, {"num6", OAPI_KEY_NUMPAD6}, {"num7", OAPI_KEY_NUMPAD7},
    {"num8", OAPI_KEY_NUMPAD8}, {"num9", OAPI_KEY_NUMPAD9}, {"num+", OAPI_KEY_ADD},
    {"num-", OAPI_KEY_SUBTRACT}, {"num*", OAPI_KEY_MULTIPLY},
};

// DirectInput scan codes of the letters A..Z.
const int kLetterCodes[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
                              0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};

// A time in seconds, 0 or more; else throws the reason.
double ParseTime(const std::string &text, const std::function<InputError(const std::string &)> &bad) {
    const std::string t = Trim(text);
    if (t.empty()) throw bad("a time is missing");
    const NumberWord word = ReadNumberWord(t);
    if (word.kind == NumberKind::NotNumber || word.kind == NumberKind::NaN)
        throw bad(Quote(t) + " is not a time in seconds");
    const double out = word.value;
    if (out < 0.0) throw bad("the time " + Quote(t) + " is negative; times count from 0 s at the start of the run");
    if (!std::isfinite(out)) throw bad("the time " + Quote(t) + " is beyond the range of numbers");
    return out;
}

// The dash between the times of a hold: not a sign at the start, nor the
// sign of an exponent ("1e-3").
std::size_t RangeDash(const std::string &when) {
    for (std::size_t i = 1; i < when.size(); ++i)
        if (when[i] == '-' && when[i - 1] != 'e' && when[i - 1] != 'E') return i;
    return std::string::npos;
}

KeyEvent ParseItem(const std::string &item) {
    const auto bad = [&](const std::string &why) { return InputError("--keys: " + Quote(item) + ": " + why); };
    const auto colon = item.find(':');
    if (colon == std::string::npos) throw bad("expected T:KEY or T1-T2:KEY");
    const std::string when = Trim(item.substr(0, colon));
    std::string key = Trim(item.substr(colon + 1));
    KeyEvent e;
    e.item = item;
    const auto dash = RangeDash(when);
    if (dash == std::string::npos) {
        e.start = e.end = ParseTime(when, bad);
    } else {
        e.start = ParseTime(when.substr(0, dash), bad);
        e.end = ParseTime(when.substr(dash + 1), bad);
        if (e.end < e.start) throw bad("the hold ends before it starts");
        e.hold = true;
    }
    for (bool more = true; more;) {
        more = false;
        if (key.size() > 6 && strncasecmp(key.c_str(), "shift+", 6) == 0) {
            e.shift = more = true;
            key = key.substr(6);
        } else if (key.size() > 5 && strncasecmp(key.c_str(), "ctrl+", 5) == 0) {
            e.ctrl = more = true;
            key = key.substr(5);
        }
    }
    e.scanCode = ScanCodeOf(key);
    if (e.scanCode < 0) throw bad("unknown key " + Quote(key));
    return e;
}

}  // namespace

int ScanCodeOf(const std::string &name) {
    if (name.size() == 1 && std::isalpha(static_cast<unsigned char>(name[0])))
        return kLetterCodes[std::toupper(static_cast<unsigned char>(name[0])) - 'A'];
    for (const NamedKey &k : kNamedKeys)
        if (strcasecmp(name.c_str(), k.name) == 0) return k.code;
    return -1;
}

std::vector<KeyEvent> ParseKeyScript(const std::string &script) {
    std::vector<KeyEvent> events;
    if (Trim(script).empty()) return events;
    // Items are separated by commas; a comma is never a key.
    std::size_t begin = 0;
    while (begin <= script.size()) {
        std::size_t end = script.find(',', begin);
        if (end == std::string::npos) end = script.size();
        const std::string item = Trim(script.substr(begin, end - begin));
        if (item.empty()) throw InputError("--keys: empty item in " + Quote(script));
        events.push_back(ParseItem(item));
        begin = end + 1;
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const KeyEvent &a, const KeyEvent &b) { return a.start < b.start; });
    return events;
}

}  // namespace vtal::sim
