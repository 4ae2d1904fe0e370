// The live session's server: the page over HTTP and the page's WebSocket,
// for one person flying from a browser on this machine. It runs on an
// io_context the caller owns and runs on one thread, and has no threads of
// its own; every member is to be called on that thread.
//
// It trusts nothing a client sends: every request needs the session's token,
// a WebSocket also the page's own origin (and, bound to loopback, a loopback
// Host, against DNS rebinding); what a page sends is size-limited, checked,
// rate-limited, and a page that keeps sending what it should not is
// disconnected. docs/live-protocol.md has the whole of it.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>

#include "sim/live/Protocol.h"

namespace vtal::sim::live {

struct ServerOptions {
    // The address to listen on; anything but loopback is the caller's decision.
    std::string bindAddress = "127.0.0.1";
    unsigned short port = 0;  // 0: a free port the system picks (see Port())
    // The secret every request must carry as ?token=: at least
    // kMinTokenChars of [0-9A-Za-z_-] (NewSessionToken() makes one).
    std::string token;

    std::size_t maxPages = 4;             // WebSocket pages open at once; more get 503
    std::size_t maxHttpConnections = 16;  // HTTP connections being answered at once; more are closed unanswered
    std::size_t maxRequestHeaderBytes = 8192;
    std::size_t maxRequestBodyBytes = 1024;
    // An HTTP connection that has not sent its request (or read the answer)
    // by then is closed; so is a WebSocket handshake or close that takes longer.
    std::chrono::milliseconds httpTimeout{10000};
    // A page that sends nothing (not even the answer to the server's ping,
    // sent after half of it) for this long is closed.
    std::chrono::milliseconds pageIdleTimeout{30000};

    // Key events per page: a token bucket of keyBurst refilled at
    // keyEventsPerSecond; an event beyond it is dropped. A page whose dropped
    // events exceed keyFloodAllowance (itself refilled at the same rate) is
    // disconnected. Commands alike.
    double keyEventsPerSecond = 50, keyBurst = 100, keyFloodAllowance = 250;
    double commandsPerSecond = 10, commandBurst = 10, commandFloodAllowance = 50;
    // A page that sends more malformed messages than this is disconnected.
    std::size_t maxMalformedMessages = 20;
    // Messages that must arrive (Send) waiting for one page; one more and
    // that page is disconnected as too slow.
    std::size_t maxQueuedMessages = 64;
    // At most one warning text per page in this time (s); the rest counted.
    double warningIntervalSeconds = 1.0;
};

constexpr std::size_t kMinTokenChars = 16;
// The longest `code` a key message may carry.
constexpr std::size_t kMaxKeyCodeChars = 32;

// Counters since the server started, and the present state of its pages.
struct ServerStats {
    std::size_t connectionsAccepted = 0;  // WebSocket handshakes completed
    std::size_t pagesServed = 0;          // page requests answered with the page
    std::size_t connectionsRefused = 0;   // requests answered with an error, connections closed unanswered
    std::size_t messagesDropped = 0;      // page messages dropped: malformed, over the rate
    std::size_t malformedMessages = 0;
    std::size_t rateLimitedMessages = 0;
    std::size_t unknownKeys = 0;             // key messages with a code not in the table (ignored)
    std::size_t abuseDisconnections = 0;     // pages disconnected for what they sent
    std::size_t slowPageDisconnections = 0;  // pages disconnected for not taking their messages
    std::size_t statesReplaced = 0;          // unsent states replaced by a newer one
    std::size_t warningsSuppressed = 0;      // warnings counted but not told, by the per-page limit
    std::size_t openPages = 0;               // now
    std::size_t unsentStates = 0;            // now: states waiting behind a write, at most one a page
    std::size_t heldBytes = 0;               // now: bytes of messages and states being written or waiting
};

// 128 random bits as 32 lowercase hex digits.
std::string NewSessionToken();

class SessionServer {
public:
    // Listens at once; throws InputError for options it cannot use (a bad
    // address or token, zero limits) and for an address it cannot listen on.
    // `clock` is monotonic seconds, for the rate limits.
    SessionServer(boost::asio::io_context &io, const ServerOptions &options, SessionHandler &handler,
                  std::function<double()> clock);
    // Closes as Close() does; the handler is not called after this.
    ~SessionServer();
    SessionServer(const SessionServer &) = delete;
    SessionServer &operator=(const SessionServer &) = delete;

    // The port listened on, also when port 0 was asked.
    unsigned short Port() const;

    // The newest state for every page, and for a page that connects later,
    // after its Hello. A page still writing the previous state gets this one
    // when that write is done, in place of any older one not yet sent.
    void Publish(std::string state);
    // A message every open page must get (saved, ended), after the messages
    // sent before it and before any later state. Queued per page: a page
    // with more than maxQueuedMessages waiting is disconnected.
    void Send(std::string message);
    // Stops listening and closes every page (WebSocket close "going away") and
    // HTTP connection. OnDisconnect is called for each open page before this
    // returns; the io_context's run() returns once the closes are done.
    void Close();

    ServerStats Stats() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace vtal::sim::live
