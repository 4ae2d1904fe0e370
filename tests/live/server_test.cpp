// The live session's server over real sockets on 127.0.0.1, with Beast
// clients on the same io_context: every exchange is driven until it is done
// (a generous deadline only as a safety net), and the rate limits run on a
// clock the test sets.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include "host/OrbiterAPI.h"
#include "sim/base/InputError.h"
#include "sim/live/SessionServer.h"

namespace vtal::sim::live {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

constexpr auto kSafetyDeadline = std::chrono::seconds(30);
constexpr auto kPollSlice = std::chrono::milliseconds(50);

std::string KeyJson(const std::string &code, bool down) {
    return std::string(R"({"type":"key","code":")") + code + R"(","down":)" + (down ? "true" : "false") +
           R"(,"shift":false,"ctrl":false})";
}
std::string CommandJson(const std::string &name) { return R"({"type":"command","name":")" + name + R"("})"; }

struct Received {
    int connection;
    PageMessage message;
};

class FakeSession : public SessionHandler {
public:
    std::string page = "<!doctype html><title>live</title><p>the page</p>";
    std::string hello = R"({"type":"hello","scene":"test"})";
    std::vector<Received> messages;
    std::vector<int> disconnects;
    std::vector<std::string> warnings;
    int hellos = 0;
    std::function<void(int, const PageMessage &)> alsoOnMessage;

    std::string Page() override { return page; }
    std::string Hello() override {
        ++hellos;
        return hello;
    }
    void OnMessage(int connection, const PageMessage &message) override {
        messages.push_back({connection, message});
        if (alsoOnMessage) alsoOnMessage(connection, message);
    }
    void OnDisconnect(int connection) override { disconnects.push_back(connection); }
    void OnWarning(const std::string &message) override { warnings.push_back(message); }

    long DisconnectsOf(int connection) const { return std::count(disconnects.begin(), disconnects.end(), connection); }
};

// Runs the io_context until something is done.
class Driver {
public:
    asio::io_context io;

    template <class Done>
    void Until(Done done, const std::string &what) {
        const auto deadline = std::chrono::steady_clock::now() + kSafetyDeadline;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) throw std::runtime_error("never happened: " + what);
            if (io.stopped()) io.restart();
            io.run_one_for(kPollSlice);
        }
    }

    // Starts an asynchronous operation with a handler that records its
    // result, and drives it to completion.
    template <class Start>
    beast::error_code Await(Start start, const std::string &what) {
        auto done = std::make_shared<std::optional<beast::error_code>>();
        start([done](const beast::error_code &ec, auto &&...) { *done = ec; });
        Until([&] { return done->has_value(); }, what);
        return **done;
    }
};

// A browser page's side of the WebSocket.
class TestPage {
public:
    explicit TestPage(Driver &driver) : driver_(driver), ws_(driver.io) {}

    // The handshake; the server's answer stays in `response`.
    beast::error_code Open(unsigned short port, const std::string &target, const std::string &host,
                           const std::optional<std::string> &origin) {
        const beast::error_code connected = driver_.Await(
            [&](auto handler) {
                beast::get_lowest_layer(ws_).async_connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), port),
                                                           handler);
            },
            "connect");
        if (connected) return connected;
        beast::get_lowest_layer(ws_).socket().set_option(tcp::no_delay(true));
        ws_.set_option(websocket::stream_base::decorator([origin](websocket::request_type &request) {
            if (origin) request.set(http::field::origin, *origin);
        }));
        return driver_.Await([&](auto handler) { ws_.async_handshake(response, host, target, handler); },
                             "handshake");
    }

    beast::error_code TryRead(std::string &text) {
        beast::flat_buffer buffer;
        const beast::error_code ec = driver_.Await([&](auto handler) { ws_.async_read(buffer, handler); }, "read");
        text = beast::buffers_to_string(buffer.data());
        return ec;
    }
    std::string Read() {
        std::string text;
        const beast::error_code ec = TryRead(text);
        if (ec) throw std::runtime_error("read failed: " + ec.message());
        return text;
    }
    // Reads until the server closes; the close code it gave.
    unsigned ReadUntilClosed() {
        std::string ignored;
        while (!TryRead(ignored)) {
        }
        return ws_.reason().code;
    }

    beast::error_code TryWrite(const std::string &text, bool binary = false) {
        ws_.binary(binary);
        return driver_.Await([&](auto handler) { ws_.async_write(asio::buffer(text), handler); }, "write");
    }
    void Write(const std::string &text) {
        const beast::error_code ec = TryWrite(text);
        if (ec) throw std::runtime_error("write failed: " + ec.message());
    }
    void CloseNormally() {
        driver_.Await([&](auto handler) { ws_.async_close(websocket::close_code::normal, handler); }, "close");
    }
    // Gone without a close frame: a FIN, or with `reset` a TCP reset.
    void Drop(bool reset) {
        tcp::socket &socket = beast::get_lowest_layer(ws_).socket();
        beast::error_code ignored;
        if (reset) socket.set_option(asio::socket_base::linger(true, 0), ignored);
        socket.close(ignored);
    }

    websocket::response_type response;

