// The world as a live session's page is told it, in the replay record's
// terms (sim/view/RecordParts.h): once per connection the scene's fixed
// parts (hello), then the world as it stands (state, the newest only), and,
// whenever they change, the focus vessel's head-up display (hud) and the
// annotations. Every message is one line of JSON whose numbers are all
// finite: a value the host has no number for is sent as 0.
//
// Positions are in a local frame fixed for the session on the ground below
// the focus vessel at the start: x east, y up, z south, body-fixed, as the
// replay's frame (there at the landing point instead).
//
// hello:  {"type":"hello","format":"vtal-live 1","scenario","body":{name,radius},"dt","focus",
//          "origin":{longitude_deg,latitude_deg},"poseStep","navmodeNames",
//          "hud":{"width","height","runs":[...]},"annotations":[...],
//          "vessels":[{name,className,size,touchdownPoints,model,thrusters,engines,yawLeft,yawRight,
//                      exhausts,streams}]}
//         hud runs and annotations as last returned by HudIfChanged and
//         AnnotationsIfChanged, so that a page that connects late starts
//         from what the others were sent.
// state:  {"type":"state","time","focus","warp","reachedWarp","paused",
//          "vessels":[{"pos":[x,y,z],"quat":[x,y,z,w],"anim":[...],"thrust":[...],"navmodes","propellant",
//                      "contact","altitude","verticalSpeed","horizontalSpeed","pitch","bank","heading",
//                      "poses":[{"g":[groups],"q":[...],"p":[...]} or {"g","m":[...]}],"streams":[...]}]}
//         poses in whole steps of poseStep, every animated group each
//         time; streams as in hello, each time, since a module may add them
//         while it flies.
// hud:    {"type":"hud","focus","width","height","runs":[{"x","y","colour","text"}]}
// annotations: {"type":"annotations","annotations":[{"text","colour","size","box":[l,t,r,b],"from"}]}
//
// Not thread-safe: called from the thread that steps the world.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "sim/base/SimMath.h"
#include "sim/view/StandInModel.h"
#include "sim/world/World.h"

namespace vtal::sim {

struct LiveStatus {
    double warp = 1.0;         // the time acceleration asked for
    double reachedWarp = 1.0;  // what the host achieved over the last second
    bool paused = false;
};

class LiveView {
public:
    // Fixes the page's local frame for the session: on the ground below the focus vessel at the start
    // (x east, y up, z south, as the replay's frame; body-fixed, so landed vessels stand still).
    explicit LiveView(World &world);
    std::string Hello(World &world);                            // {"type":"hello", ...}: the fixed parts
    std::string State(World &world, const LiveStatus &status);  // {"type":"state", ...}: now
    // Paints the focus vessel's head-up display (world.PaintHud()) and returns {"type":"hud",...} if
    // the runs differ from those last returned (or the focus changed), else "".
    std::string HudIfChanged(World &world);
    // {"type":"annotations",...} (all live annotations with box, colour, size, text) if they changed since
    // last returned, else "".
    std::string AnnotationsIfChanged(World &world);

private:
    const StandInModel *ModelOf(std::size_t index) const;

    Vec3 origin_ = Vec3::Zero();       // body-fixed, on the ground
    Mat3 toLocal_ = Mat3::Identity();  // body-fixed -> (east, up, north)
    std::vector<StandInModel> models_;
    std::vector<bool> hasModel_;
    std::vector<Quat> lastAttitudes_;  // per vessel: each state turns the short way from the last
    bool hudReturned_ = false;
    std::size_t hudFocus_ = 0;
    std::vector<VtalCanvas::TextRun> hudRuns_;
    std::string annotations_ = "[]";  // the list last returned, as JSON
};

}  // namespace vtal::sim
