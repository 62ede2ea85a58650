#pragma once

// The physical values a normalised scalar spans: a normalised v in [0, 1]
// stands for minimum + v * (maximum - minimum).
struct ValueRange
{
    double minimum = 0.0;
    double maximum = 0.0;

    bool operator==(const ValueRange& other) const
    {
        return minimum == other.minimum && maximum == other.maximum;
    }
};
