#include "app/Tmydates.h"

TCurrDates ComputeCurrDates(const plat::TDateTimeParts& now) {
    TCurrDates d;
    d.now = now;
    d.monthStart = plat::TDateTimeParts{now.year, now.month, 1, 0, 0, 0, 0};
    return d;
}
