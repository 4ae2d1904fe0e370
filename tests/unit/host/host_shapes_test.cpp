// The host classes as a module sees them: which of them carry virtual
// functions, what VESSEL keeps for the host, the order of VESSEL2's virtual
// table, and what every callback does when a module leaves it alone.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

#include "host/Orbitersdk.h"
#include "recording/RecordingBackend.h"

namespace {

using vtal::recording::FakeVesselHandle;
using vtal::recording::RecordingBackend;
using vtal::recording::ScopedBackend;

static_assert(!std::is_polymorphic<VESSEL>::value, "VESSEL has no virtual function");
static_assert(!std::has_virtual_destructor<VESSEL>::value, "VESSEL has no virtual destructor");
static_assert(std::is_polymorphic<VESSEL2>::value, "VESSEL2 brings in the callbacks");
static_assert(!std::has_virtual_destructor<VESSEL2>::value, "no destructor slot in VESSEL2");
static_assert(std::is_polymorphic<MGROUP_TRANSFORM>::value, "Type() is virtual");
static_assert(!std::has_virtual_destructor<MGROUP_TRANSFORM>::value, "no virtual destructor");
static_assert(std::is_default_constructible<MGROUP_TRANSFORM>::value, "default constructor");

// The navigation-mode and visibility values are preprocessor constants.
#if !defined(NAVMODE_KILLROT) || !defined(NAVMODE_ANTINORMAL) || !defined(NAVMODE_HOLDALT) || \
    !defined(MESHVIS_ALWAYS) || !defined(MESHVIS_EXTERNAL)
#error "navigation modes and mesh visibility flags are macros"
#endif
#if NAVMODE_KILLROT != 1 || NAVMODE_HLEVEL != 2 || NAVMODE_PROGRADE != 3 || NAVMODE_RETROGRADE != 4 || \
    NAVMODE_NORMAL != 5 || NAVMODE_ANTINORMAL != 6 || NAVMODE_HOLDALT != 7
#error "the host's navigation mode numbers"
#endif

// What VESSEL keeps for the host, read through a derived class as a module could.
struct VesselInternals : VESSEL2 {
    VesselInternals(OBJHANDLE h, int fmodel) : VESSEL2(h, fmodel) {}
    const void *hostVessel() const { return vessel; }
    short model() const { return flightmodel; }
    short interfaceVersion() const { return version; }
};

TEST(HostVessel, KeepsTheHostObjectFlightModelAndInterfaceVersion) {
    static_assert(std::is_same<decltype(VesselInternals(nullptr, 0).model()), short>::value, "short");
    VesselInternals realistic(FakeVesselHandle(7), 1);
    EXPECT_EQ(realistic.hostVessel(), static_cast<const void *>(FakeVesselHandle(7)));
    EXPECT_EQ(realistic.GetHandle(), FakeVesselHandle(7));
    EXPECT_EQ(realistic.model(), 1);
    EXPECT_EQ(realistic.interfaceVersion(), 1);
    VesselInternals simple(FakeVesselHandle(8), 0);
    EXPECT_EQ(simple.model(), 0);
}

TEST(HostVessel, SettingPropellantMassWorksOnAConstVessel) {
    RecordingBackend rec;
    ScopedBackend installed(rec);
    const VESSEL2 vessel(FakeVesselHandle(2), 1);
    vessel.SetPropellantMass(nullptr, 2.5);
    ASSERT_EQ(rec.count("SetPropellantMass"), 1u);
    EXPECT_EQ(rec.callsNamed("SetPropellantMass")[0].num(1), 2.5);
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
// Under the Itanium C++ ABI (GCC and Clang, also MinGW) a pointer to a
// virtual member function holds 1 + the byte offset of its slot.
template <typename F>
std::ptrdiff_t SlotOf(F member) {
    static_assert(sizeof(F) == 2 * sizeof(std::uintptr_t), "pointer and adjustment");
    std::uintptr_t words[2];
    std::memcpy(words, &member, sizeof words);
    EXPECT_EQ(words[0] % sizeof(void *), 1u) << "not a virtual function";
    return static_cast<std::ptrdiff_t>((words[0] - 1) / sizeof(void *));
}

TEST(HostVessel, CallbacksOccupyTheHostsSlotsInOrder) {
    const std::ptrdiff_t slots[] = {
        SlotOf(&VESSEL2::clbkSetClassCaps),      SlotOf(&VESSEL2::clbkSaveState),
        SlotOf(&VESSEL2::clbkLoadStateEx),       SlotOf(&VESSEL2::clbkSetStateEx),
        SlotOf(&VESSEL2::clbkPostCreation),      SlotOf(&VESSEL2::clbkFocusChanged),
        SlotOf(&VESSEL2::clbkPreStep),           SlotOf(&VESSEL2::clbkPostStep),
        SlotOf(&VESSEL2::clbkPlaybackEvent),     SlotOf(&VESSEL2::clbkVisualCreated),
        SlotOf(&VESSEL2::clbkVisualDestroyed),   SlotOf(&VESSEL2::clbkDrawHUD),
        SlotOf(&VESSEL2::clbkRCSMode),           SlotOf(&VESSEL2::clbkADCtrlMode),
        SlotOf(&VESSEL2::clbkHUDMode),           SlotOf(&VESSEL2::clbkMFDMode),
        SlotOf(&VESSEL2::clbkNavMode),           SlotOf(&VESSEL2::clbkDockEvent),
        SlotOf(&VESSEL2::clbkAnimate),           SlotOf(&VESSEL2::clbkConsumeDirectKey),
        SlotOf(&VESSEL2::clbkConsumeBufferedKey), SlotOf(&VESSEL2::clbkLoadGenericCockpit),
        SlotOf(&VESSEL2::clbkLoadPanel),         SlotOf(&VESSEL2::clbkPanelMouseEvent),
        SlotOf(&VESSEL2::clbkPanelRedrawEvent),  SlotOf(&VESSEL2::clbkLoadVC),
        SlotOf(&VESSEL2::clbkVCMouseEvent),      SlotOf(&VESSEL2::clbkVCRedrawEvent),
    };
    for (std::size_t i = 0; i < sizeof slots / sizeof slots[0]; ++i)
        EXPECT_EQ(slots[i], static_cast<std::ptrdiff_t>(i)) << "callback " << i;
    EXPECT_EQ(SlotOf(&MGROUP_TRANSFORM::Type), 0);
}
#endif

TEST(HostVessel, CallbacksAModuleLeavesAloneDoNothingAndDecline) {
    RecordingBackend rec;
    ScopedBackend installed(rec);
    VESSEL2 vessel(FakeVesselHandle(3), 1);
    VESSEL2 &v = vessel;
    char keys[256] = {};
    VECTOR3 p = _V(1, 2, 3);
    v.clbkSetClassCaps(nullptr);
    v.clbkSetStateEx(nullptr);
    v.clbkPostCreation();
    v.clbkFocusChanged(true, FakeVesselHandle(3), nullptr);
    v.clbkPreStep(1, 0.1, 51000);
    v.clbkPostStep(1.1, 0.1, 51000);
    v.clbkVisualCreated(nullptr, 1);
    v.clbkVisualDestroyed(nullptr, 0);
    v.clbkRCSMode(1);
    v.clbkADCtrlMode(0);
    v.clbkHUDMode(1);
    v.clbkMFDMode(0, 1);
    v.clbkNavMode(NAVMODE_HLEVEL, true);
    v.clbkDockEvent(0, nullptr);
    v.clbkAnimate(1.1);
    EXPECT_TRUE(rec.calls.empty()) << rec.calls.front().name;

    EXPECT_FALSE(v.clbkPlaybackEvent(1, 1, "NAVMODE", "HLEVEL"));
    EXPECT_EQ(v.clbkConsumeDirectKey(keys), 0);
    EXPECT_EQ(v.clbkConsumeBufferedKey(OAPI_KEY_M, true, keys), 0);
    EXPECT_FALSE(v.clbkLoadGenericCockpit());
    EXPECT_FALSE(v.clbkLoadPanel(0));
    EXPECT_FALSE(v.clbkPanelMouseEvent(0, 1, 10, 10));
    EXPECT_FALSE(v.clbkPanelRedrawEvent(0, 1, nullptr));
    EXPECT_FALSE(v.clbkLoadVC(0));
    EXPECT_FALSE(v.clbkVCMouseEvent(0, 1, p));
    EXPECT_FALSE(v.clbkVCRedrawEvent(0, 1, nullptr));
    EXPECT_TRUE(rec.calls.empty());
    EXPECT_EQ(p.y, 2.0);
}

TEST(HostVessel, StandardStateAndHudDefaultsAreTheHostsOwn) {
    RecordingBackend rec;
    ScopedBackend installed(rec);
    VESSEL2 vessel(FakeVesselHandle(5), 1);
    vessel.clbkSaveState(nullptr);
    vessel.clbkDrawHUD(1, nullptr, nullptr);
    ASSERT_EQ(rec.calls.size(), 2u);
    EXPECT_EQ(rec.calls[0].name, "SaveStandardState");
    EXPECT_EQ(rec.calls[0].vessel, FakeVesselHandle(5));
    EXPECT_EQ(rec.calls[1].name, "DrawStandardHUD");
}

}  // namespace
