// The abstract workbook interface between the code that uses a workbook and
// the code that stores it, and the adapter that makes workbook objects.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "workbook/storage/UKmrFormats.h"
#include "workbook/storage/UKmrStreams.h"
#include "workbook/storage/UKmrVariant.h"
#include "workbook/storage/XlsMessages.h"

namespace kalmira {

// Raised by every operation that a descendant leaves to the interface.
class EAbstractError : public Exception {
public:
    EAbstractError();
};

inline constexpr const char* ErrAbstract = "Abstract Error";

enum class TExcelSaveFormatNative : std::uint8_t { snXLS, snCSVComma, snCSVSemiColon, snTabDelimited };

class TExcelFile;

// Asked by Save for each format it writes: the file name (UTF-8) or a
// stream to write to instead. The stream stays the event owner's.
using TOnGetFileNameEvent =
    std::function<void(TExcelFile& sender, TExcelSaveFormatNative format, std::string& fileName)>;
using TOnGetOutStreamEvent =
    std::function<void(TExcelFile& sender, TExcelSaveFormatNative format, TKmrStream*& outStream)>;

// Indexed by palette index 0 to 56: whether the workbook uses that colour.
using TUsedPaletteColors = std::array<bool, 57>;

enum class TExcelFileTheme : std::uint8_t {
#define KMR_EXCEL_THEME(theme, caption, count) theme,
#include "workbook/api/UExcelFileOperations.inc"
};

inline constexpr int ExcelFileOperationCount = 214;

// Every operation is virtual and raises EAbstractError until a descendant
// overrides it, so a descendant may build the interface piece by piece and
// stays usable after a call that is not there yet. A descendant that
// overrides one form of an overloaded name brings the others in with a
// using-declaration. The operations are listed, grouped by theme and with
// their conventions, in UExcelFileOperations.inc.
class TExcelFile {
public:
    TExcelFile() = default;
    TExcelFile(const TExcelFile&) = delete;
    TExcelFile& operator=(const TExcelFile&) = delete;
    virtual ~TExcelFile() = default;

#define KMR_EXCEL_OP(theme, result, name, params) virtual result name params;
#include "workbook/api/UExcelFileOperations.inc"
};

// Makes the workbook objects of one storage kind.
class TExcelAdapter {
public:
    TExcelAdapter() = default;
    TExcelAdapter(const TExcelAdapter&) = delete;
    TExcelAdapter& operator=(const TExcelAdapter&) = delete;
    virtual ~TExcelAdapter() = default;

    // A new, unconnected workbook object; the caller owns it.
    virtual std::unique_ptr<TExcelFile> GetWorkbook();

    // The folder OpenFileAndSearch looks in first (UTF-8).
    const std::string& BasePathToOpen() const { return FBasePathToOpen; }
    void SetBasePathToOpen(std::string path) { FBasePathToOpen = std::move(path); }

private:
    template <class TAdapter>
    friend class TAdapterLink;

    std::string FBasePathToOpen;
    // Expires with the adapter: how the facades and workbook objects linked
    // to it learn of its end.
    std::shared_ptr<const bool> FAlive = std::make_shared<const bool>(true);
};

// A link to an adapter that empties itself when the adapter is destroyed,
// so that neither a facade nor a workbook object the adapter made ever
// reaches an adapter that has gone; relinking or dropping the link leaves
// nothing behind in the adapter.
template <class TAdapter>
class TAdapterLink {
public:
    TAdapterLink() = default;
    explicit TAdapterLink(TAdapter* adapter)
        : FAdapter(adapter), FAlive(adapter ? std::weak_ptr<const bool>(adapter->FAlive) : std::weak_ptr<const bool>()) {}

    // The adapter, or none once it has been destroyed.
    TAdapter* Get() const { return FAlive.expired() ? nullptr : FAdapter; }
    TAdapter* operator->() const { return Get(); }
    explicit operator bool() const { return Get() != nullptr; }

private:
    TAdapter* FAdapter = nullptr;
    std::weak_ptr<const bool> FAlive;
};

}  // namespace kalmira