private:
    Driver &driver_;
    websocket::stream<beast::tcp_stream> ws_;
};

class LiveServer : public ::testing::Test {
protected:
    void SetUp() override { options.token = NewSessionToken(); }

    void Start() {
        server = std::make_unique<SessionServer>(driver.io, options, session, [this] { return now; });
    }

    std::string Host() const { return "127.0.0.1:" + std::to_string(server->Port()); }
    std::string SocketTarget() const { return "/ws?token=" + options.token; }

    http::response<http::string_body> Get(const std::string &target, http::verb verb = http::verb::get,
                                          const std::optional<std::string> &host = std::nullopt,
                                          const std::string &extraHeaderValue = "") {
        beast::tcp_stream stream(driver.io);
        EXPECT_FALSE(driver.Await(
            [&](auto handler) {
                stream.async_connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), server->Port()), handler);
            },
            "connect"));
        http::request<http::string_body> request{verb, target, 11};
        if (host) {
            if (!host->empty()) request.set(http::field::host, *host);
        } else {
            request.set(http::field::host, Host());
        }
        if (!extraHeaderValue.empty()) request.set("X-Padding", extraHeaderValue);
        EXPECT_FALSE(driver.Await([&](auto handler) { http::async_write(stream, request, handler); }, "request"));
        beast::flat_buffer buffer;
        http::response<http::string_body> response;
        EXPECT_FALSE(
            driver.Await([&](auto handler) { http::async_read(stream, buffer, response, handler); }, "response"));
        return response;
    }

    // A page with its Hello read.
    std::unique_ptr<TestPage> Connect() {
        auto page = std::make_unique<TestPage>(driver);
        const beast::error_code ec = page->Open(server->Port(), SocketTarget(), Host(), "http://" + Host());
        if (ec) throw std::runtime_error("handshake failed: " + ec.message());
        EXPECT_EQ(page->Read(), session.hello);
        return page;
    }

    // The handshake's HTTP status; 101 for a page let in.
    unsigned HandshakeStatus(const std::string &target, const std::string &host,
                             const std::optional<std::string> &origin) {
        TestPage page(driver);
        page.Open(server->Port(), target, host, origin);
        return page.response.result_int();
    }

    // Waits until the server has taken `count` messages in all, passed on or dropped.
    void WaitForMessagesTaken(std::size_t count) {
        driver.Until(
            [&] {
                const ServerStats s = server->Stats();
                return session.messages.size() + s.messagesDropped + s.unknownKeys >= count;
            },
            std::to_string(count) + " messages taken");
    }

    Driver driver;
    FakeSession session;
    ServerOptions options;
    double now = 0.0;
    std::unique_ptr<SessionServer> server;
};

// ---------------------------------------------------------------------------
// HTTP

TEST_F(LiveServer, ServesThePageWithTheTokenUnderARestrictivePolicy) {
    Start();
    const auto response = Get("/?token=" + options.token);
    EXPECT_EQ(response.result(), http::status::ok);
    EXPECT_EQ(response.body(), session.page);
    EXPECT_EQ(response[http::field::content_type], "text/html; charset=utf-8");
    EXPECT_EQ(response[http::field::cache_control], "no-store");
    EXPECT_EQ(response["X-Content-Type-Options"], "nosniff");
    EXPECT_EQ(response["Referrer-Policy"], "no-referrer");
    const std::string policy(response["Content-Security-Policy"]);
    EXPECT_NE(policy.find("default-src 'none'"), std::string::npos) << policy;
    EXPECT_NE(policy.find("script-src 'unsafe-inline'"), std::string::npos) << policy;
    EXPECT_NE(policy.find("style-src 'unsafe-inline'"), std::string::npos) << policy;
    EXPECT_NE(policy.find("connect-src ws://" + Host() + ";"), std::string::npos) << policy;
    EXPECT_NE(policy.find("frame-ancestors 'none'"), std::string::npos) << policy;

    // Asked for by the name localhost, the page may talk to localhost.
    const std::string localhost = "localhost:" + std::to_string(server->Port());
    const auto byName = Get("/?token=" + options.token, http::verb::get, localhost);
    EXPECT_EQ(byName.result(), http::status::ok);
    EXPECT_NE(std::string(byName["Content-Security-Policy"]).find("connect-src ws://" + localhost + ";"),
              std::string::npos);
    // Other query parameters do not matter.
    EXPECT_EQ(Get("/?x=1&token=" + options.token + "&y").result(), http::status::ok);
    EXPECT_EQ(server->Stats().pagesServed, 3u);
}

