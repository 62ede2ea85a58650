#pragma once

// One traced sample, in domain coordinates: x from 0 to 1 across the data
// set, y from 0 to 1 / aspect, both in units of the domain's width.
struct StreamlinePoint
{
    double x = 0.0;
    double y = 0.0;
    float magnitude = 0.0f; // length of the (load-time scaled) field vector here
    double texture = 0.0;   // periodic texture value in [0, 1]
    double taper = 1.0;     // width factor in (0, 1] from the nearest other line
};
