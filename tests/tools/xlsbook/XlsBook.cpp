#include "tests/tools/xlsbook/XlsBook.h"

#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlscellrecords.h"

namespace xlsbook {

using namespace kalmira;

namespace {

constexpr std::uint16_t xlr_BOF = 0x809;
constexpr std::uint16_t xlr_BOUNDSHEET = 0x85;
constexpr std::uint16_t xlr_WINDOW2 = 0x23E;
constexpr std::uint16_t xlr_DATEMODE = 0x22;
constexpr std::uint16_t WorksheetBOF = 0x10;

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
            Attach(*FFormula, std::move(record));
            return;
        }
        FFormula = nullptr;
        if (record->Id == xlr_DATEMODE && record->DataSize() >= 2) FBook.Dates1904 = GetWord(record->Data, 0) == 1;
        if (FInCells && IsCellBlockRecord(*record)) AddToCells(std::move(record));
        else if (auto* sst = dynamic_cast<TSSTRecord*>(record.get())) {
            FBook.SST.Load(*sst);
            Current().Add(std::make_unique<TSSTPlace>(&FBook.SST));
        } else if (auto* mul = dynamic_cast<TMultipleValueRecord*>(record.get())) {
            while (!mul->Eof()) AddToRun(mul->ExtractOneRecord());
        } else if (dynamic_cast<TCellRecord*>(record.get())) {
            AddToRun(std::unique_ptr<TCellRecord>(static_cast<TCellRecord*>(record.release())));
        } else {
            if (record->Id == xlr_EOF) EndSection();
            Current().Add(std::move(record));
        }
    }

private:
    TBaseRecordList& Current() { return *FBook.Sections.back(); }

    void StartSection(const TBaseRecord& bof) {
        FBook.Sections.push_back(std::make_unique<TBaseRecordList>());
        const bool worksheet = bof.Id == xlr_BOF && bof.DataSize() >= 4 && GetWord(bof.Data, 2) == WorksheetBOF;
        FInCells = worksheet && !FBook.Cells;
        if (FInCells) {
            FBook.Cells = std::make_unique<TCells>(&FBook.SST, nullptr);
            FBook.CellsSheet = FBook.Sections.size() - 1;
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
        if (auto* label = dynamic_cast<TLabelSSTRecord*>(cell.get())) label->AttachToSST(FBook.SST);
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
    TBaseRecord* FFormula = nullptr;
    bool FInCells = false;
    bool FPlaced = false;
};

TXlsBook::TXlsBook() = default;

// The cells go before the string table that their labels point into.
TXlsBook::~TXlsBook() {
    Cells.reset();
    Sections.clear();
}

std::unique_ptr<TXlsBook> TXlsBook::Load(TOle2File& ole) {
    auto book = std::make_unique<TXlsBook>();
    ole.SelectStream(u"Workbook");
    TLoader loader(*book);
    WalkRecords(ole, [&](std::unique_ptr<TBaseRecord> record) { loader.Add(std::move(record)); });
    if (book->Sections.empty()) Raise(ErrExcelInvalid);
    for (auto& section : book->Sections)
        for (std::size_t i = 0; i < section->Count(); ++i)
            if (auto* run = dynamic_cast<TCellRun*>(section->GetItems(i))) run->Cells.Sort();
    // Every label has attached by file index; only now may the table sort.
    book->SST.Sort();
    return book;
}

void TXlsBook::ForEachCell(const std::function<void(std::size_t, TCellRecord&)>& visit) const {
    for (std::size_t s = 1; s < Sections.size(); ++s) {
        if (s == CellsSheet) {
            const TCellList& list = Cells->CellList();
            for (std::size_t row = 0; row < list.Count(); ++row)
                if (const auto* cells = list.GetItems(row))
                    for (std::size_t c = 0; c < cells->Count(); ++c) visit(s, *cells->GetItems(c));
            continue;
        }
        for (std::size_t i = 0; i < Sections[s]->Count(); ++i)
            if (auto* run = dynamic_cast<TCellRun*>(Sections[s]->GetItems(i)))
                for (std::size_t c = 0; c < run->Cells.Count(); ++c) visit(s, *run->Cells.GetItems(c));
    }
}

std::int64_t TXlsBook::SaveToStream(TOle2File& ole) {
    if (Cells) Cells->FixRows();
    SST.FixRefs();
    // Sheet k starts where the sections before it end.
    std::vector<std::int64_t> starts{0};
    for (const auto& section : Sections) starts.push_back(starts.back() + SectionSize(*section));
    std::size_t sheet = 0;
    auto& globals = *Sections.at(0);
    for (std::size_t i = 0; i < globals.Count(); ++i) {
        TBaseRecord* record = globals.GetItems(i);
        if (!record || record->Id != xlr_BOUNDSHEET) continue;
        if (++sheet >= Sections.size()) Raise(ErrExcelInvalid);
        SetLongWord(record->Data, 0, static_cast<std::uint32_t>(starts[sheet]));
    }
    const std::int64_t origin = ole.Position();
    for (std::size_t s = 0; s < Sections.size(); ++s) {
        const auto& section = *Sections[s];
        Assert(ole.Position() - origin == starts[s] && section.Count() > 0 && section.GetItems(0)->Id == xlr_BOF,
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
