#include "tests/tools/xlsbook/XlsBook.h"

#include "workbook/cells/UXlsFormula.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlscellrecords.h"
#include "workbook/storage/Uxlsotherrecords.h"

namespace xlsbook {

using namespace kalmira;

namespace {

// The cells of one row that stood together in the file; written joined.
class TCellRun : public TBaseRecord {
public:
    TCellRun() : TBaseRecord(0, {}) {}
    TCellRecordList Cells;
    void SaveToStream(TOle2File& ole) const override { Cells.SaveToStream(ole); }
    std::int64_t TotalSize() const override { return Cells.GetTotalSize(); }
};

// Stands where the first worksheet had its DIMENSIONS: the cell block.
class TCellsPlace : public TBaseRecord {
public:
    explicit TCellsPlace(TCells* cells) : TBaseRecord(0, {}), FCells(cells) {}
    void SaveToStream(TOle2File& ole) const override { FCells->SaveToStream(ole); }
    std::int64_t TotalSize() const override { return FCells->TotalSize(); }

private:
    TCells* FCells;
};

bool BelongsToFormula(std::uint16_t id) {
    return id == xlr_ARRAY || id == xlr_TABLE || id == xlr_SHRFMLA || id == xlr_STRING;
}

bool IsCellBlockRecord(const TBaseRecord& record) {
    return record.Id == xlr_ROW || record.Id == xlr_DIMENSIONS || dynamic_cast<const TCellRecord*>(&record) ||
           dynamic_cast<const TMultipleValueRecord*>(&record);
}

// The record, with its own continuations, becomes the last links of the
// formula's chain, so that it is written, sized and copied with it.
void Attach(TBaseRecord& formula, std::unique_ptr<TBaseRecord> record) {
    TBaseRecord* last = &formula;
    while (last->Continue) last = last->Continue.get();
    auto link = std::make_unique<TContinueRecord>(record->Id, std::move(record->Data));
    link->Continue = std::move(record->Continue);
    last->AddContinue(std::move(link));
}

std::int64_t SectionSize(const TBaseRecordList& section) {
    std::int64_t size = 0;
    for (std::size_t i = 0; i < section.Count(); ++i)
        if (section.GetItems(i)) size += section.GetItems(i)->TotalSize();
    return size;
}

}  // namespace

class TXlsBook::TLoader {
public:
    explicit TLoader(TXlsBook& book) : FBook(book) {}

    void Add(std::unique_ptr<TBaseRecord> record) {
        if (record->Id == xlr_BOF || FBook.Sections.empty()) StartSection(*record);
        if (FFormula && BelongsToFormula(record->Id)) {
            Bind(std::move(record));
            return;
        }
        FFormula = nullptr;
        if (FInCells && IsCellBlockRecord(*record)) AddToCells(std::move(record));
        else if (auto* mul = dynamic_cast<TMultipleValueRecord*>(record.get())) {
            while (!mul->Eof()) AddToRun(mul->ExtractOneRecord());
        } else if (dynamic_cast<TCellRecord*>(record.get())) {
            AddToRun(std::unique_ptr<TCellRecord>(static_cast<TCellRecord*>(record.release())));
        } else {
            if (record->Id == xlr_EOF) EndSection();
            Current().Add(std::move(record));
        }
    }

private:
    // A formula's STRING gives it its text and a SHRFMLA waits for the
    // sheet's EOF; a formula kept as a plain cell carries them along.
    void Bind(std::unique_ptr<TBaseRecord> record) {
        auto* formula = dynamic_cast<TFormulaRecord*>(FFormula);
        if (!formula) return Attach(*FFormula, std::move(record));
        if (auto* text = dynamic_cast<TStringRecord*>(record.get())) formula->SetFormulaValue(TVariant(text->Value()));
        else if (dynamic_cast<TShrFmlaRecord*>(record.get()))
            FShared.Add(std::unique_ptr<TShrFmlaRecord>(static_cast<TShrFmlaRecord*>(record.release())));
        else formula->TakeFollowing(std::move(record));
    }

