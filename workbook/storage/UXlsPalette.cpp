#include "workbook/storage/UXlsPalette.h"

#include <array>

namespace kalmira {

namespace {

constexpr std::array<std::uint32_t, PaletteColors> Standard = {
    0x000000, 0xFFFFFF, 0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF, 0xFF00FF, 0xFFFF00,  //
    0x000080, 0x008000, 0x800000, 0x008080, 0x800080, 0x808000, 0xC0C0C0, 0x808080,  //
    0xFF9999, 0x663399, 0xCCFFFF, 0xFFFFCC, 0x660066, 0x8080FF, 0xCC6600, 0xFFCCCC,  //
    0x800000, 0xFF00FF, 0x00FFFF, 0xFFFF00, 0x800080, 0x000080, 0x808000, 0xFF0000,  //
    0xFFCC00, 0xFFFFCC, 0xCCFFCC, 0x99FFFF, 0xFFCC99, 0xCC99FF, 0xFF99CC, 0x99CCFF,  //
    0xFF6633, 0xCCCC33, 0x00CC99, 0x00CCFF, 0x0099FF, 0x0066FF, 0x996666, 0x969696,  //
    0x663300, 0x669933, 0x003300, 0x003333, 0x003399, 0x663399, 0x993333, 0x333333,
};

std::vector<std::uint8_t> CheckedPalette(std::vector<std::uint8_t> data) {
    if (data.size() < 2 || data.size() < 2 + 4 * static_cast<std::size_t>(GetWord(data, 0)))
        Raise(ErrWrongExcelRecord, xlr_PALETTE);
    return data;
}

std::vector<std::uint8_t> StandardData() {
    std::vector<std::uint8_t> data(2 + 4 * PaletteColors);
    SetWord(data, 0, PaletteColors);
    for (int i = 0; i < PaletteColors; ++i) SetLongWord(data, 2 + 4 * i, Standard[i]);
    return data;
}

}  // namespace

std::uint32_t StandardPalette(int index) {
    if (index < 0 || index >= PaletteColors) Raise(ErrXlsIndexOutBounds, index, "Palette index", 0, PaletteColors - 1);
    return Standard[static_cast<std::size_t>(index)];
}

TPaletteRecord::TPaletteRecord(std::uint16_t id, std::vector<std::uint8_t> data)
    : TRecordOf(id, CheckedPalette(std::move(data))) {}

TPaletteRecord::TPaletteRecord() : TRecordOf(xlr_PALETTE, StandardData()) {}

std::uint32_t TPaletteRecord::GetColor(int index) const {
    if (index < 0 || index >= GetCount()) Raise(ErrXlsIndexOutBounds, index, "Palette Color Index", 0, GetCount() - 1);
    return GetLongWord(Data, 2 + 4 * static_cast<std::size_t>(index));
}

void TPaletteRecord::SetColor(int index, std::uint32_t color) {
    if (index < 0 || index >= GetCount()) Raise(ErrTooManyEntries, index, GetCount() - 1);
    SetLongWord(Data, 2 + 4 * static_cast<std::size_t>(index), color);
}

}  // namespace kalmira
