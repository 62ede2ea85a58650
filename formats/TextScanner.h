#pragma once

#include <QByteArray>
#include <QString>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

// Number parsing shared by the text readers: no locale, no allocation.
namespace TextScanner {

inline bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

// The common short decimal ("-0.05566019", "1.5e-3") from p on: digits that
// fit an exact double and a power of ten up to 1e22, which is exact too, so
// one multiplication or division rounds the decimal's value once, as
// from_chars does. Returns where the number stops, or nullptr, leaving *value
// alone, where it is not of that form (from_chars then reads it).
inline const char* scanShortDecimal(const char* p, const char* end, double* value)
{
    static constexpr double powers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const bool negative = p < end && *p == '-';
    if (negative)
        ++p;
    std::uint64_t digits = 0;
    int count = 0;
    int scale = 0;
    for (; p < end && unsigned(*p - '0') < 10u; ++p, ++count)
        digits = digits * 10 + unsigned(*p - '0');
    if (p < end && *p == '.')
        for (++p; p < end && unsigned(*p - '0') < 10u; ++p, ++count, --scale)
            digits = digits * 10 + unsigned(*p - '0');
    // 19 digits cannot overflow; an integer part alone or a fraction alone
    // both count.
    if (count == 0 || count > 19)
        return nullptr;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool downward = p < end && *p == '-';
        if (p < end && (*p == '-' || *p == '+'))
            ++p;
        int exponent = 0;
        int exponentDigits = 0;
        for (; p < end && unsigned(*p - '0') < 10u; ++p, ++exponentDigits)
            exponent = std::min(exponent * 10 + (*p - '0'), 1000);
        if (exponentDigits == 0)
            return nullptr;
        scale += downward ? -exponent : exponent;
    }
    if (digits > (std::uint64_t(1) << 53) || scale < -22 || scale > 22)
        return nullptr;
    const double magnitude =
        scale >= 0 ? double(digits) * powers[scale] : double(digits) / powers[-scale];
    *value = negative ? -magnitude : magnitude;
    return p;
}

// The value from_chars found in [begin, end) when it took all of it; one
// beyond the doubles' range is the infinity or the signed zero strtod gives.
inline bool wholeValue(std::from_chars_result result, const char* begin, const char* end,
                       double* value)
{
    if (result.ptr != end)
        return false;
    if (result.ec == std::errc::result_out_of_range) {
        const double sign = *begin == '-' ? -1.0 : 1.0;
        const char* e = begin;
        while (e < end && *e != 'e' && *e != 'E')
            ++e;
        const bool tiny = e < end && e + 1 < end && e[1] == '-';
        *value = tiny ? 0.0 * sign : sign * std::numeric_limits<double>::infinity();
        return true;
    }
    return result.ec == std::errc();
}

// Parses the whole of [begin, end) as a number ("NaN" and "inf" included, a
// leading '+' allowed, Fortran's 'D' exponent accepted). shortFormTried: the
// caller has already found that scanShortDecimal does not read all of it.
inline bool parseNumber(const char* begin, const char* end, double* value,
                        bool shortFormTried = false)
{
    if (begin < end && *begin == '+')
        ++begin;
    if (begin == end)
        return false;
    if (!shortFormTried && scanShortDecimal(begin, end, value) == end)
        return true;
    const std::from_chars_result result = std::from_chars(begin, end, *value);
    if (result.ec != std::errc::invalid_argument && result.ptr != end &&
        (*result.ptr == 'd' || *result.ptr == 'D')) {
        QByteArray copy(begin, int(end - begin));
        copy[int(result.ptr - begin)] = 'e';
        const char* first = copy.constData();
        const char* last = first + copy.size();
        return wholeValue(std::from_chars(first, last, *value), first, last, value);
    }
    return wholeValue(result, begin, end, value);
}

inline QString token(const char* begin, const char* end)
{
    const int length = int(qMin<qint64>(end - begin, 40));
    return QString::fromUtf8(begin, length) +
           (end - begin > 40 ? QStringLiteral("...") : QString());
}

} // namespace TextScanner
