// A section of the workbook stream: a BOF record, the section's records,
// its EOF record.
#pragma once

#include <cstdint>
#include <memory>

#include "workbook/storage/UKmrFormats.h"
#include "workbook/storage/UXlsSST.h"
#include "workbook/storage/Uxlsotherrecords.h"

namespace kalmira {

class TBaseSection {
public:
    TBaseSection() = default;
    virtual ~TBaseSection() = default;
    TBaseSection(const TBaseSection&) = delete;
    TBaseSection& operator=(const TBaseSection&) = delete;

    // Frees BOF and EOF.
    virtual void Clear();
    // BOF and EOF.
    virtual std::int64_t TotalSize() const;
    virtual std::int64_t TotalRangeSize(int sheetIndex, const TXlsCellRange& range) const;
    // The records after first (the section's BOF, read by the caller), up
    // to and including EOF; header holds the next record's header.
    virtual void LoadFromStream(TOle2File& ole, TRecordHeader& header, std::unique_ptr<TBOFRecord> first,
                                TSST& sst) = 0;
    virtual void SaveToStream(TOle2File& ole) = 0;
    virtual void SaveRangeToStream(TOle2File& ole, int sheetIndex, const TXlsCellRange& range) = 0;

protected:
    std::unique_ptr<TBOFRecord> FBOF;
    std::unique_ptr<TEOFRecord> FEOF;
};

}  // namespace kalmira
