#include "sim/live/SessionServer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <random>
#include <string_view>
#include <utility>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include "sim/base/InputError.h"
#include "sim/live/KeyCodes.h"

namespace vtal::sim::live {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

namespace {

constexpr std::size_t kTokenBytes = 16;
constexpr std::size_t kMaxTokenChars = 256;
constexpr std::size_t kMaxHostChars = 300;  // a DNS name of 253, a port, brackets
constexpr unsigned kHttpVersion = 11;       // HTTP/1.1
constexpr std::string_view kPagePath = "/";
constexpr std::string_view kSocketPath = "/ws";
constexpr std::string_view kTokenParameter = "token=";
// After an accept error (such as too many open files), a pause before the
// next accept rather than a loop that spins on the same error.
constexpr auto kAcceptRetryDelay = std::chrono::milliseconds(100);
// What is read and thrown away after an answer before closing, so that the
// client gets the answer rather than a reset for bytes it sent unread.
constexpr std::size_t kMaxDrainedBytes = 65536;
constexpr std::size_t kDrainChunkBytes = 4096;

std::string_view View(beast::string_view s) { return {s.data(), s.size()}; }

// Equal texts, in a time that depends on the expected text's length only.
bool ConstantTimeEquals(std::string_view given, std::string_view expected) {
    unsigned difference = given.size() == expected.size() ? 0u : 1u;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
        difference |= g ^ static_cast<unsigned char>(expected[i]);
    }
    return difference == 0;
}

bool IsTokenChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-';
}

bool IsHostChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-' ||
           c == ':' || c == '[' || c == ']';
}

// A request target's path and its token parameter; no token when there is
// none or more than one. The token is compared as sent, without decoding.
struct Target {
    std::string_view path;
    std::optional<std::string_view> token;
};

Target SplitTarget(std::string_view target) {
    Target t;
    const std::size_t question = target.find('?');
    t.path = target.substr(0, question);
    if (question == std::string_view::npos) return t;
    std::string_view query = target.substr(question + 1);
    int tokens = 0;
    while (!query.empty()) {
        const std::size_t amp = query.find('&');
        const std::string_view parameter = query.substr(0, amp);
        if (parameter.substr(0, kTokenParameter.size()) == kTokenParameter) {
            t.token = parameter.substr(kTokenParameter.size());
            ++tokens;
        }
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
    }
    if (tokens != 1) t.token.reset();
    return t;
}

// The page may run its own inline script and style and talk to its own
// WebSocket, and nothing else: no other script, frame, form or request.
std::string PageSecurityPolicy(const std::string &host) {
    return "default-src 'none'; script-src 'unsafe-inline'; style-src 'unsafe-inline'; img-src data:; "
           "connect-src ws://" + host + "; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";
}

// A token bucket on the session's clock: `capacity` at most, refilled at
// `perSecond`. A clock that stands still or goes back refills nothing.
class TokenBucket {
public:
    TokenBucket(double capacity, double perSecond, double now)
        : capacity_(capacity), perSecond_(perSecond), tokens_(capacity), last_(now) {}
    bool Take(double now) {
        if (now > last_) {
            tokens_ = std::min(capacity_, tokens_ + (now - last_) * perSecond_);
            last_ = now;
        }
        if (tokens_ < 1.0) return false;
        tokens_ -= 1.0;
        return true;
    }

private:
    double capacity_, perSecond_, tokens_, last_;
};

// One kind of page message's rate: what passes, and how much more a page
// may send past it before it counts as a flood.
struct RateLimit {
    TokenBucket admitted, flood;
    RateLimit(double perSecond, double burst, double floodAllowance, double now)
        : admitted(burst, perSecond, now), flood(floodAllowance, perSecond, now) {}
};

// At most one warning per interval; the ones between are counted and
// their number told with the next.
class WarningLimiter {
public:
    explicit WarningLimiter(double interval) : interval_(interval) {}
    // Whether to tell a warning now; `suppressed` is then the number held back before it.
    bool Allow(double now, std::size_t &suppressed) {
        if (told_ && !(now - last_ >= interval_)) {
            ++suppressed_;
            return false;
        }
        told_ = true;
        last_ = now;
        suppressed = suppressed_;
        suppressed_ = 0;
        return true;
    }

private:
    double interval_;
    double last_ = 0.0;
    bool told_ = false;
    std::size_t suppressed_ = 0;
};

