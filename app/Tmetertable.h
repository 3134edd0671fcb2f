// The reading table that "Uložit tabulku" writes into the open meters
// workbook: on sheet 2 each read meter's month (time and value) and
// formulas, closed by the block of the main water meter, the total and the
// losses; on sheet 4 one log row per read meter.  No widgets.
#pragma once

#include "app/Tmycounters.h"
#include "workbook/api/UKalmiraImport.h"

#include <string>
#include <vector>

// The ISO 8601 week of the year of a date-time (local day number).
int IsoWeek(double dateTime);

// Raises, before anything changes, when sheet 2 or 4 is missing or is no
// worksheet (writes to a chart sheet would be lost), or when the log rows
// or the closing block would not fit under the sheets' last row.
void CheckReadingTable(kalmira::TKalmiraImport& xls, const std::vector<TStradelCntrs>& meters);

// Removes the closing block of an earlier save, writes each meter's sheet 4
// and sheet 2 rows in order, and closes sheet 2 with a new block; rows are
// placed after asking the workbook for its last used row each time.
void WriteReadingTable(kalmira::TKalmiraImport& xls, const std::vector<TStradelCntrs>& meters);

// The main water meter's state into its row of the closing block.
void WriteMainMeter(kalmira::TKalmiraImport& xls, double value);

// Writes the workbook to the file it came from.  The file is replaced only
// by a complete new one beside it (its mode and a symbolic link to it
// kept): a failing write leaves it as it was and no new file behind.
void WriteMeterFile(kalmira::TKalmiraImport& xls, const std::string& fileName);
