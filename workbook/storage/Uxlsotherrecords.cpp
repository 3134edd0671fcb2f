#include "workbook/storage/Uxlsotherrecords.h"

#include <algorithm>

#include "workbook/storage/Uxlsstrings.h"

namespace kalmira {

namespace {

constexpr TRecordClass Classes[] = {
    {xlr_BOF, MakeRecord<TBOFRecord>},
    {xlr_EOF, MakeRecord<TEOFRecord>},
    {xlr_TEMPLATE, MakeRecord<TTemplateRecord>},
    {xlr_OBPROJ, MakeRecord<TObProjRecord>},
    {xlr_CODENAME, MakeRecord<TCodeNameRecord>},
    {xlr_PANE, MakeRecord<TPaneRecord>},
    {xlr_GUTS, MakeRecord<TGutsRecord>},
};

std::vector<std::uint8_t> CheckedBOF(std::uint16_t id, std::vector<std::uint8_t> data) {
    if (data.size() < 4) Raise(ErrWrongExcelRecord, id);
    if (GetWord(data, 0) != 0x600) Raise(ErrInvalidVersion);
    return data;
}

std::vector<std::uint8_t> CheckedGuts(std::uint16_t id, std::vector<std::uint8_t> data) {
    if (data.size() < TGutsRecord::Size) Raise(ErrWrongExcelRecord, id);
    return data;
}

std::vector<std::uint8_t> CodeNameData(std::u16string_view name) {
    std::vector<std::uint8_t> data;
    TExcelString(2, false, name).AppendTo(data, true);
    return data;
}

}  // namespace

std::span<const TRecordClass> OtherRecordClasses() { return Classes; }

TBOFRecord::TBOFRecord(std::uint16_t id, std::vector<std::uint8_t> data) : TRecordOf(id, CheckedBOF(id, std::move(data))) {}

TCodeNameRecord::TCodeNameRecord(std::u16string_view name) : TRecordOf(xlr_CODENAME, CodeNameData(name)) {}

std::u16string TCodeNameRecord::GetSheetName() const {
    std::u16string text;
    std::int64_t size = 0;
    GetSimpleString(true, Data, 0, false, 0, text, size);
    return text;
}

void TCodeNameRecord::SetSheetName(std::u16string_view name) { Data = CodeNameData(name); }

void TPaneRecord::EnsureSelectedVisible() {
    const int colSplit = Get_ColSplit(), rowSplit = Get_RowSplit();
    switch (Get_ActivePane()) {
        case 0:
            if (colSplit > 0 && rowSplit <= 0) Set_ActivePane(1);
            else if (colSplit <= 0) Set_ActivePane(rowSplit > 0 ? 2 : 3);
            break;
        case 1:
            if (colSplit <= 0) Set_ActivePane(3);
            break;
        case 2:
            if (rowSplit <= 0) Set_ActivePane(3);
            break;
        default: break;
    }
}

TGutsRecord::TGutsRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, CheckedGuts(id, std::move(data))) {}

TGutsRecord::TGutsRecord() : TRecordOf(xlr_GUTS, std::vector<std::uint8_t>(Size)) {}

std::unique_ptr<TBaseRecord> TGutsRecord::DoCopyTo() const {
    auto copy = TBaseRecord::DoCopyTo();
    static_cast<TGutsRecord&>(*copy).RecalcNeeded = RecalcNeeded;
    return copy;
}

// Levels count from 1 in the record (0 without outlines), up to 8; the
// gutter is 12 units a level and 17 for the buttons.
void TGutsRecord::SetLevel(std::size_t gutterAt, int level) {
    const int stored = level < 1 ? 0 : std::min(level + 1, 8);
    SetWord(Data, gutterAt, static_cast<std::uint16_t>(stored == 0 ? 0 : stored == 8 ? 113 : stored * 12 + 17));
    SetWord(Data, gutterAt + 4, static_cast<std::uint16_t>(stored));
}

}  // namespace kalmira
