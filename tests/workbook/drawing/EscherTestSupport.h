// Drawing trees for tests: BIFF records from bytes, a record source over
// them, a stand-in for the OBJ and TXO client data, and the bytes a tree
// writes.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "tests/workbook/storage/TinyContainer.h"
#include "workbook/drawing/UXlsEscher.h"
#include "workbook/storage/UKmrStreams.h"

namespace eschertest {

using namespace kalmira;
using Bytes = std::vector<std::uint8_t>;

// BIFF records from stream bytes (id, size, data ...), each CONTINUE
// chained to the record before it.
inline std::deque<std::unique_ptr<TBaseRecord>> RecordsOf(const Bytes& stream) {
    std::deque<std::unique_ptr<TBaseRecord>> out;
    TBaseRecord* last = nullptr;
    for (std::size_t pos = 0; pos + 4 <= stream.size();) {
        const std::uint16_t id = stream[pos] | stream[pos + 1] << 8;
        const std::size_t size = std::min<std::size_t>(stream[pos + 2] | stream[pos + 3] << 8, stream.size() - pos - 4);
        Bytes data(stream.begin() + pos + 4, stream.begin() + pos + 4 + size);
        pos += 4 + size;
        if (id == xlr_CONTINUE && last) {
            last->AddContinue(std::make_unique<TContinueRecord>(id, std::move(data)));
            last = last->Continue.get();
        } else {
            out.push_back(std::make_unique<TBaseRecord>(id, std::move(data)));
            last = out.back().get();
        }
    }
    return out;
}

class TListSource : public TEscherRecordSource {
public:
    explicit TListSource(std::deque<std::unique_ptr<TBaseRecord>> records) : FRecords(std::move(records)) {}
    std::unique_ptr<TBaseRecord> Next() override {
        if (FRecords.empty()) return nullptr;
        auto r = std::move(FRecords.front());
        FRecords.pop_front();
        return r;
    }

private:
    std::deque<std::unique_ptr<TBaseRecord>> FRecords;
};

// An OBJ (id at offset 6) or a TXO (its text and runs in two CONTINUE
// records when its character count at offset 10 is not 0), kept as read.
// An OBJ with the embedded-object sub-record 0x09 after its common data
// refuses copies.
class TTestClientData : public TBaseClientData {
public:
    TTestClientData(TClientDataKind kind, std::unique_ptr<TBaseRecord> record, bool detach = true)
        : FKind(kind), FRecord(std::move(record)) {
        if (!detach) return;
        const bool text = kind == TClientDataKind::Txo && FRecord->Data.size() >= 12 && GetWord(FRecord->Data, 10);
        TBaseRecord* keep = FRecord.get();
        for (int i = 0; i < (text ? 2 : 0) && keep->Continue; ++i) keep = keep->Continue.get();
        FRemaining = std::move(keep->Continue);
    }
    std::uint16_t GetId() const override {
        return FKind == TClientDataKind::Obj && FRecord->Data.size() >= 8 ? GetWord(FRecord->Data, 6) : 0;
    }
    void SetId(std::uint16_t id) override {
        if (FKind == TClientDataKind::Obj && FRecord->Data.size() >= 8) SetWord(FRecord->Data, 6, id);
    }
    TClientDataKind Kind() const override { return FKind; }
    std::unique_ptr<TBaseClientData> CopyTo() const override {
        if (FKind == TClientDataKind::Obj && FRecord->Data.size() > 22 && FRecord->Data[22] == 0x09)
            Raise(ErrCantCopyPictFmla);
        return std::make_unique<TTestClientData>(FKind, FRecord->CopyTo(), false);
    }
    void SaveToStream(TOle2File& ole) const override { FRecord->SaveToStream(ole); }
    std::int64_t TotalSize() const override { return FRecord->TotalSize(); }
    void ArrangeCopyRowsAndCols(int rowOffset, int) override { Moved += rowOffset; }

    int Moved = 0;

private:
    TClientDataKind FKind;
    std::unique_ptr<TBaseRecord> FRecord;
};

class TTestClientFactory : public TClientDataFactory {
public:
    std::unique_ptr<TBaseClientData> Load(TClientDataKind kind, std::unique_ptr<TBaseRecord> first,
                                          TEscherRecordSource&) override {
        return std::make_unique<TTestClientData>(kind, std::move(first));
    }
};

// Loads a tree from stream bytes; the first record opens it. streamLeft:
// the bytes behind the first record (-1: those of the stream given).
inline void LoadTree(TEscherTree& tree, const Bytes& stream, std::int64_t streamLeft = -1) {
    TListSource source(RecordsOf(stream));
    if (streamLeft < 0 && stream.size() >= 4)
        streamLeft = static_cast<std::int64_t>(stream.size()) - 4 - (stream[2] | stream[3] << 8);
    TTestClientFactory clients;
    tree.LoadFromStream(source.Next(), source, &clients, streamLeft);
}

// The bytes a tree (or a drawing, or the drawing group) writes as a stream
// of its own; its computed size must be what it writes.
template <class Tree>
Bytes SavedTree(const Tree& tree) {
    static const Bytes container = ole2test::TinyContainer();
    TKmrMemoryStream in(container), out;
    std::int64_t size = 0;
    {
        TOle2File ole(&in);
        ole.PrepareForWrite(&out, u"Workbook");
        tree.SaveToStream(ole);
        size = ole.Position();
        ole.FinishStream();
    }
    if (size != tree.TotalSize()) throw Exception("size written differs from the computed size");
    TKmrMemoryStream back(out.Bytes());
    TOle2File reader(&back);
    reader.SelectStream(u"Workbook");
    Bytes bytes(static_cast<std::size_t>(size));
    reader.ReadMem(bytes.data(), size);
    return bytes;
}

}  // namespace eschertest
