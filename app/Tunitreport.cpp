#include "app/Tunitreport.h"

#include "workbook/storage/UKmrMessages.h"

#include <algorithm>
#include <filesystem>

using namespace kalmira;
namespace fs = std::filesystem;

namespace {

constexpr const char* DateFormat = "dd.mm.yyyy hh:nn:ss";
constexpr const char* DbFailed = "Chyba databáze. Generování nelze dokončit.";

// Where the report reads and writes, rows and columns from 1.
struct TUnitLayout {
    // The transfer workbook: the unit's row among these, found by its
    // table name in column UnitColumn of sheet 1.
    int FirstUnitRow = 8, LastUnitRow = 142, UnitColumn = 3;
    // The unit's details: transfer column -> report row and column.
    struct TDetail {
        int FromCol, Row, Col;
    };
    TDetail Details[4] = {{1, 5, 2}, {2, 5, 5}, {4, 7, 2}, {5, 7, 5}};
    int TitleRow = 4, TitleCol = 1;
    // One row per meter on sheet 1 from here: name, id, first reading's
    // date, first and last state.
    int FirstMeterRow = 10;
    // A meter's sheet: its name and id in row 2, its readings (date,
    // state) from row 4.
    int NameRow = 2, NameCol = 2, IdCol = 4, FirstReadingRow = 4;
};
constexpr TUnitLayout Layout;

std::u16string U(const std::string& text) { return Utf8ToUtf16(text); }

std::string Trimmed(const std::u16string& text) {
    const auto first = text.find_first_not_of(u" \t");
    if (first == std::u16string::npos) return {};
    return Utf16ToUtf8(text.substr(first, text.find_last_not_of(u" \t") - first + 1));
}

std::string DateText(const plat::TDateTimeParts& t) { return plat::FormatDateTime(DateFormat, t); }

// The first transfer workbook there is, water before heat; the water one's
// name when neither is.
fs::path TransferFile(const fs::path& exportDir, const TCurrDates& dates) {
    const TTransferMonth m = TransferMonth(dates.month, dates.year);
    const std::string tail = std::to_string(m.month) + " " + std::to_string(m.year) + " pro přenos.xls";
    for (const char* kind : {"Voda ", "Teplo "})
        if (fs::exists(exportDir / (kind + tail))) return exportDir / (kind + tail);
    return exportDir / ("Voda " + tail);
}

// The unit's details from its row of the transfer workbook; false when the
// unit has no row.
bool ReadDetails(TKalmiraImport& book, const fs::path& transfer, const std::string& unit, TVariant (&details)[4]) {
    book.OpenFile(transfer.string());
    book.SetActiveSheet(1);
    for (int row = Layout.FirstUnitRow; row <= Layout.LastUnitRow; ++row) {
        const TVariant cell = book.GetCellValue(row, Layout.UnitColumn);
        if (cell.IsEmpty() || Trimmed(VariantToString(cell)) != unit) continue;
        for (int i = 0; i < 4; ++i) details[i] = book.GetCellValue(row, Layout.Details[i].FromCol);
        book.CloseFile();
        return true;
    }
    book.CloseFile();
    return false;
}

// Every sheet name of the open workbook.
std::vector<std::u16string> SheetNames(TKalmiraImport& book) {
    std::vector<std::u16string> names;
    for (int sheet = 1; sheet <= book.GetSheetCount(); ++sheet) {
        book.SetActiveSheet(sheet);
        names.push_back(book.GetActiveSheetName());
    }
    return names;
}

// A copy of sheet 1 at the end, emptied, headed and filled with the
// meter's readings; false when the readings cannot be had.
bool AddMeterSheet(TKalmiraImport& book, TMyOdecty& odecty, const TRychlaBilancerec& meter,
                   const plat::TDateTimeParts& from, const plat::TDateTimeParts& to,
                   std::vector<std::u16string>& taken) {
    if (!odecty.AddressHistory(meter.od_sekaddr, from, to)) return false;
    book.InsertAndCopySheets(1, book.GetSheetCount() + 1, 1);
    book.SetActiveSheet(book.GetSheetCount());
    book.ClearSheet();
    book.SetCellValue(Layout.NameRow, Layout.NameCol, TVariant(U(meter.mer_nazev)));
    book.SetCellValue(Layout.NameRow, Layout.IdCol, TVariant(static_cast<double>(meter.mer_id)));
    taken.push_back(MeterSheetName(U(meter.mer_nazev), meter.mer_id, taken));
    book.SetActiveSheetName(taken.back());
    int row = Layout.FirstReadingRow;
    for (const TOneOdecet& reading : odecty.history) {
        book.SetCellValue(row, 1, TVariant(U(DateText(reading.od_date))));
        book.SetCellValue(row++, 2, TVariant(reading.hodnota));
    }
    return true;
}

}  // namespace

