// A stand-in for the workbook until the sheet and workbook classes exist.
// The globals of a "Workbook" stream load into the engine's workbook
// globals (string table, sheet directory, names and the rest, written in
// their own order); the sheets are kept as sections of records (BOF to
// EOF); the ROW, cell, MULRK and MULBLANK records of the first
// worksheet go into a TCells, which writes that sheet's cell block
// (DIMENSIONS, ROW blocks, cells) where the file had its DIMENSIONS; the
// cells of other sheets stay in runs of one row, joined again on save.
// Formulas are bound as the sheet loader will: ARRAY and TABLE are the
// formula's own, a STRING gives it its text, and at each sheet's EOF the
// formulas that point at a SHRFMLA take its tokens (SHRFMLA itself is not
// written). Saving lays out every BOUNDSHEET offset from the
// computed sizes and checks that the bytes written equal them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsSST.h"
#include "workbook/storage/UXlsWorkbookGlobals.h"

namespace xlsbook {

class TXlsBook {
public:
    TXlsBook();
    ~TXlsBook();

    // Reads the "Workbook" stream of the container.
    static std::unique_ptr<TXlsBook> Load(kalmira::TOle2File& ole);

    // Outlives every label below: the labels point into its string table.
    std::unique_ptr<kalmira::TWorkbookGlobals> Globals;
    // The sheets' sections; sheet s (from 1) is Sections[s - 1].
    std::vector<std::unique_ptr<kalmira::TBaseRecordList>> Sections;
    // The first worksheet's cells; CellsSheet is its sheet (from 1), 0 when
    // the workbook has no worksheet.
    std::unique_ptr<kalmira::TCells> Cells;
    std::size_t CellsSheet = 0;
    bool Dates1904 = false;

    // Every cell of every sheet in row and column order; sheets from 1.
    void ForEachCell(const std::function<void(std::size_t sheet, kalmira::TCellRecord& cell)>& visit) const;
    // Writes the whole stream; the written size must equal the computed one
    // ("Assertion failed in xlsbook" otherwise). Returns the size.
    std::int64_t SaveToStream(kalmira::TOle2File& ole);

private:
    class TLoader;
};

// Opens a file, loads it, lets change work on it, and writes it into a new
// container (every other stream copied); the bytes of the new file.
std::vector<std::uint8_t> RoundTrip(const std::string& path, const std::function<void(TXlsBook&)>& change);

}  // namespace xlsbook
