#include "workbook/storage/UKmrVariant.h"

#include "workbook/storage/UKmrMessages.h"

namespace kalmira {

namespace {

constexpr const char* kTypeNames[] = {"Empty", "Null",     "Boolean", "ShortInt", "Byte",     "SmallInt",
                                      "Word",  "Integer",  "LongWord", "Int64",   "Single",   "Double",
                                      "Currency", "Date",  "String",  "Error"};
static_assert(std::size(kTypeNames) == static_cast<std::size_t>(TVarType::Error) + 1);

}  // namespace

const char* VarTypeName(TVarType type) { return kTypeNames[static_cast<std::size_t>(type)]; }

bool TVariant::IsNumeric() const {
    return (type_ >= TVarType::ShortInt && type_ <= TVarType::Currency);
}

double TVariant::AsDouble() const {
    switch (type_) {
        case TVarType::Empty: return 0;
        case TVarType::Boolean: return int_ ? -1.0 : 0.0;
        case TVarType::Single:
        case TVarType::Double:
        case TVarType::Date: return real_;
        case TVarType::Currency: return static_cast<double>(int_) / 10000.0;
        case TVarType::String: {
            double value = 0;
            if (TryStrToFloat(text_, value, ProcessFormatSettings())) return value;
            break;
        }
        default:
            if (IsNumeric()) return static_cast<double>(int_);
            break;
    }
    Raise(ErrVariantConvert, VarTypeName(type_), "Double");
}

}  // namespace kalmira
