// The workbook's colour palette: 56 colours as 0x00BBGGRR, which records
// name by index + 8.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "workbook/storage/UXlsBaseRecords.h"
#include "workbook/storage/Uexcelrecords.h"

namespace kalmira {

inline constexpr std::uint16_t xlr_PALETTE = 0x92;
inline constexpr int PaletteColors = 56;

// The default colour of a palette index, 0 to 55; another index: "The
// index "%d" of the property "%s" is not in the range %d-%d".
std::uint32_t StandardPalette(int index);

// PALETTE: 0 colour count, then 4 bytes per colour.
class TPaletteRecord : public TRecordOf<TPaletteRecord> {
public:
    // Shorter than its count says: "Record with ID 0x%x is invalid".
    TPaletteRecord(std::uint16_t id, std::vector<std::uint8_t> data);
    // A new palette of the 56 default colours.
    TPaletteRecord();

    int GetCount() const { return GetWord(Data, 0); }
    std::uint32_t GetColor(int index) const;
    // Outside the palette: "Too many entries for this kind of record (%d
    // out of a maximum of %d)", nothing changed.
    void SetColor(int index, std::uint32_t color);
};

}  // namespace kalmira
