#include "sim/files/KeyScript.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <sstream>
#include <strings.h>

#include "host/OrbiterAPI.h"
#include "sim/files/InputError.h"

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

bool ParseTime(const std::string &text, double &out) {
    if (text.empty()) return false;
    const char *begin = text.c_str();
    char *end = nullptr;
    errno = 0;
    out = std::strtod(begin, &end);
    return end != begin && *end == '\0' && std::isfinite(out) && out >= 0.0 && errno != ERANGE;
}

KeyEvent ParseItem(const std::string &item) {
    const auto bad = [&](const std::string &why) {
        return InputError("--keys: '" + item + "': " + why);
    };
    const auto colon = item.find(':');
    if (colon == std::string::npos) throw bad("expected T:KEY or T1-T2:KEY");
    const std::string when = Trim(item.substr(0, colon));
    std::string key = Trim(item.substr(colon + 1));
    KeyEvent e;
    const auto dash = when.find('-');
    if (dash == std::string::npos) {
        if (!ParseTime(when, e.start)) throw bad("'" + when + "' is not a time in seconds");
        e.end = e.start;
    } else {
        if (!ParseTime(when.substr(0, dash), e.start) || !ParseTime(when.substr(dash + 1), e.end))
            throw bad("'" + when + "' is not a time range T1-T2");
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
    if (e.scanCode < 0) throw bad("unknown key '" + key + "'");
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
        if (item.empty()) throw InputError("--keys: empty item in '" + script + "'");
        events.push_back(ParseItem(item));
        begin = end + 1;
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const KeyEvent &a, const KeyEvent &b) { return a.start < b.start; });
    return events;
}

}  // namespace vtal::sim
