#include "sim/live/LiveRunner.h"

#include <chrono>
#include <csignal>
#include <ostream>
#include <spawn.h>
#include <sys/wait.h>

#include <boost/asio/ip/address.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include "sim/base/InputError.h"
#include "sim/live/SessionServer.h"
#include "sim/view/ViewPage.h"

extern char **environ;

namespace vtal::sim::live {
namespace {

namespace asio = boost::asio;

double MonotonicSeconds() {
    using Clock = std::chrono::steady_clock;
    static const Clock::time_point start = Clock::now();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::chrono::steady_clock::duration Seconds(double s) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(s));
}

// Starts the desktop's browser on the page without waiting for it; a
// failure is only a warning (the address is printed anyway).
void OpenBrowser(const std::string &url, std::ostream &err) {
    pid_t pid = 0;
    char program[] = "xdg-open";
    std::string target = url;
    char *args[] = {program, target.data(), nullptr};
    if (posix_spawnp(&pid, program, nullptr, nullptr, args, environ) != 0) {
        err << "vtal-sim: warning: could not start xdg-open; open the address by hand\n";
        return;
    }
    // Reaped when it ends, so that it leaves no zombie behind.
    std::signal(SIGCHLD, SIG_IGN);
}

// The frames on a timer: each wake-up runs what is due and sends one state.
class FrameLoop {
public:
    FrameLoop(asio::io_context &io, LiveSession &session) : session_(session), timer_(io) {}

    void Start() { Wake(); }

private:
    void Wake() {
        const double now = MonotonicSeconds();
        session_.Advance(now);
        if (session_.Ended()) return;
        const double wait = session_.Pacing().Paused()
                                ? kPausedWakeInterval
                                : std::max(session_.UntilNextFrame(now), kMinWakeInterval);
        timer_.expires_after(Seconds(wait));
        timer_.async_wait([this](const boost::system::error_code &ec) {
            if (!ec) Wake();
        });
    }

    LiveSession &session_;
    asio::steady_timer timer_;
};

std::string PageAddress(const std::string &bindAddress, unsigned short port, const std::string &token) {
    // An address that binds every interface is reached here on the loopback one.
    std::string host = bindAddress == "0.0.0.0" || bindAddress == "::" ? "127.0.0.1" : bindAddress;
    if (host.find(':') != std::string::npos) host = "[" + host + "]";
    return "http://" + host + ":" + std::to_string(port) + "/?token=" + token;
}

}  // namespace

bool IsLoopback(const std::string &address) {
    if (address == "localhost") return true;
    boost::system::error_code ec;
    const asio::ip::address parsed = asio::ip::make_address(address, ec);
    return !ec && parsed.is_loopback();
}

RunResult RunLive(const LiveOptions &options, std::ostream &out, std::ostream &err) {
    boost::system::error_code ec;
    if (options.bindAddress != "localhost") {
        asio::ip::make_address(options.bindAddress, ec);
        if (ec) throw InputError("--bind: " + Quote(options.bindAddress) + " is not an IP address");
    }
    LiveSession session(options.session, MonotonicSeconds());
    if (!session.HasPage())
        throw InputError(kViewerBuilt ? "live needs the page " + session.PageTemplate() +
                                            " (built by the vtal_viewer target)"
                                      : std::string("live: this vtal-sim was built without its page "
                                                    "(-DVTAL_VIEWER=OFF)"));
    asio::io_context io;
    ServerOptions so;
    so.bindAddress = options.bindAddress == "localhost" ? "127.0.0.1" : options.bindAddress;
    so.port = options.port;
    so.token = NewSessionToken();
    SessionServer server(io, so, session, MonotonicSeconds);
    session.SetOutput({[&server](std::string state) { server.Publish(std::move(state)); },
                       [&server](std::string message) { server.Send(std::move(message)); }});
    // Ctrl+C is the session's from before its address is shown.
    asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&session](const boost::system::error_code &e, int) {
        if (!e) session.End();
    });
    if (!IsLoopback(options.bindAddress))
        err << "vtal-sim: warning: the session listens on " << options.bindAddress
            << ": anyone who can reach that address and knows the token can fly it\n";
    const std::string url = PageAddress(so.bindAddress, server.Port(), so.token);
    out << "Open " << url << "  (Ctrl+C ends the session)" << std::endl;
    if (options.openBrowser) OpenBrowser(url, err);

    FrameLoop frames(io, session);
    frames.Start();
    // The loop runs until the session ends; then the outputs are written and
    // the page gets a moment to hear that it ended.
    while (!session.Ended() && !io.stopped()) io.run_one_for(Seconds(kPausedWakeInterval));
    signals.cancel();
    RunResult result = session.Finish();
    io.restart();
    io.run_for(Seconds(kClosingGrace));
    server.Close();
    io.restart();
    io.poll();
    return result;
}

}  // namespace vtal::sim::live