TEST_F(LiveServer, RefusesEveryRequestWithoutTheRightToken) {
    Start();
    const std::string &token = options.token;
    std::string wrong = token;
    wrong[0] = wrong[0] == 'a' ? 'b' : 'a';
    for (const std::string &target : std::vector<std::string>{
             "/", "/?token=", "/?token=" + wrong, "/?token=" + token.substr(0, token.size() - 1),
          "/?token=" + token + "0", "/?Token=" + token, "/?token=" + token + "&token=" + token,
          "/?token=" + token + "&token=" + wrong, "/ws?token=" + wrong, "/other?token=" + wrong}) {
        const auto response = Get(target);
        EXPECT_EQ(response.result(), http::status::forbidden) << target;
        EXPECT_EQ(response.body().find(session.page), std::string::npos) << target;
    }
    EXPECT_EQ(server->Stats().connectionsRefused, 10u);
    EXPECT_EQ(server->Stats().pagesServed, 0u);
}

TEST_F(LiveServer, AnswersOtherPathsMethodsAndHostsWithTheirErrors) {
    Start();
    const std::string query = "?token=" + options.token;
    EXPECT_EQ(Get("/other" + query).result(), http::status::not_found);
    EXPECT_EQ(Get("/index.html" + query).result(), http::status::not_found);
    EXPECT_EQ(Get("/../etc/passwd" + query).result(), http::status::not_found);
    // The WebSocket's path, asked for without an upgrade.
    EXPECT_EQ(Get("/ws" + query).result(), http::status::bad_request);
    const auto post = Get("/" + query, http::verb::post);
    EXPECT_EQ(post.result(), http::status::method_not_allowed);
    EXPECT_EQ(post[http::field::allow], "GET");
    EXPECT_EQ(Get("/" + query, http::verb::head).result(), http::status::method_not_allowed);
    EXPECT_EQ(Get("/" + query, http::verb::delete_).result(), http::status::method_not_allowed);
    // A foreign name that resolves to this machine (DNS rebinding), no Host, a Host that is no host.
    EXPECT_EQ(Get("/" + query, http::verb::get, "evil.example:" + std::to_string(server->Port())).result(),
              http::status::forbidden);
    EXPECT_EQ(Get("/" + query, http::verb::get, "127.0.0.1:1").result(), http::status::forbidden);
    EXPECT_EQ(Get("/" + query, http::verb::get, "").result(), http::status::bad_request);
    EXPECT_EQ(Get("/" + query, http::verb::get, "127.0.0.1:1; x").result(), http::status::bad_request);
    EXPECT_EQ(server->Stats().connectionsRefused, 11u);
    EXPECT_EQ(server->Stats().pagesServed, 0u);
}

TEST_F(LiveServer, RefusesRequestHeadersOverTheLimit) {
    options.maxRequestHeaderBytes = 2048;
    Start();
    EXPECT_EQ(Get("/?token=" + options.token, http::verb::get, std::nullopt, std::string(1500, 'x')).result(),
              http::status::ok);
    EXPECT_EQ(Get("/?token=" + options.token, http::verb::get, std::nullopt, std::string(4000, 'x')).result(),
              http::status::request_header_fields_too_large);
}

TEST_F(LiveServer, ClosesAnHttpConnectionThatSendsNoRequest) {
    options.httpTimeout = std::chrono::milliseconds(1);
    Start();
    beast::tcp_stream stream(driver.io);
    ASSERT_FALSE(driver.Await(
        [&](auto handler) {
            stream.async_connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), server->Port()), handler);
        },
        "connect"));
    char byte = 0;
    const beast::error_code ec =
        driver.Await([&](auto handler) { stream.async_read_some(asio::buffer(&byte, 1), handler); }, "closed");
    EXPECT_TRUE(ec == asio::error::eof || ec == asio::error::connection_reset) << ec.message();
}

