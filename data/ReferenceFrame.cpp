#include "data/ReferenceFrame.h"

#include "data/FlowData.h"

#include <QStringList>

#include <cmath>

ReferenceFrame ReferenceFrame::withMean()
{
    ReferenceFrame frame;
    frame.how = Motion::Mean;
    return frame;
}

ReferenceFrame ReferenceFrame::withVelocity(double u, double v)
{
    ReferenceFrame frame;
    frame.how = Motion::Given;
    frame.givenU = u;
    frame.givenV = v;
    return frame;
}

bool ReferenceFrame::parse(const QString& text, ReferenceFrame* frame, QString* reason)
{
    const QString trimmed = text.trimmed();
    if (trimmed.compare(QLatin1String("mean"), Qt::CaseInsensitive) == 0) {
        *frame = withMean();
        return true;
    }
    const QStringList parts = trimmed.split(QLatin1Char(','));
    bool uOk = false;
    bool vOk = false;
    const double u = parts.size() == 2 ? parts[0].trimmed().toDouble(&uOk) : 0.0;
    const double v = parts.size() == 2 ? parts[1].trimmed().toDouble(&vOk) : 0.0;
    if (!uOk || !vOk || !std::isfinite(u) || !std::isfinite(v)) {
        *reason = QStringLiteral("not \"mean\" nor two numbers U,V: ") + text;
        return false;
    }
    *frame = withVelocity(u, v);
    return true;
}

std::pair<double, double> ReferenceFrame::velocityFor(const FlowData& data) const
{
    if (how == Motion::Given)
        return {givenU, givenV};
    if (how == Motion::Mean) {
        const std::pair<double, double> mean = data.meanVelocity();
        if (std::isfinite(mean.first) && std::isfinite(mean.second))
            return mean;
    }
    return {0.0, 0.0};
}

std::unique_ptr<FlowData> ReferenceFrame::apply(const FlowData& data, QString* errorMessage) const
{
    if (atRest())
        return nullptr;
    const std::pair<double, double> velocity = velocityFor(data);
    return std::unique_ptr<FlowData>(
        data.inMovingFrame(velocity.first, velocity.second, errorMessage));
}

QString ReferenceFrame::describe(const FlowData& data) const
{
    if (atRest())
        return QStringLiteral("at rest");
    const std::pair<double, double> velocity = velocityFor(data);
    QString text = QStringLiteral("moving with u = %1, v = %2")
                       .arg(velocity.first, 0, 'g', 4)
                       .arg(velocity.second, 0, 'g', 4);
    if (!data.velocityUnit().isEmpty())
        text += QLatin1Char(' ') + data.velocityUnit();
    if (how == Motion::Mean)
        text += QStringLiteral(" (the mean)");
    return text;
}
