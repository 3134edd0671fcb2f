// xlsroundtrip IN OUT [--label SHEET ROW COLUMN TEXT]... [--rich SHEET ROW COLUMN TEXT RUNS]...
// xlsroundtrip --cells IN
//
// Opens IN through the engine and writes it to OUT: the records of its
// "Workbook" stream are loaded by the record factory, the shared strings go
// into the string table and come out of it sorted and rebuilt (with a new
// EXTSST), cells are split out of MULRK and MULBLANK and joined again row
// by row, index and cache records are dropped, and every BOUNDSHEET gets
// the offset of its sheet from the computed sizes. --label and --rich set
// the shared-string cell at SHEET, ROW, COLUMN (from 1) to a new text;
// RUNS is "first:font,first:font...". A file the engine cannot read gives
// exit status 1 and the engine's message on one line of standard error;
// OUT is then not created.
//
// --cells prints every value cell of IN, one a line: sheet index, row and
// column (from 1), a tab between, then the value: numbers in the shortest
// text that reads back to the same double, texts as UTF-8, TRUE/FALSE,
// error texts.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsSST.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlscellrecords.h"
#include "workbook/storage/XlsMessages.h"

namespace {

using namespace kalmira;

constexpr std::uint16_t xlr_BOF = 0x809;
constexpr std::uint16_t xlr_BOUNDSHEET = 0x85;

// The cells of one row that stood together in the file; written joined.
class TCellRun : public TBaseRecord {
public:
    TCellRun() : TBaseRecord(0, {}) {}
    TCellRecordList Cells;
    void SaveToStream(TOle2File& ole) const override { Cells.SaveToStream(ole); }
    std::int64_t TotalSize() const override { return Cells.GetTotalSize(); }
};

// Stands where the file had its SST: the table writes itself and EXTSST.
class TSSTPlace : public TBaseRecord {
public:
    explicit TSSTPlace(TSST* sst) : TBaseRecord(0, {}), FSST(sst) {}
    void SaveToStream(TOle2File& ole) const override { FSST->SaveToStream(ole); }
    std::int64_t TotalSize() const override { return FSST->TotalSize(); }

private:
    TSST* FSST;
};

struct TChange {
    int Sheet, Row, Column;
    TRichString Text;
};

// A section is the records from one BOF to its EOF; section 0 holds the
// globals, section k sheet k.
struct TWorkbookFile {
    TSST SST;  // outlives every label below
    std::vector<std::unique_ptr<TBaseRecordList>> Sections;

    TBaseRecordList& Current() { return *Sections.back(); }
    TCellRun* OpenRun(std::uint16_t row) {
        auto& list = Current();
        if (list.Count() > 0) {
            auto* run = dynamic_cast<TCellRun*>(list.GetItems(list.Count() - 1));
            if (run && run->Cells.GetItems(0)->GetRow() == row) return run;
        }
        list.Add(std::make_unique<TCellRun>());
        return static_cast<TCellRun*>(list.GetItems(list.Count() - 1));
    }
    void AddCell(std::unique_ptr<TCellRecord> cell) {
        if (auto* label = dynamic_cast<TLabelSSTRecord*>(cell.get())) label->AttachToSST(SST);
        OpenRun(cell->GetRow())->Cells.Add(std::move(cell));
    }
    void Add(std::unique_ptr<TBaseRecord> record);

