#include "tests/tools/xlsbook/XlsBook.h"

#include "workbook/cells/UXlsFormula.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlsotherrecords.h"

namespace xlsbook {

using namespace kalmira;

std::unique_ptr<TSheet> LoadSheet(TOle2File& ole, TRecordHeader& header, TWorkbookGlobals& globals) {
    if (header.Id != xlr_BOF) Raise(ErrExcelInvalid);
    auto record = LoadRecords(ole, header);
    std::unique_ptr<TBOFRecord> bof(static_cast<TBOFRecord*>(record.release()));
    auto sheet = NewSheetOfType(&globals, bof->GetBOFType());
    sheet->LoadFromStream(ole, header, std::move(bof), globals.SST());
    return sheet;
}

TXlsBook::TXlsBook() : Globals(std::make_unique<TWorkbookGlobals>()) {}

// The sheets go before the string table that their labels point into.
TXlsBook::~TXlsBook() { Sheets.clear(); }

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
    // Sections follow while the stream has more than its padding.
    while (!ole.NextEof(3) && header.Id != 0) book->Sheets.push_back(LoadSheet(ole, header, *book->Globals));
    for (std::size_t s = 0; s < book->Sheets.size() && !book->Cells; ++s)
        if (auto* sheet = dynamic_cast<TWorkSheet*>(book->Sheets[s].get())) {
            book->Cells = &sheet->Cells();
            book->CellsSheet = s + 1;
        }
    // Every label has attached by file index; only now may the table sort.
    book->Globals->SST().Sort();
    return book;
}

TWorkSheet* TXlsBook::FirstWorkSheet() const {
    return CellsSheet ? static_cast<TWorkSheet*>(Sheets[CellsSheet - 1].get()) : nullptr;
}

void TXlsBook::ForEachCell(const std::function<void(std::size_t, TCellRecord&)>& visit) const {
    for (std::size_t s = 1; s <= Sheets.size(); ++s) {
        const auto* sheet = dynamic_cast<const TWorkSheet*>(Sheets[s - 1].get());
        if (!sheet) continue;
        const TCellList& list = sheet->Cells().CellList();
        for (std::size_t row = 0; row < list.Count(); ++row)
            if (const auto* cells = list.GetItems(row))
                for (std::size_t c = 0; c < cells->Count(); ++c) visit(s, *cells->GetItems(c));
    }
}

std::int64_t TXlsBook::SaveToStream(TOle2File& ole) {
    for (const auto& sheet : Sheets) sheet->FixRows();
    Globals->SST().FixRefs();
    // Sheet k starts where the globals and the sheets before it end.
    std::vector<std::int64_t> starts{0, Globals->TotalSize()};
    for (const auto& sheet : Sheets) starts.push_back(starts.back() + sheet->FixTotalSize(false));
    if (static_cast<std::size_t>(Globals->GetSheetCount()) > Sheets.size()) Raise(ErrExcelInvalid);
    for (int sheet = 0; sheet < Globals->GetSheetCount(); ++sheet)
        Globals->SheetSetOffset(sheet, static_cast<std::uint32_t>(starts[static_cast<std::size_t>(sheet) + 1]));
    const std::int64_t origin = ole.Position();
    Globals->SaveToStream(ole);
    for (std::size_t s = 0; s < Sheets.size(); ++s) {
        Assert(ole.Position() - origin == starts[s + 1], "xlsbook", "a sheet offset does not point at its BOF");
        Sheets[s]->SaveToStream(ole);
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