// ---------------------------------------------------------------------------
// A page's message, checked field by field.

enum class Parsed { Message, UnknownKey, Malformed };

struct ParseResult {
    Parsed kind = Parsed::Malformed;
    PageMessage message;
    std::string problem;
};

ParseResult Malformed(std::string problem) {
    ParseResult r;
    r.problem = std::move(problem);
    return r;
}

const std::pair<std::string_view, Command> kCommandNames[] = {
    {"warp-up", Command::WarpUp}, {"warp-down", Command::WarpDown}, {"pause", Command::Pause},
    {"focus-next", Command::FocusNext}, {"save", Command::Save}, {"end", Command::End}};

// The field's value, if the object has it and it is true or false.
std::optional<bool> BoolField(const nlohmann::json &object, const char *name) {
    const auto field = object.find(name);
    if (field == object.end() || !field->is_boolean()) return std::nullopt;
    return field->get<bool>();
}

// {"type":"key","code":"KeyM","down":true,"shift":false,"ctrl":false}, these fields and no others.
ParseResult ParseKey(const nlohmann::json &object) {
    constexpr std::size_t kKeyFields = 5;
    const auto code = object.find("code");
    if (code == object.end() || !code->is_string()) return Malformed("a key without a text \"code\"");
    const std::optional<bool> down = BoolField(object, "down"), shift = BoolField(object, "shift"),
                              ctrl = BoolField(object, "ctrl");
    if (!down || !shift || !ctrl) return Malformed("a key without true or false \"down\", \"shift\" and \"ctrl\"");
    if (object.size() != kKeyFields) return Malformed("a key with fields of no meaning");
    const std::string &name = code->get_ref<const std::string &>();
    if (name.size() > kMaxKeyCodeChars)
        return Malformed("a key code over " + std::to_string(kMaxKeyCodeChars) + " characters");
    ParseResult r;
    r.kind = Parsed::Message;
    r.message.kind = PageMessage::Kind::Key;
    r.message.scanCode = ScanCodeOfKeyboardCode(name);
    r.message.down = *down;
    r.message.shift = *shift;
    r.message.ctrl = *ctrl;
    if (r.message.scanCode < 0) r.kind = Parsed::UnknownKey;
    return r;
}

// {"type":"command","name":"pause"}, these fields and no others.
ParseResult ParseCommand(const nlohmann::json &object) {
    constexpr std::size_t kCommandFields = 2;
    const auto name = object.find("name");
    if (name == object.end() || !name->is_string()) return Malformed("a command without a text \"name\"");
    if (object.size() != kCommandFields) return Malformed("a command with fields of no meaning");
    const std::string &text = name->get_ref<const std::string &>();
    for (const auto &[commandName, command] : kCommandNames) {
        if (text != commandName) continue;
        ParseResult r;
        r.kind = Parsed::Message;
        r.message.kind = PageMessage::Kind::Command;
        r.message.command = command;
        return r;
    }
    return Malformed("an unknown command");
}

ParseResult ParsePageMessage(const std::string &text) {
    const nlohmann::json object = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (object.is_discarded()) return Malformed("not JSON");
    if (!object.is_object()) return Malformed("not a JSON object");
    const auto type = object.find("type");
    if (type == object.end() || !type->is_string()) return Malformed("no text \"type\"");
    const std::string &typeName = type->get_ref<const std::string &>();
    if (typeName == "key") return ParseKey(object);
    if (typeName == "command") return ParseCommand(object);
    return Malformed("an unknown type");
}

// ---------------------------------------------------------------------------

void ThrowUnless(bool ok, const std::string &problem) {
    if (!ok) throw InputError("live session: " + problem);
}

bool PositiveFinite(double v) { return std::isfinite(v) && v > 0.0; }

