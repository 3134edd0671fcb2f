// The engine's value type: what a cell, a formula result or a facade call
// hands around. Dates are a kind of their own so that a 1904 workbook can
// move them (and only them) by 1462 days.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kalmira {

inline constexpr const char* ErrVariantConvert = "Could not convert variant of type (%s) into type (%s)";

enum class TVarType : std::uint8_t {
    Empty,
    Null,
    Boolean,
    ShortInt,
    Byte,
    SmallInt,
    Word,
    Integer,
    LongWord,
    Int64,
    Single,
    Double,
    Currency,  // a 64-bit count of 1/10000
    Date,      // days since 30 December 1899, the time of day as the fraction
    String,
    Error,     // a BIFF error code (0x07 #DIV/0! ...)
};

const char* VarTypeName(TVarType type);

class TVariant {
public:
    TVariant() = default;
    TVariant(bool value) : type_(TVarType::Boolean), int_(value ? 1 : 0) {}
    TVariant(std::int32_t value) : type_(TVarType::Integer), int_(value) {}
    TVariant(std::int64_t value) : type_(TVarType::Int64), int_(value) {}
    TVariant(double value) : type_(TVarType::Double), real_(value) {}
    TVariant(std::u16string value) : type_(TVarType::String), text_(std::move(value)) {}
    TVariant(const char16_t* value) : TVariant(std::u16string(value)) {}

    static TVariant Null() { return Make(TVarType::Null, 0, 0); }
    static TVariant FromShortInt(std::int8_t v) { return Make(TVarType::ShortInt, v, 0); }
    static TVariant FromByte(std::uint8_t v) { return Make(TVarType::Byte, v, 0); }
    static TVariant FromSmallInt(std::int16_t v) { return Make(TVarType::SmallInt, v, 0); }
    static TVariant FromWord(std::uint16_t v) { return Make(TVarType::Word, v, 0); }
    static TVariant FromLongWord(std::uint32_t v) { return Make(TVarType::LongWord, v, 0); }
    static TVariant FromSingle(float v) { return Make(TVarType::Single, 0, v); }
    static TVariant FromCurrency(std::int64_t tenThousandths) { return Make(TVarType::Currency, tenThousandths, 0); }
    static TVariant FromDate(double dateTime) { return Make(TVarType::Date, 0, dateTime); }
    static TVariant FromError(std::int32_t code) { return Make(TVarType::Error, code, 0); }

    TVarType VarType() const { return type_; }
    bool IsEmpty() const { return type_ == TVarType::Empty; }
    bool IsNull() const { return type_ == TVarType::Null; }
    // The integer kinds, the floating kinds and currency (not dates).
    bool IsNumeric() const;

    // Raw payloads; each answers for its own kinds only.
    std::int64_t IntValue() const { return int_; }        // integers, booleans, currency, errors
    double RealValue() const { return real_; }            // single, double, date
    const std::u16string& Text() const { return text_; }  // strings

    // Numbers, dates and booleans (true is -1); a string is read as a number
    // in the process-wide format settings. Anything else raises.
    double AsDouble() const;

    friend bool operator==(const TVariant&, const TVariant&) = default;

private:
    static TVariant Make(TVarType type, std::int64_t i, double r) {
        TVariant v;
        v.type_ = type;
        v.int_ = i;
        v.real_ = r;
        return v;
    }

    TVarType type_ = TVarType::Empty;
    std::int64_t int_ = 0;
    double real_ = 0;
    std::u16string text_;
};

}  // namespace kalmira
