#pragma once

#include "Streamline.h"
#include "StreamlineParameters.h"

#include <vector>

class FlowData;

// Traces evenly-spaced streamlines over a data set. Free of widgets; the
// streamline layer owns one and hands it its parameters.
class StreamlineTracer
{
public:
    explicit StreamlineTracer(const StreamlineParameters& parameters = StreamlineParameters());

    void setParameters(const StreamlineParameters& parameters);
    const StreamlineParameters& parameters() const { return params; }

    // Places the streamlines over `data` with the current parameters and
    // returns them in tracing order (the first line may be empty). Timed by a
    // ProfileTimer named "LayerStreamlines/genStreamline".
    std::vector<Streamline> placeStreamlines(const FlowData& data);

private:
    StreamlineParameters params;
};