// ---------------------------------------------------------------------------
// The WebSocket handshake

TEST_F(LiveServer, RefusesAHandshakeWithoutTokenOrFromAnotherOriginOrHost) {
    Start();
    const std::string port = std::to_string(server->Port());
    const std::string origin = "http://" + Host();
    std::string wrong = options.token;
    wrong[0] = wrong[0] == 'a' ? 'b' : 'a';
    EXPECT_EQ(HandshakeStatus("/ws", Host(), origin), 403u);
    EXPECT_EQ(HandshakeStatus("/ws?token=" + wrong, Host(), origin), 403u);
    EXPECT_EQ(HandshakeStatus(SocketTarget(), Host(), "http://evil.example"), 403u);
    EXPECT_EQ(HandshakeStatus(SocketTarget(), Host(), std::nullopt), 403u);
    EXPECT_EQ(HandshakeStatus(SocketTarget(), Host(), "null"), 403u);
    EXPECT_EQ(HandshakeStatus(SocketTarget(), Host(), "https://" + Host()), 403u);
    EXPECT_EQ(HandshakeStatus(SocketTarget(), Host(), "http://localhost:" + port), 403u);
    // DNS rebinding: the page of a foreign name, with its own origin.
    EXPECT_EQ(HandshakeStatus(SocketTarget(), "evil.example:" + port, "http://evil.example:" + port), 403u);
    EXPECT_EQ(HandshakeStatus("/other?token=" + options.token, Host(), origin), 404u);
    EXPECT_EQ(session.hellos, 0);
    EXPECT_EQ(server->Stats().connectionsAccepted, 0u);
    EXPECT_EQ(server->Stats().connectionsRefused, 9u);
    EXPECT_TRUE(session.disconnects.empty());

    const std::string localhost = "localhost:" + port;
    EXPECT_EQ(HandshakeStatus(SocketTarget(), localhost, "http://" + localhost), 101u);
    EXPECT_EQ(HandshakeStatus(SocketTarget(), Host(), origin), 101u);
    EXPECT_EQ(server->Stats().connectionsAccepted, 2u);
}

TEST_F(LiveServer, GivesHelloFirstThenTheNewestStateAndTheMessagesThatMustArrive) {
    Start();
    server->Publish("state 1");
    auto page = Connect();
    EXPECT_EQ(page->Read(), "state 1");  // the newest so far, for a page that connects later
    server->Publish("state 2");
    EXPECT_EQ(page->Read(), "state 2");
    // A message sent while nothing is being written goes before a state published after it.
    server->Send(R"({"type":"saved"})");
    server->Publish("state 3");
    EXPECT_EQ(page->Read(), R"({"type":"saved"})");
    EXPECT_EQ(page->Read(), "state 3");
    EXPECT_EQ(session.hellos, 1);
}

TEST_F(LiveServer, MorePagesThanTheLimitGet503AndAPageAfterADisconnectGetsHelloFirst) {
    options.maxPages = 2;
    Start();
    auto first = Connect();
    auto second = Connect();
    EXPECT_EQ(HandshakeStatus(SocketTarget(), Host(), "http://" + Host()), 503u);
    EXPECT_EQ(server->Stats().openPages, 2u);

    first->CloseNormally();
    driver.Until([&] { return session.disconnects.size() == 1; }, "the first page's disconnection");
    server->Publish("state after");
    auto third = Connect();  // reads the Hello first
    EXPECT_EQ(third->Read(), "state after");
    EXPECT_EQ(second->Read(), "state after");
    EXPECT_EQ(session.hellos, 3);
    EXPECT_EQ(server->Stats().connectionsAccepted, 3u);
    EXPECT_EQ(server->Stats().openPages, 2u);
}

// ---------------------------------------------------------------------------
// What a page sends

