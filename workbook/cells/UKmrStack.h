// The stacks of the formula parser and text writer: texts (with the spaces
// waiting for the next token) and whitespace records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "workbook/cells/Xlsformulamessages.h"
#include "workbook/storage/XlsMessages.h"

namespace kalmira {

template <class T, const char* EmptyMessage>
class TKmrStack {
public:
    void Push(T item) {
        // Room grows ten entries at a time.
        if (FItems.size() == FItems.capacity()) FItems.reserve(FItems.capacity() + 10);
        FItems.push_back(std::move(item));
    }
    T Pop() {
        T item = Peek();
        FItems.pop_back();
        return item;
    }
    const T& Peek() const {
        if (FItems.empty()) Raise(EmptyMessage);
        return FItems.back();
    }
    std::size_t Count() const { return FItems.size(); }
    bool AtLeast(std::size_t n) const { return FItems.size() >= n; }

private:
    std::vector<T> FItems;
};

using TStringStack = TKmrStack<std::u16string, ErrStringStackEmpty>;

// A text stack that also keeps the spaces stored before the next token,
// before an opening and before a closing parenthesis; a push uses them up.
class TFormulaStack : public TStringStack {
public:
    std::u16string FmSpaces, FmPreSpaces, FmPostSpaces;
    void Push(std::u16string text) {
        TStringStack::Push(std::move(text));
        FmSpaces.clear();
        FmPreSpaces.clear();
        FmPostSpaces.clear();
    }
};

// Spaces typed before a token: count 0..255, kind 0 (before an operand or
// operator), 2 (before "(") or 4 (before ")").
struct TWhiteSpace {
    std::uint8_t Count = 0;
    std::uint8_t Kind = 0;
};

using TWhiteSpaceStack = TKmrStack<TWhiteSpace, ErrWhiteSpaceStackEmpty>;

}  // namespace kalmira
