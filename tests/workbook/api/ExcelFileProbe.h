// Calls every operation of a TExcelFile, each on a fresh object from the
// caller's factory and with neutral arguments, and counts those that do not
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

template <class R, class... A>
void CallNeutral(TExcelFile& file, R (TExcelFile::*op)(A...)) {
    std::tuple<typename Neutral<A>::type...> args{};
    std::apply([&](auto&... a) { (void)(file.*op)(a...); }, args);
}

struct Operation {
    TExcelFileTheme theme;
    const char* name;
    void (*call)(TExcelFile&);
};

inline const std::vector<Operation>& Operations() {
    static const std::vector<Operation> table = {
#define KMR_EXCEL_OP(theme, result, name, params)                                                          \
    {TExcelFileTheme::theme, #name,                                                                         \
     [](TExcelFile& f) { CallNeutral(f, static_cast<result(TExcelFile::*) params>(&TExcelFile::name)); }},
#include "workbook/api/UExcelFileOperations.inc"
    };
    return table;
}

struct ThemeCount {
    std::string caption;
    int implemented = 0;
    int total = 0;
};

struct ProbeResult {
    std::vector<ThemeCount> themes;  // in TExcelFileTheme order
    std::vector<std::string> implementedNames;
    int implemented = 0;
    int total = 0;

    std::string Report() const {
        std::string text;
        for (const auto& t : themes)
            text += t.caption + ": " + std::to_string(t.implemented) + " of " + std::to_string(t.total) + "\n";
        return text + "implemented " + std::to_string(implemented) + " of " + std::to_string(total) + "\n";
    }
};

inline ProbeResult Probe(const std::function<std::unique_ptr<TExcelFile>()>& factory) {
    ProbeResult result;
#define KMR_EXCEL_THEME(theme, caption, count) result.themes.push_back({caption});
#include "workbook/api/UExcelFileOperations.inc"
    for (const auto& op : Operations()) {
        auto file = factory();
        bool there = true;
        try {
            op.call(*file);
        } catch (const EAbstractError&) {
            there = false;
        } catch (const std::exception&) {
            // failing otherwise still counts as there
        }
        auto& theme = result.themes.at(static_cast<std::size_t>(op.theme));
        ++theme.total;
        ++result.total;
        if (there) {
            ++theme.implemented;
            ++result.implemented;
            result.implementedNames.push_back(op.name);
        }
    }
    return result;
}

}  // namespace excelprobe
