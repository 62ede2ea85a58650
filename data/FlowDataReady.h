#pragma once

// The sampling workers' event type; declared with the program's other posted
// event types.
#include "data/PostedEvents.h"
