// whoprobe: one asynchronous Finger query at a time for any windowed caller.
#pragma once

#include "platform/messages.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace whoprobe {

}  // namespace whoprobe
