// Workbook globals and sheets for tests: loaded from hand-built record
// streams or LibreOffice fixtures, saved (as many bytes as computed), and
// judged by xlrd.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/workbook/book/WorkbookFiles.h"
#include "tests/workbook/storage/RecordBytes.h"
#include "workbook/storage/UXlsWorkbookGlobals.h"
#include "workbook/storage/Uxlssheet.h"

namespace ole2test {

// The BOF of a section of the type: 5 globals, 0x10 worksheet, 0x20 chart, 0x40 macros.
inline Bytes SheetBof(std::uint8_t type) { return Rec(0x809, {0, 6, type, 0, 0xBB, 0x0D, 0xCC, 7, 0, 0, 0, 0, 6, 0, 0, 0}); }
inline const Bytes BOF = SheetBof(5), EOF_ = Rec(0x0A, {});
inline const Bytes WINDOW2 = Rec(0x23E, {0xB6, 6, 0, 0, 0, 0, 64, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});

inline Bytes Sheet(const std::string& name) {
    Bytes data = {0, 0, 0, 0, 0, 0, static_cast<std::uint8_t>(name.size()), 0};
    data.insert(data.end(), name.begin(), name.end());
    return Rec(0x85, data);
}

// The stream with each BOUNDSHEET of its globals pointing at a section
// after them: BOUNDSHEET i at section order[i] (counted from 0, stray EOF
// records between sections not counted), or at section i without an order.
inline Bytes Placed(Bytes stream, const std::vector<int>& order = {}) {
    std::vector<std::size_t> bounds, sections;
    int depth = 0;
    bool globalsDone = false;
    for (std::size_t pos = 0; pos + 4 <= stream.size();) {
        const std::uint16_t id = static_cast<std::uint16_t>(stream[pos] | stream[pos + 1] << 8);
        const std::size_t size = static_cast<std::size_t>(stream[pos + 2] | stream[pos + 3] << 8);
        if (id == 0x809 && depth++ == 0 && globalsDone) sections.push_back(pos);
        if (id == 0x0A && depth > 0 && --depth == 0) globalsDone = true;
        if (id == 0x85 && !globalsDone) bounds.push_back(pos + 4);
        pos += 4 + size;
    }
    for (std::size_t i = 0; i < bounds.size(); ++i) {
        const std::size_t section = order.empty() ? i : static_cast<std::size_t>(order.at(i));
        const std::uint32_t offset = section < sections.size() ? static_cast<std::uint32_t>(sections[section]) : 0;
        for (int k = 0; k < 4; ++k) stream[bounds[i] + k] = static_cast<std::uint8_t>(offset >> (8 * k));
    }
    return stream;
}

// The globals of a stream whose first record is their BOF.
inline std::unique_ptr<TWorkbookGlobals> Load(const Bytes& stream) {
    TStreamFile f(stream);
    std::unique_ptr<TBOFRecord> bof(static_cast<TBOFRecord*>(f.Next().release()));
    auto globals = std::make_unique<TWorkbookGlobals>();
    globals->LoadFromStream(f.Ole, f.Header, std::move(bof), globals->SST());
    return globals;
}

// A worksheet section of the records loaded into the sheet; the load's message.
inline std::string LoadInto(TSheet& sheet, const Bytes& body) {
    TStreamFile f(Cat({SheetBof(0x10), body, EOF_}));
    std::unique_ptr<TBOFRecord> bof(static_cast<TBOFRecord*>(f.Next().release()));
    return MessageOf([&] { sheet.LoadFromStream(f.Ole, f.Header, std::move(bof), sheet.Globals()->SST()); });
}

// What the sheet writes; the bytes must be as many as computed.
inline Bytes SaveSheet(TSheet& sheet) {
    sheet.FixRows();
    const std::int64_t size = sheet.FixTotalSize(false);
    Bytes bytes = Written([&](TOle2File& ole) { sheet.SaveToStream(ole); });
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), size);
    return bytes;
}

// What the globals write; the bytes must be as many as computed.
inline Bytes Save(TWorkbookGlobals& globals) {
    globals.SST().FixRefs();
    const std::int64_t size = globals.TotalSize();
    Bytes bytes = Written([&](TOle2File& ole) { globals.SaveToStream(ole); });
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), size);
    return bytes;
}

// The fixture changed through the workbook, written to the build tree.
inline std::string SaveWorkbook(const std::string& fixture, const std::function<void(TWorkbook&)>& change) {
    return booktest::SavedFile(Fixture(fixture), change);
}

inline std::string SaveBook(const std::string& fixture, const std::function<void(TWorkbookGlobals&)>& change) {
    return SaveWorkbook(fixture, [&](TWorkbook& book) { change(book.Globals()); });
}

inline std::vector<std::string> Xlrd(const std::string& path) { return Lines(OleCheck("book", path)); }

// The lines of a LibreOffice or xlrd reading that start with the prefix.
inline std::vector<std::string> LinesOf(const std::string& text, const std::string& prefix) {
    std::vector<std::string> out = Lines(text);
    std::erase_if(out, [&](const std::string& line) { return !line.starts_with(prefix); });
    return out;
}

}  // namespace ole2test
