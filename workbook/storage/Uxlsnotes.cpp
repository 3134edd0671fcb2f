#include "workbook/storage/Uxlsnotes.h"

#include <algorithm>
#include <set>
#include <typeinfo>

namespace kalmira {

namespace {

// The author: a character count, a flag byte (bit 0: 16-bit characters),
// the characters.
std::size_t AuthorEnd(const std::vector<std::uint8_t>& data) {
    const std::size_t count = GetWord(data, 8);
    return 11 + count * ((data[10] & 1) ? 2 : 1);
}

// The comment box's text box, through the shape the client data belongs to.
TPlainClientData* TextOf(const TEscherClientDataRecord& link) {
    auto* shape = dynamic_cast<TEscherContainerRecord*>(const_cast<TEscherClientDataRecord&>(link).FindRoot());
    if (!shape) return nullptr;
    auto* box = shape->FindRec<TEscherClientTextBoxRecord>();
    return box ? dynamic_cast<TPlainClientData*>(box->ClientData()) : nullptr;
}

}  // namespace

TNoteRecord::TNoteRecord(std::uint16_t id, std::vector<std::uint8_t> data) : TBaseRecord(id, std::move(data)) {
    if (Data.size() < 11 || AuthorEnd(Data) > Data.size()) Raise(ErrWrongExcelRecord, Id);
}

std::unique_ptr<TBaseRecord> TNoteRecord::NewOfSameClass(std::uint16_t id, std::vector<std::uint8_t> data) const {
    return std::make_unique<TNoteRecord>(id, std::move(data));
}

void TNoteRecord::SetRowAndColumn(int row, int column) {
    SetWord(Data, 0, static_cast<std::uint16_t>(row));
    SetWord(Data, 2, static_cast<std::uint16_t>(column));
}

std::u16string TNoteRecord::GetAuthor() const {
    const std::size_t count = GetWord(Data, 8);
    std::u16string author;
    for (std::size_t k = 0; k < count; ++k)
        author.push_back((Data[10] & 1) ? GetWord(Data, 11 + 2 * k) : Data[11 + k]);
    return author;
}

void TNoteRecord::SetAuthor(std::u16string_view author) {
    if (author.size() > 54) Raise(ErrXlsIndexOutBounds, static_cast<int>(author.size()), "Author", 0, 54);
    bool wide = false;
    for (char16_t c : author) wide = wide || c > 0xFF;
    std::vector<std::uint8_t> data(Data.begin(), Data.begin() + 8);
    data.push_back(static_cast<std::uint8_t>(author.size()));
    data.push_back(0);
    data.push_back(wide ? 1 : 0);
    for (char16_t c : author) {
        data.push_back(static_cast<std::uint8_t>(c));
        if (wide) data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.push_back(0);
    Data = std::move(data);
}

TNoteRecord& TNoteList::AddNewComment(int row, int column, std::u16string_view text, const TImageProperties& box,
                                      TDrawing& drawing, const TEscherSheet& sheet) {
    if (row < 0 || row > 65535) Raise(ErrXlsIndexOutBounds, row, "Row", 0, 65535);
    if (column < 0 || column > 255) Raise(ErrXlsIndexOutBounds, column, "Column", 0, 255);
    if (text.size() > 65535) Raise(ErrXlsIndexOutBounds, static_cast<int>(text.size()), "Text", 0, 65535);
    // Row, column, options 0 (not shown), object id, an empty author, a pad.
    std::vector<std::uint8_t> data(12);
    auto note = std::make_unique<TNoteRecord>(xlr_NOTE, std::move(data));
    note->SetRowAndColumn(row, column);
    note->Link = drawing.AddNewComment(
        box, sheet, [](std::uint16_t id) { return TPlainClientData::NewNoteObj(id); },
        [](std::uint16_t) { return TPlainClientData::NewTxo(); });
    note->SetObjId(note->Link->ObjId());
    TextOf(*note->Link)->SetValue(text);
    FNotes.push_back(std::move(note));
    TellDrawing(drawing);
    return *FNotes.back();
}

void TNoteList::SetText(const TNoteRecord& note, std::u16string_view text, TDrawing& drawing,
                        const TEscherSheet& sheet) {
    const auto it = std::find_if(FNotes.begin(), FNotes.end(), [&](const auto& n) { return n.get() == &note; });
    if (it == FNotes.end()) Raise(ErrInternal);
    TPlainClientData* box = note.Link ? TextOf(*note.Link) : nullptr;
    if (text.size() > 65535) Raise(ErrXlsIndexOutBounds, static_cast<int>(text.size()), "Text", 0, 65535);
    if (box && !text.empty()) return box->SetValue(text);
    if (text.empty()) {
        if (note.Link) drawing.DeleteShape(note.Link->FindRoot());
        FNotes.erase(it);
        return TellDrawing(drawing);
    }
    // A note without box: a new comment in its place, with its author.
    const int row = note.GetRow(), column = note.GetColumn();
    const TImageProperties place{std::min(column + 1, 255), 0, std::max(row - 1, 0), 0, std::min(column + 3, 255),
                                 0, std::min(row + 3, 65535), 0, {}};
    const std::u16string author = note.GetAuthor();
    TNoteRecord& added = AddNewComment(row, column, text, place, drawing, sheet);
    added.SetAuthor(author);
    FNotes.erase(std::find_if(FNotes.begin(), FNotes.end(), [&](const auto& n) { return n.get() == &note; }));
}

void TNoteList::Add(std::unique_ptr<TBaseRecord> record) {
    FNotes.push_back(std::make_unique<TNoteRecord>(record->Id, std::move(record->Data)));
}

void TNoteList::SaveToStream(TOle2File& ole) const {
    for (const auto& note : FNotes) note->SaveToStream(ole);
}

std::int64_t TNoteList::TotalSize() const {
    std::int64_t size = 0;
    for (const auto& note : FNotes) size += note->TotalSize();
    return size;
}

void TNoteList::CopyFrom(const TNoteList& source) {
    FNotes.clear();
    for (const auto& note : source.FNotes)
        FNotes.push_back(std::make_unique<TNoteRecord>(note->Id, note->Data));
}

void TNoteList::FixDwgIds(TDrawing& drawing) {
    std::set<const TEscherClientDataRecord*> taken;
    for (const auto& note : FNotes) {
        note->Link = nullptr;
        if (drawing.Empty()) continue;
        for (TEscherClientDataRecord* record : drawing.Cache()->Obj.Items()) {
            const auto* data = dynamic_cast<const TPlainClientData*>(record->ClientData());
            if (!data || data->ObjType() != ObjTypeComment || data->GetId() != note->ObjId() || taken.count(record))
                continue;
            note->Link = record;
            taken.insert(record);
            break;
        }
    }
    TellDrawing(drawing);
}

void TNoteList::TellDrawing(TDrawing& drawing) const {
    std::vector<const TEscherRecord*> owned;
    for (const auto& note : FNotes)
        if (note->Link) owned.push_back(note->Link->FindRoot());
    drawing.SetOwnedShapes(std::move(owned));
}

namespace {
int LineOf(const TNoteRecord& note, bool columns) { return columns ? note.GetColumn() : note.GetRow(); }
}  // namespace

void TNoteList::CheckInsert(int pos, int count, bool columns) const {
    const int max = columns ? 255 : 65535;
    for (const auto& note : FNotes)
        if (LineOf(*note, columns) >= pos && LineOf(*note, columns) + count > max)
            Raise(ErrTooManyEntries, LineOf(*note, columns) + count, max);
}

void TNoteList::CheckDelete(int pos, int count, bool columns, const TDrawing& drawing) const {
    for (const auto& note : FNotes) {
        const int line = LineOf(*note, columns);
        if (note->Link && line >= pos && line < pos + count && drawing.Cache()->Solver)
            drawing.Cache()->Solver->CheckShapesMayChange();
    }
}

void TNoteList::ArrangeInsert(int pos, int count, bool columns, TDrawing& drawing, const TEscherSheet& sheet) {
    if (count == 0) return;
    for (auto it = FNotes.begin(); it != FNotes.end();) {
        TNoteRecord& note = **it;
        const int line = LineOf(note, columns);
        if (count < 0 && line >= pos && line < pos - count) {
            if (note.Link) drawing.DeleteShape(note.Link->FindRoot());
            it = FNotes.erase(it);
            continue;
        }
        if (line >= pos)
            columns ? note.SetRowAndColumn(note.GetRow(), line + count) : note.SetRowAndColumn(line + count, note.GetColumn());
        if (TEscherRecord* box = note.Link ? note.Link->FindRoot() : nullptr) {
            const auto* shape = dynamic_cast<const TEscherSpContainerRecord*>(box);
            const int first = shape ? (columns ? shape->Col() : shape->Row()) : 0;
            const int by = first >= pos ? count : 0;
            drawing.MoveShape(*box, columns ? 0 : by, columns ? by : 0, sheet);
        }
        ++it;
    }
    TellDrawing(drawing);
}

void TNoteList::CopyLines(int first, int last, int dest, int copies, bool columns, TDrawing& drawing,
                          const TEscherSheet& sheet) {
    std::vector<const TNoteRecord*> source;
    for (const auto& note : FNotes)
        if (LineOf(*note, columns) >= first && LineOf(*note, columns) <= last) source.push_back(note.get());
    const int block = last - first + 1;
    std::vector<std::unique_ptr<TNoteRecord>> added;
    for (int k = 0; k < copies; ++k) {
        const int offset = dest + k * block - first;
        for (const TNoteRecord* note : source) {
            auto copy = std::make_unique<TNoteRecord>(note->Id, note->Data);
            copy->SetRowAndColumn(note->GetRow() + (columns ? 0 : offset), note->GetColumn() + (columns ? offset : 0));
            if (note->Link) {
                // The copy of the note's shape; in a damaged drawing the client
                // data may stand alone, without a shape container around it.
                TEscherRecord* copied = note->Link->CopyDwg(columns ? 0 : offset, columns ? offset : 0, &sheet);
                if (typeid(*copied) == typeid(TEscherClientDataRecord))
                    copy->Link = static_cast<TEscherClientDataRecord*>(copied);
                else if (auto* box = dynamic_cast<TEscherContainerRecord*>(copied))
                    for (std::size_t i = 0; i < box->Children().Count() && !copy->Link; ++i)
                        if (typeid(*box->Children()[i]) == typeid(TEscherClientDataRecord))
                            copy->Link = static_cast<TEscherClientDataRecord*>(box->Children()[i]);
                if (copy->Link) copy->SetObjId(copy->Link->ObjId());
            }
            added.push_back(std::move(copy));
        }
    }
    for (auto& note : added) FNotes.push_back(std::move(note));
    TellDrawing(drawing);
}

std::vector<TNoteRecord*> TNoteList::InRow(int row) const {
    std::vector<TNoteRecord*> out;
    for (const auto& note : FNotes)
        if (note->GetRow() == row) out.push_back(note.get());
    std::stable_sort(out.begin(), out.end(), [](auto* a, auto* b) { return a->GetColumn() < b->GetColumn(); });
    return out;
}

TNoteRecord* TNoteList::At(int row, int column) const {
    for (const auto& note : FNotes)
        if (note->GetRow() == row && note->GetColumn() == column) return note.get();
    return nullptr;
}

TRichString TNoteList::GetText(const TNoteRecord& note) {
    const TPlainClientData* text = note.Link ? TextOf(*note.Link) : nullptr;
    return text ? text->GetValue() : TRichString{};
}

}  // namespace kalmira
