#pragma once

// A position in domain coordinates: x from 0 to 1 across the data set, y from
// 0 to 1 / aspect, both in units of the domain's width.
struct DomainPoint
{
    double x = 0.0;
    double y = 0.0;
};
