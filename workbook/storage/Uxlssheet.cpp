#include "workbook/storage/Uxlssheet.h"

#include <algorithm>
#include <cmath>
#include <type_traits>

#include "workbook/cells/UXlsFormula.h"
#include "workbook/storage/UKmrEmptySheet.h"
#include "workbook/storage/UKmrStreams.h"
#include "workbook/storage/UXlsWorkbookGlobals.h"
#include "workbook/storage/Uexcelrecords.h"

namespace kalmira {

namespace {

template <class T>
std::unique_ptr<T> Cast(std::unique_ptr<TBaseRecord>& record) {
    return std::unique_ptr<T>(static_cast<T*>(record.release()));
}

template <class T>
std::unique_ptr<T> CopyOf(const T& record) {
    auto copy = record.CopyTo();
    return std::unique_ptr<T>(static_cast<T*>(copy.release()));
}

// Records that only come behind a shape of the drawing, which reads them.
bool IsObjectRecord(std::uint16_t id) { return id == xlr_OBJ || id == xlr_TXO || id == xlr_IMDATA; }

// Hands a sheet's drawing only the drawing's own records: whatever else
// stands where the drawing wants one of its records is left to the sheet.
class TDrawingRecordSource : public TSectionRecordSource {
public:
    using TSectionRecordSource::TSectionRecordSource;
    std::unique_ptr<TBaseRecord> Next() override {
        if (FHeader.Id != xlr_MSODRAWING && !IsObjectRecord(FHeader.Id)) return nullptr;
        return TSectionRecordSource::Next();
    }
};

// Passes over the records of a dropped drawing that follow in the stream:
// drawing chunks, the shapes' records, CONTINUE records and an embedded
// chart's section.
void SkipDrawingRecords(TOle2File& ole, TRecordHeader& header) {
    for (int depth = 0;;) {
        const std::uint16_t id = header.Id;
        if (depth == 0 && id != xlr_BOF && id != xlr_MSODRAWING && id != xlr_CONTINUE && !IsObjectRecord(id)) return;
        if (id == xlr_BOF) ++depth;
        LoadRecords(ole, header);
        if (id == xlr_EOF && depth > 0) --depth;
    }
}

void CheckPrintValue(int value, const char* property) {
    if (value < 0 || value > 65535) Raise(ErrXlsIndexOutBounds, value, property, 0, 65535);
}

}  // namespace

// ---------------------------------------------------------------------------
// TSheet: cached records

void TSheet::ForgetCachePointers() {
    FWindow2 = nullptr;
    FPageHeader = nullptr;
    FPageFooter = nullptr;
    FPrintGridLines = nullptr;
    FLeftMargin = FRightMargin = FTopMargin = FBottomMargin = nullptr;
    FSetup = nullptr;
    FPrinterDriverSettings = nullptr;
    FWsBool = nullptr;
    FHCenter = FVCenter = nullptr;
    FSCL = nullptr;
    FGuts = nullptr;
    FPane = nullptr;
    FAutoFilterInfo = nullptr;
    FRefMode = nullptr;
}

void TSheet::Clear() {
    TBaseSection::Clear();
    FCodeName.reset();
    ForgetCachePointers();
}

std::int64_t TSheet::TotalSize() const {
    return TBaseSection::TotalSize() + (FCodeName ? FCodeName->TotalSize() : 0);
}

TMarginRecord*& TSheet::MarginPointer(std::uint16_t id) {
    switch (id) {
        case xlr_LEFTMARGIN: return FLeftMargin;
        case xlr_RIGHTMARGIN: return FRightMargin;
        case xlr_TOPMARGIN: return FTopMargin;
        default: return FBottomMargin;
    }
}

// The factory builds each of these ids as its class; a record of another
// class under the id (a hand-made one) is not cached.
void TSheet::LoadCachePointers(TBaseRecord* record) {
    auto cache = [record](auto*& pointer) {
        using T = std::remove_reference_t<decltype(*pointer)>;
        if (auto* typed = dynamic_cast<T*>(record)) pointer = typed;
    };
    switch (record->Id) {
        case xlr_WINDOW2: return cache(FWindow2);
        case xlr_SCL: return cache(FSCL);
        case xlr_FOOTER: return cache(FPageFooter);
        case xlr_HEADER: return cache(FPageHeader);
        case xlr_PRINTGRIDLINES: return cache(FPrintGridLines);
        case xlr_LEFTMARGIN:
        case xlr_RIGHTMARGIN:
        case xlr_TOPMARGIN:
        case xlr_BOTTOMMARGIN: return cache(MarginPointer(record->Id));
        case xlr_SETUP: return cache(FSetup);
        case xlr_PLS: return cache(FPrinterDriverSettings);
        case xlr_WSBOOL: return cache(FWsBool);
        case xlr_HCENTER: return cache(FHCenter);
        case xlr_VCENTER: return cache(FVCenter);
        case xlr_PANE: return cache(FPane);
        case xlr_GUTS: return cache(FGuts);
        case xlr_REFMODE: return cache(FRefMode);
        case xlr_AUTOFILTERINFO: return cache(FAutoFilterInfo);
        default: return;
    }
}

void TSheet::FixCachePointers() {
    ForgetCachePointers();
    for (TBaseRecordList* list : RecordLists())
        for (std::size_t i = 0; i < list->Count(); ++i)
            if (list->GetItems(i)) LoadCachePointers(list->GetItems(i));
}

template <class Change>
void TSheet::ResizeRecord(const TBaseRecord& record, Change change) {
    for (TBaseRecordList* list : RecordLists())
        for (std::size_t i = 0; i < list->Count(); ++i)
            if (list->GetItems(i) == &record) return list->Resize(record, change);
    change();
}

void TSheet::RemoveRecord(const TBaseRecord* record) {
    for (TBaseRecordList* list : RecordLists())
        for (std::size_t i = 0; i < list->Count(); ++i)
            if (list->GetItems(i) == record) {
                list->Delete(i);
                return FixCachePointers();
            }
}

void TSheet::CheckSaved() const {
    if (!FBOF || !FEOF) Raise(ErrSectionNotLoaded);
}

void TSheet::SaveCodeName(TOle2File& ole) const {
    if (FCodeName) FCodeName->SaveToStream(ole);
}

std::unique_ptr<TSheet> TSheet::DoCopyTo() const {
    auto copy = NewSheet(FWorkbookGlobals);
    if (FBOF) copy->FBOF = CopyOf(*FBOF);
    if (FEOF) copy->FEOF = CopyOf(*FEOF);
    return copy;
}

// ---------------------------------------------------------------------------
// TSheet: settings

bool TSheet::GetSelected() const { return FWindow2 && FWindow2->GetSelected(); }
void TSheet::SetSelected(bool value) {
    if (FWindow2) FWindow2->SetSelected(value);
}
bool TSheet::GetShowGridLines() const { return !FWindow2 || FWindow2->GetShowGridLines(); }
void TSheet::SetShowGridLines(bool value) {
    if (FWindow2) FWindow2->SetShowGridLines(value);
}
bool TSheet::GetShowGridHeaders() const { return !FWindow2 || FWindow2->GetShowGridHeaders(); }
void TSheet::SetShowGridHeaders(bool value) {
    if (FWindow2) FWindow2->SetShowGridHeaders(value);
}
bool TSheet::GetPrintGridLines() const { return !FPrintGridLines || FPrintGridLines->GetValue(); }
void TSheet::SetPrintGridLines(bool value) {
    if (FPrintGridLines) FPrintGridLines->SetValue(value);
}
std::u16string TSheet::GetPageHeader() const { return FPageHeader ? FPageHeader->GetText() : std::u16string(); }
void TSheet::SetPageHeader(std::u16string_view text) {
    if (FPageHeader) SetPageHeaderFooter(*FPageHeader, text);
}
std::u16string TSheet::GetPageFooter() const { return FPageFooter ? FPageFooter->GetText() : std::u16string(); }
void TSheet::SetPageFooter(std::u16string_view text) {
    if (FPageFooter) SetPageHeaderFooter(*FPageFooter, text);
}
bool TSheet::GetIsR1C1() const { return FRefMode && FRefMode->GetIsR1C1(); }
void TSheet::SetIsR1C1(bool value) {
    if (FRefMode) FRefMode->SetIsR1C1(value);
}
int TSheet::GetSheetZoom() const { return FSCL ? FSCL->GetZoom() : 100; }
void TSheet::SetSheetZoom(int zoom) {
    if (!FSCL) AddZoomRecord();
    if (FSCL) FSCL->SetZoom(zoom);
}
bool TSheet::GetWindow2Frozen() const { return !FWindow2 || FWindow2->GetIsFrozen(); }
void TSheet::SetWindow2Frozen(bool value) {
    if (FWindow2) FWindow2->SetIsFrozen(value);
}
std::u16string TSheet::GetCodeName() const { return FCodeName ? FCodeName->GetSheetName() : std::u16string(); }
void TSheet::SetCodeName(std::u16string_view name) { FCodeName = std::make_unique<TCodeNameRecord>(name); }

int TSheet::GetPrintNumberOfHorizontalPages() const { return FSetup ? FSetup->GetFitWidth() : 1; }
void TSheet::SetPrintNumberOfHorizontalPages(int value) {
    if (FSetup) FSetup->SetFitWidth(static_cast<std::uint16_t>(value));
}
int TSheet::GetPrintNumberOfVerticalPages() const { return FSetup ? FSetup->GetFitHeight() : 1; }
void TSheet::SetPrintNumberOfVerticalPages(int value) {
    if (FSetup) FSetup->SetFitHeight(static_cast<std::uint16_t>(value));
}

int TSheet::GetPrintScale() const { return FSetup ? FSetup->GetScale() : 100; }
void TSheet::SetPrintScale(int value) {
    CheckPrintValue(value, "PrintScale");
    if (FSetup) FSetup->SetScale(static_cast<std::uint16_t>(value));
}
int TSheet::GetPrintCopies() const { return FSetup ? FSetup->GetPrintCopies() : 1; }
void TSheet::SetPrintCopies(int value) {
    CheckPrintValue(value, "PrintCopies");
    if (FSetup) FSetup->SetPrintCopies(static_cast<std::uint16_t>(value));
}
int TSheet::GetPrintPaperSize() const { return FSetup ? FSetup->GetPrintPaperSize() : 1; }
void TSheet::SetPrintPaperSize(int value) {
    CheckPrintValue(value, "PrintPaperSize");
    if (FSetup) FSetup->SetPrintPaperSize(static_cast<std::uint16_t>(value));
}
int TSheet::GetPrintXResolution() const { return FSetup ? FSetup->GetPrintXResolution() : 600; }
void TSheet::SetPrintXResolution(int value) {
    CheckPrintValue(value, "PrintXResolution");
    if (FSetup) FSetup->SetPrintXResolution(static_cast<std::uint16_t>(value));
}
int TSheet::GetPrintYResolution() const { return FSetup ? FSetup->GetPrintYResolution() : 600; }
void TSheet::SetPrintYResolution(int value) {
    CheckPrintValue(value, "PrintYResolution");
    if (FSetup) FSetup->SetPrintYResolution(static_cast<std::uint16_t>(value));
}
std::uint16_t TSheet::GetPrintOptions() const { return FSetup ? FSetup->GetPrintOptions() : 0; }
void TSheet::SetPrintOptions(std::uint16_t value) {
    if (FSetup) FSetup->SetPrintOptions(value);
}

bool TSheet::GetPrintToFit() const { return FWsBool && FWsBool->GetFitToPage(); }
void TSheet::SetPrintToFit(bool value) {
    if (FWsBool) FWsBool->SetFitToPage(value);
}
bool TSheet::GetPrintHCentered() const { return FHCenter && FHCenter->GetCentered(); }
void TSheet::SetPrintHCentered(bool value) {
    if (FHCenter) FHCenter->SetCentered(value);
}
bool TSheet::GetPrintVCentered() const { return FVCenter && FVCenter->GetCentered(); }
void TSheet::SetPrintVCentered(bool value) {
    if (FVCenter) FVCenter->SetCentered(value);
}
bool TSheet::GetOutlineSummaryRowsBelowDetail() const {
    return !FWsBool || FWsBool->GetOutlineSummaryRowsBelowDetail();
}
void TSheet::SetOutlineSummaryRowsBelowDetail(bool value) {
    if (FWsBool) FWsBool->SetOutlineSummaryRowsBelowDetail(value);
}
bool TSheet::GetOutlineSummaryColsRightOfDetail() const {
    return !FWsBool || FWsBool->GetOutlineSummaryColsRightOfDetail();
}
void TSheet::SetOutlineSummaryColsRightOfDetail(bool value) {
    if (FWsBool) FWsBool->SetOutlineRightOfDetail(value);
}
bool TSheet::GetOutlineAutomaticStyles() const { return FWsBool && FWsBool->GetOutlineAutomaticStyles(); }
void TSheet::SetOutlineAutomaticStyles(bool value) {
    if (FWsBool) FWsBool->SetOutlineAutomaticStyles(value);
}

TPrinterDriverSettings TSheet::GetPrinterDriverSettings() const {
    return FPrinterDriverSettings ? FPrinterDriverSettings->GetPrinterDriverSettings() : TPrinterDriverSettings{};
}

// The new record is made (and may be refused) before anything changes;
// every pointer is cached again afterwards.
void TSheet::SetPrinterDriverSettings(const TPrinterDriverSettings& settings) {
    std::unique_ptr<TPlsRecord> record;
    if (!settings.Data.empty()) record = std::make_unique<TPlsRecord>(settings);
    const auto lists = RecordLists();
    for (TBaseRecordList* list : lists)
        for (std::size_t i = list->Count(); i-- > 0;)
            if (list->GetItems(i) && list->GetItems(i)->Id == xlr_PLS) list->Delete(i);
    FixCachePointers();
    if (!record) return;
    TBaseRecordList& main = *lists.front();
    std::size_t at = main.Count();
    for (std::size_t i = 0; i < main.Count(); ++i)
        if (FSetup && main.GetItems(i) == FSetup) at = i;
    main.Insert(at, std::move(record));
    if (FSetup) FSetup->SetPrintOptions(FSetup->GetPrintOptions() & ~0x04);
    FixCachePointers();
}

TXlsMargins TSheet::GetMargins() const {
    TXlsMargins m;
    m.Left = FLeftMargin ? FLeftMargin->GetValue() : 0.7480314960629921;
    m.Right = FRightMargin ? FRightMargin->GetValue() : 0.7480314960629921;
    m.Top = FTopMargin ? FTopMargin->GetValue() : 0.984251968503937;
    m.Bottom = FBottomMargin ? FBottomMargin->GetValue() : 0.984251968503937;
    m.Header = FSetup ? FSetup->GetHeaderMargin() : 0;
    m.Footer = FSetup ? FSetup->GetFooterMargin() : 0;
    return m;
}

// A missing margin record goes after the last margin, VCENTER or
// DEFAULTROWHEIGHT of the main list (or at its end) and is cached.
void TSheet::SetMargins(const TXlsMargins& margins) {
    const std::pair<std::uint16_t, long double> values[] = {{xlr_LEFTMARGIN, margins.Left},
                                                           {xlr_RIGHTMARGIN, margins.Right},
                                                           {xlr_TOPMARGIN, margins.Top},
                                                           {xlr_BOTTOMMARGIN, margins.Bottom}};
    TBaseRecordList& main = *RecordLists().front();
    for (auto [id, inches] : values) {
        TMarginRecord*& pointer = MarginPointer(id);
        if (!pointer) {
            auto record = std::make_unique<TMarginRecord>(id, std::vector<std::uint8_t>(8));
            pointer = record.get();
            std::size_t at = main.Count();
            for (std::size_t i = main.Count(); i-- > 0;) {
                const std::uint16_t other = main.GetItems(i) ? main.GetItems(i)->Id : 0;
                if ((other >= xlr_LEFTMARGIN && other <= xlr_BOTTOMMARGIN) || other == xlr_VCENTER ||
                    other == xlr_DEFAULTROWHEIGHT) {
                    at = i + 1;
                    break;
                }
            }
            main.Insert(at, std::move(record));
        }
        pointer->SetValue(static_cast<double>(inches));
    }
    if (FSetup) {
        FSetup->SetHeaderMargin(static_cast<double>(margins.Header));
        FSetup->SetFooterMargin(static_cast<double>(margins.Footer));
    }
}

// Frozen panes keep their first visible row and column at least at the
// split, so nothing scrolls out of view under the frozen part.
void TSheet::FreezePanes(int row, int col) {
    const bool frozen = row > 0 || col > 0;
    if (FWindow2) {
        FWindow2->SetIsFrozen(frozen);
        FWindow2->SetIsFrozenButNoSplit(frozen);
    }
    AddOrRemovePane(frozen);
    if (!FPane) return;
    FPane->Set_RowSplit(static_cast<std::uint16_t>(row));
    FPane->Set_ColSplit(static_cast<std::uint16_t>(col));
    FPane->Set_FirstVisibleRow(static_cast<std::uint16_t>(std::max<int>(FPane->Get_FirstVisibleRow(), row)));
    FPane->Set_FirstVisibleCol(static_cast<std::uint16_t>(std::max<int>(FPane->Get_FirstVisibleCol(), col)));
    FPane->EnsureSelectedVisible();
}

std::pair<int, int> TSheet::GetFrozenPanes() const {
    if (FPane && GetWindow2Frozen()) return {FPane->Get_RowSplit(), FPane->Get_ColSplit()};
    return {0, 0};
}

void TSheet::SplitWindow(int x, int y) {
    if (FWindow2) {
        FWindow2->SetIsFrozen(false);
        FWindow2->SetIsFrozenButNoSplit(false);
    }
    AddOrRemovePane(x > 0 || y > 0);
    if (!FPane) return;
    FPane->Set_RowSplit(static_cast<std::uint16_t>(y));
    FPane->Set_ColSplit(static_cast<std::uint16_t>(x));
    FPane->Set_FirstVisibleRow(std::max<std::uint16_t>(FPane->Get_FirstVisibleRow(), 1));
    FPane->Set_FirstVisibleCol(std::max<std::uint16_t>(FPane->Get_FirstVisibleCol(), 1));
    FPane->EnsureSelectedVisible();
}

std::pair<int, int> TSheet::GetSplitWindow() const {
    if (FPane && !GetWindow2Frozen()) return {FPane->Get_ColSplit(), FPane->Get_RowSplit()};
    return {0, 0};
}

// ---------------------------------------------------------------------------
// TWorkSheet: loading

// One load: the records of the section sorted into the sheet's lists.
class TWorkSheet::TLoader : public TClientDataFactory {
public:
    TLoader(TWorkSheet& sheet, TOle2File& ole, TRecordHeader& header)
        : FSheet(sheet), FOle(ole), FHeader(header) {}

