// A live session: one run of the flight host flown in real time by a person
// from the page. It paces the world's frames against a clock (Advance),
// takes the page's keys and commands, and hands the page its states.
// Everything runs on the caller's one thread.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "sim/live/Pacer.h"
#include "sim/live/Protocol.h"
#include "sim/run/Flight.h"

namespace vtal::sim {
class LiveView;
}

namespace vtal::sim::live {

struct SessionOptions {
    RunOptions run;             // the scenario and the outputs written when the session ends
    double warp = kMinWarp;     // the time acceleration at the start
    bool paused = false;        // starts paused
    std::string savePath;       // where Save writes; empty: a name beside the scenario (never over it)
};

// Where the session's messages go: states are latest-wins, the rest must arrive.
struct SessionOutput {
    std::function<void(std::string)> publishState;
    std::function<void(std::string)> send;
};

class LiveSession : public SessionHandler {
public:
    // Creates the world (throws as Flight does). `now` is the clock at the start, s.
    LiveSession(const SessionOptions &options, double now);
    ~LiveSession() override;

    void SetOutput(SessionOutput output) { output_ = std::move(output); }

    // Runs the frames due at clock time `now` and publishes the new state.
    // Returns the number of frames run.
    int Advance(double now);
    // Clock seconds until a frame is due (for the caller's timer).
    double UntilNextFrame(double now) const { return pacer_.UntilNextFrame(now); }

    // The session's own commands, as the page's buttons give them.
    void Apply(Command command, double now);
    // Ends the session (the page's End, Ctrl+C in the terminal, a lost vessel).
    void End() { ended_ = true; }
    bool Ended() const { return ended_; }
    // Writes the scenario as it stands now; returns the path written.
    std::string Save();
    // Writes the outputs the run asked for and returns the run's result.
    RunResult Finish();

    World &GetWorld() { return flight_->GetWorld(); }
    const Pacer &Pacing() const { return pacer_; }
    long KeyEventsDropped() const { return keysDropped_; }

    // Whether the installation has the page to serve.
    bool HasPage() const;
    const std::string &PageTemplate() const { return pageTemplate_; }

    // SessionHandler
    std::string Page() override;
    std::string Hello() override;
    void OnMessage(int connection, const PageMessage &message) override;
    void OnDisconnect(int connection) override;
    void OnWarning(const std::string &message) override;

    // The clock as the server and the page's messages see it (set by Advance).
    double Now() const { return now_; }

private:
    void PushKey(int connection, const PageMessage &key);
    void ReleaseKeys(int connection);
    void FocusNext();
    void SessionKey(int scanCode);
    void Publish();
    void SendChanges();
    std::string DefaultSavePath() const;

    SessionOptions options_;
    std::unique_ptr<Flight> flight_;
    std::unique_ptr<LiveView> view_;
    Pacer pacer_;
    SessionOutput output_;
    std::string pageTemplate_;
    double now_;
    bool ended_ = false;
    long keysDropped_ = 0;
    int saves_ = 0;
    // Keys each page holds down, with the modifiers sent at their key-down,
    // so that their key-ups balance whatever the page sends later.
    struct HeldKey {
        bool shift = false, ctrl = false;
    };
    std::map<int, std::map<int, HeldKey>> held_;  // connection -> scan code -> modifiers
};

}  // namespace vtal::sim::live
