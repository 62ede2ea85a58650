#pragma once

#include <QString>

#include <cstdint>

// A time coordinate's units and calendar as the CF conventions write them:
// "UNIT since DATE" with UNIT seconds, minutes, hours or days (and the
// abbreviations udunits takes: s, sec, min, h, hr, d), DATE as
// "YYYY-MM-DD[ hh:mm[:ss[.f]]][ ZONE]" with a space or "T" before the time
// and a zone of Z, UTC or +hh[:mm]. Turns the coordinate's values into dates
// of its calendar without QDateTime, which knows only one of them.
//
// Calendars: "standard" and "gregorian" are the mixed calendar CF means, the
// Julian one before 1582-10-15 and the Gregorian one from then on (for dates
// after 1582 that is the proleptic Gregorian calendar); "proleptic_gregorian";
// "julian"; "noleap" and "365_day"; "all_leap" and "366_day"; "360_day"
// (twelve months of 30 days). Any other calendar keeps the values as numbers. Months and
// years are not a fixed length in any of them, so units of months or years
// keep the values as numbers too.
class CfTime
{
public:
    enum class Calendar
    {
        Standard,
        ProlepticGregorian,
        Julian,
        NoLeap,
        AllLeap,
        Day360,
        Unknown
    };

    CfTime() = default;
    CfTime(const QString& units, const QString& calendar = QString());

    // True when the units give a reference date: values then read as dates.
    bool hasReference() const { return referenced; }
    // Seconds in one unit, or 0 when the unit is not a fixed length of time.
    double secondsPerUnit() const { return unitSeconds; }
    QString units() const { return unitsText; }

    // "2017-02-02 07:00" (seconds only when they are not zero, to the
    // millisecond), or the value and the units as written when there is no
    // reference date: "111600 seconds".
    QString text(double value) const;

    // The date of a day number and back; day 0 is 1970-01-01 in the
    // proleptic Gregorian calendar and the mixed one, 0000-01-01 in the
    // calendars of fixed year lengths.
    static int64_t dayNumber(Calendar calendar, int64_t year, int month, int day);
    static void date(Calendar calendar, int64_t dayNumber, int64_t* year, int* month, int* day);
    static Calendar calendarNamed(const QString& name);

private:
    Calendar calendar = Calendar::Standard;
    QString unitsText;
    double unitSeconds = 0.0;
    bool referenced = false;
    // The reference date in seconds since day 0 of the calendar.
    double referenceSeconds = 0.0;
};