void CheckOptions(const ServerOptions &o) {
    ThrowUnless(o.token.size() >= kMinTokenChars && o.token.size() <= kMaxTokenChars &&
                    std::all_of(o.token.begin(), o.token.end(), IsTokenChar),
                "the token must be " + std::to_string(kMinTokenChars) + " to " + std::to_string(kMaxTokenChars) +
                    " characters of 0-9, a-z, A-Z, _ and -");
    ThrowUnless(o.maxPages > 0 && o.maxHttpConnections > 0 && o.maxQueuedMessages > 0,
                "the page, connection and message queue limits must be at least 1");
    ThrowUnless(o.maxRequestHeaderBytes > 0, "the request header limit must be at least 1 byte");
    ThrowUnless(o.httpTimeout.count() > 0 && o.pageIdleTimeout.count() > 0, "the timeouts must be above 0");
    ThrowUnless(PositiveFinite(o.keyEventsPerSecond) && PositiveFinite(o.commandsPerSecond),
                "the key and command rates must be above 0");
    ThrowUnless(std::isfinite(o.keyBurst) && o.keyBurst >= 1.0 && std::isfinite(o.commandBurst) &&
                    o.commandBurst >= 1.0,
                "the key and command bursts must be at least 1");
    ThrowUnless(std::isfinite(o.keyFloodAllowance) && o.keyFloodAllowance >= 0.0 &&
                    std::isfinite(o.commandFloodAllowance) && o.commandFloodAllowance >= 0.0,
                "the flood allowances must be 0 or more");
    ThrowUnless(std::isfinite(o.warningIntervalSeconds) && o.warningIntervalSeconds >= 0.0,
                "the warning interval must be 0 s or more");
}

// "address:port" as a browser writes it in the Host header.
std::string HostText(const asio::ip::address &address, unsigned short port) {
    const std::string a = address.to_string();
    return (address.is_v6() ? "[" + a + "]" : a) + ":" + std::to_string(port);
}

class HttpConnection;
class PageConnection;

}  // namespace

// ---------------------------------------------------------------------------
// The server's state, shared with its connections so that a completion that
// runs after the server is gone finds it still there (and its handler unset).
struct SessionServer::Impl : std::enable_shared_from_this<SessionServer::Impl> {
    Impl(asio::io_context &context, const ServerOptions &o, SessionHandler &h, std::function<double()> c);

    void Listen();
    void Accept();
    void OnAccept(const beast::error_code &ec, tcp::socket socket);
    void Close();
    void Publish(std::string state);
    void Send(const std::string &message);
    ServerStats Stats() const;

    // What a request gets: the page, the WebSocket, or an error status.
    enum class Route { Page, Upgrade, Refuse };
    struct Decision {
        Route route;
        http::status status;
    };
    Decision Decide(const Request &request) const;
    http::status CheckHost(std::string_view host) const;
    Response PageResponse(const Request &request);
    Response ErrorResponse(http::status status);
    void OpenPage(beast::tcp_stream stream, Request request);
    void RemovePage(int id) { pages.erase(id); }
    void RemoveHttp(int id) { httpConnections.erase(id); }
    void Warn(const std::string &text);
    void Tell(const std::string &text) {
        if (handler) handler->OnWarning(text);
    }

    const ServerOptions options;
    SessionHandler *handler;  // unset when the server is gone
    const std::function<double()> clock;
    tcp::acceptor acceptor;
    asio::steady_timer acceptRetry;
    asio::ip::address address;
    unsigned short port = 0;
    std::vector<std::string> loopbackHosts;  // the Host values allowed when bound to loopback
    bool closed = false;
    int nextId = 1;
    std::map<int, std::shared_ptr<PageConnection>> pages;  // in handshake or open
    std::map<int, std::weak_ptr<HttpConnection>> httpConnections;
    std::shared_ptr<const std::string> newestState;
    ServerStats stats;
    WarningLimiter serverWarnings;
};

namespace {

// ---------------------------------------------------------------------------
// One HTTP connection: one request read within the limits and answered, or
// handed over as a WebSocket.
class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
public:
    HttpConnection(std::shared_ptr<SessionServer::Impl> server, int id, tcp::socket socket)
        : server_(std::move(server)), id_(id), stream_(std::move(socket)) {
        parser_.header_limit(static_cast<std::uint32_t>(std::min<std::size_t>(server_->options.maxRequestHeaderBytes,
                                                                             UINT32_MAX)));
        parser_.body_limit(server_->options.maxRequestBodyBytes);
    }

    void Start() {
        stream_.expires_after(server_->options.httpTimeout);
        http::async_read(stream_, buffer_, parser_,
                         [self = shared_from_this()](const beast::error_code &ec, std::size_t) {
                             self->OnRequest(ec);
                         });
    }