TEST_F(LiveServer, PassesGoodMessagesOnInOrderAndDropsAndCountsMalformedOnes) {
    Start();
    auto page = Connect();
    const std::string code33(33, 'K');
    const std::vector<std::string> malformed = {
        "{not json",
        "[1,2,3]",
        R"("key")",
        R"({"type":"mouse","x":1})",
        R"({"code":"KeyM","down":true,"shift":false,"ctrl":false})",
        R"({"type":"key","code":"KeyM","down":"yes","shift":false,"ctrl":false})",
        R"({"type":"key","code":77,"down":true,"shift":false,"ctrl":false})",
        R"({"type":"key","code":"KeyM","down":true})",
        R"({"type":"key","code":"KeyM","down":true,"shift":false,"ctrl":false,"extra":1})",
        R"({"type":"key","code":")" + code33 + R"(","down":true,"shift":false,"ctrl":false})",
        R"({"type":"command","name":"self-destruct"})",
        R"({"type":"command","name":7})",
        R"({"type":7})",
    };
    page->Write(KeyJson("KeyM", true));
    for (const std::string &m : malformed) page->Write(m);
    ASSERT_FALSE(page->TryWrite(KeyJson("KeyM", false), /*binary=*/true));
    // A key the table does not know is no fault of the page: ignored, not counted.
    page->Write(KeyJson("IntlBackslash", true));
    page->Write(R"({"type":"key","code":"Numpad8","down":false,"shift":true,"ctrl":true})");
    page->Write(CommandJson("warp-up"));
    WaitForMessagesTaken(malformed.size() + 5);

    ASSERT_EQ(session.messages.size(), 3u);
    const PageMessage &m0 = session.messages[0].message, &m1 = session.messages[1].message,
                      &m2 = session.messages[2].message;
    EXPECT_EQ(m0.kind, PageMessage::Kind::Key);
    EXPECT_EQ(m0.scanCode, OAPI_KEY_M);
    EXPECT_TRUE(m0.down);
    EXPECT_EQ(m1.kind, PageMessage::Kind::Key);
    EXPECT_EQ(m1.scanCode, OAPI_KEY_NUMPAD8);
    EXPECT_FALSE(m1.down);
    EXPECT_TRUE(m1.shift);
    EXPECT_TRUE(m1.ctrl);
    EXPECT_EQ(m2.kind, PageMessage::Kind::Command);
    EXPECT_EQ(m2.command, Command::WarpUp);
    const ServerStats s = server->Stats();
    EXPECT_EQ(s.malformedMessages, malformed.size() + 1);
    EXPECT_EQ(s.messagesDropped, malformed.size() + 1);
    EXPECT_EQ(s.unknownKeys, 1u);
    EXPECT_EQ(s.abuseDisconnections, 0u);
    EXPECT_TRUE(session.disconnects.empty());

    // On a clock that stands still, one warning told, the rest counted, and
    // their number told with the next warning a second later.
    ASSERT_EQ(session.warnings.size(), 1u);
    EXPECT_NE(session.warnings[0].find("malformed"), std::string::npos) << session.warnings[0];
    EXPECT_EQ(s.warningsSuppressed, malformed.size());
    now = 1.0;
    page->Write("{");
    page->Write(CommandJson("pause"));
    WaitForMessagesTaken(malformed.size() + 7);
    ASSERT_EQ(session.warnings.size(), 2u);
    EXPECT_NE(session.warnings[1].find("and " + std::to_string(malformed.size()) + " more"), std::string::npos)
        << session.warnings[1];
}

TEST_F(LiveServer, MapsEveryCommandName) {
    Start();
    auto page = Connect();
    const std::pair<const char *, Command> names[] = {{"warp-up", Command::WarpUp}, {"warp-down", Command::WarpDown},
                                                      {"pause", Command::Pause},    {"focus-next", Command::FocusNext},
                                                      {"save", Command::Save},      {"end", Command::End}};
    for (const auto &[name, command] : names) page->Write(CommandJson(name));
    WaitForMessagesTaken(6);
    ASSERT_EQ(session.messages.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(session.messages[i].message.kind, PageMessage::Kind::Command);
        EXPECT_EQ(session.messages[i].message.command, names[i].second) << names[i].first;
    }
}

TEST_F(LiveServer, DisconnectsAPageThatSendsMoreThanTheMalformedLimit) {
    Start();
    auto page = Connect();
    for (std::size_t i = 0; i < options.maxMalformedMessages; ++i) page->Write("nonsense");
    page->Write(CommandJson("pause"));
    WaitForMessagesTaken(options.maxMalformedMessages + 1);
    ASSERT_EQ(session.messages.size(), 1u);  // still connected at the limit
    EXPECT_TRUE(session.disconnects.empty());

    page->Write("one too many");
    EXPECT_EQ(page->ReadUntilClosed(), static_cast<unsigned>(websocket::close_code::policy_error));
    driver.Until([&] { return !session.disconnects.empty(); }, "the disconnection");
    EXPECT_EQ(session.disconnects.size(), 1u);
    EXPECT_EQ(server->Stats().abuseDisconnections, 1u);
    EXPECT_EQ(server->Stats().openPages, 0u);
    EXPECT_NE(session.warnings.back().find("disconnected"), std::string::npos) << session.warnings.back();
}

