// The current date ranges that the dialogs and reports take as their
// default periods.  Date-times are day numbers from 30.12.1899 with the
// time as the fraction of a day.
#pragma once

#include "platform/sys/SysUtils.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using TDateTime = double;

TDateTime EncodeDateTime(const plat::TDateTimeParts& t);
plat::TDateTimeParts DecodeDateTime(TDateTime value);
// The day number of a calendar date.
int DayNumber(int year, int month, int day);
// Monday of the ISO 8601 week that holds the day (today - (ISO weekday - 1)).
int IsoWeekMonday(int dayNumber);

struct TCurrDates {
    TDateTime now = 0;
    TDateTime todayStart = 0;
    TDateTime monthStart = 0, monthEnd = 0;
    TDateTime yearStart = 0, yearEnd = 0;
    TDateTime weekStart = 0, weekEnd = 0;
    TDateTime prevMonthStart = 0;
    TDateTime prevMonthEnd = 0;  // the one further bound; nothing reads it
    TDateTime marchEnd = 0, juneEnd = 0, septemberEnd = 0;
    std::uint16_t year = 0, month = 0, day = 0;
};

TCurrDates ComputeCurrDates(const plat::TDateTimeParts& now);

class TMyDates {
public:
    using Clock = std::function<plat::TDateTimeParts()>;
    explicit TMyDates(Clock clock = plat::Now);
    virtual ~TMyDates() = default;

    // Recomputes every bound from the clock's "now"; callers refresh before
    // each use, as the program runs for weeks.
    void Refresh();

    int currentYear = 0;
    TCurrDates dates;
    std::vector<std::string> list;

private:
    Clock clock_;
};

// The transfer workbook's month and year: two months back, December of the
// year before for January and February, as the stored files are named.
struct TTransferMonth {
    int month, year;
};
TTransferMonth TransferMonth(int month, int year);

extern TMyDates* myDates;