    void Close() {
        Finish();
        stream_.close();
    }

private:
    void OnRequest(const beast::error_code &ec) {
        if (finished_) return;
        if (ec) {
            AnswerReadError(ec);
            return;
        }
        Request request = parser_.release();
        const SessionServer::Impl::Decision decision = server_->Decide(request);
        switch (decision.route) {
        case SessionServer::Impl::Route::Upgrade:
            Finish();
            server_->OpenPage(std::move(stream_), std::move(request));
            return;
        case SessionServer::Impl::Route::Page:
            ++server_->stats.pagesServed;
            Answer(server_->PageResponse(request));
            return;
        case SessionServer::Impl::Route::Refuse:
            Refuse(decision.status);
            return;
        }
    }

    // A request over the limits or not HTTP gets its status; a connection
    // that closes or times out before a whole request is closed.
    void AnswerReadError(const beast::error_code &ec) {
        if (ec == http::error::header_limit) {
            Refuse(http::status::request_header_fields_too_large);
        } else if (ec == http::error::body_limit) {
            Refuse(http::status::payload_too_large);
        } else if (ec.category() == beast::http::make_error_code(http::error::bad_target).category() &&
                   ec != http::error::end_of_stream && ec != http::error::partial_message) {
            Refuse(http::status::bad_request);
        } else {
            Close();
        }
    }

    void Refuse(http::status status) {
        ++server_->stats.connectionsRefused;
        Answer(server_->ErrorResponse(status));
    }

    void Answer(Response response) {
        response_ = std::move(response);
        stream_.expires_after(server_->options.httpTimeout);
        http::async_write(stream_, response_, [self = shared_from_this()](const beast::error_code &ec, std::size_t) {
            self->OnAnswered(ec);
        });
    }

    void OnAnswered(const beast::error_code &ec) {
        if (finished_ || ec) {
            Close();
            return;
        }
        beast::error_code ignored;
        stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
        drain_.resize(kDrainChunkBytes);
        Drain();
    }

    // Reads what the client still sends until it closes, within a limit.
    void Drain() {
        stream_.async_read_some(asio::buffer(drain_),
                                [self = shared_from_this()](const beast::error_code &ec, std::size_t n) {
                                    self->drained_ += n;
                                    if (ec || self->finished_ || self->drained_ > kMaxDrainedBytes)
                                        self->Close();
                                    else
                                        self->Drain();
                                });
    }

    void Finish() {
        if (finished_) return;
        finished_ = true;
        server_->RemoveHttp(id_);
    }

    std::shared_ptr<SessionServer::Impl> server_;
    int id_;
    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    http::request_parser<http::string_body> parser_;
    Response response_;
    std::vector<char> drain_;
    std::size_t drained_ = 0;
    bool finished_ = false;
};

// ---------------------------------------------------------------------------
// One page's WebSocket: the handshake, the messages it sends, checked and
// passed on, and what it is sent: first the messages that must arrive, in
// order, then the newest state only.
class PageConnection : public std::enable_shared_from_this<PageConnection> {
public:
    // How a disconnection treats the messages still to send.
    enum class Ending { Flush, Drop };

    PageConnection(std::shared_ptr<SessionServer::Impl> server, int id, beast::tcp_stream stream, Request request)
        : server_(std::move(server)), id_(id), ws_(std::move(stream)), request_(std::move(request)),
          closeDeadline_(ws_.get_executor()),
          keys_(server_->options.keyEventsPerSecond, server_->options.keyBurst, server_->options.keyFloodAllowance,
                server_->clock()),
          commands_(server_->options.commandsPerSecond, server_->options.commandBurst,
                    server_->options.commandFloodAllowance, server_->clock()),
          warnings_(server_->options.warningIntervalSeconds) {}

    void Start() {
        const ServerOptions &o = server_->options;
        beast::get_lowest_layer(ws_).expires_never();  // the WebSocket's own timeouts from here on
        ws_.set_option(websocket::stream_base::timeout{o.httpTimeout, o.pageIdleTimeout, true});
        ws_.read_message_max(kMaxPageMessageBytes);
        ws_.text(true);
        ws_.async_accept(request_, [self = shared_from_this()](const beast::error_code &ec) { self->OnHandshake(ec); });
    }

    bool Open() const { return opened_ && !finished_; }

