#include "app/Tmydates.h"

#include <chrono>
#include <cmath>

TMyDates* myDates = nullptr;

namespace {

using namespace std::chrono;

// 30.12.1899 as a count of days since 1.1.1970.
constexpr int kEpochOffset = -25569;

constexpr double kMsPerDay = 86400000.0;
// 23:59:59.999 as a fraction of the day.
constexpr double kEndOfDay = 86399999.0 / kMsPerDay;

int LastDay(int year, int month) {
    return unsigned((year_month_day_last(std::chrono::year(year), month_day_last(std::chrono::month(unsigned(month))))).day());
}

}  // namespace

int DayNumber(int y, int m, int d) {
    const sys_days days {std::chrono::year(y) / std::chrono::month(unsigned(m)) / std::chrono::day(unsigned(d))};
    return int(days.time_since_epoch().count()) - kEpochOffset;
}

int IsoWeekMonday(int dayNumber) {
    const weekday wd {sys_days {days(dayNumber + kEpochOffset)}};
    return dayNumber - int(wd.iso_encoding() - 1);
}

TDateTime EncodeDateTime(const plat::TDateTimeParts& t) {
    const double ms = ((t.hour * 60.0 + t.minute) * 60.0 + t.second) * 1000.0 + t.millisecond;
    return DayNumber(t.year, t.month, t.day) + ms / kMsPerDay;
}

plat::TDateTimeParts DecodeDateTime(TDateTime value) {
    const double dayPart = std::floor(value);
    long long ms = std::llround((value - dayPart) * kMsPerDay);
    int day = int(dayPart);
    if (ms >= 86400000) { ms -= 86400000; ++day; }
    const year_month_day ymd {sys_days {days(day + kEpochOffset)}};
    plat::TDateTimeParts t;
    t.year = int(ymd.year());
    t.month = int(unsigned(ymd.month()));
    t.day = int(unsigned(ymd.day()));
    t.hour = int(ms / 3600000);
    t.minute = int(ms / 60000 % 60);
    t.second = int(ms / 1000 % 60);
    t.millisecond = int(ms % 1000);
    return t;
}

TCurrDates ComputeCurrDates(const plat::TDateTimeParts& now) {
    const int y = now.year, m = now.month;
    const int today = DayNumber(y, m, now.day);
    const int prevY = m == 1 ? y - 1 : y, prevM = m == 1 ? 12 : m - 1;
    auto monthEnd = [](int year, int month) { return DayNumber(year, month, LastDay(year, month)) + kEndOfDay; };
    TCurrDates d;
    d.now = EncodeDateTime(now);
    d.todayStart = today;
    d.monthStart = DayNumber(y, m, 1);
    d.monthEnd = monthEnd(y, m);
    d.yearStart = DayNumber(y, 1, 1);
    d.yearEnd = DayNumber(y, 12, 31) + kEndOfDay;
    d.weekStart = IsoWeekMonday(today);
    d.weekEnd = d.weekStart + 6 + kEndOfDay;
    d.prevMonthStart = DayNumber(prevY, prevM, 1);
    d.prevMonthEnd = monthEnd(prevY, prevM);
    d.marchEnd = monthEnd(y, 3);
    d.juneEnd = monthEnd(y, 6);
    d.septemberEnd = monthEnd(y, 9);
    d.year = std::uint16_t(y);
    d.month = std::uint16_t(m);
    d.day = std::uint16_t(now.day);
    return d;
}

TMyDates::TMyDates(Clock clock) : clock_(std::move(clock)) { Refresh(); }

void TMyDates::Refresh() {
    const plat::TDateTimeParts now = clock_();
    dates = ComputeCurrDates(now);
    currentYear = now.year;
}

TTransferMonth TransferMonth(int month, int year) {
    return month <= 2 ? TTransferMonth {12, year - 1} : TTransferMonth {month - 2, year};
}
