// xlsroundtrip IN OUT [fit|scale]
//
// Opens IN through the engine and writes it to OUT unchanged: the records of
// its "Workbook" stream are loaded and written back through a record list
// (index and cache records dropped) into a copy of the compound document. A file the
// engine cannot read gives exit status 1 and the engine's message on one
// line of standard error; OUT is then not created.
//
// With "fit" or "scale" the settings of the workbook and its first sheet
// change on the way, through the setting records, so that other programs
// can tell whether they see them: 1904 dates, R1C1 references, zoom 150 (a
// new SCL behind WINDOW2), margins, header and footer, paper, scale 80,
// copies, fit to 2 x 3 pages, printed grid lines and centring; "fit" also
// turns fitting to pages on, which hides the scale from other programs. The
// sheets' BOUNDSHEET offsets are then laid out again, since the new SCL
// moves them.
#include <cstdio>
#include <cstring>
#include <optional>
#include <iostream>
#include <vector>

#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsSettingRecords.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/XlsMessages.h"

namespace {

using namespace kalmira;

constexpr std::uint16_t xlr_BOF = 0x809;
constexpr std::uint16_t xlr_BOUNDSHEET = 0x85;

std::size_t IndexOf(const TBaseRecordList& records, std::size_t from, std::uint16_t id) {
    for (std::size_t i = from; i < records.Count(); ++i)
        if (records.GetItems(i)->Id == id) return i;
    Raise(ErrNotImplemented, "record missing");
}

template <class T>
T* Find(const TBaseRecordList& records, std::size_t from, std::uint16_t id) {
    return dynamic_cast<T*>(records.GetItems(IndexOf(records, from, id)));
}

void ChangeSheet(TBaseRecordList& records, std::size_t sheet, bool fitToPage) {
    Find<TRefModeRecord>(records, sheet, xlr_REFMODE)->SetIsR1C1(true);
    const std::pair<std::uint16_t, double> margins[] = {
        {xlr_LEFTMARGIN, 1.25}, {xlr_RIGHTMARGIN, 0.5}, {xlr_TOPMARGIN, 1.5}, {xlr_BOTTOMMARGIN, 0.75}};
    for (auto [id, inches] : margins) Find<TMarginRecord>(records, sheet, id)->SetValue(inches);
    auto* header = Find<TPageHeaderFooterRecord>(records, sheet, xlr_HEADER);
    records.Resize(*header, [&] { header->SetText(u"&LOdečty &P"); });
    auto* footer = Find<TPageHeaderFooterRecord>(records, sheet, xlr_FOOTER);
    records.Resize(*footer, [&] { footer->SetText(u"&RByt"); });
    auto* setup = Find<TSetupRecord>(records, sheet, xlr_SETUP);
    setup->SetPrintPaperSize(8);
    setup->SetScale(80);
    setup->SetPrintCopies(2);
    setup->SetFitWidth(2);
    setup->SetFitHeight(3);
    setup->SetHeaderMargin(0.375);
    setup->SetFooterMargin(0.625);
    Find<TPrintGridLinesRecord>(records, sheet, xlr_PRINTGRIDLINES)->SetValue(true);
    Find<TPrintCenteredRecord>(records, sheet, xlr_HCENTER)->SetCentered(true);
    Find<TPrintCenteredRecord>(records, sheet, xlr_VCENTER)->SetCentered(true);
    Find<TWsBoolRecord>(records, sheet, xlr_WSBOOL)->SetFitToPage(fitToPage);
    records.Insert(IndexOf(records, sheet, xlr_WINDOW2) + 1, std::make_unique<TSCLRecord>(150));
}

// Each sheet's BOF position goes into its BOUNDSHEET, in order.
void LayOutSheets(TBaseRecordList& records) {
    std::vector<std::uint32_t> sheetStarts;
    std::int64_t position = 0;
    for (std::size_t i = 0; i < records.Count(); ++i) {
        if (records.GetItems(i)->Id == xlr_BOF && i > 0) sheetStarts.push_back(static_cast<std::uint32_t>(position));
        position += records.GetItems(i)->TotalSize();
    }
    std::size_t sheet = 0;
    for (std::size_t i = 0; i < records.Count() && sheet < sheetStarts.size(); ++i)
        if (records.GetItems(i)->Id == xlr_BOUNDSHEET) SetLongWord(records.GetItems(i)->Data, 0, sheetStarts[sheet++]);
}

void ChangeSettings(TBaseRecordList& records, bool fitToPage) {
    Find<T1904Record>(records, 0, xlr_DATEMODE)->SetIs1904(true);
    ChangeSheet(records, IndexOf(records, 1, xlr_BOF), fitToPage);
    LayOutSheets(records);
}

// settings: none for a plain round trip, else whether to fit to pages.
std::vector<std::uint8_t> RoundTrip(const char* inName, std::optional<bool> settings) {
    TKmrFileStream in(inName, TKmrFileStream::TMode::Read);
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    TBaseRecordList records;
    WalkRecords(ole, [&](std::unique_ptr<TBaseRecord> record) { records.Add(std::move(record)); });
    if (settings) ChangeSettings(records, *settings);

    TKmrMemoryStream out;
    ole.PrepareForWrite(&out, u"Workbook");
    records.SaveToStream(ole);
    Assert(ole.Position() == records.GetTotalSize(), "xlsroundtrip", "written size differs from the list's size");
    ole.FinishStream();
    return out.Bytes();
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<bool> settings;
    if (argc == 4 && (std::strcmp(argv[3], "fit") == 0 || std::strcmp(argv[3], "scale") == 0))
        settings = std::strcmp(argv[3], "fit") == 0;
    if (argc != 3 && !settings) {
        std::cerr << "usage: xlsroundtrip IN OUT [fit|scale]\n";
        return 2;
    }
    std::vector<std::uint8_t> bytes;
    try {
        bytes = RoundTrip(argv[1], settings);
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
