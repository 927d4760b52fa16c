// The connection engine.
#include "net/netwire.h"
