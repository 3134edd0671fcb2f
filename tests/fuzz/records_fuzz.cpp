// Record-walk fuzzing: the input becomes the "Workbook" stream of a small
// container, is walked into records, read along every CONTINUE chain with
// ReadMem and ReadStr at sizes taken from the data, SST records loaded into
// a string table, labels attached, multiple-value records split and every
// cell's value read; all is written back into memory, and the bytes
// written must equal the summed sizes. Copies of the ROW and cell records
// also go into a sheet's cell storage, which is saved, has rows and columns
// inserted and deleted, and is saved again, each time at its computed size.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <vector>

#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsSST.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlscellrecords.h"

using namespace kalmira;

namespace {

void Put32(std::vector<std::uint8_t>& d, std::size_t pos, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) d[pos + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Header, FAT sector 0, directory sector 1, an empty "Workbook" in 2..9.
std::vector<std::uint8_t> Container() {
    std::vector<std::uint8_t> d(512 * 11, 0);
    const std::uint8_t sig[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1, 0, 0, 0, 0, 0, 0, 0, 0,
                                0,    0,    0,    0,    0,    0,    0,    0,    0x3E, 0, 3, 0, 0xFE, 0xFF, 9, 0, 6, 0};
    std::copy(std::begin(sig), std::end(sig), d.begin());
    Put32(d, 0x2C, 1);
    Put32(d, 0x30, 1);
    Put32(d, 0x38, 4096);
    Put32(d, 0x3C, ENDOFCHAIN);
    Put32(d, 0x44, ENDOFCHAIN);
    for (int i = 0; i < 109; ++i) Put32(d, 0x4C + 4 * i, i == 0 ? 0 : FREESECT);
    const std::size_t fat = 512, dir = 1024;
    for (int i = 0; i < 128; ++i) Put32(d, fat + 4 * i, FREESECT);
    Put32(d, fat, FATSECT);
    Put32(d, fat + 4, ENDOFCHAIN);
    for (int s = 2; s < 10; ++s) Put32(d, fat + 4 * s, s == 9 ? ENDOFCHAIN : s + 1);
    auto entry = [&](int index, const char16_t* name, std::uint8_t type, std::uint32_t child, std::uint32_t start,
                     std::uint32_t size) {
        const std::size_t e = dir + 128 * index;
        std::size_t n = 0;
        for (; name[n]; ++n) d[e + 2 * n] = static_cast<std::uint8_t>(name[n]);
        d[e + 64] = static_cast<std::uint8_t>(2 * n + 2);
        d[e + 66] = type;
        d[e + 67] = 1;
        Put32(d, e + 68, FREESECT);
        Put32(d, e + 72, FREESECT);
        Put32(d, e + 76, child);
        Put32(d, e + 116, start);
        Put32(d, e + 120, size);
    };
    entry(0, u"Root Entry", 5, 1, ENDOFCHAIN, 0);
    entry(1, u"Workbook", 2, FREESECT, 2, 4096);
    for (int i = 2; i < 4; ++i) {
        Put32(d, dir + 128 * i + 68, FREESECT);
        Put32(d, dir + 128 * i + 72, FREESECT);
        Put32(d, dir + 128 * i + 76, FREESECT);
    }
    return d;
}

// Reads a record's chain as values and strings of sizes taken from its data.
void ReadAlong(const TBaseRecord& record) {
    const TBaseRecord* at = &record;
    int pos = 0;
    try {
        for (std::size_t step = 0; step < 64; ++step) {
            const std::uint8_t size = record.Data.empty() ? 1 : record.Data[step % record.Data.size()];
            if (step % 2) {
                ReadMem(at, pos, size % 17, nullptr);
            } else {
                std::string s;
                std::u16string w;
                std::uint8_t flags = size & 1, piece = flags;
                std::int64_t done = 0;
                ReadStr(at, pos, s, w, flags, piece, done, size);
            }
        }
    } catch (const Exception&) {
        // Reading past the chain fails with its message.
    }
}

// The classes' own reading: values, texts, the string table.
void Interpret(TBaseRecord& record, TSST& sst, TBaseRecordList& list) {
    try {
        if (auto* table = dynamic_cast<TSSTRecord*>(&record)) table->GetCount(), sst.Load(*table);
        if (auto* label = dynamic_cast<TLabelSSTRecord*>(&record)) label->AttachToSST(sst);
        if (auto* cell = dynamic_cast<TCellRecord*>(&record)) cell->GetValue();
        if (auto* mul = dynamic_cast<TMultipleValueRecord*>(&record))
            while (!mul->Eof()) list.Add(mul->ExtractOneRecord());
    } catch (const Exception&) {
        // Refused input: the message is the expected outcome.
    }
}

// Copies of the walked ROW and cell records in a sheet's cells.
void AddToCells(const TBaseRecord& record, TCells& cells) {
    try {
        if (auto* row = dynamic_cast<const TRowRecord*>(&record))
            cells.AddRow(std::unique_ptr<TRowRecord>(static_cast<TRowRecord*>(row->CopyTo().release())));
        else if (auto* cell = dynamic_cast<const TCellRecord*>(&record))
            cells.AddCell(std::unique_ptr<TCellRecord>(static_cast<TCellRecord*>(cell->CopyTo().release())));
    } catch (const Exception&) {
        // Refused input: the message is the expected outcome.
    }
}

void SaveCells(TOle2File& ole, TCells& cells) {
    cells.FixRows();
    const std::int64_t start = ole.Position();
    cells.SaveToStream(ole);
    if (ole.Position() - start != cells.TotalSize()) std::abort();
}

void ChangeCells(TCells& cells) {
    TSheetInfo info;
    info.InsSheet = info.FormulaSheet = 0;
    const std::function<void()> changes[] = {
        [&] { cells.InsertAndCopyRows(0, 1, 3, 2, info, false); },
        [&] { cells.InsertAndCopyCols(0, 1, 3, 2, info, true); },
        [&] { cells.DeleteRows(1, 2, info); },
        [&] { cells.DeleteCols(1, 1, info); },
        [&] { cells.CellList().SetValueX2(2, 2, {TVariant(1.5), -1, false}, {}, false); },
    };
    for (const auto& change : changes) {
        try {
            change();
        } catch (const Exception&) {
            // Refused: the sheet is as it was.
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::uint8_t> container = Container();
    try {
        TKmrMemoryStream source(container), stream;
        {
            TOle2File ole(&source);
            ole.PrepareForWrite(&stream, u"Workbook");
            ole.WriteMem(data, size);
            ole.FinishStream();
        }
        stream.Seek(0);
        TKmrMemoryStream out;  // outlives the container, whose destructor finishes into it
        TOle2File ole(&stream);
        ole.SelectStream(u"Workbook");
        TSST sst;  // outlives the labels in the list
        TBaseRecordList list;
        TCells cells(&sst, nullptr);
        WalkRecords(ole, [&](std::unique_ptr<TBaseRecord> record) {
            ReadAlong(*record);
            Interpret(*record, sst, list);
            AddToCells(*record, cells);
            list.Add(std::move(record));
        });
        sst.Sort();
        ole.PrepareForWrite(&out, u"Workbook");
        list.SaveToStream(ole);
        if (ole.Position() != list.GetTotalSize()) std::abort();
        sst.SaveToStream(ole);
        if (ole.Position() != list.GetTotalSize() + sst.TotalSize()) std::abort();
        SaveCells(ole, cells);
        ChangeCells(cells);
        SaveCells(ole, cells);
    } catch (const Exception&) {
        // Refused input: the message is the expected outcome.
    }
    return 0;
}
