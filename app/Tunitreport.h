// The unit report behind "Deaktivovat ..." without its window: the overview
// of one unit's meters for the current month, filled into the report
// template through the facade that is not the meters workbook's.
#pragma once

#include "app/Tmydates.h"
#include "app/Tmyodecty.h"
#include "workbook/api/UKalmiraImport.h"

#include <string>

struct TUnitReportResult {
    bool ok = false;
    // What the program shows: the saved report's path, or why there is none.
    std::string message;
};

// Files under progdir: prgdata/export holds the transfer workbooks ("Voda
// " or "Teplo " + month + " " + year + " pro přenos.xls") and receives
// prehledJednotky.xls; prgdata/sestavy holds sablonaJednotka.xls. The unit
// is the selected meter's flat number, the group's table name; the period
// runs from the start of the month of dates to its now. Any failure writes
// nothing: an earlier report stays as it was. The facade's adapter must
// allow overwriting (the new report replaces the old one whole); the
// facade is closed afterwards either way.
TUnitReportResult MakeUnitReport(TMyOdecty& odecty, kalmira::TKalmiraImport& book, const std::string& progdir,
                                 const std::string& unit, const TCurrDates& dates, const TDbLog& log);

// A sheet name Excel accepts: the characters []:*?/\ become "_", at most 31
// characters; when the name is taken (any case), " (" + id + ")" ends it.
std::u16string MeterSheetName(const std::u16string& name, int id, const std::vector<std::u16string>& taken);
