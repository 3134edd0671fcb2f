#include "workbook/api/Xlsbasetemplatestore.h"

#include "workbook/api/UExcelAdapter.h"

namespace kalmira {

std::vector<std::uint8_t> TXlsBaseTemplateStore::GetStoredFile(const std::u16string&) { throw EAbstractError(); }

bool TXlsBaseTemplateStore::IsUpToDate() { throw EAbstractError(); }

void TXlsBaseTemplateStore::Refresh() { throw EAbstractError(); }

}  // namespace kalmira
