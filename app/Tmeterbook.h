// The meters workbook load: the first sheet of the workbook open in the
// facade becomes meter records, the second gives the building's main water
// meter.  No widgets: the window lists the records and shows the messages.
#pragma once

#include "app/Tmycounters.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/storage/UKmrVariant.h"

#include <functional>
#include <stdexcept>
#include <string>

// A cell that does not convert; the message names row, column and text.
class EMeterCellError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Cell conversions of the load.  Empty: "", 0, 0.0.  A number: its NumberText
// (the user's decimal separator); rounded half to even for an int.  A text: as typed;
// a number only when the whole text is one (blanks around it, '.' or ','
// as the decimal separator).  A boolean: "TRUE"/"FALSE", 1/0, as the sheet
// shows it.  An error cell: its text ("#N/A"), and no number.  What does not
// convert, or an int beyond the int range, raises EMeterCellError.
std::string CellText(const kalmira::TVariant& value);
double CellNumber(const kalmira::TVariant& value, int row, int col);
int CellInt(const kalmira::TVariant& value, int row, int col);

// The record of one sheet-1 row, its columns read in the record's order.
TMeterRecord ReadMeterRow(kalmira::TKalmiraImport& book, int row);

// Rows 5 to the last used row of the active sheet (asked before every row),
// each record handed to add; a failing row raises after the rows before it.
void ReadMeterRows(kalmira::TKalmiraImport& book, const std::function<void(TMeterRecord)>& add);

// Sheet 2's main water meter: the number beside "Patní vodoměr :" in the
// third-last row, else 0.
double ReadMainMeter(kalmira::TKalmiraImport& book);
