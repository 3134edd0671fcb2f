// The meters workbook: the workbook the main window holds open, and the load
// that turns its first sheet into meter records and reads the building's
// main water meter from the second.  No widgets: the window lists the
// records and shows the messages.
#pragma once

#include "app/Tmycounters.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/storage/UKmrVariant.h"

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

// The open meters workbook, reached with the facade's calls (sheets, rows
// and columns from 1).  It stands where the facade will: an open makes a
// fresh workbook object and takes it over only when the whole file loaded,
// so a failed open keeps the workbook that was open.
class TMeterWorkbook {
public:
    explicit TMeterWorkbook(kalmira::TXLSAdapter* adapter) : adapter_(adapter) {}

    void OpenFile(const std::string& fileName);
    bool IsLoaded() const { return file_ != nullptr; }
    const std::string& FileName() const { return fileName_; }

    int GetSheetCount();
    void SetActiveSheet(int sheet);
    int GetMaxRow();
    kalmira::TVariant GetCellValue(int row, int col);

private:
    kalmira::TExcelFile& File();

    kalmira::TXLSAdapter* adapter_;
    std::unique_ptr<kalmira::TExcelFile> file_;
    std::string fileName_;
};

// A cell that does not convert; the message names row, column and text.
class EMeterCellError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Cell conversions of the load.  Empty: "", 0, 0.0.  A number: its default
// floating-point text; rounded half to even for an int.  A text: as typed;
// a number only when the whole text is one (blanks around it, '.' or ','
// as the decimal separator).  A boolean: "TRUE"/"FALSE", 1/0, as the sheet
// shows it.  An error cell: its text ("#N/A"), and no number.  What does not
// convert, or an int beyond the int range, raises EMeterCellError.
std::string CellText(const kalmira::TVariant& value);
double CellNumber(const kalmira::TVariant& value, int row, int col);
int CellInt(const kalmira::TVariant& value, int row, int col);

// The record of one sheet-1 row, its columns read in the record's order.
TMeterRecord ReadMeterRow(TMeterWorkbook& book, int row);

// Rows 5 to the last used row of the active sheet (asked before every row),
// each record handed to add; a failing row raises after the rows before it.
void ReadMeterRows(TMeterWorkbook& book, const std::function<void(TMeterRecord)>& add);

// Sheet 2's main water meter: the number beside "Patní vodoměr :" in the
// third-last row, else 0.
double ReadMainMeter(TMeterWorkbook& book);
