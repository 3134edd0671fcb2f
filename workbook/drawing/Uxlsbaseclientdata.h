// What the drawing tree knows of the spreadsheet objects behind its shapes:
// the OBJ and TXO records (and what they carry) that follow a client data
// or client text box record in the stream. The classes that own them build
// on this interface; the tree only loads, copies, sizes and writes them.
#pragma once

#include <cstdint>
#include <memory>

#include "workbook/storage/UXlsBaseRecords.h"

namespace kalmira {

inline constexpr std::uint16_t EscherBiffGroup = 0xEB;    // MSODRAWINGGROUP
inline constexpr std::uint16_t EscherBiffDrawing = 0xEC;  // MSODRAWING
inline constexpr std::uint16_t EscherBiffObj = 0x5D;      // OBJ
inline constexpr std::uint16_t EscherBiffTxo = 0x1B6;     // TXO

// The record a client data object is loaded from.
enum class TClientDataKind : std::uint8_t { Obj, Txo };

inline std::uint16_t ClientDataBiffId(TClientDataKind kind) {
    return kind == TClientDataKind::Obj ? EscherBiffObj : EscherBiffTxo;
}

// The BIFF records of a stream, one after the other, as the loader reads
// them (each with its CONTINUE chain); null at the end.
class TEscherRecordSource {
public:
    virtual ~TEscherRecordSource() = default;
    virtual std::unique_ptr<TBaseRecord> Next() = 0;
};

class TBaseClientData {
public:
    virtual ~TBaseClientData() = default;

    virtual std::uint16_t GetId() const { return 0; }
    virtual void SetId(std::uint16_t) {}
    virtual TClientDataKind Kind() const = 0;

    // A copy; objects that cannot be copied refuse here.
    virtual std::unique_ptr<TBaseClientData> CopyTo() const = 0;
    virtual void SaveToStream(TOle2File& ole) const = 0;
    // Bytes SaveToStream writes, BIFF headers included.
    virtual std::int64_t TotalSize() const = 0;

    virtual void ArrangeCopyRowsAndCols(int, int) {}
    virtual void ArrangeInsertRowsAndCols(int, int, int, int, const TSheetInfo&) {}
    virtual void ArrangeCopySheet(const TSheetInfo&) {}

    // A record that followed the client records in the file and carries
    // the next drawing bytes: the drawing loader takes it over.
    std::unique_ptr<TBaseRecord> TakeRemaining() { return std::move(FRemaining); }

protected:
    std::unique_ptr<TBaseRecord> FRemaining;
};

// Builds the client data of a shape from its first record; it reads from
// the source whatever else belongs to it (an embedded chart, image data).
class TClientDataFactory {
public:
    virtual ~TClientDataFactory() = default;
    virtual std::unique_ptr<TBaseClientData> Load(TClientDataKind kind, std::unique_ptr<TBaseRecord> first,
                                                  TEscherRecordSource& source) = 0;
};

// The sheet a drawing lies on, as anchors measure it: column widths and row
// heights in pixels (hidden ones 0).
class TEscherSheet {
public:
    virtual ~TEscherSheet() = default;
    virtual double ColumnWidthPx(int column) const = 0;
    virtual double RowHeightPx(int row) const = 0;
};

}  // namespace kalmira
