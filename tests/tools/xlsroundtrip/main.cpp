// xlsroundtrip IN OUT [--label SHEET ROW COLUMN TEXT]... [--rich SHEET ROW COLUMN TEXT RUNS]...
//                     [--formula SHEET ROW COLUMN VALUE]... [--name NUMBER R1 R2 C1 C2]...
//                     [--settings fit|scale]
// xlsroundtrip --cells IN
//
// Opens IN through the engine and writes it to OUT: the records of its
// "Workbook" stream are loaded by the record factory, the shared strings go
// into the string table and come out of it sorted and rebuilt (with a new
// EXTSST), cells are split out of MULRK and MULBLANK and joined again row
// by row, index and cache records are dropped, and every BOUNDSHEET gets
// the offset of its sheet from the computed sizes. --label and --rich set
// the shared-string cell at SHEET, ROW, COLUMN (from 1) to a new text;
// RUNS is "first:font,first:font...". Formulas are bound as the sheet
// loader binds them: a STRING gives the formula before it its text, and at
// each sheet's EOF the formulas that point at a SHRFMLA take its tokens
// (SHRFMLA is not written). A file the engine cannot read gives
// exit status 1 and the engine's message on one line of standard error;
// OUT is then not created.
//
// --formula puts =7 in place of the cell at SHEET, ROW, COLUMN (from 1),
// cached as VALUE: n:NUMBER, b:0|1, e:CODE, s:TEXT, w:COUNT (as many 16-bit
// characters), a:COUNT (as many 8-bit ones). --name gives the name NUMBER
// (from 1) the area R1..R2, C1..C2 (from 0).
//
// --settings changes the settings of the workbook and its first sheet on
// the way, through the setting records, so that other programs can tell
// whether they see them: 1904 dates, R1C1 references, zoom 150 (a new SCL
// behind WINDOW2), margins, header and footer, paper, scale 80, copies, fit
// to 2 x 3 pages, printed grid lines and centring; "fit" also turns fitting
// to pages on, which hides the scale from other programs.
//
// --cells prints every value cell of IN, one a line: sheet index, row and
// column (from 1), a tab between, then the value: numbers in the shortest
// text that reads back to the same double, texts as UTF-8, TRUE/FALSE,
// error texts.
#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "workbook/cells/UXlsFormula.h"
#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsSST.h"
#include "workbook/storage/UXlsSettingRecords.h"
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

// A label's new text, a new formula with its cached value in place of a
// cell, or a name's new area (Sheet is then the name's number, from 1).
struct TChange {
    enum class TKind { Label, Formula, Name } Kind = TKind::Label;
    int Sheet = 0, Row = 0, Column = 0;
    TRichString Text;
    TVariant Value;
    std::array<int, 4> Area{};  // first row, last row, first column, last column
};