    // The formulas of the sheet that point at one of its SHRFMLA take its tokens.
    void ExpandShared() {
        if (FInCells) FBook.Cells->CellList().FixFormulas(FShared);
        for (std::size_t i = 0; i < Current().Count(); ++i)
            if (auto* run = dynamic_cast<TCellRun*>(Current().GetItems(i)))
                for (std::size_t c = 0; c < run->Cells.Count(); ++c)
                    if (auto* formula = dynamic_cast<TFormulaRecord*>(run->Cells.GetItems(c)))
                        run->Cells.Resize(*formula, [&] { FShared.Expand(*formula); });
        FShared.Clear();
    }

    TBaseRecordList& Current() { return *FBook.Sections.back(); }

    void StartSection(const TBaseRecord& bof) {
        FBook.Sections.push_back(std::make_unique<TBaseRecordList>());
        const bool worksheet = bof.Id == xlr_BOF && bof.DataSize() >= 4 && GetWord(bof.Data, 2) == BOFWorksheet;
        FInCells = worksheet && !FBook.Cells;
        if (FInCells) {
            FBook.Cells = std::make_unique<TCells>(&FBook.Globals->Access(), nullptr);
            FBook.CellsSheet = FBook.Sections.size();
            FPlaced = false;
        }
    }

    void Place() {
        if (FPlaced) return;
        Current().Add(std::make_unique<TCellsPlace>(FBook.Cells.get()));
        FPlaced = true;
    }

    // A sheet without DIMENSIONS and cells gets its block before WINDOW2.
    void EndSection() {
        ExpandShared();
        if (!FInCells || FPlaced) return;
        std::size_t at = Current().Count();
        for (std::size_t i = 0; i < Current().Count(); ++i)
            if (Current().GetItems(i) && Current().GetItems(i)->Id == xlr_WINDOW2) at = i;
        Current().Insert(at, std::make_unique<TCellsPlace>(FBook.Cells.get()));
        FPlaced = true;
    }

    void AddToCells(std::unique_ptr<TBaseRecord> record) {
        Place();
        if (record->Id == xlr_DIMENSIONS) return;  // the cells write their own
        if (auto* mul = dynamic_cast<TMultipleValueRecord*>(record.get())) {
            FBook.Cells->AddMultipleCells(*mul);
        } else if (record->Id == xlr_ROW) {
            FBook.Cells->AddRow(std::unique_ptr<TRowRecord>(static_cast<TRowRecord*>(record.release())));
        } else {
            auto* cell = static_cast<TCellRecord*>(record.release());
            FBook.Cells->AddCell(std::unique_ptr<TCellRecord>(cell));
            if (cell->Id == xlr_FORMULA) FFormula = cell;
        }
    }

    void AddToRun(std::unique_ptr<TCellRecord> cell) {
        if (auto* label = dynamic_cast<TLabelSSTRecord*>(cell.get())) label->AttachToSST(FBook.Globals->SST());
        auto& list = Current();
        TCellRun* run = list.Count() > 0 ? dynamic_cast<TCellRun*>(list.GetItems(list.Count() - 1)) : nullptr;
        if (!run || run->Cells.GetItems(0)->GetRow() != cell->GetRow()) {
            list.Add(std::make_unique<TCellRun>());
            run = static_cast<TCellRun*>(list.GetItems(list.Count() - 1));
        }
        if (cell->Id == xlr_FORMULA) FFormula = cell.get();
        run->Cells.Add(std::move(cell));
    }

