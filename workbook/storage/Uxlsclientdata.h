// The spreadsheet objects behind a sheet's shapes, held as read: an OBJ
// with its CONTINUE chain and what follows it (an embedded chart's
// sub-stream, a picture's IMDATA), or a TXO with the CONTINUE records of
// its text and runs. The drawing tree loads, copies, sizes and writes them.
#pragma once

#include <cstdint>
#include <memory>

#include "workbook/drawing/Uxlsbaseclientdata.h"
#include "workbook/storage/Uxlschart.h"

namespace kalmira {

inline constexpr std::uint16_t xlr_IMDATA = 0x7F;

// The records of a section as a drawing tree asks for them, each with its
// CONTINUE chain; none at the zero padding that ends a stream.
class TSectionRecordSource : public TEscherRecordSource {
public:
    TSectionRecordSource(TOle2File& ole, TRecordHeader& header) : FOle(ole), FHeader(header) {}
    std::unique_ptr<TBaseRecord> Next() override;
    // The bytes the stream holds from the record whose header was read on.
    std::int64_t StreamLeft() const { return FOle.Length() - FOle.Position() + 4; }

protected:
    TOle2File& FOle;
    TRecordHeader& FHeader;
};

class TPlainClientData : public TBaseClientData {
public:
    // Reads what belongs to the object whose first record is given from the
    // records that follow in the stream (header: the next record's). A
    // CONTINUE behind the object becomes the remaining record. A chart OBJ
    // without BOF behind it: "Error reading Excel records. File invalid";
    // a TXO under 18 bytes or whose text and runs pass its records:
    // "Record with ID 0x1b6 is invalid".
    static std::unique_ptr<TPlainClientData> Load(TClientDataKind kind, std::unique_ptr<TBaseRecord> first,
                                                  TOle2File& ole, TRecordHeader& header);

    // A comment box's OBJ (the comment template with the object id given)
    // and an empty TXO.
    static std::unique_ptr<TPlainClientData> NewNoteObj(std::uint16_t id);
    static std::unique_ptr<TPlainClientData> NewTxo();
    // A picture's OBJ (the picture template with the object id given).
    static std::unique_ptr<TPlainClientData> NewPictureObj(std::uint16_t id);
    // An autofilter drop-down's OBJ, and whether an object is one.
    static std::unique_ptr<TPlainClientData> NewAutoFilterObj(std::uint16_t id);
    static bool IsAutoFilter(const TBaseClientData& data);

    // The OBJ's object id (offset 6); a TXO has none.
    std::uint16_t GetId() const override;
    void SetId(std::uint16_t id) override;
    TClientDataKind Kind() const override { return FKind; }
    // An embedded OLE object refuses: "Can't copy OLE objects embedded on a
    // sheet".
    std::unique_ptr<TBaseClientData> CopyTo() const override;
    void SaveToStream(TOle2File& ole) const override;
    std::int64_t TotalSize() const override;

    // An embedded chart's series follow; checked first by CheckArrange.
    void ArrangeCopyRowsAndCols(int rowOffset, int colOffset) override;
    void ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                  const TSheetInfo& info) override;
    void ArrangeCopySheet(const TSheetInfo& info) override;
    void CheckArrange(const TArrangeCheck& check) const;
    // Raises where ArrangeCopySheet would, changing nothing.
    void CheckCopySheet(const TSheetInfo& info) const;

    // The object type of the OBJ's common data (sub-record 0x15); -1
    // without it or for a TXO.
    int ObjType() const;

    // A TXO's text and runs as stored (a closing run at the text's length
    // included); an OBJ has none.
    TRichString GetValue() const;
    // Writes the text anew: its characters in CONTINUE records of at most
    // 8224 bytes, each with its flag byte (8-bit characters when none
    // passes 0xFF, else UTF-16, never cut), then the runs (font 0, closed
    // at the text's length). Over 65535 characters: "The index "%d" of the
    // property "Text" is not in the range 0-65535". An OBJ takes no text.
    void SetValue(std::u16string_view text);

private:
    TPlainClientData(TClientDataKind kind, std::unique_ptr<TBaseRecord> record) : FKind(kind), FRecord(std::move(record)) {}
    void LoadObj(TOle2File& ole, TRecordHeader& header);
    void LoadTxo();

    TClientDataKind FKind;
    std::unique_ptr<TBaseRecord> FRecord;
    std::unique_ptr<TBaseRecord> FImData;
    std::unique_ptr<TChartRecordList> FChart;
    bool FEmbeddedOle = false;
};

}  // namespace kalmira