// A section is the records from one BOF to its EOF; section 0 holds the
// globals, section k sheet k.
struct TWorkbookFile {
    TSST SST;  // outlives every label below
    std::vector<std::unique_ptr<TBaseRecordList>> Sections;
    TShrFmlaRecordList Shared;  // of the sheet being read
    TFormulaRecord* LastFormula = nullptr;

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
        if (auto* formula = dynamic_cast<TFormulaRecord*>(cell.get())) LastFormula = formula;
        OpenRun(cell->GetRow())->Cells.Add(std::move(cell));
    }
    void Add(std::unique_ptr<TBaseRecord> record);
    void ExpandShared();

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
    if (auto* text = dynamic_cast<TStringRecord*>(record.get())) {
        if (LastFormula) LastFormula->SetFormulaValue(TVariant(text->Value()));
    } else if (dynamic_cast<TShrFmlaRecord*>(record.get())) {
        Shared.Add(std::unique_ptr<TShrFmlaRecord>(static_cast<TShrFmlaRecord*>(record.release())));
    } else if (record->Id == xlr_EOF) {
        ExpandShared();
        Current().Add(std::move(record));
    } else if (auto* sst = dynamic_cast<TSSTRecord*>(record.get())) {
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

// The formulas of the sheet just read that point at one of its SHRFMLA
// records take its tokens.
void TWorkbookFile::ExpandShared() {
    auto& section = Current();
    for (std::size_t i = 0; i < section.Count(); ++i) {
        auto* run = dynamic_cast<TCellRun*>(section.GetItems(i));
        for (std::size_t c = 0; run && c < run->Cells.Count(); ++c) {
            auto* formula = dynamic_cast<TFormulaRecord*>(run->Cells.GetItems(c));
            std::uint32_t key;
            std::size_t index;
            if (!formula || !formula->IsExp(key) || !Shared.Find(key, index)) continue;
            formula->MixShared(Shared.GetItems(index)->Data, Shared.GetItems(index)->DataSize());
        }
    }
    Shared.Clear();
    LastFormula = nullptr;
}

std::unique_ptr<TWorkbookFile> Load(TOle2File& ole) {
    RegisterFormulaRecords();
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

// The cell is replaced by =7 cached as the change's value.
void PlaceFormula(TWorkbookFile& book, const TChange& change) {
    auto& section = *book.Sections.at(static_cast<std::size_t>(change.Sheet));
    for (std::size_t i = 0; i < section.Count(); ++i) {
        auto* run = dynamic_cast<TCellRun*>(section.GetItems(i));
        for (std::size_t c = 0; run && c < run->Cells.Count(); ++c) {
            const TCellRecord& cell = *run->Cells.GetItems(c);
            if (cell.GetRow() + 1 != change.Row || cell.GetColumn() + 1 != change.Column) continue;
            auto formula = std::make_unique<TFormulaRecord>(xlr_FORMULA, cell.GetRow(), cell.GetColumn(), cell.GetXF(),
                                                            25, change.Value, false);
            const std::uint8_t tokens[] = {3, 0, 0x1E, 7, 0};
            std::copy(std::begin(tokens), std::end(tokens), formula->Data.begin() + 20);
            run->Cells.SetItems(c, std::move(formula));
            return;
        }
    }
    throw Exception("no cell at the changed position");
}

void SetNameArea(TWorkbookFile& book, const TChange& change) {
    auto& globals = *book.Sections.at(0);
    int number = 0;
    for (std::size_t i = 0; i < globals.Count(); ++i) {
        auto* name = dynamic_cast<TNameRecord*>(globals.GetItems(i));
        if (!name || ++number != change.Sheet) continue;
        globals.Resize(*name, [&] {
            name->SetR1(change.Area[0]);
            name->SetR2(change.Area[1]);
            name->SetC1(change.Area[2]);
            name->SetC2(change.Area[3]);
        });
        return;
    }
    throw Exception("no such name");
}

void Apply(TWorkbookFile& book, const TChange& change) {
    if (change.Kind == TChange::TKind::Formula) return PlaceFormula(book, change);
    if (change.Kind == TChange::TKind::Name) return SetNameArea(book, change);
    TLabelSSTRecord* target = nullptr;
    book.ForEachCell([&](int sheet, TCellRecord& cell) {
        if (sheet == change.Sheet && cell.GetRow() + 1 == change.Row && cell.GetColumn() + 1 == change.Column)
            target = dynamic_cast<TLabelSSTRecord*>(&cell);
    });
    if (!target) throw Exception("no shared-string cell at the changed position");
    target->SetAsRichString(change.Text);
}

std::size_t IndexOf(const TBaseRecordList& records, std::uint16_t id) {
    for (std::size_t i = 0; i < records.Count(); ++i)
        if (records.GetItems(i)->Id == id) return i;
    Raise(ErrNotImplemented, "record missing");
}

template <class T>
T* Find(const TBaseRecordList& records, std::uint16_t id) {
    return dynamic_cast<T*>(records.GetItems(IndexOf(records, id)));
}

void ChangeSettings(TWorkbookFile& book, bool fitToPage) {
    if (book.Sections.size() < 2) Raise(ErrExcelInvalid);
    Find<T1904Record>(*book.Sections[0], xlr_DATEMODE)->SetIs1904(true);
    TBaseRecordList& sheet = *book.Sections[1];
    Find<TRefModeRecord>(sheet, xlr_REFMODE)->SetIsR1C1(true);
    const std::pair<std::uint16_t, double> margins[] = {
        {xlr_LEFTMARGIN, 1.25}, {xlr_RIGHTMARGIN, 0.5}, {xlr_TOPMARGIN, 1.5}, {xlr_BOTTOMMARGIN, 0.75}};
    for (auto [id, inches] : margins) Find<TMarginRecord>(sheet, id)->SetValue(inches);
    auto* header = Find<TPageHeaderFooterRecord>(sheet, xlr_HEADER);
    sheet.Resize(*header, [&] { header->SetText(u"&LOdečty &P"); });
    auto* footer = Find<TPageHeaderFooterRecord>(sheet, xlr_FOOTER);
    sheet.Resize(*footer, [&] { footer->SetText(u"&RByt"); });
    auto* setup = Find<TSetupRecord>(sheet, xlr_SETUP);
    setup->SetPrintPaperSize(8);
    setup->SetScale(80);
    setup->SetPrintCopies(2);
    setup->SetFitWidth(2);
    setup->SetFitHeight(3);
    setup->SetHeaderMargin(0.375);
    setup->SetFooterMargin(0.625);
    Find<TPrintGridLinesRecord>(sheet, xlr_PRINTGRIDLINES)->SetValue(true);
    Find<TPrintCenteredRecord>(sheet, xlr_HCENTER)->SetCentered(true);
    Find<TPrintCenteredRecord>(sheet, xlr_VCENTER)->SetCentered(true);
    Find<TWsBoolRecord>(sheet, xlr_WSBOOL)->SetFitToPage(fitToPage);
    sheet.Insert(IndexOf(sheet, xlr_WINDOW2) + 1, std::make_unique<TSCLRecord>(150));
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

// settings: 0 none, 1 fit to pages, 2 scale.
std::vector<std::uint8_t> RoundTrip(const char* inName, const std::vector<TChange>& changes, int settings) {
    TKmrFileStream in(inName, TKmrFileStream::TMode::Read);
    TOle2File ole(&in);
    auto book = Load(ole);
    if (book->Sections.empty()) Raise(ErrExcelInvalid);
    for (const auto& change : changes) Apply(*book, change);
    if (settings) ChangeSettings(*book, settings == 1);
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

// n:NUMBER, b:0|1, e:CODE, s:TEXT, w:COUNT (that many 16-bit characters),
// a:COUNT (that many 8-bit ones).
TVariant ParseValue(const std::string& text) {
    const std::string rest = text.substr(2);
    switch (text.at(0)) {
        case 'n': return TVariant(std::stod(rest));
        case 'b': return TVariant(rest == "1");
        case 'e': return TVariant::FromError(std::stoi(rest));
        case 's': return TVariant(Utf8ToUtf16(rest));
        case 'w': return TVariant(std::u16string(std::stoul(rest), u'\u0159'));
        case 'a': return TVariant(std::u16string(std::stoul(rest), u'a'));
        default: throw std::invalid_argument("value");
    }
}

bool ParseChanges(int argc, char** argv, std::vector<TChange>& changes, int& settings) {
    for (int i = 3; i < argc;) {
        if (std::strcmp(argv[i], "--formula") == 0 && i + 5 <= argc) {
            TChange c;
            c.Kind = TChange::TKind::Formula;
            c.Sheet = std::stoi(argv[i + 1]);
            c.Row = std::stoi(argv[i + 2]);
            c.Column = std::stoi(argv[i + 3]);
            c.Value = ParseValue(argv[i + 4]);
            changes.push_back(std::move(c));
            i += 5;
            continue;
        }
        if (std::strcmp(argv[i], "--name") == 0 && i + 6 <= argc) {
            TChange c;
            c.Kind = TChange::TKind::Name;
            c.Sheet = std::stoi(argv[i + 1]);
            for (int k = 0; k < 4; ++k) c.Area[k] = std::stoi(argv[i + 2 + k]);
            changes.push_back(std::move(c));
            i += 6;
            continue;
        }
        if (std::strcmp(argv[i], "--settings") == 0 && i + 1 < argc) {
            settings = std::strcmp(argv[i + 1], "fit") == 0 ? 1 : std::strcmp(argv[i + 1], "scale") == 0 ? 2 : -1;
            if (settings < 0) return false;
            i += 2;
            continue;
        }
        const bool rich = std::strcmp(argv[i], "--rich") == 0;
        if (!rich && std::strcmp(argv[i], "--label") != 0) return false;
        const int need = rich ? 6 : 5;
        if (i + need > argc) return false;
        TChange c;
        c.Sheet = std::stoi(argv[i + 1]);
        c.Row = std::stoi(argv[i + 2]);
        c.Column = std::stoi(argv[i + 3]);
        c.Text.Value = Utf8ToUtf16(argv[i + 4]);
        if (rich) c.Text.RTFRuns = ParseRuns(argv[i + 5]);
        changes.push_back(std::move(c));
        i += need;
    }
    return true;
}

int Usage() {
    std::cerr << "usage: xlsroundtrip IN OUT [--label SHEET ROW COLUMN TEXT]... [--rich SHEET ROW COLUMN TEXT RUNS]...\n"
                 "                        [--formula SHEET ROW COLUMN VALUE]... [--name NUMBER R1 R2 C1 C2]...\n"
                 "                        [--settings fit|scale]\n"
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
    int settings = 0;
    try {
        if (argc < 3 || !ParseChanges(argc, argv, changes, settings)) return Usage();
    } catch (const std::exception&) {
        return Usage();
    }
    std::vector<std::uint8_t> bytes;
    try {
        bytes = RoundTrip(argv[1], changes, settings);
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