TEST_F(LiveServer, AnOversizedMessageClosesItsConnectionOnly) {
    Start();
    auto big = Connect();
    auto other = Connect();
    // At the limit, a key padded with blanks is still a key.
    std::string largest = KeyJson("KeyG", true);
    largest.append(kMaxPageMessageBytes - largest.size(), ' ');
    big->Write(largest);
    WaitForMessagesTaken(1);
    ASSERT_EQ(session.messages.size(), 1u);
    const int bigId = session.messages[0].connection;

    big->Write(largest + " ");
    EXPECT_EQ(big->ReadUntilClosed(), static_cast<unsigned>(websocket::close_code::too_big));
    driver.Until([&] { return !session.disconnects.empty(); }, "the disconnection");
    EXPECT_EQ(session.DisconnectsOf(bigId), 1);
    EXPECT_EQ(session.disconnects.size(), 1u);
    EXPECT_EQ(server->Stats().abuseDisconnections, 1u);
    EXPECT_NE(session.warnings.back().find("over 4096 bytes"), std::string::npos) << session.warnings.back();

    other->Write(KeyJson("KeyG", false));
    WaitForMessagesTaken(2);
    EXPECT_EQ(session.messages.size(), 2u);
    EXPECT_NE(session.messages[1].connection, bigId);
}

// ---------------------------------------------------------------------------
// Rates

TEST_F(LiveServer, CutsAKeyBurstToTheBucketAndRefillsItWithTheClock) {
    options.keyEventsPerSecond = 64;  // a step of 1/64 s adds up exactly
    Start();
    auto page = Connect();
    for (int i = 0; i < 150; ++i) page->Write(KeyJson("Numpad8", i % 2 == 0));
    WaitForMessagesTaken(150);
    EXPECT_EQ(session.messages.size(), 100u);  // the burst
    EXPECT_EQ(server->Stats().rateLimitedMessages, 50u);

    // Commands have a bucket of their own, untouched by the keys.
    for (int i = 0; i < 12; ++i) page->Write(CommandJson("pause"));
    WaitForMessagesTaken(162);
    EXPECT_EQ(session.messages.size(), 110u);
    EXPECT_EQ(server->Stats().rateLimitedMessages, 52u);

    // A second later, a second's worth more.
    now = 1.0;
    for (int i = 0; i < 70; ++i) page->Write(KeyJson("Numpad8", i % 2 == 0));
    WaitForMessagesTaken(232);
    EXPECT_EQ(session.messages.size(), 174u);
    EXPECT_EQ(server->Stats().rateLimitedMessages, 58u);
    EXPECT_TRUE(session.disconnects.empty());
    EXPECT_EQ(server->Stats().abuseDisconnections, 0u);

    // At the sustained rate, nothing is dropped.
    for (int i = 0; i < 100; ++i) {
        now += 1.0 / options.keyEventsPerSecond;
        page->Write(KeyJson("Numpad2", i % 2 == 0));
    }
    WaitForMessagesTaken(332);
    EXPECT_EQ(session.messages.size(), 274u);
    EXPECT_EQ(server->Stats().rateLimitedMessages, 58u);
}

TEST_F(LiveServer, DisconnectsAPageThatKeepsFloodingKeys) {
    Start();
    auto page = Connect();
    const int burst = static_cast<int>(options.keyBurst), allowance = static_cast<int>(options.keyFloodAllowance);
    for (int i = 0; i < burst + allowance + 50; ++i)
        if (page->TryWrite(KeyJson("KeyM", i % 2 == 0))) break;
    EXPECT_EQ(page->ReadUntilClosed(), static_cast<unsigned>(websocket::close_code::policy_error));
    driver.Until([&] { return !session.disconnects.empty(); }, "the disconnection");
    EXPECT_EQ(session.disconnects.size(), 1u);
    EXPECT_EQ(session.messages.size(), static_cast<std::size_t>(burst));
    // Dropped until the allowance was spent; nothing taken after the disconnection.
    EXPECT_EQ(server->Stats().rateLimitedMessages, static_cast<std::size_t>(allowance + 1));
    EXPECT_EQ(server->Stats().abuseDisconnections, 1u);
}

