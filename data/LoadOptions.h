#pragma once

#include <QString>

// What to read from a file that holds more than one choice: the velocity
// components by variable name (empty: found by the reader's rules; a
// "FILE:VAR" names a variable in another file on the same grid), the index
// along a depth or level dimension, and the time step.
struct LoadOptions
{
    QString uVariable;
    QString vVariable;
    int level = 0;
    int step = 0;
};
