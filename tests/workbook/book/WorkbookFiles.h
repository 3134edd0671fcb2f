// Files through the workbook: a file opened and loaded, then saved into a
// new container (every other stream copied). Each save compares the bytes
// it writes with the sizes it laid out.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsWorkbook.h"

namespace booktest {

struct TOpened {
    explicit TOpened(const std::string& path) : In(path, kalmira::TKmrFileStream::TMode::Read), Ole(&In) {
        Ole.SelectStream(u"Workbook");
        Book.LoadFromStream(Ole);
        Ole.PrepareForWrite(&Out, u"Workbook");
    }
    // The new file, once the book is written.
    std::vector<std::uint8_t> Finish() {
        Ole.FinishStream();
        return Out.Bytes();
    }
    kalmira::TKmrMemoryStream Out;  // outlives the container, which may finish into it
    kalmira::TKmrFileStream In;
    kalmira::TOle2File Ole;
    kalmira::TWorkbook Book;
};

inline std::vector<std::uint8_t> RoundTrip(const std::string& path,
                                           const std::function<void(kalmira::TWorkbook&)>& change) {
    TOpened file(path);
    if (change) change(file.Book);
    file.Book.SaveToStream(file.Ole);
    return file.Finish();
}

// The first worksheet's cells.
inline kalmira::TCells& FirstCells(kalmira::TWorkbook& book) {
    for (int s = 0; s < book.SheetCount(); ++s)
        if (book.IsWorksheet(s)) return book.WorkSheets(s).Cells();
    throw kalmira::Exception("no worksheet");
}

}  // namespace booktest
