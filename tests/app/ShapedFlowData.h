#pragma once

#include "data/FlowData.h"

// A data set reduced to what the view port reads from it: the aspect ratio
// (width over height).
class ShapedFlowData : public FlowData
{
public:
    explicit ShapedFlowData(float aspectRatio) { aspect = aspectRatio; }
};