TEST_F(LiveServer, DisconnectsAPageThatKeepsFloodingCommands) {
    Start();
    auto page = Connect();
    for (int i = 0; i < 200; ++i)
        if (page->TryWrite(CommandJson("warp-up"))) break;
    EXPECT_EQ(page->ReadUntilClosed(), static_cast<unsigned>(websocket::close_code::policy_error));
    EXPECT_EQ(session.messages.size(), static_cast<std::size_t>(options.commandBurst));
    EXPECT_EQ(server->Stats().abuseDisconnections, 1u);
}

// ---------------------------------------------------------------------------
// Disconnections

TEST_F(LiveServer, APageGoneWithoutACloseFrameIsDisconnectedOnce) {
    Start();
    auto quiet = Connect();
    auto reset = Connect();
    quiet->Write(KeyJson("KeyA", true));
    reset->Write(KeyJson("KeyS", true));
    WaitForMessagesTaken(2);
    const int quietId = session.messages[0].connection, resetId = session.messages[1].connection;

    quiet->Drop(/*reset=*/false);
    reset->Drop(/*reset=*/true);
    driver.Until([&] { return session.disconnects.size() == 2; }, "both disconnections");
    // Anything later (states to publish, messages to send) finds them gone.
    server->Publish("state");
    server->Send("saved");
    driver.io.poll();
    EXPECT_EQ(session.DisconnectsOf(quietId), 1);
    EXPECT_EQ(session.DisconnectsOf(resetId), 1);
    EXPECT_EQ(session.disconnects.size(), 2u);
    EXPECT_EQ(server->Stats().openPages, 0u);
    EXPECT_EQ(server->Stats().abuseDisconnections, 0u);
}

TEST_F(LiveServer, CloseSendsWhatMustArriveThenClosesEveryPageAndStopsListening) {
    Start();
    auto a = Connect();
    auto b = Connect();
    server->Send(R"({"type":"ended"})");
    server->Close();
    EXPECT_EQ(session.disconnects.size(), 2u);  // told before Close returns
    EXPECT_EQ(a->Read(), R"({"type":"ended"})");
    EXPECT_EQ(a->ReadUntilClosed(), static_cast<unsigned>(websocket::close_code::going_away));
    EXPECT_EQ(b->Read(), R"({"type":"ended"})");
    EXPECT_EQ(b->ReadUntilClosed(), static_cast<unsigned>(websocket::close_code::going_away));

    tcp::socket socket(driver.io);
    EXPECT_TRUE(driver.Await(
        [&](auto handler) {
            socket.async_connect(tcp::endpoint(asio::ip::make_address("127.0.0.1"), server->Port()), handler);
        },
        "a refused connection"));
    // Nothing of the server is left for the io_context to run.
    driver.io.restart();
    const auto deadline = std::chrono::steady_clock::now() + kSafetyDeadline;
    while (!driver.io.stopped()) {
        driver.io.run_one_for(kPollSlice);
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the io_context still has work after Close";
    }
    server->Close();  // a second time changes nothing
    EXPECT_EQ(session.disconnects.size(), 2u);
}

TEST_F(LiveServer, TheSessionMayAnswerAndCloseFromInsideItsMessageHandler) {
    Start();
    auto page = Connect();
    session.alsoOnMessage = [&](int, const PageMessage &m) {
        if (m.kind != PageMessage::Kind::Command) return;
        if (m.command == Command::Save) server->Send(R"({"type":"saved","ok":true})");
        if (m.command == Command::End) {
            server->Send(R"({"type":"ended"})");
            server->Close();
        }
    };
    page->Write(CommandJson("save"));
    EXPECT_EQ(page->Read(), R"({"type":"saved","ok":true})");
    page->Write(CommandJson("end"));
    EXPECT_EQ(page->Read(), R"({"type":"ended"})");
    EXPECT_EQ(page->ReadUntilClosed(), static_cast<unsigned>(websocket::close_code::going_away));
    EXPECT_EQ(session.disconnects.size(), 1u);
}

// ---------------------------------------------------------------------------
// A page that does not read

