// netwire: one asynchronous connection at a time to a POP3, NNTP or SMTP
// server, one command at a time, reporting to its caller by posted messages.
#pragma once

#include "platform/messages.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace netwire {

}  // namespace netwire
