// The system clipboard as the workbook engine sees it. The engine has no
// window system of its own: the program implements this and hands it to the
// workbook objects that copy and paste.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kalmira {

// The registered name under which a copied range travels as a BIFF8 workbook.
inline constexpr const char* Biff8ClipboardFormat = "Biff8";

class IKmrClipboard {
public:
    virtual ~IKmrClipboard() = default;

    // Empties the clipboard, then puts the block under its format name and
    // the same cells as plain text, together. Raises when the clipboard
    // cannot be had; the clipboard then holds nothing of this copy.
    virtual void PutBlock(const std::string& format, std::span<const std::uint8_t> block,
                          const std::u16string& text) = 0;
    virtual bool HasBlock(const std::string& format) const = 0;
    // The block put under that name, empty when there is none.
    virtual std::vector<std::uint8_t> GetBlock(const std::string& format) const = 0;
    virtual bool HasText() const = 0;
    virtual std::u16string GetText() const = 0;
};

}  // namespace kalmira
