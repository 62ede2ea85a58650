#include "data/Vector3.h"

#include <cmath>
#include <QDebug>

float Vector3::angle() const
{
    // The constant is deliberately this truncated pi, not M_PI.
    const float a = std::acos(x / length()) * 180.0f / 3.14159265f;
    return y < 0.0f ? 360.0f - a : a;
}

QDebug operator<<(QDebug debug, const Vector3& v)
{
    debug.nospace() << "[" << v.x << ", " << v.y << ", " << v.z << "]";
    return debug.space();
}