TEST_F(LiveServer, APageThatDoesNotReadHoldsAtMostOneUnsentState) {
    Start();
    auto page = Connect();
    constexpr int kStates = 10000;
    constexpr std::size_t kStateBytes = 64 * 1024;
    auto stateNumbered = [&](int i) {
        char label[32];
        std::snprintf(label, sizeof label, "state %05d ", i);
        std::string state(label);
        state.resize(kStateBytes, '.');
        return state;
    };
    std::size_t mostHeld = 0;
    for (int i = 0; i < kStates; ++i) {
        server->Publish(stateNumbered(i));
        if (i % 10 == 0) driver.io.poll();
        const ServerStats s = server->Stats();
        ASSERT_LE(s.unsentStates, 1u) << "after state " << i;
        mostHeld = std::max(mostHeld, s.heldBytes);
    }
    // One state being written and one waiting, never more.
    EXPECT_LE(mostHeld, 2 * kStateBytes);
    const ServerStats s = server->Stats();
    EXPECT_GT(s.statesReplaced, static_cast<std::size_t>(kStates) * 9 / 10);
    EXPECT_EQ(s.openPages, 1u);

    // Reading again, the page gets the newest state in the end, having
    // skipped most of the others.
    int received = 0;
    std::string last;
    while (last.rfind("state 09999 ", 0) != 0) {
        last = page->Read();
        ++received;
    }
    EXPECT_LT(received, kStates / 10);
    EXPECT_TRUE(session.disconnects.empty());
}

TEST_F(LiveServer, APageThatDoesNotTakeItsMessagesIsDisconnectedWhenTooManyWait) {
    Start();
    auto page = Connect();
    driver.io.poll();  // the Hello's write done
    // Without the io_context running, the first message (larger than the
    // socket takes at once) stays being written and the rest wait.
    server->Send(std::string(8 << 20, ' '));
    for (std::size_t i = 0; i < options.maxQueuedMessages; ++i) server->Send(R"({"type":"saved"})");
    EXPECT_TRUE(session.disconnects.empty());
    EXPECT_EQ(server->Stats().openPages, 1u);
    server->Send(R"({"type":"saved"})");
    EXPECT_EQ(session.disconnects.size(), 1u);
    EXPECT_EQ(server->Stats().slowPageDisconnections, 1u);
    EXPECT_EQ(server->Stats().openPages, 0u);
    EXPECT_EQ(server->Stats().heldBytes, 0u);
    server->Send(R"({"type":"saved"})");
    // The write under way fails as the socket closes; the session has been told already.
    std::string text;
    while (!page->TryRead(text)) {
    }
    driver.io.poll();
    EXPECT_EQ(session.disconnects.size(), 1u);
}

// ---------------------------------------------------------------------------
// Options and the token

TEST(LiveServerOptions, BadOptionsAreRefusedWithAClearError) {
    asio::io_context io;
    FakeSession session;
    auto clock = [] { return 0.0; };
    auto refused = [&](const ServerOptions &o, const std::string &expected) {
        try {
            SessionServer server(io, o, session, clock);
            ADD_FAILURE() << "accepted: " << expected;
        } catch (const InputError &e) {
            EXPECT_NE(std::string(e.what()).find(expected), std::string::npos) << e.what();
        }
    };
    ServerOptions good;
    good.token = NewSessionToken();
    ServerOptions o = good;
    o.token = "";
    refused(o, "token");
    o.token = "short";
    refused(o, "token");
    o.token = good.token + "&x=1";
    refused(o, "token");
    o = good;
    o.bindAddress = "localhost";
    refused(o, "not an IP address");
    o.bindAddress = "999.1.1.1";
    refused(o, "not an IP address");
    o = good;
    o.maxPages = 0;
    refused(o, "at least 1");
    o = good;
    o.keyEventsPerSecond = std::nan("");
    refused(o, "rates");
    o = good;
    o.commandBurst = 0.5;
    refused(o, "bursts");

    // A port in use.
    SessionServer first(io, good, session, clock);
    o = good;
    o.port = first.Port();
    refused(o, "cannot listen on 127.0.0.1:" + std::to_string(first.Port()));
}

TEST(LiveServerOptions, SessionTokensAre128RandomBitsInLowercaseHex) {
    const std::string a = NewSessionToken(), b = NewSessionToken();
    EXPECT_EQ(a.size(), 32u);
    const auto lowercaseHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    EXPECT_TRUE(std::all_of(a.begin(), a.end(), lowercaseHex)) << a;
    EXPECT_NE(a, b);
}

}  // namespace
}  // namespace vtal::sim::live