    void Run() {
        std::uint16_t id;
        do {
            id = FHeader.Id;
            Dispatch(LoadRecords(FOle, FHeader));
        } while (id != xlr_EOF);
        if (FWaiting > 0) FSheet.FCells->CellList().FixFormulas(FShared);
        FShared.Clear();
        FSheet.FCells->FixLoadedRows();
        FSheet.FNotes.FixDwgIds(FSheet.FDrawing);
        FSheet.FDrawing.SaveObjectCoords(FSheet.FMeasure);
    }

    std::unique_ptr<TBaseClientData> Load(TClientDataKind kind, std::unique_ptr<TBaseRecord> first,
                                          TEscherRecordSource&) override {
        return TPlainClientData::Load(kind, std::move(first), FOle, FHeader);
    }

private:
    // The record is freed when anything fails before a list owns it.
    void Dispatch(std::unique_ptr<TBaseRecord> record) {
        const std::uint16_t id = record->Id;
        if (id == xlr_WINDOW2) FTarget = &FSheet.FTail;
        FSheet.LoadCachePointers(record.get());
        if (id == xlr_FORMULA) FFormula = record->Is(rkFormula) ? static_cast<TFormulaRecord*>(record.get()) : nullptr;
        Widths(*record);
        if (id == xlr_MSODRAWING || (FDrawingDropped && IsObjectRecord(id))) return LoadDrawing(std::move(record));
        // An OBJ, TXO or IMDATA that no shape claims is kept where it stands
        // as a plain record. An embedded chart's sub-stream comes only
        // behind a shape: its BOF here is refused.
        if (id == xlr_BOF) Raise(ErrExcelInvalid);
        Take(std::move(record));
    }

