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
// are changed and saved at their computed size; every section after it
// loads into its sheet class, is saved, changed through the sheet's
// setters (merges among them, its hyperlinks decoded and encoded again,
// columns inserted and deleted, breaks and outlines set) and row and
// column changes, copied, and saved again, each at its computed size. Last
// the stream loads into a workbook, has merges, rows and columns of its
// first sheet copied and deleted and breaks added through it (so other
// sheets and names follow), and is saved (checking every offset and the
// size itself); what it saved must load again. Loaded with its worksheets
// side by side, the stream gives the cells (or the refusal) it gives
// loaded in turn.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzSupport.h"
#include "tests/workbook/cells/FormulaBinding.h"
#include "tests/workbook/storage/TinyContainer.h"
#include "workbook/cells/UXlsFormula.h"
#include "tests/workbook/storage/SSTGlobals.h"
#include "workbook/cells/UXlsRowColEntries.h"
#include "workbook/storage/UKmrMessages.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsSettingRecords.h"
#include "workbook/storage/UXlsWorkbook.h"
#include "workbook/storage/UXlsWorkbookGlobals.h"
#include "workbook/storage/UXlsSST.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/Uxlscellrecords.h"
#include "workbook/storage/Uxlssheet.h"

using namespace kalmira;
using fuzzsupport::TryEach;

