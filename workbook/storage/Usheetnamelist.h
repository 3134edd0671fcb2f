// The names of a workbook's sheets, kept unique and sorted, so that a new or
// copied sheet can get a free name ("Sheet" plus the next free number).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kalmira {

struct TSheetNameEntry {
    std::u16string Name;     // the root
    std::int32_t Index = 0;  // 0: no number
};

// Entries are ordered by full name: shorter first, then by the upper-case
// text (no locale), then by UTF-16 code, so "Z" comes before "AA" and names
// that differ only in case stand together. Two names are the same sheet
// name when they differ only in case: new names are refused then, while a
// file read with such names keeps them.
class TSheetNameList {
public:
    virtual ~TSheetNameList() = default;

    // The first entry in list order whose root is name in any case;
    // otherwise false and the position where name would be inserted as a
    // full name.
    virtual bool FindRootString(std::u16string_view name, int& index) const;
    // Binary search over the full names: the entry, or the insertion position.
    virtual bool FindFullString(std::u16string_view name, int& index) const;

    static std::u16string GetFullName(std::u16string_view root, std::int32_t index);

    // Adds a name as its own root; a name present in any case raises
    // ErrDuplicatedSheetName.
    void Add(std::u16string_view name);
    // The same for a name read from a file: only the very same name is
    // refused, one that differs in case is kept beside it.
    void AddAsRead(std::u16string_view name);
    // Adds root plus the first free number after the root's entry (none when
    // the root is new and free), free in any case, and returns the full name.
    std::u16string AddUniqueName(std::u16string_view root);
    // A name that is not present raises ErrInvalidSheet.
    void DeleteSheet(std::u16string_view name);
    // Nothing when the names are equal; otherwise old must be present
    // (ErrInvalidSheet) and new must not, in any case, but as old itself
    // (ErrDuplicatedSheetName).
    void Rename(std::u16string_view oldName, std::u16string_view newName);

    // At most 31 characters (never half a surrogate pair); "/", "\", "?",
    // "[", "]" and "*" become "_", ":" becomes "."; everything else is kept.
    static std::u16string MakeValidSheetName(std::u16string_view name);

    int Count() const { return static_cast<int>(entries_.size()); }
    const TSheetNameEntry& operator[](int i) const { return entries_.at(static_cast<std::size_t>(i)); }
    void Clear() { entries_.clear(); }

private:
    // Whether a name other than except equals name but for case.
    bool FindAnyCase(std::u16string_view name, std::u16string_view except) const;
    void Insert(int index, std::u16string_view root, std::int32_t number);

    std::vector<TSheetNameEntry> entries_;
};

}  // namespace kalmira
