// The built-in function table. Indexes the list below leaves out hold
// "NotAFunction" and their index, no arguments and an empty class text.
#include "workbook/cells/Xlsformulamessages.h"

#include <algorithm>
#include <string>

namespace kalmira {

std::u16string_view FmErrorText(std::uint8_t code) {
    for (const auto& error : FmErrorCodes)
        if (error.Code == code) return error.Text;
    return fmErrUnknown;
}

namespace {

struct TFunctionRow {
    int Index;
    const char16_t* Name;
    int Min, Max;
    const char16_t* Params;
};

// Index, name, argument counts and parameter classes.
constexpr TFunctionRow FunctionRows[] = {
    {0, u"COUNT", 0, 30, u"R"},
    {1, u"IF", 2, 3, u"VRR"},
    {2, u"ISNA", 1, 1, u"V"},
    {3, u"ISERROR", 1, 1, u"V"},
    {4, u"SUM", 0, 30, u"R"},
    {5, u"AVERAGE", 1, 30, u"R"},
    {6, u"MIN", 1, 30, u"R"},
    {7, u"MAX", 1, 30, u"R"},
    {8, u"ROW", 0, 1, u"R"},
    {9, u"COLUMN", 0, 1, u"R"},
    {10, u"NA", 0, 0, u"-"},
    {11, u"NPV", 2, 30, u"VR"},
    {12, u"STDEV", 1, 30, u"R"},
    {13, u"DOLLAR", 1, 2, u"VV"},
    {14, u"FIXED", 1, 3, u"VVV"},
    {15, u"SIN", 1, 1, u"V"},
    {16, u"COS", 1, 1, u"V"},
    {17, u"TAN", 1, 1, u"V"},
    {18, u"ATAN", 1, 1, u"V"},
    {19, u"PI", 0, 0, u"-"},
    {20, u"SQRT", 1, 1, u"V"},
    {21, u"EXP", 1, 1, u"V"},
    {22, u"LN", 1, 1, u"V"},
    {23, u"LOG10", 1, 1, u"V"},
    {24, u"ABS", 1, 1, u"V"},
    {25, u"INT", 1, 1, u"V"},
    {26, u"SIGN", 1, 1, u"V"},
    {27, u"ROUND", 2, 2, u"VV"},
    {28, u"LOOKUP", 2, 3, u"VRR"},
    {29, u"INDEX", 2, 4, u"RVVV"},
    {30, u"REPT", 2, 2, u"VV"},
    {31, u"MID", 3, 3, u"VVV"},
    {32, u"LEN", 1, 1, u"V"},
    {33, u"VALUE", 1, 1, u"V"},
    {34, u"TRUE", 0, 0, u"-"},
    {35, u"FALSE", 0, 0, u"-"},
    {36, u"AND", 1, 30, u"R"},
    {37, u"OR", 1, 30, u"R"},
    {38, u"NOT", 1, 1, u"V"},
    {39, u"MOD", 2, 2, u"VV"},
    {40, u"DCOUNT", 3, 3, u"RRR"},
    {41, u"DSUM", 3, 3, u"RRR"},
    {42, u"DAVERAGE", 3, 3, u"RRR"},
    {43, u"DMIN", 3, 3, u"RRR"},
    {44, u"DMAX", 3, 3, u"RRR"},
    {45, u"DSTDEV", 3, 3, u"RRR"},
    {46, u"VAR", 1, 30, u"R"},
    {47, u"DVAR", 3, 3, u"RRR"},
    {48, u"TEXT", 2, 2, u"VV"},
    {49, u"LINEST", 1, 4, u"RRVV"},
    {50, u"TREND", 1, 4, u"RRRV"},
    {51, u"LOGEST", 1, 4, u"RRVV"},
    {52, u"GROWTH", 1, 4, u"RRRV"},
    {56, u"PV", 3, 5, u"VVVVV"},
    {57, u"FV", 3, 5, u"VVVVV"},
    {58, u"NPER", 3, 5, u"VVVVV"},
    {59, u"PMT", 3, 5, u"VVVVV"},
    {60, u"RATE", 3, 6, u"VVVVVV"},
    {61, u"MIRR", 3, 3, u"RVV"},
    {62, u"IRR", 1, 2, u"RV"},
    {63, u"RAND", 0, 0, u"-"},
    {64, u"MATCH", 2, 3, u"VRR"},
    {65, u"DATE", 3, 3, u"VVV"},
    {66, u"TIME", 3, 3, u"VVV"},
    {67, u"DAY", 1, 1, u"V"},
    {68, u"MONTH", 1, 1, u"V"},
    {69, u"YEAR", 1, 1, u"V"},
    {70, u"WEEKDAY", 1, 2, u"VV"},
    {71, u"HOUR", 1, 1, u"V"},
    {72, u"MINUTE", 1, 1, u"V"},
    {73, u"SECOND", 1, 1, u"V"},
    {74, u"NOW", 0, 0, u"-"},
    {75, u"AREAS", 1, 1, u"R"},
    {76, u"ROWS", 1, 1, u"R"},
    {77, u"COLUMNS", 1, 1, u"R"},
    {78, u"OFFSET", 3, 5, u"RVVVV"},
    {82, u"SEARCH", 2, 3, u"VVV"},
    {83, u"TRANSPOSE", 1, 1, u"A"},
    {86, u"TYPE", 1, 1, u"V"},
    {97, u"ATAN2", 2, 2, u"VV"},
    {98, u"ASIN", 1, 1, u"V"},
    {99, u"ACOS", 1, 1, u"V"},
    {100, u"CHOOSE", 2, 30, u"VR"},
    {101, u"HLOOKUP", 3, 4, u"VRRV"},
    {102, u"VLOOKUP", 3, 4, u"VRRV"},
    {105, u"ISREF", 1, 1, u"R"},
    {109, u"LOG", 1, 2, u"VV"},
    {111, u"CHAR", 1, 1, u"V"},
    {112, u"LOWER", 1, 1, u"V"},
    {113, u"UPPER", 1, 1, u"V"},
    {114, u"PROPER", 1, 1, u"V"},
    {115, u"LEFT", 1, 2, u"VV"},
    {116, u"RIGHT", 1, 2, u"VV"},
    {117, u"EXACT", 2, 2, u"VV"},
    {118, u"TRIM", 1, 1, u"V"},
    {119, u"REPLACE", 4, 4, u"VVVV"},
    {120, u"SUBSTITUTE", 3, 4, u"VVVV"},
    {121, u"CODE", 1, 1, u"V"},
    {124, u"FIND", 2, 3, u"VVV"},
    {125, u"CELL", 1, 2, u"VR"},
    {126, u"ISERR", 1, 1, u"V"},
    {127, u"ISTEXT", 1, 1, u"V"},
    {128, u"ISNUMBER", 1, 1, u"V"},
    {129, u"ISBLANK", 1, 1, u"V"},
    {130, u"T", 1, 1, u"R"},
    {131, u"N", 1, 1, u"R"},
    {140, u"DATEVALUE", 1, 1, u"V"},
    {141, u"TIMEVALUE", 1, 1, u"V"},
    {142, u"SLN", 3, 3, u"VVV"},
    {143, u"SYD", 4, 4, u"VVVV"},
    {144, u"DDB", 4, 5, u"VVVVV"},
    {148, u"INDIRECT", 1, 2, u"VV"},
    {162, u"CLEAN", 1, 1, u"V"},
    {163, u"MDETERM", 1, 1, u"A"},
    {164, u"MINVERSE", 1, 1, u"A"},
    {165, u"MMULT", 2, 2, u"AA"},
    {167, u"IPMT", 4, 6, u"VVVVVV"},
    {168, u"PPMT", 4, 6, u"VVVVVV"},
    {169, u"COUNTA", 0, 30, u"R"},
    {183, u"PRODUCT", 0, 30, u"R"},
    {184, u"FACT", 1, 1, u"V"},
    {189, u"DPRODUCT", 3, 3, u"RRR"},
    {190, u"ISNONTEXT", 1, 1, u"V"},
    {193, u"STDEVP", 1, 30, u"R"},
    {194, u"VARP", 1, 30, u"R"},
    {195, u"DSTDEVP", 3, 3, u"RRR"},
    {196, u"DVARP", 3, 3, u"RRR"},
    {197, u"TRUNC", 1, 2, u"VV"},
    {198, u"ISLOGICAL", 1, 1, u"V"},
    {199, u"DCOUNTA", 3, 3, u"RRR"},
    {204, u"USDOLLAR", 1, 2, u"VV"},
    {205, u"FINDB", 2, 3, u"VVV"},
    {206, u"SEARCHB", 2, 3, u"VVV"},
    {207, u"REPLACEB", 4, 4, u"VVVV"},
    {208, u"LEFTB", 1, 2, u"VV"},
    {209, u"RIGHTB", 1, 2, u"VV"},
    {210, u"MIDB", 3, 3, u"VVV"},
    {211, u"LENB", 1, 1, u"V"},
    {212, u"ROUNDUP", 2, 2, u"VV"},
    {213, u"ROUNDDOWN", 2, 2, u"VV"},
    {214, u"ASC", 1, 1, u"V"},
    {215, u"DBSC", 1, 1, u"V"},
    {216, u"RANK", 2, 3, u"VRV"},
    {219, u"ADDRESS", 2, 5, u"VVVVV"},
    {220, u"DAYS360", 2, 3, u"VVV"},
    {221, u"TODAY", 0, 0, u"-"},
    {222, u"VDB", 5, 7, u"VVVVVVV"},
    {227, u"MEDIAN", 1, 30, u"R"},
    {228, u"SUMPRODUCT", 1, 30, u"A"},
    {229, u"SINH", 1, 1, u"V"},
    {230, u"COSH", 1, 1, u"V"},
    {231, u"TANH", 1, 1, u"V"},
    {232, u"ASINH", 1, 1, u"V"},
    {233, u"ACOSH", 1, 1, u"V"},
    {234, u"ATANH", 1, 1, u"V"},
    {235, u"DGET", 3, 3, u"RRR"},
    {244, u"INFO", 1, 1, u"V"},
    {247, u"DB", 4, 5, u"VVVVV"},
    {252, u"FREQUENCY", 2, 2, u"RR"},
    {261, u"ERROR.TYPE", 1, 1, u"V"},
    {269, u"AVEDEV", 1, 30, u"R"},
    {270, u"BETADIST", 3, 5, u"VVVVV"},
    {271, u"GAMMALN", 1, 1, u"V"},
    {272, u"BETAINV", 3, 5, u"VVVVV"},
    {273, u"BINOMDIST", 4, 4, u"VVVV"},
    {274, u"CHIDIST", 2, 2, u"VV"},
    {275, u"CHIINV", 2, 2, u"VV"},
    {276, u"COMBIN", 2, 2, u"VV"},
    {277, u"CONFIDENCE", 3, 3, u"VVV"},
    {278, u"CRITBINOM", 3, 3, u"VVV"},
    {279, u"EVEN", 1, 1, u"V"},
    {280, u"EXPONDIST", 3, 3, u"VVV"},
    {281, u"FDIST", 3, 3, u"VVV"},
    {282, u"FINV", 3, 3, u"VVV"},
    {283, u"FISHER", 1, 1, u"V"},
    {284, u"FISHERINV", 1, 1, u"V"},
    {285, u"FLOOR", 2, 2, u"VV"},
    {286, u"GAMMADIST", 4, 4, u"VVVV"},
    {287, u"GAMMAINV", 3, 3, u"VVV"},
    {288, u"CEILING", 2, 2, u"VV"},
    {289, u"HYPGEOMDIST", 4, 4, u"VVVV"},
    {290, u"LOGNORMDIST", 3, 3, u"VVV"},
    {291, u"LOGINV", 3, 3, u"VVV"},
    {292, u"NEGBINOMDIST", 3, 3, u"VVV"},
    {293, u"NORMDIST", 4, 4, u"VVVV"},
    {294, u"NORMSDIST", 1, 1, u"V"},
    {295, u"NORMINV", 3, 3, u"VVV"},
    {296, u"NORMSINV", 1, 1, u"V"},
    {297, u"STANDARDIZE", 3, 3, u"VVV"},
    {298, u"ODD", 1, 1, u"V"},
    {299, u"PERMUT", 2, 2, u"VV"},
    {300, u"POISSON", 3, 3, u"VVV"},
    {301, u"TDIST", 3, 3, u"VVV"},
    {302, u"WEIBULL", 4, 4, u"VVVV"},
    {303, u"SUMXMY2", 2, 2, u"AA"},
    {304, u"SUMX2MY2", 2, 2, u"AA"},
    {305, u"SUMX2PY2", 2, 2, u"AA"},
    {306, u"CHITEST", 2, 2, u"AA"},
    {307, u"CORREL", 2, 2, u"AA"},
    {308, u"COVAR", 2, 2, u"AA"},
    {309, u"FORECAST", 3, 3, u"VAA"},
    {310, u"FTEST", 2, 2, u"AA"},
    {311, u"INTERCEPT", 2, 2, u"AA"},
    {312, u"PEARSON", 2, 2, u"AA"},
    {313, u"RSQ", 2, 2, u"AA"},
    {314, u"STEYX", 2, 2, u"AA"},
    {315, u"SLOPE", 2, 2, u"AA"},
    {316, u"TTEST", 4, 4, u"AAVV"},
    {317, u"PROB", 3, 4, u"AAVV"},
    {318, u"DEVSQ", 1, 30, u"R"},
    {319, u"GEOMEAN", 1, 30, u"R"},
    {320, u"HARMEAN", 1, 30, u"R"},
    {321, u"SUMSQ", 0, 30, u"R"},
    {322, u"KURT", 1, 30, u"R"},
    {323, u"SKEW", 1, 30, u"R"},
    {324, u"ZTEST", 2, 3, u"RVV"},
    {325, u"LARGE", 2, 2, u"RV"},
    {326, u"SMALL", 2, 2, u"RV"},
    {327, u"QUARTILE", 2, 2, u"RV"},
    {328, u"PERCENTILE", 2, 2, u"RV"},
    {329, u"PERCENTRANK", 2, 3, u"RVV"},
    {330, u"MODE", 1, 30, u"A"},
    {331, u"TRIMMEAN", 2, 2, u"RV"},
    {332, u"TINV", 2, 2, u"VV"},
    {336, u"CONCATENATE", 0, 30, u"V"},
    {337, u"POWER", 2, 2, u"VV"},
    {342, u"RADIANS", 1, 1, u"V"},
    {343, u"DEGREES", 1, 1, u"V"},
    {344, u"SUBTOTAL", 2, 30, u"VR"},
    {345, u"SUMIF", 2, 3, u"RVR"},
    {346, u"COUNTIF", 2, 2, u"RV"},
    {347, u"COUNTBLANK", 1, 1, u"R"},
    {350, u"ISPMT", 4, 4, u"VVVV"},
    {351, u"DATEDIF", 3, 3, u"VVV"},
    {352, u"DATESTRING", 1, 1, u"V"},
    {353, u"NUMBERSTRING", 2, 2, u"VV"},
    {354, u"ROMAN", 1, 2, u"VV"},
    {358, u"GETPIVOTDATA", 2, 30, u"V"},
    {359, u"HYPERLINK", 1, 2, u"VV"},
    {360, u"PHONETIC", 1, 1, u"R"},
    {361, u"AVERAGEA", 1, 30, u"R"},
    {362, u"MAXA", 1, 30, u"R"},
    {363, u"MINA", 1, 30, u"R"},
    {364, u"STDEVPA", 1, 30, u"R"},
    {365, u"VARPA", 1, 30, u"R"},
    {366, u"STDEVA", 1, 30, u"R"},
    {367, u"VARA", 1, 30, u"R"},
};

constexpr std::u16string_view VolatileFunctions[] = {u"RAND", u"NOW", u"OFFSET", u"CELL", u"INDIRECT", u"TODAY"};
constexpr std::u16string_view ReferenceFunctions[] = {u"IF", u"INDEX", u"OFFSET", u"CHOOSE", u"INDIRECT"};
constexpr std::u16string_view ArrayFunctions[] = {u"LINEST", u"TREND",     u"LOGEST", u"GROWTH",
                                                  u"TRANSPOSE", u"MINVERSE", u"MMULT",  u"FREQUENCY"};

template <std::size_t N>
bool Listed(const std::u16string_view (&list)[N], std::u16string_view name) {
    return std::find(std::begin(list), std::end(list), name) != std::end(list);
}

TFuncNameArray MakeTable() {
    TFuncNameArray table;
    for (int i = 0; i < FuncNameCount; ++i) {
        const std::string number = std::to_string(i);
        table[i].Index = i;
        table[i].Name = u"NotAFunction" + std::u16string(number.begin(), number.end());
    }
    for (const auto& row : FunctionRows) {
        TCellFunctionData& f = table[row.Index];
        f.Name = row.Name;
        f.MinArgCount = row.Min;
        f.MaxArgCount = row.Max;
        f.Params = row.Params;
        f.Volatile = Listed(VolatileFunctions, f.Name);
        if (Listed(ReferenceFunctions, f.Name)) f.ReturnClass = TFmReturnType::fmRef;
        if (Listed(ArrayFunctions, f.Name)) f.ReturnClass = TFmReturnType::fmArray;
    }
    return table;
}

}  // namespace

const TFuncNameArray& FuncNameArray() {
    static const TFuncNameArray table = MakeTable();
    return table;
}

// Names are compared upper-cased. The placeholders ("NotAFunction53",
// the only entries without a class text) are no functions: text never
// calls them.
std::optional<int> FindFunction(std::u16string_view upperName) {
    const auto& table = FuncNameArray();
    for (int i = 0; i < FuncNameCount; ++i) {
        if (table[i].Params.empty()) continue;
        const std::u16string& name = table[i].Name;
        if (name.size() == upperName.size() &&
            std::equal(name.begin(), name.end(), upperName.begin(),
                       [](char16_t a, char16_t b) { return (a >= u'a' && a <= u'z' ? a - 32 : a) == b; }))
            return i;
    }
    return std::nullopt;
}

}  // namespace kalmira