namespace {

// Reads a record's chain as values and strings of sizes taken from its data.
// Reading past the chain fails with its message.
void ReadAlong(const TBaseRecord& record) {
    const TBaseRecord* at = &record;
    int pos = 0;
    TryEach({[&] {
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
    }});
}

// The classes' own reading (values, texts, the string table), the setting
// accessors that read more than one fixed field, and copies of the ROW and
// cell records in a sheet's cells.
void Interpret(TBaseRecord& record, TSST& sst, TBaseRecordList& list, TCells& cells) {
    TryEach({[&] {
                 if (auto* table = dynamic_cast<TSSTRecord*>(&record)) table->GetCount(), sst.Load(*table);
                 if (auto* label = dynamic_cast<TLabelSSTRecord*>(&record)) label->AttachToSST(sst);
                 if (auto* cell = dynamic_cast<TCellRecord*>(&record)) cell->GetValue();
                 if (auto* mul = dynamic_cast<TMultipleValueRecord*>(&record))
                     while (!mul->Eof()) list.Add(mul->ExtractOneRecord());
             },
             [&] {
                 if (auto* text = dynamic_cast<const TPageHeaderFooterRecord*>(&record)) text->GetText();
                 if (auto* scl = dynamic_cast<const TSCLRecord*>(&record)) scl->GetZoom();
                 if (auto* pls = dynamic_cast<const TPlsRecord*>(&record)) pls->GetPrinterDriverSettings();
                 if (auto* margin = dynamic_cast<const TMarginRecord*>(&record)) margin->GetValue();
                 if (auto* setup = dynamic_cast<const TSetupRecord*>(&record))
                     setup->GetScale(), setup->GetFooterMargin(), setup->GetValue();
             },
             [&] {
                 if (auto* row = dynamic_cast<const TRowRecord*>(&record))
                     cells.AddRow(std::unique_ptr<TRowRecord>(static_cast<TRowRecord*>(row->CopyTo().release())));
                 else if (auto* cell = dynamic_cast<const TCellRecord*>(&record))
                     cells.AddCell(std::unique_ptr<TCellRecord>(static_cast<TCellRecord*>(cell->CopyTo().release())));
             }});
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
    TryEach({[&] { cells.InsertAndCopyRows(0, 1, 3, 2, info, false); },
             [&] { cells.InsertAndCopyCols(0, 1, 3, 2, info, true); }, [&] { cells.DeleteRows(1, 2, info); },
             [&] { cells.DeleteCols(1, 1, info); },
             [&] { cells.CellList().SetValueX2(2, 2, {TVariant(1.5), -1, false}, {}, false); }});
}

void SaveSheet(TOle2File& ole, TSheet& sheet) {
    sheet.FixRows();
    const std::int64_t start = ole.Position(), size = sheet.FixTotalSize(false);
    sheet.SaveToStream(ole);
    if (ole.Position() - start != size) std::abort();
}

// Every link of a worksheet decoded and written again; one more added.
void ChangeLinks(TSheet& sheet) {
    auto* work = dynamic_cast<TWorkSheet*>(&sheet);
    if (!work) return;
    for (int i = 0; i < work->HyperLinkCount(); ++i)
        TryEach({[&] { work->SetHyperLink(i, work->GetHyperLink(i)); }});
    work->AddHyperLink({3, 2, 1, 0}, {THyperLinkType::hl_LocalFile, u"d", u"", u"m", u"..\\\u0159", u"t"});
}

// info names sheet 0 as changed and sheet 1 as the one holding formulas.
void ChangeSheet(TSheet& sheet, const TSheetInfo& info) {
    ChangeLinks(sheet);
    TSheetInfo own = info;
    own.FormulaSheet = own.InsSheet;
    TryEach({[&] { sheet.FreezePanes(2, 1); }, [&] { sheet.SetSheetZoom(75); },
             [&] { sheet.SetMargins({1, 2, 3, 4, 5, 6}); }, [&] { sheet.SetPageHeader(u"&Cx"); },
             [&] { sheet.SetPrinterDriverSettings({0, {1, 2}}); }, [&] { sheet.SetCodeName(u"Kód"); },
             [&] { sheet.InsertAndCopyRowsAndCols(0, 1, 3, 1, 0, 0, 0, 0, own, false); },
             [&] { sheet.DeleteRowsAndCols(0, 0, 1, 1, own); }, [&] { sheet.DeleteRowsAndCols(1, 1, 0, 0, own); },
             [&] { sheet.InsertAndCopyRowsAndCols(0, 0, 0, 0, 0, 1, 2, 1, own, false); },
             [&] { sheet.MergeCells(0, 0, 2, 1); }, [&] { sheet.UnMergeCells(2, 1, 0, 0); },
             [&] { sheet.ArrangeInsertRowsAndCols(1, 1, 0, 0, info); }, [&] { sheet.SplitWindow(1, 0); },
             [&] { sheet.InsertHPageBreak(2); }, [&] { sheet.InsertVPageBreak(1); }});
    if (auto* work = dynamic_cast<TWorkSheet*>(&sheet))
        TryEach({[&] { work->SetColWidth(2, 3000); }, [&] { work->SetColHidden(4, true); },
                 [&] { work->SetColOutlineLevel(1, 2); }, [&] { work->SetRowOutlineLevel(1, 1); }});
}

// The sections after the globals, each in the class its BOF names, up to
// the first one refused.
std::vector<std::unique_ptr<TSheet>> LoadSheets(TOle2File& ole, TRecordHeader& header, TWorkbookGlobals& globals) {
    std::vector<std::unique_ptr<TSheet>> sheets;
    try {
        while (!ole.NextEof(3) && header.Id == xlr_BOF) {
            auto record = LoadRecords(ole, header);
            std::unique_ptr<TBOFRecord> bof(static_cast<TBOFRecord*>(record.release()));
            auto sheet = NewSheetOfType(&globals, bof->GetBOFType());
            sheet->LoadFromStream(ole, header, std::move(bof), globals.SST());
            sheets.push_back(std::move(sheet));
        }
    } catch (const Exception&) {
        // The refused section and those after it stay out.
    }
    return sheets;
}

void SaveSheets(TOle2File& out, std::vector<std::unique_ptr<TSheet>>& sheets, const TSheetInfo& info) {
    for (auto& sheet : sheets) {
        SaveSheet(out, *sheet);
        ChangeSheet(*sheet, info);
        SaveSheet(out, *sheet);
        TryEach({[&] { SaveSheet(out, *sheet->CopyTo()); }, [&] {
                     if (auto* work = dynamic_cast<TWorkSheet*>(sheet.get())) work->ClearValues();
                 }});
        SaveSheet(out, *sheet);
    }
}

void GlobalsRoundTrip(const std::vector<std::uint8_t>& file) {
    TKmrMemoryStream in(file), out;
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    TWorkbookGlobals globals;
    TRecordHeader header{};
    try {
        ReadRecordHeader(ole, header);
        auto first = LoadRecords(ole, header);
        if (!dynamic_cast<TBOFRecord*>(first.get())) return;
        globals.LoadFromStream(ole, header, std::unique_ptr<TBOFRecord>(static_cast<TBOFRecord*>(first.release())),
                               globals.SST());
    } catch (const Exception&) {
        return;
    }
    auto sheets = LoadSheets(ole, header, globals);
    globals.SST().Sort();  // every label has attached by file index
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
    SaveSheets(ole, sheets, globals.SheetInfo(0, 1));
}

// Every value cell of the worksheets, one text each: sheet, row, column,
// the value's kind and its bits (a double's) or text.
std::vector<std::string> CellsOf(TWorkbook& book) {
    std::vector<std::string> out;
    for (int s = 0; s < book.SheetCount(); ++s) {
        if (!book.IsWorksheet(s)) continue;
        const TCellList& cells = book.WorkSheets(s).Cells().CellList();
        for (std::size_t row = 0; row < cells.Count(); ++row) {
            const TCellRecordList* list = cells.GetItems(row);
            for (std::size_t i = 0; list && i < list->Count(); ++i) {
                const TVariant value = list->GetItems(i)->GetValue();
                if (value.IsEmpty()) continue;
                std::string text = std::to_string(s) + ' ' + std::to_string(row) + ' ' +
                                   std::to_string(list->GetItems(i)->GetColumn()) + ' ' +
                                   std::to_string(static_cast<int>(value.VarType())) + ' ';
                if (value.VarType() == TVarType::Double) {
                    const double real = value.RealValue();
                    text.append(reinterpret_cast<const char*>(&real), sizeof real);
                } else {
                    const std::u16string wide = VariantToString(value);
                    text.append(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(char16_t));
                }
                out.push_back(std::move(text));
            }
        }
    }
    return out;
}

// Loads a saved workbook stream again and asks `same` of it; a saved file
// that does not load, or loads otherwise, is a fault.
template <class Same>
void ReloadOrAbort(TKmrMemoryStream& out, Same same) {
    try {
        TKmrMemoryStream saved(out.Bytes());
        TOle2File again(&saved);
        again.SelectStream(u"Workbook");
        TWorkbook reloaded;
        reloaded.LoadFromStream(again);
        if (!same(reloaded)) std::abort();
    } catch (const Exception&) {
        std::abort();
    }
}

// A stream opened and loaded into a workbook: its cells, or the refusal.
struct TLoaded {
    explicit TLoaded(const std::vector<std::uint8_t>& file) : In(file), Ole(&In) {
        Ole.SelectStream(u"Workbook");
        try {
            Book.LoadFromStream(Ole);
            Cells = CellsOf(Book);
            Ok = true;
        } catch (const Exception& e) {
            Cells = {std::string("refused: ") + e.what()};
        }
    }
    TKmrMemoryStream In;
    TOle2File Ole;
    TWorkbook Book;
    std::vector<std::string> Cells;
    bool Ok = false;
};

// Whatever loads saves a file that loads again with the same cells: a
// save the engine refuses is an outcome, a file it cannot read back or
// reads otherwise is a fault.
void SameCellsRoundTrip(const std::vector<std::uint8_t>& file) {
    TKmrMemoryStream out;  // outlives the container, which may finish into it
    std::vector<std::string> cells;
    {
        TLoaded loaded(file);
        if (!loaded.Ok) return;
        cells = loaded.Cells;
        try {
            loaded.Ole.PrepareForWrite(&out, u"Workbook");
            loaded.Book.SaveToStream(loaded.Ole);
            loaded.Ole.FinishStream();
        } catch (const Exception&) {
            return;
        }
    }
    ReloadOrAbort(out, [&](TWorkbook& reloaded) { return CellsOf(reloaded) == cells; });
}

// What a loaded workbook saves into out, or the refusal.
std::vector<std::uint8_t> Saved(TLoaded& loaded, TKmrMemoryStream& out) {
    try {
        loaded.Ole.PrepareForWrite(&out, u"Workbook");
        loaded.Book.SaveToStream(loaded.Ole);
        loaded.Ole.FinishStream();
    } catch (const Exception& e) {
        const std::string message = std::string("refused: ") + e.what();
        return {message.begin(), message.end()};
    }
    return out.Bytes();
}

// Worksheets loaded side by side (every section long enough) make what
// loading them in turn makes: the same cells and the same saved bytes
// (drawings and their drawing group included), or the same refusal.
void SideBySideAsInTurn(const std::vector<std::uint8_t>& file) {
    TKmrMemoryStream inTurnOut, sideBySideOut;  // outlive the containers, which may finish into them
    TWorkbook::SetLoadThreads(1, 0);
    TLoaded inTurn(file);
    TWorkbook::SetLoadThreads(3, 0);
    TLoaded sideBySide(file);
    TWorkbook::SetLoadThreads(0);
    if (inTurn.Cells != sideBySide.Cells) std::abort();
    if (inTurn.Ok && Saved(inTurn, inTurnOut) != Saved(sideBySide, sideBySideOut)) std::abort();
}

// A refused load or save is an outcome; a saved workbook that does not
// load again is a fault.
void WorkbookRoundTrip(const std::vector<std::uint8_t>& file) {
    TKmrMemoryStream out;  // outlives the container, which may finish into it
    TKmrMemoryStream in(file);
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    TWorkbook book;
    try {
        book.LoadFromStream(ole);
        // Row and column changes through the workbook, so other sheets and
        // names follow the first sheet's.
        TryEach({[&] { book.Sheet(0).MergeCells(0, 0, 2, 1); },
                 [&] { book.InsertAndCopyRowsAndCols(0, 0, 1, 3, 1, 0, 0, 0, 0, false); },
                 [&] { book.InsertAndCopyRowsAndCols(0, 0, 0, 0, 0, 0, 1, 2, 1, false); },
                 [&] { book.DeleteRowsAndCols(0, 1, 1, 0, 1); }, [&] { book.InsertHPageBreak(0, 3); },
                 [&] { book.InsertVPageBreak(0, 2); }});
        ole.PrepareForWrite(&out, u"Workbook");
        book.SaveToStream(ole);
        ole.FinishStream();
    } catch (const Exception&) {
        return;
    }
    ReloadOrAbort(out, [&](TWorkbook& reloaded) { return reloaded.SheetCount() == book.SheetCount(); });
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
            Interpret(*record, sst, list, cells);
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
        SameCellsRoundTrip(stream.Bytes());
        SideBySideAsInTurn(stream.Bytes());
        WorkbookRoundTrip(stream.Bytes());
    } catch (const Exception&) {
        // Refused input: the message is the expected outcome.
    }
    return 0;
}
