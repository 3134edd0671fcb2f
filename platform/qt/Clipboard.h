// The desktop clipboard as the workbook engine asks for it: a copied range
// goes as a named block (the "Biff8" workbook) and as plain text together.
#pragma once

#include "workbook/api/UKmrClipboard.h"

namespace plat {

// Uses the application's clipboard; made after the application object.
class TQtClipboard : public kalmira::IKmrClipboard {
public:
    void PutBlock(const std::string& format, std::span<const std::uint8_t> block,
                  const std::u16string& text) override;
    bool HasBlock(const std::string& format) const override;
    std::vector<std::uint8_t> GetBlock(const std::string& format) const override;
    bool HasText() const override;
    std::u16string GetText() const override;
};

}  // namespace plat
