#pragma once

#include <cmath>

class QDebug;

// A position or velocity. The data is two-dimensional: z is carried along but
// plays no part. All arithmetic is single precision on purpose; streamline
// placement depends on these exact roundings.
struct Vector3
{
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;

    Vector3() = default;
    Vector3(float newX, float newY, float newZ) : x(newX), y(newY), z(newZ) {}

    Vector3 operator+(const Vector3& other) const
    {
        return {x + other.x, y + other.y, z + other.z};
    }
    Vector3 operator-(const Vector3& other) const
    {
        return {x - other.x, y - other.y, z - other.z};
    }
    Vector3 operator-(float s) const { return {x - s, y - s, z - s}; }
    Vector3 operator*(float s) const { return {x * s, y * s, z * s}; }
    Vector3 operator/(float s) const { return {x / s, y / s, z / s}; }

    // Inline: the tracer takes lengths at every step.
    float length() const { return std::sqrt(x * x + y * y + z * z); }
    // Direction in degrees in [0, 360) for z = 0: 0 along +x, 90 along +y.
    // The zero vector gives NaN.
    float angle() const;
    // Divides by length() in place; the zero vector becomes NaN.
    void normalize()
    {
        const float l = length();
        x /= l;
        y /= l;
        z /= l;
    }
};

// Written as [x, y, z].
QDebug operator<<(QDebug debug, const Vector3& v);
