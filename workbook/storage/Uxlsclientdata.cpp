#include "workbook/storage/Uxlsclientdata.h"

#include <string>

#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlsotherrecords.h"

namespace kalmira {

namespace {

constexpr std::uint16_t ObjCommonData = 0x15;
constexpr std::uint16_t ObjPictFmla = 0x09;
constexpr int ObjTypeChart = 5;
constexpr int ObjTypePicture = 8;
// Bytes of a CONTINUE record.
constexpr std::size_t EscherChunk = 8224;

// The last record of a chain.
TBaseRecord* LastOf(TBaseRecord* record) {
    while (record->Continue) record = record->Continue.get();
    return record;
}

}  // namespace

std::unique_ptr<TBaseRecord> TSectionRecordSource::Next() {
    if (FHeader.Id == 0) return nullptr;
    return LoadRecords(FOle, FHeader);
}

std::unique_ptr<TPlainClientData> TPlainClientData::Load(TClientDataKind kind, std::unique_ptr<TBaseRecord> first,
                                                         TOle2File& ole, TRecordHeader& header) {
    std::unique_ptr<TPlainClientData> data(new TPlainClientData(kind, std::move(first)));
    if (kind == TClientDataKind::Obj) data->LoadObj(ole, header);
    else data->LoadTxo();
    return data;
}

int TPlainClientData::ObjType() const {
    if (FKind != TClientDataKind::Obj || FRecord->Data.size() < 6 || GetWord(FRecord->Data, 0) != ObjCommonData)
        return -1;
    return GetWord(FRecord->Data, 4);
}

void TPlainClientData::LoadObj(TOle2File& ole, TRecordHeader& header) {
    // The OBJ's own CONTINUE carries drawing bytes on.
    FRemaining = std::move(FRecord->Continue);
    if (ObjType() == ObjTypeChart) {
        if (header.Id != xlr_BOF) Raise(ErrExcelInvalid);
        RegisterChartRecords();
        FChart = std::make_unique<TChartRecordList>();
        FChart->Add(LoadRecords(ole, header));
        LoadChartRecords(ole, header, [this](std::unique_ptr<TBaseRecord> r, int) {
            if (r->Id == xlr_BOF) Raise(ErrExcelInvalid);
            FChart->Add(std::move(r));
        });
        TBaseRecord* last = LastOf(FChart->GetItems(FChart->Count() - 1));
        if (!FRemaining) FRemaining = std::move(last->Continue);
    } else if (ObjType() == ObjTypePicture && header.Id == xlr_IMDATA) {
        FImData = LoadRecords(ole, header);
    }
    // Sub-records (ft, cb, cb bytes) up to ft 0 or one that runs past the
    // data; 0x09 holds an embedded OLE object.
    const auto& d = FRecord->Data;
    for (std::size_t pos = 0; pos + 4 <= d.size();) {
        const std::uint16_t ft = GetWord(d, pos), cb = GetWord(d, pos + 2);
        if (ft == 0 || pos + 4 + cb > d.size()) break;
        if (ft == ObjPictFmla) FEmbeddedOle = true;
        pos += 4 + cb;
    }
}

// The character count at 10 and the run bytes at 12 say how many CONTINUE
// records the text (each with its flag byte) and the runs fill; the runs
// fill whole records. The record after them carries the drawing on.
void TPlainClientData::LoadTxo() {
    const auto invalid = [this] { Raise(ErrWrongExcelRecord, FRecord->Id); };
    if (FRecord->Data.size() < 18) invalid();
    const std::int64_t count = GetWord(FRecord->Data, 10);
    const int runBytes = GetWord(FRecord->Data, 12);
    const TBaseRecord* last = FRecord.get();
    if (count > 0) {
        int pos = last->DataSize();
        std::string narrow;
        std::u16string wide;
        std::uint8_t flags = 0, pieceFlags = 0;
        std::int64_t done = 0;
        try {
            ReadStr(last, pos, narrow, wide, flags, pieceFlags, done, count);
        } catch (const Exception&) {
            invalid();
        }
        if (runBytes % 8 != 0 || (runBytes > 0 && !last->Continue)) invalid();
        if (runBytes > 0) {
            last = last->Continue.get();
            pos = 0;
            try {
                ReadMem(last, pos, runBytes, nullptr);
            } catch (const Exception&) {
                invalid();
            }
            if (pos != last->DataSize()) invalid();
        }
    }
    FRemaining = std::move(const_cast<TBaseRecord*>(last)->Continue);
}

// The OBJ of a new comment: common object data (type 0x19, flags 0x4011),
// the note sub-record 0x0D, the end.
std::unique_ptr<TPlainClientData> TPlainClientData::NewNoteObj(std::uint16_t id) {
    std::vector<std::uint8_t> data = {0x15, 0x00, 0x12, 0x00, 0x19, 0x00, 0x01, 0x00, 0x11, 0x40, 0, 0, 0,
                                      0,    0,    0,    0,    0,    0,    0,    0,    0,    0x0D, 0x00, 0x16, 0x00,
                                      0x00, 0x12, 0x23, 0x8C, 0x6C, 0x50, 0x8B, 0x4D, 0xA8, 0xC5, 0x7B, 0x64, 0xFF,
                                      0xA8, 0xC5, 0xA3, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    SetWord(data, 6, id);
    return std::unique_ptr<TPlainClientData>(
        new TPlainClientData(TClientDataKind::Obj, std::make_unique<TBaseRecord>(EscherBiffObj, std::move(data))));
}

// Common object data (type 8, flags 0x6011), the picture's clipboard
// format and option sub-records, the end.
std::unique_ptr<TPlainClientData> TPlainClientData::NewPictureObj(std::uint16_t id) {
    std::vector<std::uint8_t> data = {0x15, 0x00, 0x12, 0x00, 0x08, 0x00, 0x01, 0x00, 0x11, 0x60, 0,    0,    0,
                                      0,    0,    0,    0,    0,    0,    0,    0,    0,    0x07, 0x00, 0x02, 0x00,
                                      0xFF, 0xFF, 0x08, 0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
    SetWord(data, 6, id);
    return std::unique_ptr<TPlainClientData>(
        new TPlainClientData(TClientDataKind::Obj, std::make_unique<TBaseRecord>(EscherBiffObj, std::move(data))));
}

// Common object data (type 0x14, flags 0x2101), a scroll-bar sub-record
// and the list box running to the end of the record.
std::unique_ptr<TPlainClientData> TPlainClientData::NewAutoFilterObj(std::uint16_t id) {
    std::vector<std::uint8_t> data = {
        0x15, 0x00, 0x12, 0x00, 0x14, 0x00, 0x01, 0x00, 0x01, 0x21, 0,    0,    0,    0,    0,    0,    0,    0,
        0,    0,    0,    0,    0x0C, 0x00, 0x14, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00,
        0x01, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x10, 0x00, 0x01, 0x00, 0x13, 0x00, 0xEE, 0x1F, 0x00, 0x00, 0x00, 0x00,
        0x04, 0x00, 0x01, 0x03, 0x00, 0x00, 0x02, 0x00, 0x08, 0x00, 0x6C, 0x00, 0x00, 0x00, 0x00, 0x00};
    SetWord(data, 6, id);
    return std::unique_ptr<TPlainClientData>(
        new TPlainClientData(TClientDataKind::Obj, std::make_unique<TBaseRecord>(EscherBiffObj, std::move(data))));
}

bool TPlainClientData::IsAutoFilter(const TBaseClientData& data) {
    const auto* plain = dynamic_cast<const TPlainClientData*>(&data);
    if (!plain || plain->FKind != TClientDataKind::Obj) return false;
    const std::vector<std::uint8_t>& d = plain->FRecord->Data;
    return d.size() == 70 && d[0] == 0x15 && d[22] == 0x0C && d[46] == 0x13 && d[56] == 0x01 && d[57] == 0x03;
}

// A new TXO: the option word 0x212, nothing else set.
std::unique_ptr<TPlainClientData> TPlainClientData::NewTxo() {
    std::vector<std::uint8_t> data(18);
    SetWord(data, 0, 0x212);
    return std::unique_ptr<TPlainClientData>(
        new TPlainClientData(TClientDataKind::Txo, std::make_unique<TBaseRecord>(EscherBiffTxo, std::move(data))));
}

TRichString TPlainClientData::GetValue() const {
    TRichString value;
    if (FKind != TClientDataKind::Txo || FRecord->Data.size() < 18) return value;
    const std::int64_t count = GetWord(FRecord->Data, 10);
    if (count == 0) return value;
    const TBaseRecord* record = FRecord.get();
    int pos = record->DataSize();
    std::string narrow;
    std::uint8_t flags = 0, pieceFlags = 0;
    std::int64_t done = 0;
    ReadStr(record, pos, narrow, value.Value, flags, pieceFlags, done, count);
    // 8-bit characters are the code points 0-255.
    for (unsigned char c : narrow) value.Value.push_back(c);
    const int runs = GetWord(FRecord->Data, 12) / 8;
    if (runs == 0 || !record->Continue) return value;
    record = record->Continue.get();
    pos = 0;
    for (int i = 0; i < runs; ++i) {
        std::uint8_t run[8];
        ReadMem(record, pos, 8, run);
        value.RTFRuns.push_back({GetWord(run, 0), GetWord(run, 2)});
    }
    return value;
}

void TPlainClientData::SetValue(std::u16string_view text) {
    if (FKind != TClientDataKind::Txo || FRecord->Data.size() < 18) Raise(ErrWrongExcelRecord, FRecord->Id);
    if (text.size() > 65535) Raise(ErrXlsIndexOutBounds, static_cast<int>(text.size()), "Text", 0, 65535);
    bool wide = false;
    for (char16_t c : text) wide = wide || c > 0xFF;
    const std::size_t width = wide ? 2 : 1;
    // Each CONTINUE holds its flag byte and whole characters.
    const std::size_t perRecord = (EscherChunk - 1) / width;
    std::vector<std::unique_ptr<TContinueRecord>> chain;
    for (std::size_t at = 0; at < text.size(); at += perRecord) {
        const std::size_t n = std::min(perRecord, text.size() - at);
        std::vector<std::uint8_t> data(1 + n * width);
        data[0] = wide ? 1 : 0;
        for (std::size_t k = 0; k < n; ++k) {
            if (wide) SetWord(data, 1 + 2 * k, text[at + k]);
            else data[1 + k] = static_cast<std::uint8_t>(text[at + k]);
        }
        chain.push_back(std::make_unique<TContinueRecord>(xlr_CONTINUE, std::move(data)));
    }
    if (!text.empty()) {
        std::vector<std::uint8_t> runs(16);
        SetWord(runs, 8, static_cast<std::uint16_t>(text.size()));
        chain.push_back(std::make_unique<TContinueRecord>(xlr_CONTINUE, std::move(runs)));
    }
    SetWord(FRecord->Data, 10, static_cast<std::uint16_t>(text.size()));
    SetWord(FRecord->Data, 12, text.empty() ? 0 : 16);
    FRecord->Continue.reset();
    TBaseRecord* last = FRecord.get();
    for (auto& next : chain) {
        TBaseRecord* added = next.get();
        last->AddContinue(std::move(next));
        last = added;
    }
}

std::uint16_t TPlainClientData::GetId() const {
    return FKind == TClientDataKind::Obj && FRecord->Data.size() >= 8 ? GetWord(FRecord->Data, 6) : 0;
}

void TPlainClientData::SetId(std::uint16_t id) {
    if (FKind == TClientDataKind::Obj && FRecord->Data.size() >= 8) SetWord(FRecord->Data, 6, id);
}

std::unique_ptr<TBaseClientData> TPlainClientData::CopyTo() const {
    if (FEmbeddedOle) Raise(ErrCantCopyPictFmla);
    std::unique_ptr<TPlainClientData> copy(new TPlainClientData(FKind, FRecord->CopyTo()));
    if (FImData) copy->FImData = FImData->CopyTo();
    if (FChart) {
        copy->FChart = std::make_unique<TChartRecordList>();
        copy->FChart->CopyFrom(*FChart);
    }
    return copy;
}

void TPlainClientData::SaveToStream(TOle2File& ole) const {
    FRecord->SaveToStream(ole);
    if (FImData) FImData->SaveToStream(ole);
    if (FChart) FChart->SaveToStream(ole);
}

std::int64_t TPlainClientData::TotalSize() const {
    return FRecord->TotalSize() + (FImData ? FImData->TotalSize() : 0) + (FChart ? FChart->GetTotalSize() : 0);
}

void TPlainClientData::ArrangeCopyRowsAndCols(int rowOffset, int colOffset) {
    if (FChart) FChart->ArrangeCopyRowsAndCols(rowOffset, colOffset);
}

void TPlainClientData::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                                const TSheetInfo& info) {
    if (FChart) FChart->ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
}

void TPlainClientData::ArrangeCopySheet(const TSheetInfo& info) {
    if (FChart) FChart->ArrangeCopySheet(info);
}

void TPlainClientData::CheckArrange(const TArrangeCheck& check) const {
    if (FChart) FChart->CheckArrange(check);
}

void TPlainClientData::CheckCopySheet(const TSheetInfo& info) const {
    if (!FChart || FChart->AIRecords().Count() == 0) return;
    TChartRecordList trial;
    trial.CopyFrom(*FChart);
    trial.ArrangeCopySheet(info);
}

}  // namespace kalmira
