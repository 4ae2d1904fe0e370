// The lander's own lines in its block of a scenario file: the manual
// override, the status and position of each deployable mechanism, the camera
// spin and the three arm joints. Scenario files are edited by hand and passed
// between users, so the reader takes any bytes: a value that does not read as
// a finite number of its type is left as it was, exactly as when no number is
// there at all, and what does read is stored as read.
#include <array>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lander/Lander.h"
#include "lander/ModuleState.h"

namespace {

// One scenario line: its key and the values it carries, a status ("%d"), a
// position ("%lf") or both, in that order.
struct ScenarioEntry {
    const char *key;
    int *status;  // null: the line has no status
    double *pos;  // null: the line has no position
};

const std::size_t kLineCount = 9;
using ScenarioEntries = std::array<ScenarioEntry, kLineCount>;

// In the order the lines are written and the keys are tried when reading.
// The override and the camera spin are shared by every lander.
ScenarioEntries EntriesOf(Lander &lander) {
    vtal::ModuleState &shared = vtal::moduleState;
    return {{
        {"MANUAL", &shared.manualOverride, nullptr},
        {"SOLP", &lander.solarStatus, &lander.solarPos},
        {"CAMERA", &shared.cameraSpin, &lander.cameraPos},
        {"LEGS", &lander.legsStatus, &lander.legsPos},
        {"COV", &lander.deckStatus, &lander.deckPos},
        {"ARMROT", nullptr, &lander.armRotPos},
        {"ARMSLD", nullptr, &lander.armSlidePos},
        {"ARMELB", nullptr, &lander.armElbowPos},
        {"FEET", &lander.feetStatus, &lander.feetPos},
    }};
}

// ---- reading

char FoldAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Whether the line starts with the (upper-case) key, ignoring ASCII case.
// Stops at the line's end, so a line shorter than the key never matches.
bool StartsWithKey(const char *line, const char *key) {
    for (; *key != '\0'; ++line, ++key)
        if (FoldAscii(*line) != *key) return false;  // also the line's terminating NUL
    return true;
}

// The first entry, in table order, whose key the line starts with; null if none.
const ScenarioEntry *EntryTaking(const char *line, const ScenarioEntries &entries) {
    for (const ScenarioEntry &entry : entries)
        if (StartsWithKey(line, entry.key)) return &entry;
    return nullptr;
}

// Reads an int as "%d" does: white space, an optional sign, decimal digits.
// A number beyond the range of int converts nothing.
bool ScanInt(const char *&cursor, int &value) {
    char *end = nullptr;
    errno = 0;
    const long long read = std::strtoll(cursor, &end, 10);
    if (end == cursor || errno == ERANGE || read < INT_MIN || read > INT_MAX) return false;
    value = static_cast<int>(read);
    cursor = end;
    return true;
}

// Reads a double as "%lf" does. "nan", "inf" and numbers too large for a
// double convert nothing: no non-number is ever stored or shown.
bool ScanDouble(const char *&cursor, double &value) {
    char *end = nullptr;
    const double read = std::strtod(cursor, &end);
    if (end == cursor || !std::isfinite(read)) return false;
    value = read;
    cursor = end;
    return true;
}

// Scans the values after the key; a value that fails to convert ends the
// scan, so a status without a position stores the status only.
void ReadValues(const char *text, const ScenarioEntry &entry) {
    if (entry.status != nullptr && !ScanInt(text, *entry.status)) return;
    if (entry.pos != nullptr) ScanDouble(text, *entry.pos);
}

// ---- writing

// Room for the longest value text: a status of 11 characters, a blank, and a
// position printed with its 309 integer digits, sign and four decimals.
const std::size_t kValueTextSize = 400;

// A position is written as a finite number so that the line reads back. A
// non-number cannot come from the reader; should one ever stand in memory it
// is written as the stowed end, and an infinity as the end it points to.
double WritablePosition(double pos) {
    if (std::isnan(pos)) return 0.0;
    if (std::isinf(pos)) return pos > 0.0 ? 1.0 : 0.0;
    return pos;
}

void FormatValues(const ScenarioEntry &entry, char (&text)[kValueTextSize]) {
    const double pos = WritablePosition(*entry.pos);
    if (entry.status != nullptr)
        std::snprintf(text, sizeof text, "%d %0.4f", *entry.status, pos);
    else
        std::snprintf(text, sizeof text, "%0.4f", pos);
}

// The host takes the key as a writable string; hand it a copy.
struct KeyText {
    explicit KeyText(const char *key) { std::snprintf(text, sizeof text, "%s", key); }
    char text[8];
};

}  // namespace

void Lander::clbkSaveState(FILEHANDLE scn) {
    VESSEL2::clbkSaveState(scn);  // the host's own lines come first
    for (const ScenarioEntry &entry : EntriesOf(*this)) {
        KeyText key(entry.key);
        if (entry.pos == nullptr) {
            oapiWriteScenario_int(scn, key.text, *entry.status);
            continue;
        }
        char value[kValueTextSize];
        FormatValues(entry, value);
        oapiWriteScenario_string(scn, key.text, value);
    }
}

void Lander::clbkLoadStateEx(FILEHANDLE scn, void *status) {
    const ScenarioEntries entries = EntriesOf(*this);
    char *line = nullptr;
    while (oapiReadScenario_nextline(scn, line)) {
        if (line == nullptr) continue;  // nothing to read, nothing to hand on
        const ScenarioEntry *taken = EntryTaking(line, entries);
        if (taken != nullptr)
            ReadValues(line + std::strlen(taken->key), *taken);
        else
            ParseScenarioLineEx(line, status);  // one of the host's own lines
    }

    SetAnimation(animSolar, solarPos);
    SetAnimation(animCamera, cameraPos);
    SetAnimation(animLegs, legsPos);
    SetAnimation(animDeck, deckPos);
    SetAnimation(animFeet, feetPos);
    SetAnimation(animArmRot, armRotPos);
    SetAnimation(animArmSlide, armSlidePos);
    SetAnimation(animArmElbow, armElbowPos);
}
