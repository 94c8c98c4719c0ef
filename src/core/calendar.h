/*
** calendar.h -- dates of herd records, simulated or read.
**
** A date is a day number (days since 1970-01-01, proleptic Gregorian), a
** model month an absolute month number (year x 12 + month - 1).  The
** conversions are H. Hinnant's days_from_civil and civil_from_days.
*/
#ifndef MORVENDA_CORE_CALENDAR_H
#define MORVENDA_CORE_CALENDAR_H

#include <string>

inline int days_from_civil(int y, int m, int d)
{
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct CivilDate {
    int y, m, d;
};

inline CivilDate civil_from_days(int z)
{
    z += 719468;
    const int era = (z >= 0 ? z : z - 146096) / 146097;
    const int doe = z - era * 146097;
    const int yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int mp = (5 * doy + 2) / 153;
    const int d = doy - (153 * mp + 2) / 5 + 1;
    const int m = mp + (mp < 10 ? 3 : -9);
    return {yoe + era * 400 + (m <= 2), m, d};
}

/* First day of absolute month `month` (year x 12 + month - 1). */
inline int month_first_day(int month)
{
    const int y = month >= 0 ? month / 12 : -((-month + 11) / 12);
    return days_from_civil(y, month - y * 12 + 1, 1);
}

/* Absolute month of a day. */
inline int month_of_day(int day)
{
    const CivilDate c = civil_from_days(day);
    return c.y * 12 + c.m - 1;
}

/* YYYY-MM-DD into `out` (room for 11 characters with the zero). */
inline void format_date(int day, char* out)
{
    const CivilDate c = civil_from_days(day);
    const int y = c.y < 0 ? 0 : c.y % 10000;
    out[0] = static_cast<char>('0' + y / 1000);
    out[1] = static_cast<char>('0' + y / 100 % 10);
    out[2] = static_cast<char>('0' + y / 10 % 10);
    out[3] = static_cast<char>('0' + y % 10);
    out[4] = '-';
    out[5] = static_cast<char>('0' + c.m / 10);
    out[6] = static_cast<char>('0' + c.m % 10);
    out[7] = '-';
    out[8] = static_cast<char>('0' + c.d / 10);
    out[9] = static_cast<char>('0' + c.d % 10);
    out[10] = '\0';
}

#endif
