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

    // Why step or level lies outside a file of timeSteps steps and `levels`
    // levels counted along levelHolder, or empty when both lie inside.
    QString refusal(int timeSteps, int levels,
                    const QString& levelHolder = QStringLiteral("the file")) const
    {
        if (step < 0 || step >= timeSteps)
            return QStringLiteral("time step %1 does not exist; the file holds %2")
                .arg(step)
                .arg(timeSteps);
        if (level < 0 || level >= levels)
            return QStringLiteral("level %1 does not exist; %2 holds %3")
                .arg(level)
                .arg(levelHolder)
                .arg(levels);
        return QString();
    }
};
