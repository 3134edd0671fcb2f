// Workbook files for the interface tests: opened or new, the bytes a save
// writes, calls refused without a trace, and files of a test's own in the
// build tree.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/workbook/storage/MessageOf.h"
#include "tests/workbook/storage/Ole2Fixtures.h"
#include "workbook/api/XLSAdapter.h"

namespace xlsfiletest {

using namespace kalmira;

// A fixture by name (or a path), or a new workbook of `sheets` sheets;
// without an adapter it may overwrite files.
inline std::unique_ptr<TXLSFile> Opened(const std::string& fixture = "", int sheets = 1, TXLSAdapter* adapter = nullptr) {
    auto file = std::make_unique<TXLSFile>(adapter, adapter == nullptr);
    file->Connect();
    if (fixture.empty()) file->NewFile(sheets);
    else file->OpenFile(fixture.find('/') != std::string::npos ? fixture : ole2test::FixtureDir() + "/" + fixture + ".xls");
    return file;
}

inline std::vector<std::uint8_t> Saved(TExcelFile& file) {
    TKmrMemoryStream out;
    file.Save(false, "", nullptr, nullptr, &out);
    return out.Bytes();
}

using TRefusals = std::vector<std::pair<std::function<void()>, std::string>>;

// Each call refused with its message; the save after them is the one before.
inline void ExpectRefused(TExcelFile& file, const TRefusals& calls) {
    const auto before = Saved(file);
    for (const auto& [call, message] : calls) EXPECT_EQ(MessageOf(call), message);
    EXPECT_EQ(Saved(file), before);
}

struct TPicture {
    std::vector<std::uint8_t> Bytes;
    TXlsImgTypes Type = TXlsImgTypes::xli_Unknown;
    TClientAnchor Anchor;
    friend bool operator==(const TPicture&, const TPicture&) = default;
};

// Picture `index` of the active sheet's row `row` (0: of the whole sheet).
inline TPicture Picture(TExcelFile& file, int row, int index) {
    TPicture p;
    TKmrMemoryStream out;
    file.GetPicture(row, index, out, p.Type, p.Anchor);
    p.Bytes = out.Bytes();
    return p;
}

// A path in the build tree's folder of the running test, none there at first.
inline std::string Out(const std::string& name) {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::filesystem::path path = std::filesystem::path(ORVELO_BINARY_DIR) / "api-tests" /
                                       (std::string(test->test_suite_name()) + "." + test->name()) / name;
    std::filesystem::create_directories(path.parent_path());
    std::filesystem::remove(path);
    return path.string();
}

// Calls an operation with neutral arguments: default values, an empty
// memory stream for a stream.
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

}  // namespace xlsfiletest
