// What a live session's page and the flight host say to each other over the
// session's WebSocket: text frames of JSON.
//
// Page to host (each at most kMaxPageMessageBytes):
//   {"type":"key","code":"KeyM","down":true,"shift":false,"ctrl":false}
//       a key press or release; `code` is the browser's KeyboardEvent.code,
//       shift and ctrl the modifiers held with it
//   {"type":"command","name":"warp-up"|"warp-down"|"pause"|"focus-next"|"save"|"end"}
// Host to page:
//   {"type":"hello", ...}   once per connection: the scene's fixed parts
//   {"type":"state", ...}   the world as it stands, the newest only
//   {"type":"saved","path":"...","ok":true|false,"message":"..."}
//   {"type":"ended"}
#pragma once

#include <cstddef>
#include <string>

namespace vtal::sim::live {

constexpr std::size_t kMaxPageMessageBytes = 4096;

enum class Command { WarpUp, WarpDown, Pause, FocusNext, Save, End };

// A page's message as the server passes it on, checked and mapped: a key
// with the host's scan code, or a command.
struct PageMessage {
    enum class Kind { Key, Command } kind = Kind::Key;
    int scanCode = 0;  // DirectInput scan code (OAPI_KEY_...)
    bool down = false, shift = false, ctrl = false;
    Command command = Command::Pause;
};

// The session behind the server: what it serves, and what it is told.
class SessionHandler {
public:
    virtual ~SessionHandler() = default;
    // The page served at "/" (with the token).
    virtual std::string Page() = 0;
    // The first message to a page that connects.
    virtual std::string Hello() = 0;
    // A checked message from connection `connection`.
    virtual void OnMessage(int connection, const PageMessage &message) = 0;
    // The connection is gone: its keys are to be released.
    virtual void OnDisconnect(int connection) = 0;
    // A problem with what a page sent (dropped message, disconnection), for
    // the session's warnings.
    virtual void OnWarning(const std::string &message) = 0;
};

}  // namespace vtal::sim::live
