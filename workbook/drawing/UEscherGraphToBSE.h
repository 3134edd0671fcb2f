// Images to stored blips: the BSE record (with its blip) that the BLIP
// store keeps for an image, and the stored bytes of a blip read back.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "workbook/drawing/UEscherOtherRecords.h"
#include "workbook/storage/UKmrFormats.h"

namespace kalmira {

// A new BSE record holding the image (metafiles deflated), in no store
// yet: the caller looks for an equal entry and adds the reference. A whole
// .bmp file loses its 14-byte file header first: the store keeps the DIB.
std::unique_ptr<TEscherBSERecord> ConvertGraphicToBSE(std::span<const std::uint8_t> image, TXlsImgTypes type,
                                                      TEscherDwgGroupCache* group, TEscherDwgCache* dwg);

// The stored bytes of a BSE's picture in the form the picture routines
// take (metafile header and data; the image file; "BM" and 12 zero bytes
// before a DIB) and its type from the blip record.
std::vector<std::uint8_t> GetBlipStoredBytes(const TEscherBSERecord& bse, TXlsImgTypes& type);

}  // namespace kalmira
