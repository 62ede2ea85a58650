#pragma once

#include <QString>
#include <QStringList>

#include <climits>

// --frames A:B|all of the tools that go through a series: the steps by the
// numbers in their file names, both ends included.
namespace FrameArguments {

// The first and last step number of "A:B" or "all"; false if it does not parse.
inline bool parse(const QString& text, int& first, int& last)
{
    if (text == QLatin1String("all")) {
        first = 0;
        last = INT_MAX;
        return true;
    }
    const QStringList parts = text.split(QLatin1Char(':'));
    bool firstOk = false;
    bool lastOk = false;
    if (parts.size() == 2) {
        first = parts[0].toInt(&firstOk);
        last = parts[1].toInt(&lastOk);
    }
    return firstOk && lastOk && first >= 0 && first <= last;
}

} // namespace FrameArguments