    void Publish(const std::shared_ptr<const std::string> &state) {
        if (!Open()) return;
        if (newestState_) ++server_->stats.statesReplaced;
        newestState_ = state;
        Pump();
    }

    void Send(const std::string &message) {
        if (!Open()) return;
        messages_.push_back(message);
        if (messages_.size() > server_->options.maxQueuedMessages) {
            ++server_->stats.slowPageDisconnections;
            TellDisconnection("it did not take the messages sent to it (more than " +
                              std::to_string(server_->options.maxQueuedMessages) + " waiting)");
            Disconnect(websocket::close_code::try_again_later, Ending::Drop);
            return;
        }
        Pump();
    }

    // Ends the connection for the session now (OnDisconnect at once), then
    // on the wire: the close frame after the messages still to send (Flush,
    // within the HTTP timeout) or at once (Drop); the socket closed at once
    // when there is no handshake yet, or a write is stuck and Drop was asked.
    void Disconnect(websocket::close_code code, Ending ending) {
        if (finished_) return;
        Finish(ending);
        if (!opened_ || (writing_ && ending == Ending::Drop)) {
            CloseSocket();
            return;
        }
        closeCode_ = code;
        closeWanted_ = true;
        if (ending == Ending::Flush) {
            closeDeadline_.expires_after(server_->options.httpTimeout);
            closeDeadline_.async_wait([self = shared_from_this()](const beast::error_code &ec) {
                if (!ec) self->CloseSocket();
            });
        }
        Pump();
    }

    std::size_t UnsentStates() const { return newestState_ ? 1 : 0; }

    std::size_t HeldBytes() const {
        std::size_t bytes = writingMessage_.size() + (writingState_ ? writingState_->size() : 0) +
                            (newestState_ ? newestState_->size() : 0);
        for (const std::string &m : messages_) bytes += m.size();
        return bytes;
    }

private:
    void OnHandshake(const beast::error_code &ec) {
        if (finished_) return;
        if (ec) {
            Finish(Ending::Drop);
            CloseSocket();
            return;
        }
        opened_ = true;
        request_ = {};
        ++server_->stats.connectionsAccepted;
        messages_.push_back(server_->handler ? server_->handler->Hello() : std::string());
        if (server_->newestState) newestState_ = server_->newestState;
        Pump();
        Read();
    }

    void Read() {
        ws_.async_read(readBuffer_, [self = shared_from_this()](const beast::error_code &ec, std::size_t) {
            self->OnRead(ec);
        });
    }

    void OnRead(const beast::error_code &ec) {
        if (finished_) return;
        if (ec) {
            // Beast has already sent the close frame "too big" for this one.
            if (ec == websocket::error::message_too_big) {
                ++server_->stats.abuseDisconnections;
                TellDisconnection("it sent a message over " + std::to_string(kMaxPageMessageBytes) + " bytes");
            }
            Finish(Ending::Drop);
            CloseSocket();
            return;
        }
        const bool text = ws_.got_text();
        const std::string message = beast::buffers_to_string(readBuffer_.data());
        readBuffer_.consume(readBuffer_.size());
        if (text)
            Handle(message);
        else
            CountMalformed("a binary message");
        if (!finished_) Read();
    }

    void Handle(const std::string &text) {
        const ParseResult parsed = ParsePageMessage(text);
        if (parsed.kind == Parsed::Malformed) {
            CountMalformed(parsed.problem);
            return;
        }
        const bool key = parsed.message.kind == PageMessage::Kind::Key;
        if (!WithinRate(key ? keys_ : commands_, key ? "key events" : "commands")) return;
        if (parsed.kind == Parsed::UnknownKey) {
            ++server_->stats.unknownKeys;
            return;
        }
        if (server_->handler) server_->handler->OnMessage(id_, parsed.message);
    }

    bool WithinRate(RateLimit &limit, const std::string &what) {
        const double now = server_->clock();
        if (limit.admitted.Take(now)) return true;
        ++server_->stats.rateLimitedMessages;
        ++server_->stats.messagesDropped;
        if (!limit.flood.Take(now)) {
            Abuse("it kept sending " + what + " far over the rate");
            return false;
        }
        Warn("dropped " + what + " over the rate");
        return false;
    }

    void CountMalformed(const std::string &problem) {
        ++server_->stats.malformedMessages;
        ++server_->stats.messagesDropped;
        if (++malformed_ > server_->options.maxMalformedMessages) {
            Abuse("it sent more than " + std::to_string(server_->options.maxMalformedMessages) +
                  " malformed messages");
            return;
        }
        Warn("dropped a malformed message: " + problem);
    }