    // A damaged drawing costs the drawing, never the sheet's cells: it is
    // dropped with every record it still has in the stream, and so are the
    // drawing records after it (a drawing continued further on, stray
    // objects). The drawing reads only drawing records, so none of the
    // sheet's is lost with it. A damaged drawing group drops every drawing.
    void LoadDrawing(std::unique_ptr<TBaseRecord> record) {
        FDrawingDropped = FDrawingDropped || (FSheet.FWorkbookGlobals && FSheet.FWorkbookGlobals->DrawingsDropped());
        if (!FDrawingDropped) {
            TDrawingRecordSource source(FOle, FHeader);
            const std::int64_t left = source.StreamLeft();
            try {
                return FSheet.FDrawing.LoadFromStream(std::move(record), source, *this, left);
            } catch (const Exception&) {
                FSheet.FDrawing.Clear();
                FDrawingDropped = true;
            }
        }
        SkipDrawingRecords(FOle, FHeader);
    }

    // DEFCOLWIDTH, STANDARDWIDTH and DEFAULTROWHEIGHT set the defaults and
    // stay in the lists.
    void Widths(const TBaseRecord& record) {
        // Only these ids can carry the classes; the id test spares every cell the lookups.
        if (record.Id != xlr_DEFCOLWIDTH && record.Id != xlr_STANDARDWIDTH && record.Id != xlr_DEFAULTROWHEIGHT) return;
        if (auto* def = dynamic_cast<const TDefColWidthRecord*>(&record)) {
            if (FStandardWidth && def->Width() == 8) return;
            FSheet.FDefColWidth = def->Width() * DefColWidthAdapt;
            FDefColWidth = def->Width();
        } else if (auto* standard = dynamic_cast<const TStandardWidthRecord*>(&record)) {
            if (FDefColWidth != 8) return;
            FStandardWidth = true;
            FSheet.FDefColWidth = standard->Width();
        } else if (auto* height = dynamic_cast<const TDefRowHeightRecord*>(&record)) {
            FSheet.FDefRowHeight = height->Height();
        }
    }

