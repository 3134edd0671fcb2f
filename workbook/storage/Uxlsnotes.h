// The comments of a sheet: NOTE records, each naming its cell and the
// object id of its comment box in the sheet's drawing, whose text box holds
// the text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/drawing/UXlsEscher.h"
#include "workbook/storage/Uxlsclientdata.h"

namespace kalmira {

inline constexpr std::uint16_t xlr_NOTE = 0x1C;
// The object type of a comment box (OBJ common data).
inline constexpr int ObjTypeComment = 0x19;

// NOTE: row, column, options, object id (u16 each), the author as a BIFF8
// string, a padding byte.
class TNoteRecord : public TBaseRecord {
public:
    // Under 11 bytes, or an author past the data: "Record with ID 0x1c is
    // invalid".
    TNoteRecord(std::uint16_t id, std::vector<std::uint8_t> data);

    int GetRow() const { return GetWord(Data, 0); }
    int GetColumn() const { return GetWord(Data, 2); }
    void SetRowAndColumn(int row, int column);
    std::uint16_t ObjId() const { return GetWord(Data, 6); }
    void SetObjId(std::uint16_t id) { SetWord(Data, 6, id); }
    std::u16string GetAuthor() const;
    // Over 54 characters: "The index "%d" of the property "Author" is
    // not in the range 0-54".
    void SetAuthor(std::u16string_view author);

    // The comment box's client data record; null when the drawing has no
    // comment object of the NOTE's id for it (the NOTE is then kept as
    // read, its text empty).
    TEscherClientDataRecord* Link = nullptr;

protected:
    std::unique_ptr<TBaseRecord> NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const override;
};

class TNoteList {
public:
    void Add(std::unique_ptr<TBaseRecord> record);
    void Clear() { FNotes.clear(); }
    bool Empty() const { return FNotes.empty(); }
    void SaveToStream(TOle2File& ole) const;
    std::int64_t TotalSize() const;
    // Copies the records; the copy binds to its own drawing.
    void CopyFrom(const TNoteList& source);
    // Binds each NOTE to the comment object of its id that no other NOTE
    // holds, in record order; pictures and other objects are never bound.
    // The drawing learns which boxes the notes own.
    void FixDwgIds(TDrawing& drawing);

    // The comment boxes of the bound notes: the drawing's own rules leave
    // them to their notes.
    void TellDrawing(TDrawing& drawing) const;

    // Rows (columns) from pos on move by count, negative for deletions.
    // Notes in deleted lines go with their boxes; a box moves with its note
    // when its first row (column) is at or after pos, its size kept and
    // the whole of it on the sheet. CheckInsert refuses, before any change,
    // a note pushed past the sheet ("Too many entries for this kind of
    // record (%d out of a maximum of %d)"), CheckDelete boxes that may not
    // be removed.
    void CheckInsert(int pos, int count, bool columns) const;
    void CheckDelete(int pos, int count, bool columns, const TDrawing& drawing) const;
    void ArrangeInsert(int pos, int count, bool columns, TDrawing& drawing, const TEscherSheet& sheet);
    // Copies the notes of lines first..last (already moved by the insert)
    // copies times to dest on, each with a copy of its box (a new object
    // id).
    void CopyLines(int first, int last, int dest, int copies, bool columns, TDrawing& drawing,
                   const TEscherSheet& sheet);

    // A new note on the cell (rows and columns from 0; outside the sheet
    // "The index "%d" of the property "Row" is not in the range 0-65535",
    // or "Column" and 0-255) with a new comment box where the properties
    // say, holding the text; no author.
    TNoteRecord& AddNewComment(int row, int column, std::u16string_view text, const TImageProperties& box,
                               TDrawing& drawing, const TEscherSheet& sheet);
    // The note's text: empty text removes the note and its box; a note
    // without box gets a new one (below and right of its cell), keeping
    // its author.
    void SetText(const TNoteRecord& note, std::u16string_view text, TDrawing& drawing, const TEscherSheet& sheet);

    // The notes of a row by column; the note of a cell; null when none.
    std::vector<TNoteRecord*> InRow(int row) const;
    TNoteRecord* At(int row, int column) const;
    const std::vector<std::unique_ptr<TNoteRecord>>& Items() const { return FNotes; }

    // The text of a bound note's comment box; empty for an unbound one.
    static TRichString GetText(const TNoteRecord& note);

private:
    std::vector<std::unique_ptr<TNoteRecord>> FNotes;
};

}  // namespace kalmira