    TXlsBook& FBook;
    TShrFmlaRecordList FShared;  // of the sheet being read
    TBaseRecord* FFormula = nullptr;
    bool FInCells = false;
    bool FPlaced = false;
};

TXlsBook::TXlsBook() : Globals(std::make_unique<TWorkbookGlobals>()) {}

// The cells go before the string table that their labels point into.
TXlsBook::~TXlsBook() {
    Cells.reset();
    Sections.clear();
}

std::unique_ptr<TXlsBook> TXlsBook::Load(TOle2File& ole) {
    RegisterFormulaRecords();
    auto book = std::make_unique<TXlsBook>();
    ole.SelectStream(u"Workbook");
    TRecordHeader header{};
    ReadRecordHeader(ole, header);
    if (header.Id != xlr_BOF) Raise(ErrExcelInvalid);
    auto first = LoadRecords(ole, header);
    if (static_cast<TBOFRecord&>(*first).GetBOFType() != BOFGlobals) Raise(ErrExcelInvalid);
    book->Globals->LoadFromStream(ole, header, std::unique_ptr<TBOFRecord>(static_cast<TBOFRecord*>(first.release())),
                                  book->Globals->SST());
    book->Dates1904 = book->Globals->GetIs1904();
    TLoader loader(*book);
    WalkRecords(ole, header, [&](std::unique_ptr<TBaseRecord> record) { loader.Add(std::move(record)); });
    for (auto& section : book->Sections)
        for (std::size_t i = 0; i < section->Count(); ++i)
            if (auto* run = dynamic_cast<TCellRun*>(section->GetItems(i))) run->Cells.Sort();
    // Every label has attached by file index; only now may the table sort.
    book->Globals->SST().Sort();
    return book;
}

void TXlsBook::ForEachCell(const std::function<void(std::size_t, TCellRecord&)>& visit) const {
    for (std::size_t s = 1; s <= Sections.size(); ++s) {
        if (s == CellsSheet) {
            const TCellList& list = Cells->CellList();
            for (std::size_t row = 0; row < list.Count(); ++row)
                if (const auto* cells = list.GetItems(row))
                    for (std::size_t c = 0; c < cells->Count(); ++c) visit(s, *cells->GetItems(c));
            continue;
        }
        for (std::size_t i = 0; i < Sections[s - 1]->Count(); ++i)
            if (auto* run = dynamic_cast<TCellRun*>(Sections[s - 1]->GetItems(i)))
                for (std::size_t c = 0; c < run->Cells.Count(); ++c) visit(s, *run->Cells.GetItems(c));
    }
}

std::int64_t TXlsBook::SaveToStream(TOle2File& ole) {
    if (Cells) Cells->FixRows();
    Globals->SST().FixRefs();
    // Sheet k starts where the globals and the sheets before it end.
    std::vector<std::int64_t> starts{0, Globals->TotalSize()};
    for (const auto& section : Sections) starts.push_back(starts.back() + SectionSize(*section));
    if (static_cast<std::size_t>(Globals->GetSheetCount()) > Sections.size()) Raise(ErrExcelInvalid);
    for (int sheet = 0; sheet < Globals->GetSheetCount(); ++sheet)
        Globals->SheetSetOffset(sheet, static_cast<std::uint32_t>(starts[static_cast<std::size_t>(sheet) + 1]));
    const std::int64_t origin = ole.Position();
    Globals->SaveToStream(ole);
    for (std::size_t s = 0; s < Sections.size(); ++s) {
        const auto& section = *Sections[s];
        Assert(ole.Position() - origin == starts[s + 1] && section.Count() > 0 && section.GetItems(0)->Id == xlr_BOF,
               "xlsbook", "a sheet offset does not point at its BOF");
        section.SaveToStream(ole);
    }
    Assert(ole.Position() - origin == starts.back(), "xlsbook", "written size differs from the computed size");
    return starts.back();
}

std::vector<std::uint8_t> RoundTrip(const std::string& path, const std::function<void(TXlsBook&)>& change) {
    TKmrFileStream in(path, TKmrFileStream::TMode::Read);
    TOle2File ole(&in);
    auto book = TXlsBook::Load(ole);
    if (change) change(*book);
    TKmrMemoryStream out;
    ole.PrepareForWrite(&out, u"Workbook");
    book->SaveToStream(ole);
    ole.FinishStream();
    return out.Bytes();
}

}  // namespace xlsbook
