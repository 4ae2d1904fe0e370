// The host's oapi... functions, library helpers and GDI stand-in: each
// forwards to the installed backend.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hostlib/Backend.h"
#include "module/SupportLibrary.h"

namespace vtal::host {
namespace {
Backend *installedBackend = nullptr;
}

void InstallBackend(Backend *backend) { installedBackend = backend; }

Backend &CurrentBackend() {
    if (!installedBackend) {
        std::fprintf(stderr, "vtal host: a host call arrived with no backend installed\n");
        std::abort();
    }
    return *installedBackend;
}

int ConvertDate(const char *date) {
    static const char *const kMonths[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (!date) return 0;
    int month = 0;
    for (int i = 0; i < 12; ++i)
        if (std::strncmp(date, kMonths[i], 3) == 0) month = i + 1;
    int day = 0, year = 0;
    if (std::strlen(date) > 3) std::sscanf(date + 3, "%d %d", &day, &year);
    return (year % 100) * 10000 + month * 100 + day;
}

}  // namespace vtal::host

using vtal::host::CurrentBackend;

BOOL oapiGetHeading(OBJHANDLE hVessel, double *heading) {
    return CurrentBackend().GetHeading(hVessel, heading);
}
double oapiGetSimTime() { return CurrentBackend().GetSimTime(); }
SURFHANDLE oapiRegisterExhaustTexture(char *name) {
    return CurrentBackend().RegisterExhaustTexture(name);
}
DWORD oapiGetVesselCount() { return CurrentBackend().GetVesselCount(); }
OBJHANDLE oapiGetVesselByIndex(int index) { return CurrentBackend().GetVesselByIndex(index); }
void oapiGetGlobalPos(OBJHANDLE hObj, VECTOR3 *pos) { CurrentBackend().GetGlobalPos(hObj, pos); }
double oapiGetSize(OBJHANDLE hObj) { return CurrentBackend().GetSize(hObj); }
double oapiGetFuelMass(OBJHANDLE hVessel) { return CurrentBackend().GetFuelMass(hVessel); }
void oapiWriteScenario_int(FILEHANDLE scn, char *item, int i) {
    CurrentBackend().WriteScenarioInt(scn, item, i);
}
void oapiWriteScenario_string(FILEHANDLE scn, char *item, char *string) {
    CurrentBackend().WriteScenarioString(scn, item, string);
}
bool oapiReadScenario_nextline(FILEHANDLE scn, char *&line) {
    return CurrentBackend().ReadScenarioNextline(scn, line);
}
NOTEHANDLE oapiCreateAnnotation(bool exclusive, double size, const VECTOR3 &col) {
    return CurrentBackend().CreateAnnotation(exclusive, size, col);
}
void oapiAnnotationSetPos(NOTEHANDLE hNote, double x1, double y1, double x2, double y2) {
    CurrentBackend().AnnotationSetPos(hNote, x1, y1, x2, y2);
}
void oapiAnnotationSetText(NOTEHANDLE hNote, char *note) {
    CurrentBackend().AnnotationSetText(hNote, note);
}
bool oapiDelAnnotation(NOTEHANDLE hNote) { return CurrentBackend().DelAnnotation(hNote); }

void InitLib(HINSTANCE hModule) { CurrentBackend().InitLib(hModule); }
int Date2Int(char *date) { return CurrentBackend().Date2Int(date); }

#ifndef _WIN32
COLORREF SetTextColor(HDC hdc, COLORREF color) {
    return CurrentBackend().SetHudTextColor(hdc, color);
}
BOOL TextOutA(HDC hdc, int x, int y, LPCSTR text, int c) {
    return CurrentBackend().HudTextOut(hdc, x, y, text, c);
}
#endif
