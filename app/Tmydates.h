// The current date ranges that the dialogs and reports take as their
// default periods.
#pragma once

#include "platform/sys/SysUtils.h"

struct TCurrDates {
    plat::TDateTimeParts now;
    plat::TDateTimeParts monthStart;  // the first of this month, 00:00:00.000
};

TCurrDates ComputeCurrDates(const plat::TDateTimeParts& now);
inline TCurrDates CurrentDates() { return ComputeCurrDates(plat::Now()); }
