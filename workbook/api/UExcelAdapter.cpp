#include "workbook/api/UExcelAdapter.h"

namespace kalmira {

namespace {

[[noreturn]] void AbstractError() { throw EAbstractError(); }

// Each theme holds the number of operations its line announces.
constexpr int OperationsOf(TExcelFileTheme wanted) {
    int count = 0;
#define KMR_EXCEL_OP(theme, result, name, params) count += TExcelFileTheme::theme == wanted ? 1 : 0;
#include "workbook/api/UExcelFileOperations.inc"
    return count;
}

constexpr int AllOperations() {
    int count = 0;
#define KMR_EXCEL_OP(theme, result, name, params) ++count;
#include "workbook/api/UExcelFileOperations.inc"
    return count;
}

#define KMR_EXCEL_THEME(theme, caption, count) \
    static_assert(OperationsOf(TExcelFileTheme::theme) == (count), caption);
#include "workbook/api/UExcelFileOperations.inc"
static_assert(AllOperations() == ExcelFileOperationCount);

}  // namespace

EAbstractError::EAbstractError() : Exception(ErrAbstract) {}

// The defaults name their parameters for the reader of the list only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-parameter"
#define KMR_EXCEL_OP(theme, result, name, params) \
    result TExcelFile::name params { AbstractError(); }
#include "workbook/api/UExcelFileOperations.inc"
#pragma GCC diagnostic pop

std::unique_ptr<TExcelFile> TExcelAdapter::GetWorkbook() { AbstractError(); }

}  // namespace kalmira