    void Take(std::unique_ptr<TBaseRecord> record) {
        const std::uint16_t id = record->Id;
        if (id == xlr_PANE && record->Data.size() < 10) Raise(ErrWrongExcelRecord, id);
        const unsigned kinds = record->Kinds();
        if (kinds & rkIgnore) return;
        if (kinds & rkCell) {
            auto cell = Cast<TCellRecord>(record);
            CheckText(*cell);
            Replacing(*cell, cell->GetColumn(), cell->GetColumn());
            if (kinds & rkFormula) ExpandNow(static_cast<TFormulaRecord&>(*cell));
            return FSheet.FCells->AddCell(std::move(cell));
        }
        if (kinds & rkMultipleValue) {
            // Row, first column, ..., last column: checked by the record.
            Replacing(*record, GetWord(record->Data, 2), GetWord(record->Data, record->DataSize() - 2));
            return FSheet.FCells->AddMultipleCells(static_cast<TMultipleValueRecord&>(*record));
        }
        if (id == xlr_NOTE) return FSheet.FNotes.Add(std::move(record));
        if (id == xlr_HLINK) {
            if (!dynamic_cast<THLinkRecord*>(record.get())) Raise(ErrWrongExcelRecord, id);
            return FSheet.FHLinks.Add(Cast<THLinkRecord>(record));
        }
        // A tip belongs to the link in front of it.
        if (id == xlr_HLINKTOOLTIP) Raise(ErrExcelInvalid);
        if (auto* ranges = dynamic_cast<TRangeRecord*>(record.get())) return LoadRanges(*ranges);
        switch (id) {
            case xlr_DIMENSIONS:
                if (record->Data.size() < FSheet.FDimensions.size()) Raise(ErrWrongExcelRecord, id);
                std::copy_n(record->Data.begin(), FSheet.FDimensions.size(), FSheet.FDimensions.begin());
                // Its end row, within the rows a sheet can have.
                FSheet.FCells->ReserveRows(std::min<std::uint32_t>(GetLongWord(record->Data, 4), 65536));
                return;
            case xlr_ROW: return FSheet.FCells->AddRow(Cast<TRowRecord>(record));
            case xlr_HPAGEBREAKS: return FSheet.FHPageBreaks.AddRecord(*record);
            case xlr_VPAGEBREAKS: return FSheet.FVPageBreaks.AddRecord(*record);
            case xlr_COLINFO: return FSheet.FColInfo.AddRecord(*record);
            case xlr_SHRFMLA:
                if (!FFormula) Raise(ErrExcelInvalid);
                FShared.Add(Cast<TShrFmlaRecord>(record));
                return ExpandWaiting(*FFormula);
            case xlr_STRING:
                if (!FFormula) Raise(ErrExcelInvalid);
                // Only a text result reads its STRING (a number keeps its
                // value, as other readers keep it).
                if (FFormula->ResultIsText())
                    FFormula->SetFormulaValue(TVariant(static_cast<TStringRecord&>(*record).Value()));
                return;
            case xlr_ARRAY:
            case xlr_TABLE:
                if (!FFormula) Raise(ErrExcelInvalid);
                return FFormula->TakeFollowing(std::move(record));
            case xlr_EOF: FSheet.FEOF = Cast<TEOFRecord>(record); return;
            case xlr_CODENAME: FSheet.FCodeName = Cast<TCodeNameRecord>(record); return;
            default: FTarget->Add(std::move(record));
        }
    }

    // A member of a shared formula takes the tokens while its cell is at
    // hand, once the SHRFMLA is there (it comes behind the group's first
    // cell, which takes them then). What cannot (a SHRFMLA further on,
    // tokens refused) waits for the walk over the sheet's formulas at the
    // end, which refuses where it always did.
    void ExpandNow(TFormulaRecord& formula) {
        std::uint32_t key;
        if (!formula.IsExp(key)) return;
        try {
            if (FShared.Expand(formula)) return;
        } catch (const Exception&) {
        }
        ++FWaiting;
    }
    // The formula in front of a SHRFMLA, in its row's list by now.
    void ExpandWaiting(TFormulaRecord& formula) {
        std::uint32_t key;
        TCellRecordList* list = FSheet.FCells->CellList().GetItems(static_cast<std::size_t>(formula.GetRow()));
        if (!formula.IsExp(key) || !list) return;
        try {
            bool expanded = false;
            list->Resize(formula, [&] { expanded = FShared.Expand(formula); });
            if (expanded && FWaiting > 0) --FWaiting;
        } catch (const Exception&) {
        }
    }

    // A later cell takes an earlier one's place: a FORMULA that goes is no
    // longer there for its STRING, ARRAY or TABLE.
    void Replacing(const TBaseRecord& record, int first, int last) {
        if (!FFormula || FFormula == &record || FFormula->GetRow() != GetWord(record.Data, 0)) return;
        if (FFormula->GetColumn() >= first && FFormula->GetColumn() <= last) FFormula = nullptr;
    }

    // A text that runs past its record and continuations could never be
    // read again: the record is refused at once.
    static void CheckText(const TCellRecord& cell) {
        if (cell.Id != xlr_LABEL && cell.Id != xlr_RSTRING) return;
        try {
            (void)cell.GetValue();
        } catch (const Exception&) {
            Raise(ErrWrongExcelRecord, cell.Id);
        }
    }

    // A merged-cells entry or a conditional format (with the CF records
    // after it), in read order; the record itself is freed.
    void LoadRanges(const TRangeRecord& record) {
        std::unique_ptr<TRangeEntry> entry;
        if (record.Id == xlr_CONDFMT) entry = std::make_unique<TCondFmt>();
        else entry = std::make_unique<TMergedCells>();
        entry->LoadFromStream(FOle, FHeader, record);
        FSheet.FRanges.Add(std::move(entry));
    }