    void Abuse(const std::string &why) {
        ++server_->stats.abuseDisconnections;
        TellDisconnection(why);
        Disconnect(websocket::close_code::policy_error, Ending::Drop);
    }

    void Warn(const std::string &text) {
        std::size_t suppressed = 0;
        if (!warnings_.Allow(server_->clock(), suppressed)) {
            ++server_->stats.warningsSuppressed;
            return;
        }
        std::string line = "live page " + std::to_string(id_) + ": " + text;
        if (suppressed > 0) line += " (and " + std::to_string(suppressed) + " more warnings since the last)";
        server_->Tell(line);
    }

    // Once a connection, so never held back.
    void TellDisconnection(const std::string &why) {
        server_->Tell("live page " + std::to_string(id_) + ": disconnected: " + why);
    }

    // The next write, if none is under way: a message that must arrive, else
    // the newest state, else the close frame if one is wanted.
    void Pump() {
        if (!opened_ || writing_ || socketClosed_) return;
        asio::const_buffer next;
        if (!messages_.empty()) {
            writingMessage_ = std::move(messages_.front());
            messages_.pop_front();
            next = asio::buffer(writingMessage_);
        } else if (newestState_) {
            writingState_ = std::move(newestState_);
            newestState_.reset();
            next = asio::buffer(*writingState_);
        } else if (closeWanted_) {
            closeWanted_ = false;
            writing_ = true;
            ws_.async_close(closeCode_,
                            [self = shared_from_this()](const beast::error_code &) { self->CloseSocket(); });
            return;
        } else {
            return;
        }
        writing_ = true;
        ws_.async_write(next, [self = shared_from_this()](const beast::error_code &ec, std::size_t) {
            self->OnWritten(ec);
        });
    }

    void OnWritten(const beast::error_code &ec) {
        writing_ = false;
        std::string().swap(writingMessage_);
        writingState_.reset();
        if (ec) {
            Finish(Ending::Drop);
            CloseSocket();
            return;
        }
        Pump();
    }

    // Gone for the session: out of the server's pages, and the handler told once.
    void Finish(Ending ending) {
        if (finished_) return;
        const std::shared_ptr<PageConnection> keep = shared_from_this();
        finished_ = true;
        if (ending == Ending::Drop) messages_.clear();
        newestState_.reset();
        server_->RemovePage(id_);
        if (opened_ && server_->handler) server_->handler->OnDisconnect(id_);
    }

    void CloseSocket() {
        if (socketClosed_) return;
        socketClosed_ = true;
        messages_.clear();
        closeDeadline_.cancel();
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().shutdown(tcp::socket::shutdown_both, ignored);
        beast::get_lowest_layer(ws_).close();
    }

    std::shared_ptr<SessionServer::Impl> server_;
    int id_;
    websocket::stream<beast::tcp_stream> ws_;
    Request request_;  // the upgrade request, until the handshake is done
    beast::flat_buffer readBuffer_;
    std::deque<std::string> messages_;                 // must arrive, in order
    std::shared_ptr<const std::string> newestState_;   // unsent; a newer one replaces it
    std::string writingMessage_;                       // being written
    std::shared_ptr<const std::string> writingState_;  // being written
    bool writing_ = false;
    bool opened_ = false;
    bool finished_ = false;
    bool closeWanted_ = false;
    bool socketClosed_ = false;
    websocket::close_code closeCode_ = websocket::close_code::normal;
    asio::steady_timer closeDeadline_;
    RateLimit keys_, commands_;
    std::size_t malformed_ = 0;
    WarningLimiter warnings_;
};

}  // namespace

// ---------------------------------------------------------------------------

SessionServer::Impl::Impl(asio::io_context &context, const ServerOptions &o, SessionHandler &h,
                          std::function<double()> c)
    : options(o), handler(&h), clock(std::move(c)), acceptor(context), acceptRetry(context),
      serverWarnings(o.warningIntervalSeconds) {
    CheckOptions(options);
    ThrowUnless(static_cast<bool>(clock), "no clock");
}

