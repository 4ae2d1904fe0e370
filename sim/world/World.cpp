#include "sim/world/World.h"

#include <algorithm>
#include <ostream>

#include "sim/vessel/Contact.h"
#include "sim/vessel/FlightState.h"
#include "sim/vessel/Integration.h"
#include "sim/vessel/Landed.h"

namespace vtal::sim {

// One frame as the host works it, one phase per line; t0 is the time at
// the start of the step, t1 at its end.
void World::Step() {
    const double t0 = simTime_, t1 = t0 + dt_;
    const double mjd0 = MjdAt(t0), mjd1 = MjdAt(t1);
    RunPreSteps(t0, mjd0);
    ReportNavmodeChanges();
    body_.SetDate(mjd1);  // the body moves first, as the host updates its planets
    ApplyActuation();  // navigation modes, thrust and aerodynamics
    ReportNavmodeChanges();  // kill rotation may have switched itself off
    AdvanceVessels(t1);  // integration or the landed update, then the surface quantities
    RunPostSteps(t1, mjd1);
    UpdateContactAndRest(t0, t1, mjd1);
    AdvanceClock();
    RecordTouchdowns();
    ProcessKeys();
    ReportNavmodeChanges();
}

void World::RunPreSteps(double t0, double mjd0) {
    for (auto &v : vessels_)
        if (v->object) v->object->clbkPreStep(t0, dt_, mjd0);
}

void World::ApplyActuation() {
    for (std::size_t i = 0; i < vessels_.size(); ++i) {
        Vessel &v = *vessels_[i];
        ApplyNavmodeOverrides(v, dt_);
        loads_[i] = ApplyThrust(v, body_, dt_);
        if (!v.Landed()) AddAerodynamics(v, body_, loads_[i]);
    }
}

void World::AdvanceVessels(double t1) {
    for (std::size_t i = 0; i < vessels_.size(); ++i) AdvanceVessel(*vessels_[i], loads_[i], t1);
}

// Integration (or the landed update) of one vessel, and its new surface
// quantities. Thrust or a torque, or new touchdown points, release a landed
// vessel in the same step, which is then not integrated.
void World::AdvanceVessel(Vessel &v, Loads &loads, double t1) {
    v.motionBefore = v.motion;
    if (v.Landed()) {
        const bool released =
            !loads.force.isZero(0.0) || !loads.torque.isZero(0.0) || v.contact.touchdownPointsChanged;
        v.contact.touchdownPointsChanged = false;
        PlaceLanded(v, body_, MjdAt(t1));
        if (released) {
            Release(v);
            UpdateSurface(v, body_);
        }
        return;
    }
    v.contact.touchdownPointsChanged = false;
    if (!Propagate(v, body_, loads, dt_))
        WarnOnce("vessel '" + v.name + "' is too stiff and light on its touchdown points for frames of " + Plain(dt_) +
                 " s: even " + std::to_string(kMaxContactSubsteps) +
                 " sub-steps may not damp it stably on the ground; a shorter --dt does");
    UpdateSurface(v, body_);
}

void World::RunPostSteps(double t1, double mjd1) {
    inPostStep_ = true;
    for (auto &v : vessels_)
        if (v->object) v->object->clbkPostStep(t1, dt_, mjd1);
    inPostStep_ = false;
}

// The end of the step: ground contact, then the rest test, still at t0.
// However hard a vessel hits, the contact law alone holds it: a fast impact
// sinks several metres (the depth counts at most 1 m per point) before the
// springs and dampers push it back out, and it comes to rest on the surface.
void World::UpdateContactAndRest(double t0, double t1, double mjd1) {
    for (auto &v : vessels_) {
        if (v->Landed()) continue;
        v->contact.groundContact = PointBelowSurface(*v, v->motion, body_);
        TestForRest(*v, body_, mjd1, t0);
        if (v->Landed()) v->contact.landedAt = t1;
    }
}

// The time is counted in frames, so that it never drifts from frame * dt.
void World::AdvanceClock() {
    ++frame_;
    simTime_ = static_cast<double>(frame_) * dt_;
}

// The first frame that ends in ground contact: the sink and drift over the
// ground after that step, and the sink of the frame before.
void World::RecordTouchdowns() {
    for (auto &vp : vessels_) {
        Vessel &v = *vp;
        const double sink = VerticalSpeed(v);
        if (!v.contact.touchdown.happened && v.contact.groundContact) {
            Touchdown &t = v.contact.touchdown;
            t.happened = true;
            t.time = simTime_;
            t.verticalSpeed = sink;
            t.verticalSpeedBefore = v.contact.lastVerticalSpeed;
            t.horizontalSpeed = HorizontalSpeed(v, body_);
            t.pitchDeg = v.surface.pitchRad / kRadPerDeg;
            t.bankDeg = v.surface.bankRad / kRadPerDeg;
            t.headingDeg = v.surface.headingRad / kRadPerDeg;
        }
        v.contact.lastVerticalSpeed = sink;
    }
}

// The keyboard of the focus vessel: the script's events due by now and any
// pushed from outside. Without a script or a live keyboard the host makes no
// keyboard calls at all.
void World::ProcessKeys() {
    if (!focus_ || !keyboardRuns_) return;
    script_.Feed(simTime_, keyboard_);
    keyboard_.Process(*focus_, dt_);
}

// The host tells a module of every switch of a navigation mode, its own
// and the host's; here at the next point of the frame after the switch.
void World::ReportNavmodeChanges() {
    for (auto &v : vessels_) {
        const unsigned now = v->NavmodeBits(), changed = now ^ v->actuators.reportedNavmodes;
        if (!changed) continue;
        v->actuators.reportedNavmodes = now;
        if (!v->object) continue;
        for (int mode = kFirstNavmode; mode <= kHoldAltitudeMode; ++mode)
            if (changed & (1u << mode)) v->object->clbkNavMode(mode, (now >> mode) & 1u);
    }
}

void World::SetFocus(Vessel &v) {
    if (&v == focus_) return;
    Vessel *previous = focus_;
    focus_ = &v;
    if (previous && previous->object) previous->object->clbkFocusChanged(false, HandleOf(&v), HandleOf(previous));
    if (v.object) v.object->clbkFocusChanged(true, HandleOf(&v), previous ? HandleOf(previous) : nullptr);
}

Vessel *World::FindVessel(const std::string &name) const {
    for (const auto &v : vessels_)
        if (v->name == name) return v.get();
    return nullptr;
}

bool World::IsVessel(OBJHANDLE h) const { return vesselHandles_.count(h) != 0; }

void World::Warn(const std::string &message) {
    warnings_.push_back(message);
    if (options_.warnings) *options_.warnings << "vtal-sim: warning: " << message << "\n";
}

void World::WarnOnce(const std::string &message) {
    if (std::find(warnings_.begin(), warnings_.end(), message) == warnings_.end()) Warn(message);
}

void World::PaintHud() { PaintFocusHud(focus_, body_, canvas_); }

void World::ModuleLines(Vessel &v, std::string &text) {
    text.clear();
    if (!v.object) return;
    ScenarioWriter writer;
    writer.text.swap(text);
    writer.moduleLinesOnly = true;
    v.object->clbkSaveState(&writer);
    text.swap(writer.text);
}

std::string World::SaveScenario() { return SaveScenario(options_.preciseSave); }

std::string World::SaveScenario(bool precise) { return SaveScenario(precise, scenario_.description); }

std::string World::SaveScenario(bool precise, const std::vector<std::string> &description) {
    std::string out = "BEGIN_DESC\n";
    for (const std::string &line : description) out += line + "\n";
    out += "END_DESC\n\nBEGIN_ENVIRONMENT\n  System " + scenario_.system + "\n  Date MJD " + Exact(Mjd()) +
           "\nEND_ENVIRONMENT\n\nBEGIN_FOCUS\n  Ship " + (focus_ ? focus_->name : std::string()) + "\nEND_FOCUS\n\n";
    for (const std::string &section : scenario_.carriedSections) out += section + "\n";
    out += "BEGIN_SHIPS\n";
    for (auto &v : vessels_) {
        out += v->name + ":" + v->className + "\n";
        ScenarioWriter writer;
        writer.precise = precise;
        if (v->object)
            v->object->clbkSaveState(&writer);
        else
            WriteStandardLines(*v, body_, precise, writer.text);
        out += writer.text + "END\n";
    }
    for (const std::string &block : scenario_.carriedVessels) out += block;
    out += "END_SHIPS\n";
    return out;
}

}  // namespace vtal::sim
