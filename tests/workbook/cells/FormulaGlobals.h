// Workbook globals for formula tests: a string table, named sheets, the
// EXTERNSHEET entries of this workbook (a first sheet of -1 stands for a
// deleted one) and defined names.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "workbook/storage/UKmrMessages.h"
#include "workbook/storage/UXlsGlobalsAccess.h"

struct TFormulaGlobals : kalmira::TSST, kalmira::TGlobalsAccess {
    std::vector<std::u16string> Sheets{u"Sheet1", u"Sheet2", u"Sheet3", u"O'Brien"};
    std::vector<std::pair<int, int>> Extern;
    int SupBooks = 0;
    std::vector<std::u16string> Names;

    kalmira::TSST& SST() override { return *this; }
    int FindSheet(std::u16string_view name) const override {
        for (std::size_t i = 0; i < Sheets.size(); ++i)
            if (kalmira::WideUpperCase98(Sheets[i]) == kalmira::WideUpperCase98(name)) return static_cast<int>(i);
        return -1;
    }
    std::u16string GetSheetName(int externSheet) const override {
        const auto [first, last] = Extern.at(static_cast<std::size_t>(externSheet));
        if (first < 0) return {};
        std::u16string text = Sheets.at(first);
        if (last != first) text += u":" + Sheets.at(last);
        std::u16string quoted = u"'";
        for (char16_t c : text) quoted += c == u'\'' ? u"''" : std::u16string(1, c);
        return quoted + u"'!";
    }
    std::u16string GetName(int, int nameIndex) const override { return Names.at(static_cast<std::size_t>(nameIndex)); }
    int AddExternSheet(int firstSheet, int lastSheet) override {
        if (SupBooks == 0) SupBooks = 1;
        for (std::size_t i = 0; i < Extern.size(); ++i)
            if (Extern[i] == std::pair(firstSheet, lastSheet)) return static_cast<int>(i);
        Extern.emplace_back(firstSheet, lastSheet);
        return static_cast<int>(Extern.size() - 1);
    }
    kalmira::TReferencesMark MarkReferences() const override { return {static_cast<int>(Extern.size()), SupBooks}; }
    void RestoreReferences(const kalmira::TReferencesMark& mark) override {
        Extern.resize(static_cast<std::size_t>(mark.ExternRefs));
        SupBooks = mark.SupBooks;
    }
};
