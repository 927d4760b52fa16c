// The names of the Windows Sockets error codes, which the socket layer
// reports and the status texts show.
#pragma once

namespace platform {

// The standard name of a listed code ("WSAETIMEDOUT" for 10060, one combined
// name for 11004), or nullptr for a code without one.
const char* wsaErrorName(int code);

}  // namespace platform