void SessionServer::Impl::Listen() {
    beast::error_code ec;
    address = asio::ip::make_address(options.bindAddress, ec);
    ThrowUnless(!ec, Quote(options.bindAddress) + " is not an IP address to listen on");
    const tcp::endpoint endpoint(address, options.port);
    const std::string where = HostText(address, options.port);
    acceptor.open(endpoint.protocol(), ec);
    if (!ec) acceptor.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(asio::socket_base::max_listen_connections, ec);
    ThrowUnless(!ec, "cannot listen on " + where + ": " + ec.message());
    port = acceptor.local_endpoint().port();
    // Bound to loopback, only a loopback name may be asked for: a foreign
    // name that resolves here (DNS rebinding) is refused.
    if (address.is_loopback()) loopbackHosts = {"localhost:" + std::to_string(port), HostText(address, port)};
    Accept();
}

void SessionServer::Impl::Accept() {
    acceptor.async_accept([self = shared_from_this()](const beast::error_code &ec, tcp::socket socket) {
        self->OnAccept(ec, std::move(socket));
    });
}

void SessionServer::Impl::OnAccept(const beast::error_code &ec, tcp::socket socket) {
    if (closed) return;
    if (ec) {
        Warn("cannot accept a connection: " + ec.message());
        acceptRetry.expires_after(kAcceptRetryDelay);
        acceptRetry.async_wait([self = shared_from_this()](const beast::error_code &waited) {
            if (!waited && !self->closed) self->Accept();
        });
        return;
    }
    if (httpConnections.size() >= options.maxHttpConnections) {
        ++stats.connectionsRefused;
        beast::error_code ignored;
        socket.close(ignored);
    } else {
        // States are small and frequent: each goes out at once, not held
        // back to be joined with the next.
        beast::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        const int id = nextId++;
        auto connection = std::make_shared<HttpConnection>(shared_from_this(), id, std::move(socket));
        httpConnections[id] = connection;
        connection->Start();
    }
    Accept();
}

http::status SessionServer::Impl::CheckHost(std::string_view host) const {
    if (host.empty() || host.size() > kMaxHostChars || !std::all_of(host.begin(), host.end(), IsHostChar))
        return http::status::bad_request;
    if (!loopbackHosts.empty() && std::find(loopbackHosts.begin(), loopbackHosts.end(), host) == loopbackHosts.end())
        return http::status::forbidden;
    return http::status::ok;
}

// In this order: the method, the Host, the token, the path, then for the
// WebSocket its upgrade, its origin and room for another page.
SessionServer::Impl::Decision SessionServer::Impl::Decide(const Request &request) const {
    if (request.method() != http::verb::get) return {Route::Refuse, http::status::method_not_allowed};
    const std::string_view host = View(request[http::field::host]);
    const http::status hostStatus = CheckHost(host);
    if (hostStatus != http::status::ok) return {Route::Refuse, hostStatus};
    const Target target = SplitTarget(View(request.target()));
    if (!target.token || !ConstantTimeEquals(*target.token, options.token))
        return {Route::Refuse, http::status::forbidden};
    if (target.path == kPagePath) return {Route::Page, http::status::ok};
    if (target.path != kSocketPath) return {Route::Refuse, http::status::not_found};
    if (!websocket::is_upgrade(request)) return {Route::Refuse, http::status::bad_request};
    const std::string_view origin = View(request[http::field::origin]);
    if (origin.empty() || origin != "http://" + std::string(host)) return {Route::Refuse, http::status::forbidden};
    if (pages.size() >= options.maxPages) return {Route::Refuse, http::status::service_unavailable};
    return {Route::Upgrade, http::status::switching_protocols};
}

Response SessionServer::Impl::PageResponse(const Request &request) {
    Response response{http::status::ok, kHttpVersion};
    response.set(http::field::content_type, "text/html; charset=utf-8");
    response.set(http::field::cache_control, "no-store");
    response.set("Content-Security-Policy", PageSecurityPolicy(std::string(request[http::field::host])));
    response.set("X-Content-Type-Options", "nosniff");
    response.set("X-Frame-Options", "DENY");
    // The token is in the page's address: no link may pass it on.
    response.set("Referrer-Policy", "no-referrer");
    response.body() = handler ? handler->Page() : std::string();
    response.keep_alive(false);
    response.prepare_payload();
    return response;
}

