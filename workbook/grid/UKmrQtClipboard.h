// The engine's clipboard over the system clipboard: a block travels under
// the MIME type "application/x-kmr-" and its lower-case format name ("Biff8"
// as application/x-kmr-biff8), its text as UTF-8 text/plain beside it.
#pragma once

#include "workbook/api/UKmrClipboard.h"

namespace kalmira {

class TKmrQtClipboard : public IKmrClipboard {
public:
    void PutBlock(const std::string& format, std::span<const std::uint8_t> block, const std::u16string& text) override;
    bool HasBlock(const std::string& format) const override;
    std::vector<std::uint8_t> GetBlock(const std::string& format) const override;
    bool HasText() const override;
    std::u16string GetText() const override;

    static std::string MimeType(const std::string& format);
};

}  // namespace kalmira
