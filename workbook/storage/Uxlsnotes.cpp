#include "workbook/storage/Uxlsnotes.h"

#include <algorithm>
#include <set>

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

void TNoteList::FixDwgIds(const TDrawing& drawing) {
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