Response SessionServer::Impl::ErrorResponse(http::status status) {
    Response response{status, kHttpVersion};
    response.set(http::field::content_type, "text/plain; charset=utf-8");
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    if (status == http::status::method_not_allowed) response.set(http::field::allow, "GET");
    response.body() = std::to_string(static_cast<unsigned>(status)) + " " + std::string(http::obsolete_reason(status)) +
                      "\n";
    response.keep_alive(false);
    response.prepare_payload();
    return response;
}

void SessionServer::Impl::OpenPage(beast::tcp_stream stream, Request request) {
    const int id = nextId++;
    auto page = std::make_shared<PageConnection>(shared_from_this(), id, std::move(stream), std::move(request));
    pages[id] = page;
    page->Start();
}

void SessionServer::Impl::Warn(const std::string &text) {
    std::size_t suppressed = 0;
    if (!serverWarnings.Allow(clock(), suppressed)) {
        ++stats.warningsSuppressed;
        return;
    }
    Tell("live server: " + text +
         (suppressed > 0 ? " (and " + std::to_string(suppressed) + " more warnings since the last)" : ""));
}

void SessionServer::Impl::Close() {
    if (closed) return;
    closed = true;
    beast::error_code ignored;
    acceptor.close(ignored);
    acceptRetry.cancel();
    newestState.reset();
    std::vector<std::shared_ptr<PageConnection>> open;
    for (const auto &[id, page] : pages) open.push_back(page);
    for (const auto &page : open) page->Disconnect(websocket::close_code::going_away, PageConnection::Ending::Flush);
    std::vector<std::shared_ptr<HttpConnection>> answering;
    for (const auto &[id, weak] : httpConnections)
        if (auto connection = weak.lock()) answering.push_back(connection);
    for (const auto &connection : answering) connection->Close();
}

void SessionServer::Impl::Publish(std::string state) {
    if (closed) return;
    newestState = std::make_shared<const std::string>(std::move(state));
    std::vector<std::shared_ptr<PageConnection>> open;
    for (const auto &[id, page] : pages) open.push_back(page);
    for (const auto &page : open) page->Publish(newestState);
}

void SessionServer::Impl::Send(const std::string &message) {
    if (closed) return;
    std::vector<std::shared_ptr<PageConnection>> open;
    for (const auto &[id, page] : pages) open.push_back(page);
    for (const auto &page : open) page->Send(message);
}

ServerStats SessionServer::Impl::Stats() const {
    ServerStats s = stats;
    s.openPages = s.unsentStates = s.heldBytes = 0;
    for (const auto &[id, page] : pages) {
        if (!page->Open()) continue;
        ++s.openPages;
        s.unsentStates += page->UnsentStates();
        s.heldBytes += page->HeldBytes();
    }
    return s;
}

// ---------------------------------------------------------------------------

std::string NewSessionToken() {
    static const char kHexDigits[] = "0123456789abcdef";
    constexpr int kBitsPerByte = 8;
    constexpr unsigned kByteMask = 0xFF, kNibbleMask = 0x0F, kNibbleBits = 4;
    std::random_device device;
    std::string token;
    token.reserve(2 * kTokenBytes);
    while (token.size() < 2 * kTokenBytes) {
        // A draw gives at least 32 bits; four bytes of it.
        const std::uint32_t word = static_cast<std::uint32_t>(device());
        for (int b = 0; b < 4 && token.size() < 2 * kTokenBytes; ++b) {
            const unsigned byte = (word >> (kBitsPerByte * b)) & kByteMask;
            token += kHexDigits[byte >> kNibbleBits];
            token += kHexDigits[byte & kNibbleMask];
        }
    }
    return token;
}

SessionServer::SessionServer(asio::io_context &io, const ServerOptions &options, SessionHandler &handler,
                             std::function<double()> clock)
    : impl_(std::make_shared<Impl>(io, options, handler, std::move(clock))) {
    impl_->Listen();
}

SessionServer::~SessionServer() {
    impl_->Close();
    impl_->handler = nullptr;
}

unsigned short SessionServer::Port() const { return impl_->port; }
void SessionServer::Publish(std::string state) { impl_->Publish(std::move(state)); }
void SessionServer::Send(std::string message) { impl_->Send(message); }
void SessionServer::Close() { impl_->Close(); }
ServerStats SessionServer::Stats() const { return impl_->Stats(); }

}  // namespace vtal::sim::live
