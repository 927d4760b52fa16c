// The Finger client.
#include "finger/whoprobe.h"
