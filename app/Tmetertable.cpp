#include "app/Tmetertable.h"

#include "app/Tformats.h"
#include "app/Tmeterbook.h"
#include "app/Tmydates.h"
#include "workbook/storage/UKmrStreams.h"
#include "workbook/storage/XlsMessages.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

using kalmira::TKalmiraImport;
using kalmira::TVariant;

namespace {

constexpr int kYearSheet = 2;
constexpr int kLogSheet = 4;
constexpr int kFirstLogRow = 3;
constexpr int kLastSheetRow = 65536;
constexpr int kBlockCaptionColumn = 36;
constexpr int kBlockValueColumn = 37;
constexpr int kBlockRows = 4;  // the empty row, the main meter, the total, the losses
constexpr char kLossesCaption[] = "Ztráty :";

// Columns 1 to 8 of both sheets.
using TTextField = std::string TStradelCntrs::*;
constexpr TTextField kTextColumns[] = {&TStradelCntrs::flatNumber, &TStradelCntrs::firstName,
                                       &TStradelCntrs::surname,    &TStradelCntrs::street,
                                       &TStradelCntrs::houseNumber, &TStradelCntrs::city,
                                       &TStradelCntrs::meterType,  &TStradelCntrs::serialNumber};

void SetText(TKalmiraImport& xls, int row, int col, const std::string& text) {
    xls.SetCellValue(row, col, TVariant(kalmira::Utf8ToUtf16(text)));
}

void SetNumber(TKalmiraImport& xls, int row, int col, double value) { xls.SetCellValue(row, col, TVariant(value)); }

void SetFormula(TKalmiraImport& xls, int row, int col, const std::string& text) {
    xls.SetCellFormula(row, col, kalmira::Utf8ToUtf16(text));
}

void WriteTexts(TKalmiraImport& xls, int row, const TStradelCntrs& m) {
    for (int i = 0; i < static_cast<int>(std::size(kTextColumns)); ++i) SetText(xls, row, i + 1, m.*kTextColumns[i]);
}

void WriteLogRow(TKalmiraImport& xls, const TStradelCntrs& m) {
    xls.SetActiveSheet(kLogSheet);
    const int row = std::max(xls.GetMaxRow() + 1, kFirstLogRow);
    WriteTexts(xls, row, m);
    const plat::TDateTimeParts t = DecodeDateTime(m.readTime);
    const std::pair<int, double> numbers[] = {{9, t.day},     {10, t.month},            {11, t.year},
                                              {12, t.hour},   {13, t.minute},           {14, IsoWeek(m.readTime)},
                                              {15, m.value},  {17, m.auxValue}};
    for (const auto& [col, value] : numbers) SetNumber(xls, row, col, value);
}

void WriteYearRow(TKalmiraImport& xls, const TStradelCntrs& m) {
    xls.SetActiveSheet(kYearSheet);
    const int row = m.sheetRow;
    if (CellText(xls.GetCellValue(row, 8)).empty()) WriteTexts(xls, row, m);
    if (m.readTime == 0) return;
    const plat::TDateTimeParts t = DecodeDateTime(m.readTime);
    SetText(xls, row, 2 * t.month + 8, DateTimeText(t));
    SetNumber(xls, row, 2 * t.month + 9, m.value);
    const std::string r = std::to_string(row);
    SetFormula(xls, row, 35, "=MAX(I" + r + ":AG" + r + ")");
    SetFormula(xls, row, 36, "=I" + r);
    SetFormula(xls, row, 37, "=AI" + r + "-AJ" + r);
}

bool HasClosingBlock(TKalmiraImport& xls) {
    const int last = xls.GetMaxRow();
    return last >= 1 && CellText(xls.GetCellValue(last, kBlockCaptionColumn)) == kLossesCaption;
}

void CheckSheet(TKalmiraImport& xls, int sheet) {
    if (sheet > xls.GetSheetCount())
        throw std::runtime_error("Sešit nemá list " + std::to_string(sheet) + ": tabulku odečtů nelze uložit.");
    if (!xls.GetWorkbook()->IsWorksheet(sheet))
        throw std::runtime_error("List " + std::to_string(sheet) + " sešitu není tabulka: tabulku odečtů nelze uložit.");
}

void CheckRoom(int lastRow, int sheet) {
    if (lastRow > kLastSheetRow)
        throw std::runtime_error("Na listu " + std::to_string(sheet) + " není místo pro další řádky (nejvýše " +
                                 std::to_string(kLastSheetRow) + "): tabulku odečtů nelze uložit.");
}

}  // namespace

int IsoWeek(double dateTime) {
    const int thursday = IsoWeekMonday(static_cast<int>(dateTime)) + 3;
    return (thursday - DayNumber(DecodeDateTime(thursday).year, 1, 1)) / 7 + 1;
}

void CheckReadingTable(TKalmiraImport& xls, const std::vector<TStradelCntrs>& meters) {
    CheckSheet(xls, kYearSheet);
    CheckSheet(xls, kLogSheet);
    const auto read = std::count_if(meters.begin(), meters.end(), [](const TStradelCntrs& m) { return m.readTime != 0; });
    xls.SetActiveSheet(kLogSheet);
    CheckRoom(std::max(xls.GetMaxRow() + 1, kFirstLogRow) + static_cast<int>(read) - 1, kLogSheet);
    xls.SetActiveSheet(kYearSheet);
    int last = xls.GetMaxRow() - (HasClosingBlock(xls) ? 3 : 0);
    for (const TStradelCntrs& m : meters) last = std::max(last, m.sheetRow);
    CheckRoom(last + kBlockRows, kYearSheet);
}

void WriteReadingTable(TKalmiraImport& xls, const std::vector<TStradelCntrs>& meters) {
    xls.SetActiveSheet(kYearSheet);
    if (HasClosingBlock(xls)) {
        xls.DeleteRows(xls.GetMaxRow() - 2, 1);
        xls.DeleteRows(xls.GetMaxRow() - 1, 1);
        xls.DeleteRows(xls.GetMaxRow(), 1);
    }
    for (const TStradelCntrs& m : meters) {
        if (m.readTime != 0) WriteLogRow(xls, m);
        WriteYearRow(xls, m);
    }
    xls.SetActiveSheet(kYearSheet);
    SetText(xls, xls.GetMaxRow() + 2, kBlockCaptionColumn, "Patní vodoměr :");
    SetText(xls, xls.GetMaxRow() + 1, kBlockCaptionColumn, "Celkem :");
    SetText(xls, xls.GetMaxRow() + 1, kBlockCaptionColumn, kLossesCaption);
    const int total = xls.GetMaxRow() - 1;
    SetFormula(xls, total, kBlockValueColumn, "=SUM(AK5:AK" + std::to_string(total - 2) + ")");
    const int losses = xls.GetMaxRow();
    SetFormula(xls, losses, kBlockValueColumn,
               "=AK" + std::to_string(losses - 2) + "-AK" + std::to_string(losses - 1));
}

void WriteMainMeter(TKalmiraImport& xls, double value) {
    xls.SetActiveSheet(kYearSheet);
    SetNumber(xls, xls.GetMaxRow() - 2, kBlockValueColumn, value);
}

void WriteMeterFile(TKalmiraImport& xls, const std::string& fileName) {
    kalmira::TKmrSafeFileStream out(fileName, kalmira::TKmrSafeFileStream::TReplace::Allow);
    xls.SaveToStream(out);
    out.Commit();
}