std::u16string MeterSheetName(const std::u16string& name, int id, const std::vector<std::u16string>& taken) {
    constexpr std::size_t MaxLength = 31;
    std::u16string clean = name;
    std::replace_if(clean.begin(), clean.end(), [](char16_t c) { return std::u16string_view(u"[]:*?/\\").find(c) != std::u16string_view::npos; }, u'_');
    const auto isTaken = [&](const std::u16string& candidate) {
        return candidate.empty() || std::any_of(taken.begin(), taken.end(), [&](const std::u16string& t) {
                   return WideUpperCase98(t) == WideUpperCase98(candidate);
               });
    };
    clean.resize(std::min(clean.size(), MaxLength));
    if (!isTaken(clean)) return clean;
    const std::u16string suffix = u" (" + U(std::to_string(id)) + u")";
    return clean.substr(0, MaxLength - suffix.size()) + suffix;
}

TUnitReportResult MakeUnitReport(TMyOdecty& odecty, TKalmiraImport& book, const std::string& progdir,
                                 const std::string& unit, const TCurrDates& dates, const TDbLog& log) {
    const fs::path data = fs::path(progdir) / "prgdata";
    const fs::path transfer = TransferFile(data / "export", dates);
    if (!fs::exists(transfer)) {
        log("Nenalezen převodní soubor  -> " + transfer.string());
        return {false, "Nenalezen převodní soubor .Generování nelze dokončit."};
    }
    const plat::TDateTimeParts from = DecodeDateTime(dates.monthStart), to = DecodeDateTime(dates.now);
    if (!odecty.MeterConsumptionReport(unit, from, to)) return {false, DbFailed};
    const std::vector<TRychlaBilancerec> meters = odecty.bilance;
    const fs::path report = data / "export" / "prehledJednotky.xls";
    try {
        TVariant details[4];
        if (!ReadDetails(book, transfer, unit, details)) return {false, "Nenalezeny detaily měřidla"};
        book.OpenFile((data / "sestavy" / "sablonaJednotka.xls").string());
        std::vector<std::u16string> taken = SheetNames(book);
        taken.push_back(u"Přehled");
        book.SetActiveSheet(1);
        book.SetCellValue(Layout.TitleRow, Layout.TitleCol,
                          TVariant(U("Přehled jednotky za období :" + DateText(from) + "- " + DateText(to))));
        for (int i = 0; i < 4; ++i) book.SetCellValue(Layout.Details[i].Row, Layout.Details[i].Col, details[i]);
        int row = Layout.FirstMeterRow;
        for (const TRychlaBilancerec& meter : meters) {
            const TVariant cells[] = {TVariant(U(meter.mer_nazev)), TVariant(static_cast<double>(meter.mer_id)),
                                      TVariant(U(DateText(meter.mindatum))), TVariant(meter.minmj),
                                      TVariant(meter.maxmj)};
            for (int col = 1; col <= 5; ++col) book.SetCellValue(row, col, cells[col - 1]);
            ++row;
        }
        for (const TRychlaBilancerec& meter : meters) {
            if (AddMeterSheet(book, odecty, meter, from, to, taken)) continue;
            book.CloseFile();
            return {false, DbFailed};
        }
        book.SetActiveSheet(1);
        book.SetActiveSheetName(u"Přehled");
        book.Save(report.string());
        book.CloseFile();
    } catch (const std::exception& e) {
        book.CloseFile();
        return {false, e.what()};
    }
    return {true, "Soubor vygenerovan: " + report.string()};
}