    template <class Visit>
    void ForEachCell(Visit visit) const {
        for (std::size_t s = 1; s < Sections.size(); ++s)
            for (std::size_t i = 0; i < Sections[s]->Count(); ++i)
                if (auto* run = dynamic_cast<TCellRun*>(Sections[s]->GetItems(i)))
                    for (std::size_t c = 0; c < run->Cells.Count(); ++c) visit(static_cast<int>(s), *run->Cells.GetItems(c));
    }
};

void TWorkbookFile::Add(std::unique_ptr<TBaseRecord> record) {
    if (record->Id == xlr_BOF || Sections.empty()) Sections.push_back(std::make_unique<TBaseRecordList>());
    if (auto* sst = dynamic_cast<TSSTRecord*>(record.get())) {
        SST.Load(*sst);
        Current().Add(std::make_unique<TSSTPlace>(&SST));
    } else if (auto* mul = dynamic_cast<TMultipleValueRecord*>(record.get())) {
        while (!mul->Eof()) AddCell(mul->ExtractOneRecord());
    } else if (dynamic_cast<TCellRecord*>(record.get())) {
        AddCell(std::unique_ptr<TCellRecord>(static_cast<TCellRecord*>(record.release())));
    } else {
        Current().Add(std::move(record));
    }
}

std::unique_ptr<TWorkbookFile> Load(TOle2File& ole) {
    auto book = std::make_unique<TWorkbookFile>();
    ole.SelectStream(u"Workbook");
    WalkRecords(ole, [&](std::unique_ptr<TBaseRecord> record) { book->Add(std::move(record)); });
    for (auto& section : book->Sections)
        for (std::size_t i = 0; i < section->Count(); ++i)
            if (auto* run = dynamic_cast<TCellRun*>(section->GetItems(i))) run->Cells.Sort();
    // Every label has attached by file index; only now may the table sort.
    book->SST.Sort();
    return book;
}

void Apply(TWorkbookFile& book, const TChange& change) {
    TLabelSSTRecord* target = nullptr;
    book.ForEachCell([&](int sheet, TCellRecord& cell) {
        if (sheet == change.Sheet && cell.GetRow() + 1 == change.Row && cell.GetColumn() + 1 == change.Column)
            target = dynamic_cast<TLabelSSTRecord*>(&cell);
    });
    if (!target) throw Exception("no shared-string cell at the changed position");
    target->SetAsRichString(change.Text);
}

std::int64_t SectionSize(const TBaseRecordList& section) {
    std::int64_t size = 0;
    for (std::size_t i = 0; i < section.Count(); ++i)
        if (section.GetItems(i)) size += section.GetItems(i)->TotalSize();
    return size;
}

// Sheet k starts where the sections before it end.
std::vector<std::int64_t> FixBoundSheetsOffset(TWorkbookFile& book) {
    std::vector<std::int64_t> starts{0};
    for (const auto& section : book.Sections) starts.push_back(starts.back() + SectionSize(*section));
    std::size_t sheet = 0;
    auto& globals = *book.Sections.at(0);
    for (std::size_t i = 0; i < globals.Count(); ++i) {
        TBaseRecord* record = globals.GetItems(i);
        if (!record || record->Id != xlr_BOUNDSHEET) continue;
        if (++sheet >= book.Sections.size()) Raise(ErrExcelInvalid);
        SetLongWord(record->Data, 0, static_cast<std::uint32_t>(starts[sheet]));
    }
    return starts;
}

std::vector<std::uint8_t> RoundTrip(const char* inName, const std::vector<TChange>& changes) {
    TKmrFileStream in(inName, TKmrFileStream::TMode::Read);
    TOle2File ole(&in);
    auto book = Load(ole);
    if (book->Sections.empty()) Raise(ErrExcelInvalid);
    for (const auto& change : changes) Apply(*book, change);
    book->SST.FixRefs();
    const auto starts = FixBoundSheetsOffset(*book);

    TKmrMemoryStream out;
    ole.PrepareForWrite(&out, u"Workbook");
    for (std::size_t s = 0; s < book->Sections.size(); ++s) {
        const auto& section = *book->Sections[s];
        Assert(ole.Position() == starts[s] && section.Count() > 0 && section.GetItems(0)->Id == xlr_BOF,
               "xlsroundtrip", "a sheet offset does not point at its BOF");
        section.SaveToStream(ole);
    }
    Assert(ole.Position() == starts.back(), "xlsroundtrip", "written size differs from the computed size");
    ole.FinishStream();
    return out.Bytes();
}

std::string ValueText(const TVariant& value) {
    switch (value.VarType()) {
        case TVarType::Double: {
            char buf[64];
            const auto r = std::to_chars(buf, buf + sizeof buf, value.RealValue());
            return std::string(buf, r.ptr);
        }
        case TVarType::Boolean: return value.IntValue() ? "TRUE" : "FALSE";
        case TVarType::String: return Utf16ToUtf8(value.Text());
        default: return {};
    }
}

int PrintCells(const char* inName) {
    TKmrFileStream in(inName, TKmrFileStream::TMode::Read);
    TOle2File ole(&in);
    auto book = Load(ole);
    std::string out;
    book->ForEachCell([&](int sheet, const TCellRecord& cell) {
        const TVariant value = cell.GetValue();
        if (value.IsEmpty()) return;
        out += std::to_string(sheet) + '\t' + std::to_string(cell.GetRow() + 1) + '\t' +
               std::to_string(cell.GetColumn() + 1) + '\t' + ValueText(value) + '\n';
    });
    std::cout << out;
    return 0;
}

TRTFRunList ParseRuns(const std::string& text) {
    TRTFRunList runs;
    std::size_t at = 0;
    while (at < text.size()) {
        unsigned first = 0, font = 0;
        if (std::sscanf(text.c_str() + at, "%u:%u", &first, &font) != 2) throw std::invalid_argument("runs");
        runs.push_back({static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(font)});
        const auto comma = text.find(',', at);
        at = comma == std::string::npos ? text.size() : comma + 1;
    }
    return runs;
}

bool ParseChanges(int argc, char** argv, std::vector<TChange>& changes) {
    for (int i = 3; i < argc;) {
        const bool rich = std::strcmp(argv[i], "--rich") == 0;
        if (!rich && std::strcmp(argv[i], "--label") != 0) return false;
        const int need = rich ? 6 : 5;
        if (i + need > argc) return false;
        TChange c{std::stoi(argv[i + 1]), std::stoi(argv[i + 2]), std::stoi(argv[i + 3]), {Utf8ToUtf16(argv[i + 4]), {}}};
        if (rich) c.Text.RTFRuns = ParseRuns(argv[i + 5]);
        changes.push_back(std::move(c));
        i += need;
    }
    return true;
}

int Usage() {
    std::cerr << "usage: xlsroundtrip IN OUT [--label SHEET ROW COLUMN TEXT]... [--rich SHEET ROW COLUMN TEXT RUNS]...\n"
                 "       xlsroundtrip --cells IN\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--cells") == 0) {
        try {
            return PrintCells(argv[2]);
        } catch (const std::exception& e) {
            std::cerr << e.what() << '\n';
            return 1;
        }
    }
    std::vector<TChange> changes;
    try {
        if (argc < 3 || !ParseChanges(argc, argv, changes)) return Usage();
    } catch (const std::exception&) {
        return Usage();
    }
    std::vector<std::uint8_t> bytes;
    try {
        bytes = RoundTrip(argv[1], changes);
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    try {
        TKmrFileStream out(argv[2], TKmrFileStream::TMode::Create);
        out.Write(bytes.data(), bytes.size());
    } catch (const std::exception& e) {
        std::remove(argv[2]);  // never leave a half-written file
        std::cerr << e.what() << '\n';
        return 1;
    }
    return 0;
}
