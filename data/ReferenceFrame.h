#pragma once

#include <QString>

#include <memory>
#include <utility>

class FlowData;

// The frame of reference the vectors are seen from: the file's own, one that
// moves with the field's mean velocity, or one that moves with a given
// velocity (u, v in the file's components and units). Arrows, streamlines and
// the read-out show the velocity less the frame's; derivatives are the same
// in every such frame, so the derived fields are taken from the file's field.
class ReferenceFrame
{
public:
    enum class Motion
    {
        AtRest,
        Mean,
        Given,
    };

    ReferenceFrame() = default;
    static ReferenceFrame withMean();
    static ReferenceFrame withVelocity(double u, double v);

    // The tools' --subtract: "mean" or "U,V" (two finite numbers). False,
    // with the reason, for anything else.
    static bool parse(const QString& text, ReferenceFrame* frame, QString* reason);

    Motion motion() const { return how; }
    bool atRest() const { return how == Motion::AtRest; }
    double u() const { return givenU; }
    double v() const { return givenV; }

    // The velocity this frame takes away from `data`: nothing at rest, the
    // data set's own mean for a frame with the mean (nothing where no vector
    // is finite).
    std::pair<double, double> velocityFor(const FlowData& data) const;

    // `data` seen from this frame; null at rest (`data` is then the picture
    // as it stands) or when the memory is not there (with *errorMessage).
    std::unique_ptr<FlowData> apply(const FlowData& data, QString* errorMessage = nullptr) const;

    // "moving with u = 1.5, v = 0 m/s" for the status bar, "at rest" at rest.
    QString describe(const FlowData& data) const;

    bool operator==(const ReferenceFrame& other) const
    {
        return how == other.how && givenU == other.givenU && givenV == other.givenV;
    }

private:
    Motion how = Motion::AtRest;
    double givenU = 0.0;
    double givenV = 0.0;
};
