#include "app/Tmeterbook.h"

#include "workbook/storage/Uxlscellrecords.h"
#include "workbook/storage/XlsMessages.h"

#include <charconv>
#include <climits>
#include <cmath>

using kalmira::TVariant;
using kalmira::TVarType;

void TMeterWorkbook::OpenFile(const std::string& fileName) {
    std::unique_ptr<kalmira::TExcelFile> fresh = adapter_->GetWorkbook();
    fresh->Connect();
    fresh->OpenFileAndSearch(fileName);
    const int active = fresh->GetActiveSheet();
    fresh->SelectSheet(active <= fresh->SheetCount() ? active : 1);
    if (file_) {
        file_->CloseFile();
        file_->Disconnect();
    }
    file_ = std::move(fresh);
    fileName_ = fileName;
}

kalmira::TExcelFile& TMeterWorkbook::File() {
    if (!file_) throw std::runtime_error("There is no open file");
    return *file_;
}

int TMeterWorkbook::GetSheetCount() { return File().SheetCount(); }

void TMeterWorkbook::SetActiveSheet(int sheet) {
    File().SetActiveSheet(sheet);
    File().SelectSheet(sheet);
}

int TMeterWorkbook::GetMaxRow() { return File().MaxRow(); }

TVariant TMeterWorkbook::GetCellValue(int row, int col) { return File().GetCellValue(row, col); }

namespace {

constexpr int kFirstMeterRow = 5;
constexpr char kMainMeterCaption[] = "Patní vodoměr :";

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// A whole text as one number: a sign, digits with '.' or ',' as the decimal
// separator, an exponent; blanks around it.
bool TextToNumber(std::string_view text, double& number) {
    std::string plain(Trimmed(text));
    if (!plain.empty() && plain.front() == '+') {
        plain.erase(0, 1);
        if (!plain.empty() && plain.front() == '-') return false;
    }
    for (char& c : plain) {
        if (c == ',') c = '.';
        // from_chars would read these as infinity, NaN or hexadecimal.
        if (c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E' && (c < '0' || c > '9')) return false;
    }
    const char* end = plain.data() + plain.size();
    double read = 0;
    auto [at, error] = std::from_chars(plain.data(), end, read, std::chars_format::general);
    if (error != std::errc() || at != end) return false;
    number = read;
    return true;
}

// A number where there is one, else 0.
double LenientNumber(const TVariant& value) {
    double number = 0;
    if (value.VarType() == TVarType::String) TextToNumber(CellText(value), number);
    else if (value.VarType() != TVarType::Error) number = CellNumber(value, 0, 0);
    return number;
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
            return plat::FloatToStr(CellNumber(value, 0, 0));
    }
}

double CellNumber(const TVariant& value, int row, int col) {
    double number = 0;
    switch (value.VarType()) {
        case TVarType::Empty:
        case TVarType::Null:
            return 0;
        case TVarType::Boolean:
            return value.IntValue() ? 1 : 0;
        case TVarType::String:
            if (!TextToNumber(CellText(value), number)) NotConverted(CellText(value), row, col, "není číslo");
            return number;
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

TMeterRecord ReadMeterRow(TMeterWorkbook& book, int row) {
    auto m = std::make_shared<TStradelCntrs>();
    auto text = [&](int col) { return CellText(book.GetCellValue(row, col)); };
    auto whole = [&](int col) { return CellInt(book.GetCellValue(row, col), row, col); };
    m->flatNumber = text(1);
    m->firstName = text(2);
    m->surname = text(3);
    m->street = text(4);
    m->houseNumber = text(5);
    m->city = text(6);
    m->locationDetail = text(7);
    m->serialNumber = text(9);
    m->rfAddress = text(10);
    m->meterType = text(8);
    m->msgIndex = whole(17);
    m->multiplier = whole(15);
    m->divisor = whole(16);
    m->correction = CellNumber(book.GetCellValue(row, 12), row, 12);
    m->column19Number = whole(19);
    m->column18Number = whole(18);
    m->column20Text = text(20);
    m->column14Text = text(14);
    m->column13Text = text(13);
    m->key = std::string(Trimmed(m->rfAddress)) + "=" + std::to_string(m->msgIndex);
    m->column21Text = text(21);
    m->sheetRow = row;
    // Any text in column 21 hides the meter ("x" too); as a number it is only kept.
    m->column21Number = LenientNumber(book.GetCellValue(row, 21));
    return m;
}

void ReadMeterRows(TMeterWorkbook& book, const std::function<void(TMeterRecord)>& add) {
    for (int row = kFirstMeterRow; row <= book.GetMaxRow(); ++row) add(ReadMeterRow(book, row));
}

double ReadMainMeter(TMeterWorkbook& book) {
    book.SetActiveSheet(2);
    const int last = book.GetMaxRow();
    if (last < 3 || CellText(book.GetCellValue(last - 2, 36)) != kMainMeterCaption) return 0;
    return CellNumber(book.GetCellValue(last - 2, 37), last - 2, 37);
}
