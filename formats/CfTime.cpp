#include "formats/CfTime.h"

#include <QRegularExpression>

#include <cmath>

namespace {

constexpr double secondsPerDay = 86400.0;

int64_t floorDivide(int64_t a, int64_t b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// Days before month m (1-12) of a year whose February has `february` days.
int daysBeforeMonth(int month, int february)
{
    static const int lengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int days = 0;
    for (int m = 1; m < month; ++m)
        days += m == 2 ? february : lengths[m - 1];
    return days;
}

// Days since 1970-01-01 of a proleptic Gregorian date, and back (the
// era-of-400-years arithmetic, exact for every year).
int64_t gregorianDays(int64_t year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t era = floorDivide(year, 400);
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void gregorianDate(int64_t days, int64_t* year, int* month, int* day)
{
    days += 719468;
    const int64_t era = floorDivide(days, 146097);
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t shifted = (5 * dayOfYear + 2) / 153;
    *day = int(dayOfYear - (153 * shifted + 2) / 5 + 1);
    *month = int(shifted < 10 ? shifted + 3 : shifted - 9);
    *year = yearOfEra + era * 400 + (*month <= 2 ? 1 : 0);
}

// The same for the Julian calendar, in cycles of four years.
int64_t julianDays(int64_t year, int month, int day)
{
    year -= month <= 2 ? 1 : 0;
    const int64_t cycle = floorDivide(year, 4);
    const int64_t yearOfCycle = year - cycle * 4;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    // 1970-01-01 Gregorian is 1969-12-19 Julian.
    return cycle * 1461 + yearOfCycle * 365 + dayOfYear - 719470;
}

void julianDate(int64_t days, int64_t* year, int* month, int* day)
{
    days += 719470;
    const int64_t cycle = floorDivide(days, 1461);
    const int64_t dayOfCycle = days - cycle * 1461;
    const int64_t yearOfCycle = std::min<int64_t>(dayOfCycle / 365, 3);
    const int64_t dayOfYear = dayOfCycle - yearOfCycle * 365;
    const int64_t shifted = (5 * dayOfYear + 2) / 153;
    *day = int(dayOfYear - (153 * shifted + 2) / 5 + 1);
    *month = int(shifted < 10 ? shifted + 3 : shifted - 9);
    *year = yearOfCycle + cycle * 4 + (*month <= 2 ? 1 : 0);
}

// The first day of the Gregorian calendar in the mixed one, 1582-10-15.
const int64_t gregorianStart = gregorianDays(1582, 10, 15);

double unitLength(const QString& unit)
{
    static const QRegularExpression seconds(QStringLiteral("^(s|secs?|seconds?)$"));
    static const QRegularExpression minutes(QStringLiteral("^(min|mins|minutes?)$"));
    static const QRegularExpression hours(QStringLiteral("^(h|hr|hrs|hours?)$"));
    static const QRegularExpression days(QStringLiteral("^(d|days?)$"));
    const QString lower = unit.toLower();
    if (seconds.match(lower).hasMatch())
        return 1.0;
    if (minutes.match(lower).hasMatch())
        return 60.0;
    if (hours.match(lower).hasMatch())
        return 3600.0;
    if (days.match(lower).hasMatch())
        return secondsPerDay;
    return 0.0;
}

} // namespace

CfTime::Calendar CfTime::calendarNamed(const QString& name)
{
    const QString lower = name.trimmed().toLower();
    if (lower.isEmpty() || lower == QLatin1String("standard") ||
        lower == QLatin1String("gregorian"))
        return Calendar::Standard;
    if (lower == QLatin1String("proleptic_gregorian"))
        return Calendar::ProlepticGregorian;
    if (lower == QLatin1String("julian"))
        return Calendar::Julian;
    if (lower == QLatin1String("noleap") || lower == QLatin1String("365_day"))
        return Calendar::NoLeap;
    if (lower == QLatin1String("all_leap") || lower == QLatin1String("366_day"))
        return Calendar::AllLeap;
    if (lower == QLatin1String("360_day"))
        return Calendar::Day360;
    return Calendar::Unknown;
}

int64_t CfTime::dayNumber(Calendar calendar, int64_t year, int month, int day)
{
    switch (calendar) {
    case Calendar::Standard: {
        const int64_t gregorian = gregorianDays(year, month, day);
        return gregorian >= gregorianStart ? gregorian : julianDays(year, month, day);
    }
    case Calendar::Julian:
        return julianDays(year, month, day);
    case Calendar::NoLeap:
        return year * 365 + daysBeforeMonth(month, 28) + day - 1;
    case Calendar::AllLeap:
        return year * 366 + daysBeforeMonth(month, 29) + day - 1;
    case Calendar::Day360:
        return year * 360 + (month - 1) * 30 + day - 1;
    case Calendar::ProlepticGregorian:
    case Calendar::Unknown:
        break;
    }
    return gregorianDays(year, month, day);
}

void CfTime::date(Calendar calendar, int64_t number, int64_t* year, int* month, int* day)
{
    auto fixedYear = [&](int length, int february) {
        *year = floorDivide(number, length);
        const int dayOfYear = int(number - *year * length);
        *month = 1;
        while (*month < 12 && daysBeforeMonth(*month + 1, february) <= dayOfYear)
            ++*month;
        *day = dayOfYear - daysBeforeMonth(*month, february) + 1;
    };
    switch (calendar) {
    case Calendar::Standard:
        if (number < gregorianStart)
            return julianDate(number, year, month, day);
        break;
    case Calendar::Julian:
        return julianDate(number, year, month, day);
    case Calendar::NoLeap:
        return fixedYear(365, 28);
    case Calendar::AllLeap:
        return fixedYear(366, 29);
    case Calendar::Day360:
        *year = floorDivide(number, 360);
        *month = int((number - *year * 360) / 30) + 1;
        *day = int(number - *year * 360 - (*month - 1) * 30) + 1;
        return;
    case Calendar::ProlepticGregorian:
    case Calendar::Unknown:
        break;
    }
    gregorianDate(number, year, month, day);
}

CfTime::CfTime(const QString& units, const QString& calendarName)
    : calendar(calendarNamed(calendarName)), unitsText(units.trimmed())
{
    static const QRegularExpression since(QStringLiteral("^(\\S+)\\s+since\\s+(.+)$"),
                                          QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression reference(
        QStringLiteral("^([+-]?\\d{1,6})-(\\d{1,2})-(\\d{1,2})"
                       "(?:(?:T|\\s+)(\\d{1,2})(?::(\\d{1,2})(?::(\\d{1,2}(?:\\.\\d*)?))?)?)?"
                       "\\s*(Z|UTC|GMT|([+-])(\\d{1,2})(?::?(\\d{2}))?)?$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch parts = since.match(unitsText);
    unitSeconds = unitLength(parts.hasMatch() ? parts.captured(1) : unitsText);
    if (!parts.hasMatch() || unitSeconds == 0.0 || calendar == Calendar::Unknown)
        return;
    const QRegularExpressionMatch when = reference.match(parts.captured(2).trimmed());
    if (!when.hasMatch())
        return;
    const int64_t year = when.captured(1).toLongLong();
    const int month = when.captured(2).toInt();
    const int day = when.captured(3).toInt();
    const int hour = when.captured(4).toInt();
    const int minute = when.captured(5).toInt();
    const double second = when.captured(6).toDouble();
    const int monthLength = calendar == Calendar::Day360 ? 30 : 31;
    if (month < 1 || month > 12 || day < 1 || day > monthLength || hour > 24 || minute > 59 ||
        second >= 61.0)
        return;
    // A zone east of UTC is ahead of it: its midnight is UTC's evening before.
    const double zone = (when.captured(9).toInt() * 3600.0 + when.captured(10).toInt() * 60.0) *
                        (when.captured(8) == QLatin1String("-") ? -1.0 : 1.0);
    referenceSeconds = double(dayNumber(calendar, year, month, day)) * secondsPerDay +
                       hour * 3600.0 + minute * 60.0 + second - zone;
    referenced = true;
}

QString CfTime::text(double value) const
{
    if (!referenced || !std::isfinite(value)) {
        const QString number = QString::number(value, 'g', 6);
        return unitsText.isEmpty() ? number : number + QLatin1Char(' ') + unitsText;
    }
    // To the millisecond, so that a value written in float still gives its
    // whole minute.
    const double milliseconds = std::round((referenceSeconds + value * unitSeconds) * 1000.0);
    const int64_t days = int64_t(std::floor(milliseconds / (secondsPerDay * 1000.0)));
    const int64_t ofDay = int64_t(milliseconds - double(days) * secondsPerDay * 1000.0);
    int64_t year = 0;
    int month = 0;
    int day = 0;
    date(calendar, days, &year, &month, &day);
    QString result = QStringLiteral("%1-%2-%3 %4:%5")
                         .arg(year, 4, 10, QLatin1Char('0'))
                         .arg(month, 2, 10, QLatin1Char('0'))
                         .arg(day, 2, 10, QLatin1Char('0'))
                         .arg(ofDay / 3600000, 2, 10, QLatin1Char('0'))
                         .arg(ofDay / 60000 % 60, 2, 10, QLatin1Char('0'));
    const int64_t secondPart = ofDay % 60000;
    if (secondPart != 0) {
        result += QStringLiteral(":%1").arg(secondPart / 1000, 2, 10, QLatin1Char('0'));
        if (secondPart % 1000 != 0) {
            QString fraction = QStringLiteral("%1").arg(secondPart % 1000, 3, 10, QLatin1Char('0'));
            while (fraction.endsWith(QLatin1Char('0')))
                fraction.chop(1);
            result += QLatin1Char('.') + fraction;
        }
    }
    return result;
}