    TWorkSheet& FSheet;
    TOle2File& FOle;
    TRecordHeader& FHeader;
    TBaseRecordList* FTarget = &FSheet.FHead;
    TShrFmlaRecordList FShared;
    std::size_t FWaiting = 0;  // members of shared formulas not expanded yet
    TFormulaRecord* FFormula = nullptr;
    bool FDrawingDropped = false;
    int FDefColWidth = 8;
    bool FStandardWidth = false;
};

namespace {

TGlobalsAccess* AccessOf(TWorkbookGlobals* globals) { return globals ? &globals->Access() : nullptr; }

}  // namespace

TWorkSheet::TWorkSheet(TWorkbookGlobals* globals)
    : TSheet(globals),
      FDrawing(globals ? &globals->DrawingGroup() : nullptr),
      FCells(std::make_unique<TCells>(AccessOf(globals), &FColInfo)) {}

// Pixels at 96 per inch: 7 per character of width, a 1/20 point height
// by 15; halves to even.
double TWorkSheet::TMeasure::ColumnWidthPx(int column) const {
    return std::nearbyint(FSheet.GetColWidth(column, true) * 7.0 / 256.0);
}

double TWorkSheet::TMeasure::RowHeightPx(int row) const {
    return std::nearbyint(FSheet.GetRowHeight(row, true) / 15.0);
}

template <class Visit>
void TWorkSheet::ForEachObject(Visit visit) const {
    if (FDrawing.Empty()) return;
    for (TEscherClientDataRecord* record : FDrawing.Cache()->Obj.Items())
        if (auto* data = dynamic_cast<TPlainClientData*>(record->ClientData())) visit(*data);
}

TWorkSheet::TWorkSheet(TWorkbookGlobals* globals, TSST& sst) : TWorkSheet(globals) { LoadTemplate(sst); }

TWorkSheet::~TWorkSheet() { FCells.reset(); }

void TWorkSheet::Clear() {
    TSheet::Clear();
    FHead.Clear();
    FTail.Clear();
    FHPageBreaks.Clear();
    FVPageBreaks.Clear();
    FDrawing.Clear();
    FCells->Clear();
    FRanges.Clear();
    FNotes.Clear();
    FColInfo.Clear();
    FHLinks.Clear();
    FDefRowHeight = 255;
    FDefColWidth = 10 * DefColWidthAdapt;
    FDimensions = {};
}

void TWorkSheet::LoadFromStream(TOle2File& ole, TRecordHeader& header, std::unique_ptr<TBOFRecord> first, TSST&) {
    Clear();
    RegisterFormulaRecords();
    RegisterChartRecords();
    RegisterRangeRecords();
    try {
        TLoader(*this, ole, header).Run();
    } catch (...) {
        Clear();
        throw;
    }
    FBOF = std::move(first);
}

// The template's globals are passed over up to their EOF; its sheet loads
// here with the sheet's own string table.
void TWorkSheet::ClearValues() { LoadTemplate(FWorkbookGlobals->SST()); }

void TWorkSheet::LoadTemplate(TSST& sst) {
    Clear();
    const auto bytes = KmrEmptySheet();
    TKmrMemoryStream memory(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    TOle2File ole(&memory);
    ole.SelectStream(u"Workbook");
    TRecordHeader header{};
    ReadRecordHeader(ole, header);
    for (std::uint16_t id = 0; id != xlr_EOF;) id = LoadRecords(ole, header)->Id;
    if (header.Id != xlr_BOF) Raise(ErrExcelInvalid);
    auto bof = LoadRecords(ole, header);
    LoadFromStream(ole, header, Cast<TBOFRecord>(bof), sst);
}

// ---------------------------------------------------------------------------
// TWorkSheet: saving and sizes


std::int64_t TWorkSheet::SizeWith(std::int64_t cells) const {
    std::int64_t size = TSheet::TotalSize() + FHead.GetTotalSize() + FTail.GetTotalSize() + FRanges.TotalSize() + cells +
                        FHPageBreaks.TotalSize() + FVPageBreaks.TotalSize() + FColInfo.TotalSize() +
                        FHLinks.TotalSize() + FDrawing.TotalSize() + FNotes.TotalSize();
    return size;
}

std::int64_t TWorkSheet::TotalSize() const { return SizeWith(FCells->TotalSize()); }

std::int64_t TWorkSheet::FixTotalSize(bool force) { return SizeWith(FCells->FixTotalSize(force)); }

std::int64_t TWorkSheet::TotalRangeSize(int, const TXlsCellRange& range) const {
    return TSheet::TotalSize() + FHead.GetTotalSize() + FTail.GetTotalSize() + FHPageBreaks.TotalRangeSize(range) +
           FVPageBreaks.TotalRangeSize(range) + FColInfo.TotalRangeSize(range) + FCells->TotalRangeSize(range) +
           FRanges.TotalRangeSize(range) + FHLinks.TotalRangeSize(range);
}

void TWorkSheet::SaveToStream(TOle2File& ole) {
    CheckSaved();
    if (FGuts && FGuts->RecalcNeeded) {
        FCells->Rows().CalcGuts(*FGuts);
        FColInfo.CalcGuts(*FGuts);
        FGuts->RecalcNeeded = false;
    }
    FBOF->SaveToStream(ole);
    FHead.SaveToStream(ole);
    FHPageBreaks.SaveToStream(ole);
    FVPageBreaks.SaveToStream(ole);
    FColInfo.SaveToStream(ole);
    FCells->FixRowsAndSave(ole);
    FDrawing.SaveToStream(ole);
    FNotes.SaveToStream(ole);
    FTail.SaveToStream(ole);
    FRanges.SaveToStream(ole);
    FHLinks.SaveToStream(ole);
    SaveCodeName(ole);
    FEOF->SaveToStream(ole);
}

void TWorkSheet::SaveRangeToStream(TOle2File& ole, int, const TXlsCellRange& range) {
    CheckSaved();
    FBOF->SaveToStream(ole);
    FHead.SaveToStream(ole);
    FHPageBreaks.SaveRangeToStream(ole, range);
    FVPageBreaks.SaveRangeToStream(ole, range);
    FColInfo.SaveRangeToStream(ole, range);
    FCells->SaveRangeToStream(ole, range);
    FTail.SaveToStream(ole);
    FRanges.SaveRangeToStream(ole, range);
    FHLinks.SaveRangeToStream(ole, range);
    SaveCodeName(ole);
    FEOF->SaveToStream(ole);
}

// ---------------------------------------------------------------------------
// TWorkSheet: settings, copies, rows and columns

void TWorkSheet::SetPageHeaderFooter(TPageHeaderFooterRecord& record, std::u16string_view text) {
    ResizeRecord(record, [&] { record.SetText(text); });
}

void TWorkSheet::AddZoomRecord() {
    if (FTail.Count() < 2) return;
    auto scl = std::make_unique<TSCLRecord>(100);
    FSCL = scl.get();
    FTail.Insert(1, std::move(scl));
}

void TWorkSheet::AddOrRemovePane(bool add) {
    if (!add) {
        if (FPane) RemoveRecord(FPane);
        FPane = nullptr;
        return;
    }
    if (FPane || FTail.Count() < 2) return;
    auto pane = std::make_unique<TPaneRecord>(xlr_PANE, std::vector<std::uint8_t>(10));
    FPane = pane.get();
    FTail.Insert(1, std::move(pane));
}

std::unique_ptr<TSheet> TWorkSheet::NewSheet(TWorkbookGlobals* globals) const {
    return std::make_unique<TWorkSheet>(globals);
}

std::unique_ptr<TSheet> TWorkSheet::DoCopyTo() const {
    auto copy = TSheet::DoCopyTo();
    auto& sheet = static_cast<TWorkSheet&>(*copy);
    sheet.FDrawing.CopyFrom(FDrawing);
    sheet.FHead.CopyFrom(FHead);
    sheet.FTail.CopyFrom(FTail);
    sheet.FHPageBreaks.CopyFrom(FHPageBreaks);
    sheet.FVPageBreaks.CopyFrom(FVPageBreaks);
    sheet.FCells->CopyFrom(*FCells);
    sheet.FRanges.CopyFrom(FRanges);
    sheet.FNotes.CopyFrom(FNotes);
    sheet.FNotes.FixDwgIds(sheet.FDrawing);
    sheet.FColInfo.CopyFrom(FColInfo);
    sheet.FHLinks.CopyFrom(FHLinks);
    sheet.FDefColWidth = FDefColWidth;
    sheet.FDefRowHeight = FDefRowHeight;
    sheet.FDimensions = FDimensions;
    sheet.FixCachePointers();
    return copy;
}

// Each cell operation checks itself before it moves anything; a change of
// rows and columns together is tried on a copy first, so that columns
// refused after the rows moved leave nothing half done.
template <class Change>
void TWorkSheet::ChangeCells(bool twoSteps, Change change) {
    if (twoSteps) {
        TCells trial(AccessOf(FWorkbookGlobals), nullptr);
        trial.CopyFrom(*FCells);
        change(trial);
    }
    change(*FCells);
}

template <class Change>
std::unique_ptr<TRangeList> TWorkSheet::TriedRanges(Change change) const {
    auto trial = std::make_unique<TRangeList>();
    trial->CopyFrom(FRanges);
    change(*trial);
    return trial;
}

void TWorkSheet::InsertAndCopyRowsAndCols(int firstRow, int lastRow, int destRow, int rowCount, int firstCol,
                                          int lastCol, int destCol, int colCount, const TSheetInfo& info,
                                          bool onlyFormulas) {
    if (rowCount <= 0 && colCount <= 0) return;
    const int rows = std::max(rowCount, 0) * (lastRow - firstRow + 1), cols = std::max(colCount, 0) * (lastCol - firstCol + 1);
    if (rowCount > 0) FDrawing.CheckCopy(firstRow, lastRow, destRow, rowCount, false);
    if (colCount > 0) FDrawing.CheckCopy(firstCol, lastCol, destCol, colCount, true);
    FNotes.CheckInsert(destRow, rows, false);
    FNotes.CheckInsert(destCol, cols, true);
    const TArrangeCheck charts(destRow, rows, destCol, cols, info);
    ForEachObject([&](const TPlainClientData& data) { data.CheckArrange(charts); });
    auto ranges = TriedRanges([&](TRangeList& list) {
        if (rowCount > 0) list.InsertAndCopyRowsOrCols(firstRow, lastRow, false, info, rowCount, destRow);
        if (colCount > 0) list.InsertAndCopyRowsOrCols(firstCol, lastCol, true, info, colCount, destCol);
    });
    // The data validations follow as the conditional formats do.
    TValidationChange validations({&FHead, &FTail}, [&](TDVRecord& dv) {
        if (rowCount > 0) dv.InsertAndCopyRowsOrCols(firstRow, lastRow, false, info, rowCount, destRow);
        if (colCount > 0) dv.InsertAndCopyRowsOrCols(firstCol, lastCol, true, info, colCount, destCol);
    });
    ChangeCells(rowCount > 0 && colCount > 0, [&](TCells& cells) {
        if (rowCount > 0) cells.InsertAndCopyRows(firstRow, lastRow, destRow, rowCount, info, onlyFormulas);
        if (colCount > 0) cells.InsertAndCopyCols(firstCol, lastCol, destCol, colCount, info, onlyFormulas);
    });
    FRanges.Swap(*ranges);
    validations.Commit();
    // The breaks and links cannot fail: they follow once the cells have moved.
    if (rowCount > 0) FDrawing.InsertAndCopy(firstRow, lastRow, destRow, rowCount, false, info, FMeasure);
    if (colCount > 0) FDrawing.InsertAndCopy(firstCol, lastCol, destCol, colCount, true, info, FMeasure);
    // The notes and their boxes: moved by the insertion, then copied.
    const auto copyNotes = [&](int first, int last, int dest, int copies, int count, bool columns) {
        if (copies <= 0) return;
        FNotes.ArrangeInsert(dest, count, columns, FDrawing, FMeasure);
        const int shift = first >= dest ? count : 0;
        FNotes.CopyLines(first + shift, last + shift, dest, copies, columns, FDrawing, FMeasure);
    };
    copyNotes(firstRow, lastRow, destRow, rowCount, rows, false);
    copyNotes(firstCol, lastCol, destCol, colCount, cols, true);
    if (rowCount > 0) {
        FHPageBreaks.InsertRows(destRow, (lastRow - firstRow + 1) * rowCount);
        FHLinks.InsertAndCopyRange({0, firstRow, 0xFF, lastRow}, destRow, 0, 0, rowCount, info);
    }
    if (colCount > 0) {
        FVPageBreaks.InsertCols(destCol, (lastCol - firstCol + 1) * colCount);
        FHLinks.InsertAndCopyRange({firstCol, 0, lastCol, 0xFFFF}, 0, destCol, colCount, 0, info);
    }
}

void TWorkSheet::DeleteRowsAndCols(int row, int rowCount, int col, int colCount, const TSheetInfo& info) {
    if (rowCount <= 0 && colCount <= 0) return;
    FDrawing.CheckDelete(row, rowCount, col, colCount);
    FNotes.CheckDelete(row, std::max(rowCount, 0), false, FDrawing);
    FNotes.CheckDelete(col, std::max(colCount, 0), true, FDrawing);
    const TArrangeCheck charts(row, -std::max(rowCount, 0), col, -std::max(colCount, 0), info);
    ForEachObject([&](const TPlainClientData& data) { data.CheckArrange(charts); });
    auto ranges = TriedRanges([&](TRangeList& list) {
        if (rowCount > 0) list.DeleteRowsOrCols(row, rowCount, info, false);
        if (colCount > 0) list.DeleteRowsOrCols(col, colCount, info, true);
    });
    TValidationChange validations({&FHead, &FTail}, [&](TDVRecord& dv) {
        if (rowCount > 0) dv.DeleteRowsOrCols(row, rowCount, info, false);
        if (colCount > 0) dv.DeleteRowsOrCols(col, colCount, info, true);
    });
    ChangeCells(rowCount > 0 && colCount > 0, [&](TCells& cells) {
        if (rowCount > 0) cells.DeleteRows(row, rowCount, info);
        if (colCount > 0) cells.DeleteCols(col, colCount, info);
    });
    FRanges.Swap(*ranges);
    validations.Commit();
    FDrawing.DeleteRowsAndCols(row, rowCount, col, colCount, info, FMeasure);
    if (rowCount > 0) FNotes.ArrangeInsert(row, -rowCount, false, FDrawing, FMeasure);
    if (colCount > 0) FNotes.ArrangeInsert(col, -colCount, true, FDrawing, FMeasure);
    if (rowCount > 0) {
        FHPageBreaks.DeleteRows(row, rowCount);
        FHLinks.DeleteRange({0, row, 0xFF, row}, rowCount, 0, info);
    }
    if (colCount > 0) {
        FVPageBreaks.DeleteCols(col, colCount);
        FHLinks.DeleteRange({col, 0, col, 0xFFFF}, 0, colCount, info);
    }
}

void TWorkSheet::SetHyperLinkCellRange(int index, const TXlsCellRange& range) {
    THLinkRecord& link = FHLinks.Link(index);
    link.SetCellRange(CheckedLinkRange(range));
}

void TWorkSheet::AddHyperLink(const TXlsCellRange& range, const THyperLink& link) {
    FHLinks.Add(std::make_unique<THLinkRecord>(CheckedLinkRange(range), link));
}

void TWorkSheet::DeleteHyperLink(int index) {
    FHLinks.Link(index);
    FHLinks.Delete(static_cast<std::size_t>(index));
}

// ---------------------------------------------------------------------------
// TWorkSheet: merged cells

template <class Visit>
void TWorkSheet::ForEachMerged(Visit visit) const {
    for (std::size_t i = 0; i < FRanges.Count(); ++i)
        if (auto* merged = dynamic_cast<TMergedCells*>(FRanges.Items(i))) visit(*merged);
}

namespace {
// Both corners checked, then each pair in order.
void OrderCorners(int& row1, int& col1, int& row2, int& col2) {
    CheckRowAndCol(row1, col1);
    CheckRowAndCol(row2, col2);
    if (row1 > row2) std::swap(row1, row2);
    if (col1 > col2) std::swap(col1, col2);
}
}  // namespace

// The rectangle grows until a whole pass over the entries leaves it as it
// is: a range it swallowed may reach one an earlier entry holds.
void TWorkSheet::MergeCells(int row1, int col1, int row2, int col2) {
    OrderCorners(row1, col1, row2, col2);
    if (row1 == row2 && col1 == col2) return;
    TMergedCells* last = nullptr;
    for (bool changed = true; changed;) {
        changed = false;
        ForEachMerged([&](TMergedCells& merged) {
            const int before[] = {row1, col1, row2, col2};
            merged.PreMerge(row1, col1, col2, row2);
            changed = changed || before[0] != row1 || before[1] != col1 || before[2] != row2 || before[3] != col2;
            last = &merged;
        });
    }
    if (!last) {
        auto entry = std::make_unique<TMergedCells>();
        last = entry.get();
        FRanges.Add(std::move(entry));
    }
    last->MergeCells(row1, col1, col2, row2);
}

void TWorkSheet::UnMergeCells(int row1, int col1, int row2, int col2) {
    OrderCorners(row1, col1, row2, col2);
    ForEachMerged([&](TMergedCells& merged) { merged.UnMergeCells(row1, col1, col2, row2); });
}

TXlsCellRange TWorkSheet::CellMergedBounds(int row, int col) const {
    TXlsCellRange bounds{col, row, col, row};
    bool found = false;
    ForEachMerged([&](const TMergedCells& merged) { found = found || merged.CheckCell(row, col, bounds); });
    return bounds;
}

TXlsCellRange TWorkSheet::CellMergedList(int index) const {
    TXlsCellRange range{0, 0, 0, 0};
    if (index < 0) return range;
    auto left = static_cast<std::size_t>(index);
    bool found = false;
    ForEachMerged([&](const TMergedCells& merged) {
        if (found) return;
        found = left < merged.MergedCount();
        if (found) range = merged.MergedCell(left);
        else left -= merged.MergedCount();
    });
    return range;
}

int TWorkSheet::CellMergedListCount() const {
    std::size_t count = 0;
    ForEachMerged([&](const TMergedCells& merged) { count += merged.MergedCount(); });
    return static_cast<int>(count);
}

// An embedded chart's series follow too; everything is checked first.
void TWorkSheet::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                          const TSheetInfo& info) {
    const TArrangeCheck check(rowPos, rowCount, colPos, colCount, info);
    ForEachObject([&](const TPlainClientData& data) { data.CheckArrange(check); });
    FCells->ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
    FDrawing.ArrangeClientData(rowPos, rowCount, colPos, colCount, info);
}

void TWorkSheet::CheckArrange(const TArrangeCheck& check) const {
    ForEachObject([&](const TPlainClientData& data) { data.CheckArrange(check); });
    FCells->CheckArrange(check);
}

// The embedded charts' series, the conditional formats and the data
// validations are tried on copies before the cells change.
void TWorkSheet::ArrangeCopySheet(const TSheetInfo& info) {
    ForEachObject([&](const TPlainClientData& data) { data.CheckCopySheet(info); });
    auto ranges = TriedRanges([&](TRangeList& list) { list.ArrangeCopySheet(info); });
    TValidationChange validations({&FHead, &FTail}, [&](TDVRecord& dv) { dv.ArrangeCopySheet(info); });
    FCells->ArrangeInsertSheet(info);
    ForEachObject([&](TPlainClientData& data) { data.ArrangeCopySheet(info); });
    FRanges.Swap(*ranges);
    validations.Commit();
}

int TWorkSheet::GetRowHeight(int row, bool hiddenIsZero) const {
    CheckRowAndCol(row, 0);
    if (!FCells->Rows().HasRow(row)) return FDefRowHeight;
    const TRowRecord& record = *FCells->Rows().GetItems(static_cast<std::size_t>(row));
    return hiddenIsZero && record.IsHidden() ? 0 : record.GetHeight();
}

void TWorkSheet::SetRowHeight(int row, int height) {
    CheckRowAndCol(row, 0);
    FCells->Rows().AddRow(row);
    FCells->Rows().SetRowHeight(row, height);
}

bool TWorkSheet::GetRowHidden(int row) const {
    CheckRowAndCol(row, 0);
    return FCells->Rows().HasRow(row) && FCells->Rows().GetItems(static_cast<std::size_t>(row))->IsHidden();
}

void TWorkSheet::SetRowHidden(int row, bool hidden) {
    CheckRowAndCol(row, 0);
    if (!hidden && !FCells->Rows().HasRow(row)) return;
    FCells->Rows().AddRow(row);
    FCells->Rows().GetItems(static_cast<std::size_t>(row))->Hide(hidden);
}

int TWorkSheet::GetRowFormat(int row) const {
    CheckRowAndCol(row, 0);
    if (!FCells->Rows().HasRow(row)) return -1;
    const TRowRecord& record = *FCells->Rows().GetItems(static_cast<std::size_t>(row));
    return record.IsFormatted() ? record.GetXF() : -1;
}

void TWorkSheet::SetRowFormat(int row, int xf) {
    CheckRowAndCol(row, 0);
    FCells->Rows().AddRow(row);
    FCells->Rows().GetItems(static_cast<std::size_t>(row))->SetXF(static_cast<std::uint16_t>(xf));
    if (const TCellRecordList* cells = FCells->CellList().GetItems(static_cast<std::size_t>(row)))
        for (std::size_t i = 0; i < cells->Count(); ++i) cells->GetItems(i)->SetXF(static_cast<std::uint16_t>(xf));
}

namespace {

TColInfo NewColInfo(int width, std::uint16_t options) {
    return {0, static_cast<std::uint16_t>(width), 15, options};
}

}  // namespace

TColInfo& TWorkSheet::ColumnEntry(int col) { return FColInfo.Ensure(col, NewColInfo(FDefColWidth, 0)); }

int TWorkSheet::GetColWidth(int col, bool hiddenIsZero) const {
    CheckRowAndCol(0, col);
    const TColInfo* entry = FColInfo.Entry(col);
    if (!entry) return FDefColWidth;
    return hiddenIsZero && entry->IsHidden() ? 0 : entry->Width;
}

void TWorkSheet::SetColWidth(int col, int width) {
    CheckRowAndCol(0, col);
    if (width < 0 || width > 65535) Raise(ErrXlsIndexOutBounds, width, "ColumnWidth", 0, 65535);
    FColInfo.Ensure(col, NewColInfo(width, 0)).Width = static_cast<std::uint16_t>(width);
}

bool TWorkSheet::GetColHidden(int col) const {
    const TColInfo* entry = col >= 0 && col <= MaxSheetCol ? FColInfo.Entry(col) : nullptr;
    return entry && entry->IsHidden();
}

void TWorkSheet::SetColHidden(int col, bool hidden) {
    if (col < 0 || col > MaxSheetCol) return;
    if (hidden) {
        FColInfo.Ensure(col, NewColInfo(FDefColWidth, 1)).Options |= 1;
    } else if (TColInfo* entry = FColInfo.Entry(col)) {
        if (entry->Width == 0) entry->Width = static_cast<std::uint16_t>(FDefColWidth);
        entry->Options &= ~1;
    }
}

int TWorkSheet::GetColFormat(int col) const {
    CheckRowAndCol(0, col);
    const TColInfo* entry = FColInfo.Entry(col);
    return entry ? entry->XF : -1;
}

void TWorkSheet::SetColFormat(int col, int xf) {
    CheckRowAndCol(0, col);
    const int count = FWorkbookGlobals ? static_cast<int>(FWorkbookGlobals->XF().Count()) : 0x10000;
    if (xf < 0 || xf >= count) Raise(ErrXlsIndexOutBounds, xf, "XF", 0, count - 1);
    ColumnEntry(col).XF = static_cast<std::uint16_t>(xf);
    const TCellList& cells = FCells->CellList();
    for (std::size_t row = 0; row < cells.Count(); ++row)
        if (TCellRecord* cell = cells.GetItems(row) ? cells.FindCell(static_cast<int>(row), col) : nullptr)
            cell->SetXF(static_cast<std::uint16_t>(xf));
}

int TWorkSheet::GetColOutlineLevel(int col) const {
    CheckRowAndCol(0, col);
    const TColInfo* entry = FColInfo.Entry(col);
    return entry ? entry->GetColOutlineLevel() : 0;
}

namespace {

void CheckOutlineLevel(int level) {
    if (level < 0 || level > 7) Raise(ErrXlsIndexOutBounds, level, "OutlineLevel", 0, 7);
}

}  // namespace

void TWorkSheet::OutlineChanged() {
    EnsureGuts();
    FGuts->RecalcNeeded = true;
}

void TWorkSheet::SetColOutlineLevel(int col, int level) {
    CheckRowAndCol(0, col);
    CheckOutlineLevel(level);
    OutlineChanged();
    ColumnEntry(col).SetColOutlineLevel(level);
}

int TWorkSheet::GetRowOutlineLevel(int row) const {
    CheckRowAndCol(row, 0);
    return FCells->Rows().HasRow(row) ? FCells->Rows().GetItems(static_cast<std::size_t>(row))->GetRowOutlineLevel() : 0;
}

void TWorkSheet::SetRowOutlineLevel(int row, int level) {
    CheckRowAndCol(row, 0);
    CheckOutlineLevel(level);
    OutlineChanged();
    FCells->Rows().AddRow(row);
    FCells->Rows().GetItems(static_cast<std::size_t>(row))->SetRowOutlineLevel(static_cast<std::uint8_t>(level));
}

void TWorkSheet::EnsureGuts() {
    if (FGuts) return;
    std::size_t at = FHead.Count();
    for (std::size_t i = 0; i < FHead.Count(); ++i)
        if (FHead.GetItems(i) && FHead.GetItems(i)->Id == xlr_DEFAULTROWHEIGHT) {
            at = i;
            break;
        }
    auto guts = std::make_unique<TGutsRecord>();
    FGuts = guts.get();
    FHead.Insert(at, std::move(guts));
}

// ---------------------------------------------------------------------------
// Chart sheets and sheets held as records

void TKmrChart::Clear() {
    TSheet::Clear();
    FChartRecords.Clear();
    FDimensions.clear();
}

std::int64_t TKmrChart::TotalSize() const { return TSheet::TotalSize() + FChartRecords.GetTotalSize(); }

void TKmrChart::Take(std::unique_ptr<TBaseRecord> record, TSST& sst) {
    switch (record->Id) {
        case xlr_BOF: Raise(ErrExcelInvalid);
        case xlr_DIMENSIONS: FDimensions = record->Data; return;
        case xlr_EOF: FEOF = Cast<TEOFRecord>(record); return;
        case xlr_CODENAME: FCodeName = Cast<TCodeNameRecord>(record); return;
        default:
            if (record->Is(rkIgnore)) return;
            if (record->Is(rkLabelSST)) static_cast<TLabelSSTRecord&>(*record).AttachToSST(sst);
            FChartRecords.Add(std::move(record));
    }
}

// Nested blocks are read by the chart reader's loop; only the top level's
// records may be cached.
void TKmrChart::LoadFromStream(TOle2File& ole, TRecordHeader& header, std::unique_ptr<TBOFRecord> first,
                               TSST& sst) {
    Clear();
    RegisterChartRecords();
    try {
        LoadChartRecords(ole, header, [&](std::unique_ptr<TBaseRecord> record, int depth) {
            if (depth == 0) LoadCachePointers(record.get());
            Take(std::move(record), sst);
        });
    } catch (...) {
        Clear();
        throw;
    }
    FBOF = std::move(first);
}

namespace {

constexpr std::uint16_t xlr_INDEX = 0x20B;

// What a sheet held as records reads through its record class: the section
// markers, CODENAME, the settings the sheet caches, labels (their strings
// live in the workbook's table) and INDEX, whose stream positions a save
// moves and which is dropped as every sheet drops it. Everything else,
// formulas, shared formulas, DIMENSIONS and the other cache records among
// it, stays a plain record and goes back byte for byte.
bool HeldPlain(std::uint16_t id) {
    switch (id) {
        case xlr_BOF:
        case xlr_EOF:
        case xlr_CODENAME:
        case xlr_LABELSST:
        case xlr_INDEX:
        case xlr_WINDOW2:
        case xlr_SCL:
        case xlr_FOOTER:
        case xlr_HEADER:
        case xlr_PRINTGRIDLINES:
        case xlr_LEFTMARGIN:
        case xlr_RIGHTMARGIN:
        case xlr_TOPMARGIN:
        case xlr_BOTTOMMARGIN:
        case xlr_SETUP:
        case xlr_PLS:
        case xlr_WSBOOL:
        case xlr_HCENTER:
        case xlr_VCENTER:
        case xlr_PANE:
        case xlr_GUTS:
        case xlr_REFMODE:
        case xlr_AUTOFILTERINFO: return false;
        default: return true;
    }
}

}  // namespace

void TKmrUnsupportedSheet::Clear() {
    TKmrChart::Clear();
    FCodeNameAt.reset();
}

void TKmrUnsupportedSheet::LoadFromStream(TOle2File& ole, TRecordHeader& header, std::unique_ptr<TBOFRecord> first,
                                          TSST& sst) {
    Clear();
    try {
        std::uint16_t id;
        do {
            id = header.Id;
            auto record = LoadRecords(ole, header, HeldPlain);
            LoadCachePointers(record.get());
            switch (record->Id) {
                case xlr_BOF: Raise(ErrExcelInvalid);
                case xlr_EOF: FEOF = Cast<TEOFRecord>(record); break;
                case xlr_CODENAME:
                    FCodeName = Cast<TCodeNameRecord>(record);
                    FCodeNameAt = FChartRecords.Count();
                    break;
                default:
                    if (record->Is(rkIgnore)) break;
                    if (record->Is(rkLabelSST)) static_cast<TLabelSSTRecord&>(*record).AttachToSST(sst);
                    FChartRecords.Add(std::move(record));
            }
        } while (id != xlr_EOF);
    } catch (...) {
        Clear();
        throw;
    }
    FBOF = std::move(first);
}

void TKmrChart::SaveToStream(TOle2File& ole) {
    CheckSaved();
    FBOF->SaveToStream(ole);
    FChartRecords.SaveToStream(ole);
    SaveCodeName(ole);
    FEOF->SaveToStream(ole);
}

void TKmrUnsupportedSheet::SaveToStream(TOle2File& ole) {
    CheckSaved();
    FBOF->SaveToStream(ole);
    const std::size_t at = std::min(FCodeNameAt.value_or(FChartRecords.Count()), FChartRecords.Count());
    for (std::size_t i = 0; i < FChartRecords.Count(); ++i) {
        if (i == at) SaveCodeName(ole);
        if (const TBaseRecord* record = FChartRecords.GetItems(i)) record->SaveToStream(ole);
    }
    if (at == FChartRecords.Count()) SaveCodeName(ole);
    FEOF->SaveToStream(ole);
}

void TKmrChart::SetPageHeaderFooter(TPageHeaderFooterRecord& record, std::u16string_view text) {
    ResizeRecord(record, [&] { record.SetText(text); });
}

void TKmrChart::AddZoomRecord() {
    auto scl = std::make_unique<TSCLRecord>(100);
    FSCL = scl.get();
    FChartRecords.Add(std::move(scl));
}

std::unique_ptr<TSheet> TKmrChart::NewSheet(TWorkbookGlobals* globals) const {
    return std::make_unique<TKmrChart>(globals);
}

std::unique_ptr<TSheet> TKmrUnsupportedSheet::NewSheet(TWorkbookGlobals* globals) const {
    return std::make_unique<TKmrUnsupportedSheet>(globals);
}

// The copy holds copies of every record (its AI cache filled as they join).
std::unique_ptr<TSheet> TKmrChart::DoCopyTo() const {
    auto copy = TSheet::DoCopyTo();
    auto& chart = static_cast<TKmrChart&>(*copy);
    chart.FChartRecords.CopyFrom(FChartRecords);
    chart.FDimensions = FDimensions;
    chart.FixCachePointers();
    return copy;
}

void RegisterWorksheetRecordClasses() {
    RegisterFormulaRecords();
    RegisterChartRecords();
    RegisterRangeRecords();
}

std::unique_ptr<TSheet> NewSheetOfType(TWorkbookGlobals* globals, std::uint16_t bofType) {
    switch (bofType) {
        case BOFWorksheet: return std::make_unique<TWorkSheet>(globals);
        case BOFChart: return std::make_unique<TKmrChart>(globals);
        case BOFGlobals: Raise(ErrExcelInvalid);
        default: return std::make_unique<TKmrUnsupportedSheet>(globals);
    }
}

void TChartList::ArrangeInsertRowsAndCols(int rowPos, int rowCount, int colPos, int colCount,
                                          const TSheetInfo& info) {
    const TArrangeCheck check(rowPos, rowCount, colPos, colCount, info);
    for (const auto& chart : List()) chart->Records().CheckArrange(check);
    for (const auto& chart : List()) chart->ArrangeInsertRowsAndCols(rowPos, rowCount, colPos, colCount, info);
}

void TChartList::SaveToStream(TOle2File& ole) const {
    for (const auto& chart : List()) chart->SaveToStream(ole);
}

// ---------------------------------------------------------------------------
// Autofilter

void TWorkSheet::SetAutoFilter(int row, int firstCol, int lastCol) {
    if (lastCol < firstCol) return RemoveAutoFilter();
    FDrawing.RemoveAutoFilter(&TPlainClientData::IsAutoFilter);
    if (!FAutoFilterInfo) {
        std::size_t at = FHead.Count();
        for (std::size_t i = 0; i < FHead.Count(); ++i)
            if (FHead.GetItems(i)->Id == xlr_DEFCOLWIDTH || FHead.GetItems(i)->Id == xlr_DIMENSIONS) {
                at = i;
                break;
            }
        FHead.Insert(at, std::make_unique<TAutoFilterInfoRecord>(xlr_AUTOFILTERINFO, std::vector<std::uint8_t>(2)));
        FixCachePointers();
    }
    FAutoFilterInfo->Set_DropDownCount(static_cast<std::uint16_t>(lastCol - firstCol + 1));
    FDrawing.AddAutoFilter(row, firstCol, lastCol, FMeasure,
                           [](std::uint16_t id) { return TPlainClientData::NewAutoFilterObj(id); });
}

void TWorkSheet::RemoveAutoFilter() {
    FDrawing.RemoveAutoFilter(&TPlainClientData::IsAutoFilter);
    for (std::size_t i = FHead.Count(); i-- > 0;) {
        const std::uint16_t id = FHead.GetItems(i)->Id;
        if (id == 0x9E || id == xlr_AUTOFILTERINFO || id == 0x9B) FHead.Delete(i);
    }
    FixCachePointers();
}

}  // namespace kalmira
