#include "sim/live/LiveSession.h"

#include <filesystem>

#include "sim/base/InputError.h"
#include "sim/base/SafeFiles.h"
#include "sim/files/Scenario.h"
#include "sim/view/LiveView.h"
#include "sim/view/ViewPage.h"

namespace fs = std::filesystem;

namespace vtal::sim::live {
namespace {

// What the page's data slot holds for a live session: the page then takes
// its states from the session's socket.
const char *const kLivePageData = "{\"live\":true}";

RunOptions LiveRunOptions(const RunOptions &given) {
    RunOptions o = given;
    o.liveKeyboard = true;
    o.progress = false;
    o.until = -1.0;
    return o;
}

std::string Quoted(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += escaped;
            continue;
        }
        out += c;
    }
    return out + "\"";
}

bool SameFile(const std::string &a, const std::string &b) {
    std::error_code ec;
    return fs::exists(a, ec) && fs::exists(b, ec) && fs::equivalent(a, b, ec);
}

}  // namespace

LiveSession::LiveSession(const SessionOptions &options, double now)
    : options_(options),
      flight_(std::make_unique<Flight>(LiveRunOptions(options.run))),
      pacer_(options.run.dt, now, options.warp, options.paused),
      now_(now) {
    pageTemplate_ = flight_->ViewerTemplate();
    view_ = std::make_unique<LiveView>(GetWorld());
    GetWorld().Keys().SetSessionKeys([this](int scanCode) { SessionKey(scanCode); });
}

LiveSession::~LiveSession() = default;

int LiveSession::Advance(double now) {
    now_ = now;
    if (ended_) return 0;
    const int due = pacer_.FramesDue(now);
    int run = 0;
    while (run < due && !ended_) {
        flight_->Step();
        ++run;
        if (flight_->Lost()) End();  // the flight cannot go on; the world is on its last sound frame
    }
    pacer_.FramesRun(run, now);
    SendChanges();
    Publish();
    return run;
}

void LiveSession::Publish() {
    if (!output_.publishState) return;
    LiveStatus status;
    status.warp = pacer_.Warp();
    status.reachedWarp = pacer_.ReachedWarp(now_);
    status.paused = pacer_.Paused();
    output_.publishState(view_->State(GetWorld(), status));
}

void LiveSession::SendChanges() {
    if (!output_.send) return;
    if (std::string hud = view_->HudIfChanged(GetWorld()); !hud.empty()) output_.send(std::move(hud));
    if (std::string notes = view_->AnnotationsIfChanged(GetWorld()); !notes.empty()) output_.send(std::move(notes));
}

void LiveSession::Apply(Command command, double now) {
    now_ = now;
    switch (command) {
    case Command::WarpUp: pacer_.WarpUp(now); break;
    case Command::WarpDown: pacer_.WarpDown(now); break;
    case Command::Pause: pacer_.SetPaused(!pacer_.Paused(), now); break;
    case Command::FocusNext: FocusNext(); break;
    case Command::Save: {
        std::string message;
        try {
            const std::string path = Save();
            message = "{\"type\":\"saved\",\"ok\":true,\"path\":" + Quoted(path) + "}";
        } catch (const std::exception &e) {
            GetWorld().Warn(std::string("save failed: ") + e.what());
            message = "{\"type\":\"saved\",\"ok\":false,\"message\":" + Quoted(e.what()) + "}";
        }
        if (output_.send) output_.send(message);
        break;
    }
    case Command::End: End(); break;
    }
    Publish();  // the page sees the new warp, pause or focus at once
}

// The host's own session keys: T and R step the time acceleration up and
// down by a factor of ten; F3 gives the focus to the next vessel.
void LiveSession::SessionKey(int scanCode) {
    if (scanCode == OAPI_KEY_T) pacer_.WarpUp(now_);
    if (scanCode == OAPI_KEY_R) pacer_.WarpDown(now_);
    if (scanCode == OAPI_KEY_F3) FocusNext();
}

void LiveSession::FocusNext() {
    World &world = GetWorld();
    const auto &vessels = world.Vessels();
    for (std::size_t i = 0; i < vessels.size(); ++i)
        if (vessels[i].get() == world.Focus()) {
            world.SetFocus(*vessels[(i + 1) % vessels.size()]);
            return;
        }
}

void LiveSession::PushKey(int connection, const PageMessage &key) {
    auto &held = held_[connection];
    const auto found = held.find(key.scanCode);
    if (key.down) {
        if (found != held.end()) return;  // already down: not a new press
        if (!GetWorld().Keys().Push({key.scanCode, true, key.shift, key.ctrl})) {
            ++keysDropped_;
            return;
        }
        held[key.scanCode] = {key.shift, key.ctrl};
        return;
    }
    if (found == held.end()) return;  // up for a key this page does not hold
    // The up carries the modifiers of its down, so that the held counts of
    // Shift and Ctrl come back to where they were.
    if (!GetWorld().Keys().Push({key.scanCode, false, found->second.shift, found->second.ctrl})) {
        ++keysDropped_;
        return;  // still held; released with the page's other keys when it goes
    }
    held.erase(found);
}

void LiveSession::ReleaseKeys(int connection) {
    const auto found = held_.find(connection);
    if (found == held_.end()) return;
    for (const auto &[scanCode, modifiers] : found->second)
        if (!GetWorld().Keys().Push({scanCode, false, modifiers.shift, modifiers.ctrl})) ++keysDropped_;
    held_.erase(found);
}

std::string LiveSession::DefaultSavePath() const {
    const fs::path flown(flight_->ScenarioPath());
    const std::string stem = flown.stem().string().empty() ? "session" : flown.stem().string();
    for (int n = saves_ + 1;; ++n) {
        const std::string name = stem + "-live-" + std::to_string(n) + ".scn";
        std::error_code ec;
        if (!fs::exists(name, ec) && !SameFile(name, flight_->ScenarioPath())) return name;
    }
}

std::string LiveSession::Save() {
    World &world = GetWorld();
    const std::string text = world.SaveScenario();
    const std::string path = options_.savePath.empty() ? DefaultSavePath() : options_.savePath;
    try {
        ParseScenarioText(text, path);
    } catch (const InputError &e) {
        throw std::runtime_error(std::string("the scenario would not read back (") + e.what() + ")");
    }
    WriteFileAtomically(path, text);
    ++saves_;
    return path;
}

RunResult LiveSession::Finish() {
    ended_ = true;
    if (output_.send) output_.send("{\"type\":\"ended\"}");
    return flight_->Finish();
}

bool LiveSession::HasPage() const { return fs::is_regular_file(pageTemplate_); }

std::string LiveSession::Page() { return ComposeViewPage(pageTemplate_, kLivePageData); }

std::string LiveSession::Hello() { return view_->Hello(GetWorld()); }

void LiveSession::OnMessage(int connection, const PageMessage &message) {
    if (ended_) return;
    if (message.kind == PageMessage::Kind::Key)
        PushKey(connection, message);
    else
        Apply(message.command, now_);
}

void LiveSession::OnDisconnect(int connection) { ReleaseKeys(connection); }

void LiveSession::OnWarning(const std::string &message) { GetWorld().WarnOnce("live page: " + message); }

}  // namespace vtal::sim::live
