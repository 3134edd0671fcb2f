// Calls every operation of a TExcelFile, each on a fresh object from the
// caller's factory and with neutral arguments, and names those that do not
// raise "Abstract Error" (failing otherwise still counts as there).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

#include "workbook/api/UExcelAdapter.h"

namespace excelprobe {

using namespace kalmira;

template <class A>
struct Neutral {
    using type = std::remove_cvref_t<A>;
};
template <>
struct Neutral<TKmrStream&> {
    using type = TKmrMemoryStream;
};

template <class C, class R, class... A>
void CallNeutral(C& object, R (C::*op)(A...)) {
    std::tuple<typename Neutral<A>::type...> args{};
    std::apply([&](auto&... a) { (void)(object.*op)(a...); }, args);
}

struct Operation {
    const char* name;
    void (*call)(TExcelFile&);
};

inline const std::vector<Operation>& Operations() {
    static const std::vector<Operation> table = {
#define KMR_EXCEL_OP(theme, result, name, params) \
    {#name, [](TExcelFile& f) { CallNeutral(f, static_cast<result(TExcelFile::*) params>(&TExcelFile::name)); }},
#include "workbook/api/UExcelFileOperations.inc"
    };
    return table;
}

// The names of the operations implemented, in the order of the list.
inline std::vector<std::string> Implemented(const std::function<std::unique_ptr<TExcelFile>()>& factory) {
    std::vector<std::string> names;
    for (const auto& op : Operations()) {
        auto file = factory();
        try {
            op.call(*file);
        } catch (const EAbstractError&) {
            continue;
        } catch (const std::exception&) {
            // failing otherwise still counts as there
        }
        names.push_back(op.name);
    }
    return names;
}

}  // namespace excelprobe
