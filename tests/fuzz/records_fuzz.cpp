// Record-walk fuzzing: the input becomes the "Workbook" stream of a small
// container, is walked into records, read along every CONTINUE chain with
// ReadMem and ReadStr at sizes taken from the data, SST records loaded into
// a string table, labels attached, multiple-value records split, every
// cell's value and the setting records read through their accessors,
// formulas bound to their STRING and expanded from their SHRFMLA; all is
// written back into memory, and the bytes written must equal the summed
// sizes. Copies of the ROW and cell records
// also go into a sheet's cell storage, which is saved, has rows and columns
// inserted and deleted, and is saved again, each time at its computed size.
// The stream's first section also loads into the workbook globals, which
// are changed and saved at their computed size.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <vector>

#include "tests/workbook/cells/FormulaBinding.h"
#include "tests/workbook/storage/TinyContainer.h"
#include "workbook/cells/UXlsFormula.h"
#include "tests/workbook/storage/SSTGlobals.h"
#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsSettingRecords.h"
#include "workbook/storage/UXlsWorkbookGlobals.h"
#include "workbook/storage/UXlsSST.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlscellrecords.h"

using namespace kalmira;

namespace {

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

// The setting accessors that read more than one fixed field.
void ReadSettings(const TBaseRecord& record) {
    try {
        if (auto* text = dynamic_cast<const TPageHeaderFooterRecord*>(&record)) text->GetText();
        if (auto* scl = dynamic_cast<const TSCLRecord*>(&record)) scl->GetZoom();
        if (auto* pls = dynamic_cast<const TPlsRecord*>(&record)) pls->GetPrinterDriverSettings();
        if (auto* margin = dynamic_cast<const TMarginRecord*>(&record)) margin->GetValue();
        if (auto* setup = dynamic_cast<const TSetupRecord*>(&record)) {
            setup->GetScale();
            setup->GetFooterMargin();
            setup->GetValue();
        }
    } catch (const Exception&) {
        // Fields outside the record fail with their message.
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

// Refused changes leave the input as it was: their message is the outcome.
void TryEach(std::initializer_list<std::function<void()>> changes) {
    for (const auto& change : changes) {
        try {
            change();
        } catch (const Exception&) {
        }
    }
}

void ChangeCells(TCells& cells) {
    TSheetInfo info;
    info.InsSheet = info.FormulaSheet = 0;
    TryEach({[&] { cells.InsertAndCopyRows(0, 1, 3, 2, info, false); },
             [&] { cells.InsertAndCopyCols(0, 1, 3, 2, info, true); }, [&] { cells.DeleteRows(1, 2, info); },
             [&] { cells.DeleteCols(1, 1, info); },
             [&] { cells.CellList().SetValueX2(2, 2, {TVariant(1.5), -1, false}, {}, false); }});
}

void GlobalsRoundTrip(const std::vector<std::uint8_t>& file) {
    TKmrMemoryStream in(file), out;
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    TWorkbookGlobals globals;
    try {
        TRecordHeader header{};
        ReadRecordHeader(ole, header);
        auto first = LoadRecords(ole, header);
        if (!dynamic_cast<TBOFRecord*>(first.get())) return;
        globals.LoadFromStream(ole, header, std::unique_ptr<TBOFRecord>(static_cast<TBOFRecord*>(first.release())),
                               globals.SST());
    } catch (const Exception&) {
        return;
    }
    const std::uint8_t tokens[] = {0x1E, 1, 0};
    TGlobalsAccess& access = globals.Access();
    const TReferencesMark mark = access.MarkReferences();
    TryEach({[&] { (void)access.GetSheetName(0); }, [&] { (void)access.GetSheetName(1); },
             [&] { (void)access.GetName(0, 0); }, [&] { (void)access.GetName(-1, 0); },
             [&] { (void)(globals.SheetInfo(0, 0).GetSheet(1) + access.AddExternSheet(0, 0)); }});
    access.RestoreReferences(mark);
    TryEach({[&] { globals.SetSheetName(0, u"a/b"); }, [&] { globals.SetColorPalette(3, 0x123456); },
             [&] { globals.AddName({u"N", u"", 0, 0}, tokens); }, [&] { globals.InsertSheets(0, 1, 2, u"S", 0); },
             [&] { globals.DeleteSheets(0, 1); }});
    globals.SST().FixRefs();
    ole.PrepareForWrite(&out, u"Workbook");
    globals.SaveToStream(ole);
    if (ole.Position() != globals.TotalSize()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::vector<std::uint8_t> container = ole2test::TinyContainer();
    static const bool registered = (RegisterFormulaRecords(), true);
    (void)registered;
    try {
        TKmrMemoryStream source(container), stream;
        {
            TOle2File ole(&source);
            ole.PrepareForWrite(&stream, u"Workbook");
            ole.WriteMem(data, size);
            ole.FinishStream();
        }
        stream.Seek(0);
        TKmrMemoryStream out;
        TOle2File ole(&stream);
        ole.SelectStream(u"Workbook");
        TSSTGlobals sst;  // outlives the labels in the list
        TBaseRecordList list;
        TCells cells(&sst, nullptr);
        formulatest::TFormulaBinding formulas;
        WalkRecords(ole, [&](std::unique_ptr<TBaseRecord> record) {
            ReadAlong(*record);
            Interpret(*record, sst, list);
            ReadSettings(*record);
            AddToCells(*record, cells);
            if (formulas.Bind(record, list)) list.Add(std::move(record));
        });
        formulas.Expand(list);
        sst.Sort();
        ole.PrepareForWrite(&out, u"Workbook");
        list.SaveToStream(ole);
        if (ole.Position() != list.GetTotalSize()) std::abort();
        sst.SaveToStream(ole);
        if (ole.Position() != list.GetTotalSize() + sst.TotalSize()) std::abort();
        SaveCells(ole, cells);
        ChangeCells(cells);
        SaveCells(ole, cells);
        GlobalsRoundTrip(stream.Bytes());
    } catch (const Exception&) {
        // Refused input: the message is the expected outcome.
    }
    return 0;
}
