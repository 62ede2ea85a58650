#pragma once

#include "render/StreamlinePoint.h"

#include <deque>

// An ordered line from its upstream end through the seed to its downstream
// end. Tracing prepends upstream points and appends downstream ones. Kept
// in render/ with the renderer that draws it, for the same reason as
// StreamlineParameters.
using Streamline = std::deque<StreamlinePoint>;
