// OLE Automation dates (the start time of an LSM recording) to calendar fields.
#include <cmath>

#include "lsm_reader.h"

namespace lsm {

namespace {

constexpr double firstOleDate = -657434.0;  // 1 January 100
constexpr double endOleDate = 2958466.0;    // 1 January 10000, excluded
constexpr int64_t secondsPerDay = 86400;

// Days from 1 January 1970 to a date of the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void civilFromDays(int64_t days, CalendarTime& time) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t dayOfEra = days - era * 146097;
    const int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    time.day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    time.month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    time.year = static_cast<int>(yearOfEra + era * 400 + (time.month <= 2));
}

}  // namespace

bool oleDateToCalendar(double oleDate, CalendarTime& time) {
    if (!(oleDate >= firstOleDate && oleDate < endOleDate)) return false;
    // The whole part counts days; the fraction is the time of day forward from that day's
    // midnight, also for negative dates (-1.25 is 29 December 1899, 06:00).
    const double wholeDays = std::trunc(oleDate);
    const double dayFraction = std::fabs(oleDate - wholeDays);
    const int64_t seconds = static_cast<int64_t>(wholeDays) * secondsPerDay +
                            std::llround(dayFraction * static_cast<double>(secondsPerDay));
    const int64_t dayNumber = seconds >= 0 ? seconds / secondsPerDay
                                           : -((-seconds + secondsPerDay - 1) / secondsPerDay);
    const int64_t secondOfDay = seconds - dayNumber * secondsPerDay;
    civilFromDays(dayNumber + daysFromCivil(1899, 12, 30), time);
    if (time.year > 9999) return false;  // rounded past the last second of 9999
    time.hour = static_cast<int>(secondOfDay / 3600);
    time.minute = static_cast<int>(secondOfDay / 60 % 60);
    time.second = static_cast<int>(secondOfDay % 60);
    return true;
}

}  // namespace lsm
