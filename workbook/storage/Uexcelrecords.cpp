#include "workbook/storage/Uexcelrecords.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>

#include "workbook/storage/UXlsHyperLink.h"
#include "workbook/storage/UXlsSST.h"
#include "workbook/storage/Uxlscellrecords.h"
#include "workbook/storage/UXlsPalette.h"
#include "workbook/storage/UXlsSettingRecords.h"
#include "workbook/storage/UXlsXF.h"
#include "workbook/storage/Uxlsotherrecords.h"

namespace kalmira {

namespace {

// A formula is kept as a plain cell (row, column, XF, the rest as read)
// until the formula classes are registered; it needs the XF's 6 bytes.
std::unique_ptr<TBaseRecord> MakeFormulaCell(std::uint16_t id, TRecordData data) {
    if (data.size() < 6) Raise(ErrWrongExcelRecord, id);
    return std::make_unique<TCellRecord>(xlr_FORMULA, std::move(data));
}

// The makers by id in pages of 256 ids, each made when an id of it is
// registered and kept for the process: the ids in use fill a few pages, so
// a process does not carry a table of all 65,536.
class TRegistry {
public:
    std::atomic<TRecordMaker>& operator[](std::uint16_t id) {
        std::atomic<TPage*>& slot = FPages[id >> 8];
        TPage* page = slot.load(std::memory_order_acquire);
        if (!page) {
            auto made = std::make_unique<TPage>();
            if (slot.compare_exchange_strong(page, made.get(), std::memory_order_acq_rel)) page = made.release();
        }
        return (*page)[id & 0xFF];
    }
    TRecordMaker Find(std::uint16_t id) const {
        const TPage* page = FPages[id >> 8].load(std::memory_order_acquire);
        return page ? (*page)[id & 0xFF].load(std::memory_order_acquire) : nullptr;
    }

private:
    // Slots of their own: a load on one thread may register a class (the
    // first load of the process) while another's looks makers up.
    using TPage = std::array<std::atomic<TRecordMaker>, 256>;
    std::array<std::atomic<TPage*>, 256> FPages{};
};

// The record classes of the storage layer; units above it add their own
// through RegisterRecordClass (the formula records: RegisterFormulaRecords).
TRegistry& Registry() {
    static auto* table = [] {
        auto* registry = new TRegistry;  // outlives every load, also those at exit
        TRegistry& t = *registry;
        t[xlr_CONTINUE] = MakeRecord<TContinueRecord>;
        t[xlr_ROW] = MakeRecord<TRowRecord>;
        t[xlr_SST] = MakeRecord<TSSTRecord>;
        t[xlr_LABELSST] = MakeRecord<TLabelSSTRecord>;
        t[xlr_LABEL] = MakeLoadedRecord<TLabelRecord>;
        t[xlr_RSTRING] = MakeLoadedRecord<TRStringRecord>;
        t[xlr_BLANK] = MakeRecord<TBlankRecord>;
        t[xlr_NUMBER] = MakeRecord<TNumberRecord>;
        t[xlr_BOOLERR] = MakeRecord<TBoolErrRecord>;
        t[xlr_RK] = MakeRecord<TRKRecord>;
        t[xlr_MULRK] = MakeRecord<TMulRKRecord>;
        t[xlr_MULBLANK] = MakeRecord<TMulBlankRecord>;
        // Formulas under the ids of older versions are formulas too.
        for (std::uint16_t id : {xlr_FORMULA, xlr_FORMULA_OLD3, xlr_FORMULA_OLD4}) t[id] = MakeFormulaCell;
        // Index and cache records: DBCELL, MSODRAWINGSELECTION, EXTSST,
        // TABID, RECALCID, INDEX and the chart font basis. The cached values
        // of external books (XCT, CRN) stay plain: the globals keep them
        // with their SUPBOOK.
        for (std::uint16_t id : {0xD7, 0xED, 0xFF, 0x13D, 0x1C1, 0x20B, 0x1060})
            t[id] = MakeRecord<TIgnoreRecord>;
        for (const TRecordClass& c : SettingRecordClasses()) t[c.Id] = c.Maker;
        for (const TRecordClass& c : OtherRecordClasses()) t[c.Id] = c.Maker;
        t[xlr_PALETTE] = MakeRecord<TPaletteRecord>;
        t[xlr_XF] = MakeRecord<TXFRecord>;
        t[xlr_FONT] = MakeRecord<TFontRecord>;
        t[xlr_FORMAT] = MakeRecord<TFormatRecord>;
        t[xlr_HLINK] = MakeRecord<THLinkRecord>;
        t[xlr_HLINKTOOLTIP] = MakeRecord<TScreenTipRecord>;
        return registry;
    }();
    return *table;
}

// A BIFF8 record holds at most 8224 data bytes: a longer one has swallowed
// the records behind it.
TRecordData ReadData(TOle2File& ole, const TRecordHeader& header) {
    if (header.Size > MaxRecordDataSize) Raise(ErrWrongExcelRecord, header.Id);
    const std::uint16_t size = header.Size;
    auto data = TRecordData::ForOverwrite(size);
    ole.ReadMem(data.data(), size);
    return data;
}

// Records that may only follow certain others: the record after them
// belongs to the one before (a formula's ARRAY, TABLE or STRING result, a
// hyperlink's tool tip).
bool MayPrecede(std::uint16_t next, std::uint16_t built) {
    switch (next) {
        case xlr_TABLE:
        case xlr_ARRAY: return built == xlr_FORMULA;
        case xlr_HLINKTOOLTIP: return built == xlr_HLINK;
        case xlr_STRING:
            return built == xlr_FORMULA || built == xlr_SHRFMLA || built == xlr_ARRAY || built == xlr_TABLE;
        default: return true;
    }
}

}  // namespace

// Registering a class again writes nothing: sheets loading on several
// threads register theirs while the others look makers up.
void RegisterRecordClass(std::uint16_t id, TRecordMaker maker) {
    std::atomic<TRecordMaker>& slot = Registry()[id];
    if (slot.load(std::memory_order_acquire) != maker) slot.store(maker, std::memory_order_release);
}

void ReadRecordHeader(TOle2File& ole, TRecordHeader& header) {
    // Past the end there is no record: id 0, as in the zero padding.
    if (ole.NextEof(3)) {
        header = {0, 0};
        return;
    }
    std::uint8_t bytes[4];
    ole.ReadMem(bytes, 4);
    header = {GetWord(bytes, 0), GetWord(bytes, 2)};
}

std::unique_ptr<TBaseRecord> LoadRecords(TOle2File& ole, TRecordHeader& header) {
    return LoadRecords(ole, header, nullptr);
}

std::unique_ptr<TBaseRecord> LoadRecords(TOle2File& ole, TRecordHeader& header, bool (*plain)(std::uint16_t id)) {
    if (header.Id == xlr_FILEPASS) Raise(ErrFileIsPasswordProtected);
    // Zero padding or the stream's end where a section still expects records.
    if (header.Id == 0) Raise(ErrExcelInvalid);
    const TRecordMaker maker = plain && plain(header.Id) ? nullptr : Registry().Find(header.Id);
    auto data = ReadData(ole, header);
    std::unique_ptr<TBaseRecord> record =
        maker ? maker(header.Id, std::move(data)) : std::make_unique<TBaseRecord>(header.Id, std::move(data));
    ReadRecordHeader(ole, header);
    // A record's continuations come before whatever follows it (a
    // hyperlink's tip after the link's CONTINUE records).
    for (TBaseRecord* last = record.get(); header.Id == xlr_CONTINUE; last = last->Continue.get()) {
        last->AddContinue(std::make_unique<TContinueRecord>(header.Id, ReadData(ole, header)));
        ReadRecordHeader(ole, header);
    }
    if (!MayPrecede(header.Id, record->Id)) Raise(ErrExcelInvalid);
    while (record->TakesFollowing(header.Id)) record->TakeFollowing(LoadRecords(ole, header, plain));
    return record;
}

void WalkRecords(TOle2File& ole, const std::function<void(std::unique_ptr<TBaseRecord>)>& visit) {
    TRecordHeader header{};
    ReadRecordHeader(ole, header);
    WalkRecords(ole, header, visit);
}

void WalkRecords(TOle2File& ole, TRecordHeader& header,
                 const std::function<void(std::unique_ptr<TBaseRecord>)>& visit) {
    while (!ole.NextEof(3) && header.Id != 0) {
        std::uint16_t id;
        do {
            auto record = LoadRecords(ole, header);
            id = record->Id;
            visit(std::move(record));
        } while (id != xlr_EOF && header.Id != 0);
    }
}

}  // namespace kalmira
