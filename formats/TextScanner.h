#pragma once

#include <QByteArray>
#include <QString>

#include <charconv>
#include <cmath>
#include <limits>

// Number parsing shared by the text readers: no locale, no allocation.
namespace TextScanner {

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// Parses the whole of [begin, end) as a number ("NaN" and "inf" included, a
// leading '+' allowed, Fortran's 'D' exponent accepted).
inline bool parseNumber(const char* begin, const char* end, double* value)
{
    if (begin < end && *begin == '+')
        ++begin;
    if (begin == end)
        return false;
    std::from_chars_result result = std::from_chars(begin, end, *value);
    if (result.ec == std::errc::result_out_of_range) {
        // Below the smallest subnormal, or beyond the largest double.
        double sign = *begin == '-' ? -1.0 : 1.0;
        const char* e = begin;
        while (e < end && *e != 'e' && *e != 'E')
            ++e;
        const bool tiny = e < end && e + 1 < end && e[1] == '-';
        *value = tiny ? 0.0 * sign : sign * std::numeric_limits<double>::infinity();
        return true;
    }
    if (result.ec != std::errc())
        return false;
    if (result.ptr != end) {
        if (*result.ptr != 'd' && *result.ptr != 'D')
            return false;
        QByteArray copy(begin, int(end - begin));
        copy[int(result.ptr - begin)] = 'e';
        result = std::from_chars(copy.constData(), copy.constData() + copy.size(), *value);
        return result.ec == std::errc() && result.ptr == copy.constData() + copy.size();
    }
    return true;
}

inline QString token(const char* begin, const char* end)
{
    const int length = int(qMin<qint64>(end - begin, 40));
    return QString::fromUtf8(begin, length) +
           (end - begin > 40 ? QStringLiteral("...") : QString());
}

} // namespace TextScanner
