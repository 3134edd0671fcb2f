// A stand-in for the workbook until the workbook class exists. The
// globals of a "Workbook" stream load into the engine's workbook globals,
// every sheet into the class its BOF names (a worksheet, a chart sheet, or
// a sheet held as plain records), which sorts its records and writes them
// in its own order. Saving lays out every BOUNDSHEET offset from the sizes
// the sheets compute and checks that the bytes written equal them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsWorkbookGlobals.h"
#include "workbook/storage/Uxlssheet.h"

namespace xlsbook {

class TXlsBook {
public:
    TXlsBook();
    ~TXlsBook();

    // Reads the "Workbook" stream of the container.
    static std::unique_ptr<TXlsBook> Load(kalmira::TOle2File& ole);

    // Outlives every sheet: their labels point into its string table.
    std::unique_ptr<kalmira::TWorkbookGlobals> Globals;
    // Sheet s (from 1) is Sheets[s - 1].
    std::vector<std::unique_ptr<kalmira::TSheet>> Sheets;
    // The first worksheet's cells; CellsSheet is its sheet (from 1), 0 when
    // the workbook has no worksheet.
    kalmira::TCells* Cells = nullptr;
    std::size_t CellsSheet = 0;
    bool Dates1904 = false;

    // The first worksheet, or none.
    kalmira::TWorkSheet* FirstWorkSheet() const;
    // Every cell of every worksheet in row and column order; sheets from 1.
    void ForEachCell(const std::function<void(std::size_t sheet, kalmira::TCellRecord& cell)>& visit) const;
    // Writes the whole stream; the written size must equal the computed one
    // ("Assertion failed in xlsbook" otherwise). Returns the size.
    std::int64_t SaveToStream(kalmira::TOle2File& ole);
};

// The section class a BOF names, loaded from the records after it.
std::unique_ptr<kalmira::TSheet> LoadSheet(kalmira::TOle2File& ole, kalmira::TRecordHeader& header,
                                           kalmira::TWorkbookGlobals& globals);

// Opens a file, loads it, lets change work on it, and writes it into a new
// container (every other stream copied); the bytes of the new file.
std::vector<std::uint8_t> RoundTrip(const std::string& path, const std::function<void(TXlsBook&)>& change);

}  // namespace xlsbook
