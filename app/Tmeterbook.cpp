#include "app/Tmeterbook.h"

#include "app/Tfieldnumber.h"
#include "app/Tformats.h"

#include "workbook/storage/Uxlscellrecords.h"
#include "workbook/storage/XlsMessages.h"

#include <climits>
#include <cmath>
#include <utility>

using kalmira::TVariant;
using kalmira::TVarType;

namespace {

constexpr int kFirstMeterRow = 5;
constexpr char kMainMeterCaption[] = "Patní vodoměr :";

// A number where there is one, else 0.
double LenientNumber(const TVariant& value) {
    if (value.VarType() == TVarType::String) return TryParseFieldNumber(CellText(value)).value_or(0);
    return value.VarType() == TVarType::Error ? 0 : CellNumber(value, 0, 0);
}

[[noreturn]] void NotConverted(const std::string& text, int row, int col, const char* what) {
    throw EMeterCellError("Řádek " + std::to_string(row) + ", sloupec " + std::to_string(col) + ": \"" + text +
                          "\" " + what);
}

}  // namespace

std::string CellText(const TVariant& value) {
    switch (value.VarType()) {
        case TVarType::Empty:
        case TVarType::Null:
            return {};
        case TVarType::String:
            return kalmira::Utf16ToUtf8(value.Text());
        case TVarType::Boolean:
            return value.IntValue() ? "TRUE" : "FALSE";
        case TVarType::Error:
            return kalmira::Utf16ToUtf8(kalmira::ErrorCodeText(static_cast<std::uint8_t>(value.IntValue())));
        default:
            return NumberText(CellNumber(value, 0, 0));
    }
}

double CellNumber(const TVariant& value, int row, int col) {
    switch (value.VarType()) {
        case TVarType::Empty:
        case TVarType::Null:
            return 0;
        case TVarType::Boolean:
            return value.IntValue() ? 1 : 0;
        case TVarType::String:
            if (const std::optional<double> number = TryParseFieldNumber(CellText(value))) return *number;
            NotConverted(CellText(value), row, col, "není číslo");
        case TVarType::Error:
            NotConverted(CellText(value), row, col, "není číslo");
        case TVarType::Date:
            return value.RealValue();
        default:
            return value.AsDouble();
    }
}

int CellInt(const TVariant& value, int row, int col) {
    // nearbyint rounds in the current mode, which is to nearest, ties to even.
    const double number = std::nearbyint(CellNumber(value, row, col));
    if (!(number >= INT_MIN && number <= INT_MAX)) NotConverted(CellText(value), row, col, "není celé číslo v rozsahu");
    return static_cast<int>(number);
}

// The text columns of a record; column 11 is never read.
using TTextField = std::string TStradelCntrs::*;
constexpr std::pair<TTextField, int> kTextColumns[] = {
    {&TStradelCntrs::flatNumber, 1},     {&TStradelCntrs::firstName, 2},      {&TStradelCntrs::surname, 3},
    {&TStradelCntrs::street, 4},         {&TStradelCntrs::houseNumber, 5},    {&TStradelCntrs::city, 6},
    {&TStradelCntrs::locationDetail, 7}, {&TStradelCntrs::serialNumber, 9},   {&TStradelCntrs::rfAddress, 10},
    {&TStradelCntrs::meterType, 8},      {&TStradelCntrs::column20Text, 20},  {&TStradelCntrs::column14Text, 14},
    {&TStradelCntrs::column13Text, 13},  {&TStradelCntrs::column21Text, 21},
};

// The number columns in the record's order, the first that fails is named.
using TIntField = int TStradelCntrs::*;
constexpr std::pair<TIntField, int> kIntColumns[] = {
    {&TStradelCntrs::msgIndex, 17}, {&TStradelCntrs::multiplier, 15}, {&TStradelCntrs::divisor, 16}};
constexpr std::pair<TIntField, int> kKeptColumns[] = {
    {&TStradelCntrs::column19Number, 19}, {&TStradelCntrs::column18Number, 18}};

TMeterRecord ReadMeterRow(kalmira::TKalmiraImport& book, int row) {
    auto m = std::make_shared<TStradelCntrs>();
    for (const auto& [field, col] : kTextColumns) (*m).*field = CellText(book.GetCellValue(row, col));
    for (const auto& [field, col] : kIntColumns) (*m).*field = CellInt(book.GetCellValue(row, col), row, col);
    m->correction = CellNumber(book.GetCellValue(row, 12), row, 12);
    for (const auto& [field, col] : kKeptColumns) (*m).*field = CellInt(book.GetCellValue(row, col), row, col);
    m->key = TrimmedText(m->rfAddress) + "=" + std::to_string(m->msgIndex);
    m->sheetRow = row;
    // Any text in column 21 hides the meter ("x" too); as a number it is only kept.
    m->column21Number = LenientNumber(book.GetCellValue(row, 21));
    return m;
}

void ReadMeterRows(kalmira::TKalmiraImport& book, const std::function<void(TMeterRecord)>& add) {
    for (int row = kFirstMeterRow; row <= book.GetMaxRow(); ++row) add(ReadMeterRow(book, row));
}

double ReadMainMeter(kalmira::TKalmiraImport& book) {
    book.SetActiveSheet(2);
    const int last = book.GetMaxRow();
    if (last < 3 || CellText(book.GetCellValue(last - 2, 36)) != kMainMeterCaption) return 0;
    return CellNumber(book.GetCellValue(last - 2, 37), last - 2, 37);
}
