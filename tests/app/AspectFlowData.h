#pragma once

#include "FlowData.h"

// A data set reduced to what the view port reads from it: the aspect ratio
// (width over height).
class AspectFlowData : public FlowData
{
public:
    explicit AspectFlowData(float aspectRatio) { aspect = aspectRatio; }
};
