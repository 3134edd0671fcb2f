// Files through the workbook: a file opened and loaded, then saved into a
// new container (every other stream copied). Each save compares the bytes
// it writes with the sizes it laid out.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/workbook/storage/Ole2Fixtures.h"
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

// The file changed through the workbook, written to the build tree under the
// test's name (and `name`, when a test writes several); returns its path.
inline std::string SavedFile(const std::string& from, const std::function<void(kalmira::TWorkbook&)>& change,
                             const std::string& name = "") {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::filesystem::path dir = std::filesystem::path(ORVELO_BINARY_DIR) / "book-tests";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / (std::string(test->test_suite_name()) + "." + test->name() + name + ".xls")).string();
    ole2test::WriteFile(path, RoundTrip(from, change));
    return path;
}

// The first worksheet's cells.
inline kalmira::TCells& FirstCells(kalmira::TWorkbook& book) {
    for (int s = 0; s < book.SheetCount(); ++s)
        if (book.IsWorksheet(s)) return book.WorkSheets(s).Cells();
    throw kalmira::Exception("no worksheet");
}

}  // namespace booktest
