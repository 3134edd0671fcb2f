#include "workbook/storage/Usheetnamelist.h"

#include <algorithm>
#include <charconv>

#include "workbook/storage/UKmrMessages.h"
#include "workbook/storage/XlsMessages.h"

namespace kalmira {

namespace {

constexpr std::size_t kMaxSheetNameLength = 31;

// Shorter names first, then by the upper-case text, so that names that
// differ only in case stand together; last code unit by code unit.
int CompareNames(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    if (const int c = WideUpperCase98(a).compare(WideUpperCase98(b)); c != 0) return c;
    return a.compare(b);
}

bool SameIgnoringCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && WideUpperCase98(a) == WideUpperCase98(b);
}

struct Replacement {
    char16_t from;
    char16_t to;
};

constexpr Replacement kInvalidChars[] = {{u'/', u'_'}, {u'\\', u'_'}, {u'?', u'_'}, {u'[', u'_'},
                                         {u']', u'_'}, {u'*', u'_'}, {u':', u'.'}};

}  // namespace

std::u16string TSheetNameList::GetFullName(std::u16string_view root, std::int32_t index) {
    std::u16string full(root);
    if (index == 0) return full;
    char buf[16];
    auto r = std::to_chars(buf, buf + sizeof buf, index);
    for (const char* p = buf; p < r.ptr; ++p) full.push_back(static_cast<char16_t>(*p));
    return full;
}

bool TSheetNameList::FindRootString(std::u16string_view name, int& index) const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (SameIgnoringCase(entries_[i].Name, name)) {
            index = static_cast<int>(i);
            return true;
        }
    }
    FindFullString(name, index);
    return false;
}

bool TSheetNameList::FindFullString(std::u16string_view name, int& index) const {
    std::size_t lo = 0, hi = entries_.size();
    while (lo < hi) {
        std::size_t mid = lo + (hi - lo) / 2;
        int c = CompareNames(GetFullName(entries_[mid].Name, entries_[mid].Index), name);
        if (c == 0) {
            index = static_cast<int>(mid);
            return true;
        }
        if (c < 0) lo = mid + 1;
        else hi = mid;
    }
    index = static_cast<int>(lo);
    return false;
}

bool TSheetNameList::FindAnyCase(std::u16string_view name, std::u16string_view except) const {
    int index = 0;
    FindFullString(name, index);
    auto other = [&](int i) {  // 1: another name equal but for case, 0: the name itself, -1: not equal
        const TSheetNameEntry& e = entries_[static_cast<std::size_t>(i)];
        const std::u16string full = GetFullName(e.Name, e.Index);
        return !SameIgnoringCase(full, name) ? -1 : full != except ? 1 : 0;
    };
    // Names equal but for case stand together around the exact place.
    for (int i = index - 1, found = 0; i >= 0 && (found = other(i)) >= 0; --i)
        if (found) return true;
    for (int i = index, found = 0; i < Count() && (found = other(i)) >= 0; ++i)
        if (found) return true;
    return false;
}

void TSheetNameList::Insert(int index, std::u16string_view root, std::int32_t number) {
    entries_.insert(entries_.begin() + index, TSheetNameEntry{std::u16string(root), number});
}

void TSheetNameList::Add(std::u16string_view name) {
    if (FindAnyCase(name, {})) Raise(ErrDuplicatedSheetName, name);
    AddAsRead(name);
}

void TSheetNameList::AddAsRead(std::u16string_view name) {
    int index = 0;
    if (FindFullString(name, index)) Raise(ErrDuplicatedSheetName, name);
    Insert(index, name, 0);
}

std::u16string TSheetNameList::AddUniqueName(std::u16string_view root) {
    int index = 0;
    std::int32_t number = FindRootString(root, index) ? entries_[static_cast<std::size_t>(index)].Index + 1 : 0;
    // A new root can still clash with a name loaded whole ("Sheet1" as root
    // "Sheet1"), so every candidate is looked up.
    std::u16string full = GetFullName(root, number);
    while (FindAnyCase(full, {})) full = GetFullName(root, ++number);
    FindFullString(full, index);
    Insert(index, root, number);
    return full;
}

void TSheetNameList::DeleteSheet(std::u16string_view name) {
    int index = 0;
    if (!FindFullString(name, index)) Raise(ErrInvalidSheet, name);
    entries_.erase(entries_.begin() + index);
}

void TSheetNameList::Rename(std::u16string_view oldName, std::u16string_view newName) {
    if (oldName == newName) return;
    int oldIndex = 0, newIndex = 0;
    if (!FindFullString(oldName, oldIndex)) Raise(ErrInvalidSheet, oldName);
    // The sheet may change the case of its own name.
    if (FindFullString(newName, newIndex) || FindAnyCase(newName, oldName)) Raise(ErrDuplicatedSheetName, newName);
    entries_.erase(entries_.begin() + oldIndex);
    AddAsRead(newName);
}

std::u16string TSheetNameList::MakeValidSheetName(std::u16string_view name) {
    std::size_t length = std::min(name.size(), kMaxSheetNameLength);
    // Never keep the high half of a pair whose low half is cut off.
    if (length < name.size() && length > 0 && name[length - 1] >= 0xD800 && name[length - 1] < 0xDC00) --length;
    std::u16string valid(name.substr(0, length));
    for (char16_t& c : valid)
        for (const Replacement& r : kInvalidChars)
            if (c == r.from) c = r.to;
    return valid;
}

}  // namespace kalmira
