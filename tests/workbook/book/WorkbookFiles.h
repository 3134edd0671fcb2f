// Files through the workbook: open, change, write into a new container
// (every other stream copied). Each save compares the bytes it writes with
// the sizes it laid out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsWorkbook.h"

namespace booktest {

// The first worksheet's cells.
inline kalmira::TCells& FirstCells(kalmira::TWorkbook& book) {
    for (int s = 0; s < book.SheetCount(); ++s)
        if (book.IsWorksheet(s)) return book.WorkSheets(s).Cells();
    throw kalmira::Exception("no worksheet");
}

inline std::vector<std::uint8_t> RoundTrip(const std::string& path,
                                           const std::function<void(kalmira::TWorkbook&)>& change) {
    kalmira::TKmrMemoryStream out;  // outlives the container, which may finish into it
    kalmira::TKmrFileStream in(path, kalmira::TKmrFileStream::TMode::Read);
    kalmira::TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    kalmira::TWorkbook book;
    book.LoadFromStream(ole);
    if (change) change(book);
    ole.PrepareForWrite(&out, u"Workbook");
    book.SaveToStream(ole);
    ole.FinishStream();
    return out.Bytes();
}

}  // namespace booktest
