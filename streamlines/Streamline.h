#pragma once

#include "streamlines/StreamlinePoint.h"

#include <deque>

// An ordered line from its upstream end through the seed to its downstream
// end. Tracing prepends upstream points and appends downstream ones.
using Streamline = std::deque<StreamlinePoint>;
