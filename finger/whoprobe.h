// whoprobe: one asynchronous Finger query at a time for any windowed caller.
//
// The caller starts the socket layer once with OpenWinsock, starts a query
// with Finger, hands every `dllmsg` message its window receives to
// ProcessDllMsg, and learns the outcome from posted messages:
//   errmsg, wParam 0: a progress text ("looking up site [host]", ...)
//   errmsg, wParam 1: an error text; the query is over
//   appmsg, wParam 0: the reply (lines ending in CR LF, at most 1024 bytes
//                     of what the server sent), or "Send error", or
//                     "Not in use" (Abort while idle)
// lParam of errmsg and appmsg is a `const char*` owned by the library, valid
// until the next query replaces it; copy what you keep.
//
// A query is "user@host": everything before the last at-sign is sent, the
// host is a name or a dotted IPv4 address and may end in ":PORT" to reach a
// server on another port than 79.
#pragma once

#include "platform/messages.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace whoprobe {

inline constexpr uint16_t kFingerPort = 79;
// The query line buffer: the user part, CR LF and a NUL.
inline constexpr int kQueryBufferSize = 1024;
inline constexpr int kMaxUserPart = kQueryBufferSize - 3;
// The reply keeps at most this many bytes of what the server sends.
inline constexpr int kReplyLimit = 1024;

// Starts the socket layer (version 1.1). 0 on success, 1 on failure.
int OpenWinsock();
// Ends a running query and shuts the socket layer down. 0, or the socket
// layer's last error code when the shut-down failed.
int CloseWinsock();
// Starts a query; every outcome is posted. Returns 0.
int Finger(platform::Window* window, uint32_t dllmsg, uint32_t appmsg, uint32_t errmsg,
           std::string_view query);
// Advances the query with a `dllmsg` message. Returns 0.
int ProcessDllMsg(uintptr_t wParam, intptr_t lParam);
// Ends the query; while idle posts "Not in use" on appmsg to the window of
// the last Finger call. Returns 0.
int Abort();
// The name of a socket error code; codes without a name give "ERROR %d".
// The text stays valid until the next unnamed code.
const char* GetWSAError(int code);

}  // namespace whoprobe
