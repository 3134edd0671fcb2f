// The workbook globals: the first section of the workbook stream, which
// holds what the sheets share (strings, formats, palette, the sheet
// directory, defined names, references, the drawing group) and the
// workbook's settings. Records no list takes stay in one record list in
// the order read and are written back there.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "workbook/cells/UXlsFormula.h"
#include "workbook/cells/UXlsReferences.h"
#include "workbook/drawing/UXlsEscher.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsGlobalsAccess.h"
#include "workbook/storage/UXlsPalette.h"
#include "workbook/storage/UXlsSettingRecords.h"
#include "workbook/storage/UXlsXF.h"
#include "workbook/storage/Usheetnamelist.h"
#include "workbook/storage/Uxlssections.h"

namespace kalmira {

inline constexpr std::uint16_t xlr_BOUNDSHEET = 0x85;
inline constexpr std::uint16_t xlr_COUNTRY = 0x8C;
inline constexpr std::uint16_t xlr_MSODRAWINGGROUP = 0xEB;

// The option bit of a built-in name.
inline constexpr std::uint16_t NameBuiltIn = 0x20;

// BOUNDSHEET: 0 stream offset of the sheet's BOF, 4 visibility, 5 sheet
// type, 6 the name as a BIFF8 string with a 1-byte count.
class TBoundSheetRecord : public TRecordOf<TBoundSheetRecord> {
public:
    // Under 8 bytes, or a name running past the data: "Record with ID 0x%x
    // is invalid".
    TBoundSheetRecord(std::uint16_t id, std::vector<std::uint8_t> data);
    // Offset 0; the name 8-bit when every character fits.
    TBoundSheetRecord(std::uint16_t optionFlags, std::u16string_view name);

    std::uint32_t GetOffset() const { return GetLongWord(Data, 0); }
    void SetOffset(std::uint32_t offset) { SetLongWord(Data, 0, offset); }
    std::uint16_t GetOptionFlags() const { return GetWord(Data, 4); }
    std::u16string GetSheetName() const;
    // Rebuilds the data: the record's size changes with the name.
    void SetSheetName(std::u16string_view name);
};

class TBoundSheetRecordList : public TBaseRecordList {
public:
    TBoundSheetRecord* GetItems(std::size_t index) const { return static_cast<TBoundSheetRecord*>(Items(index)); }
};

// The sheet directory: the BOUNDSHEET records in sheet order and the set of
// their names, which keeps them unique.
class TBoundSheetList {
public:
    // The very name already present: "Sheet name already exists: %s", the record
    // freed.
    void Add(std::unique_ptr<TBoundSheetRecord> record);
    // A new record at beforeSheet, named from name made unique.
    void InsertSheet(int beforeSheet, std::uint16_t optionFlags, std::u16string_view name);
    void DeleteSheet(int index);
    // The name made valid, renamed (a taken name is refused, nothing
    // changed), then written into the record.
    void SetSheetName(int index, std::u16string_view name);
    void Clear();

    int Count() const { return static_cast<int>(FBoundSheets.Count()); }
    TBoundSheetRecord& Sheet(int index) const { return *FBoundSheets.GetItems(static_cast<std::size_t>(index)); }
    int FindSheet(std::u16string_view name) const;

    void SaveToStream(TOle2File& ole) const { FBoundSheets.SaveToStream(ole); }
    void SaveRangeToStream(TOle2File& ole, int sheetIndex) const { Sheet(sheetIndex).SaveToStream(ole); }
    std::int64_t TotalSize() const { return FBoundSheets.GetTotalSize(); }
    std::int64_t TotalRangeSize(int sheetIndex) const { return Sheet(sheetIndex).TotalSize(); }

private:
    TSheetNameList FSheetNames;
    TBoundSheetRecordList FBoundSheets;
};

class TWorkbookGlobals : public TBaseSection {
public:
    TWorkbookGlobals() = default;
    ~TWorkbookGlobals() override;
    // The access object points back at these globals: they stay in place.
    TWorkbookGlobals(const TWorkbookGlobals&) = delete;
    TWorkbookGlobals& operator=(const TWorkbookGlobals&) = delete;

    void Clear() override;
    // Meaningful once the string table has dropped its unused entries
    // (FixRefs).
    std::int64_t TotalSize() const override;
    std::int64_t TotalRangeSize(int sheetIndex, const TXlsCellRange& range) const override;
    // The globals keep their own string table; the one given is not used.
    void LoadFromStream(TOle2File& ole, TRecordHeader& header, std::unique_ptr<TBOFRecord> first,
                        TSST& sst) override;
    void SaveToStream(TOle2File& ole) override;
    // The same with only the BOUNDSHEET of sheetIndex and no drawing group.
    void SaveRangeToStream(TOle2File& ole, int sheetIndex, const TXlsCellRange& range) override;

    TSST& SST() { return FSST; }
    int FindSheet(std::u16string_view name) const { return FBoundSheets.FindSheet(name); }
    // What the cell storage reaches of the globals: the string table, the
    // sheets and the formula services of the external references.
    TGlobalsAccess& Access() { return FAccess; }
    TDrawingGroup& DrawingGroup() { return FDrawingGroup; }
    // The drawing group was damaged and dropped on load: so are the sheets'
    // drawings, whose pictures it holds.
    bool DrawingsDropped() const { return FDrawingsDropped; }
    TReferences& References() { return FReferences; }

    // The sheet directory. A sheet index outside it: "Sheet number "%d"
    // invalid. Must be between %d and %d".
    int GetSheetCount() const { return FBoundSheets.Count(); }
    std::u16string GetSheetName(int index) const;
    void SetSheetName(int index, std::u16string_view name);
    TXlsSheetVisible GetSheetVisible(int index) const;
    void SetSheetVisible(int index, TXlsSheetVisible value);
    std::uint16_t GetSheetOptionFlags(int index) const;
    // Where the sheet's section starts in the stream, as read or last saved.
    std::uint32_t GetSheetOffset(int index) const;
    void SheetSetOffset(int index, std::uint32_t offset);
    // Sets each sheet's offset, as SheetSetOffset, in the BOUNDSHEET records
    // that SaveToStream has just written too.
    void PatchSheetOffsets(TOle2File& ole, const std::vector<std::uint32_t>& offsets);

    // Settings; without their record the getters give 0 or false and the
    // setters change nothing.
    int GetActivesheet() const;
    void SetActiveSheet(int sheet);
    void SetFirstSheetVisible(int sheet);
    // WINDOW1's first visible tab; 0 without WINDOW1.
    int GetFirstSheetVisible() const;
    bool GetIs1904() const;
    void SetIs1904(bool value);
    bool GetPrecisionAsDisplayed() const;
    void SetPrecisionAsDisplayed(bool value);
    bool GetSaveExternalLinkValues() const;
    void SetSaveExternalLinkValues(bool value);

    // The workbook's colour, or the default one without PALETTE.
    std::uint32_t GetColorPalette(int index) const;
    // Without PALETTE a default one is inserted after the last XF or STYLE
    // read; an index outside the palette changes nothing.
    void SetColorPalette(int index, std::uint32_t color);

    // sheetCount new sheets at beforeSheet, named from name; the names of
    // copyFrom are copied to them.
    void InsertSheets(int copyFrom, int beforeSheet, int sheetCount, std::u16string_view name,
                      std::uint16_t optionFlags);
    // Checked whole before anything goes.
    void DeleteSheets(int firstSheet, int sheetCount);
    // The names' new positions once sheets firstSheet.. go with the names
    // local to them, and what tells a ptgNameX on this workbook.
    TNameRenumbering NamesAfterDeletingSheets(int firstSheet, int sheetCount);
    void InsertAndCopyRowsAndCols(int firstRow, int lastRow, int destRow, int rowCount, int firstCol, int lastCol,
                                  int destCol, int colCount, const TSheetInfo& info);
    void DeleteRowsAndCols(int row, int rowCount, int col, int colCount, const TSheetInfo& info);
    // The sheet info for a change on sheet: the references' sheet lookup,
    // and their entry of one sheet (added when absent).
    TSheetInfo SheetInfo(int insSheet, int formulaSheet) { return SheetInfo(insSheet, formulaSheet, GetSheetCount()); }

    // Whether a defined name's text is valid; a one-character built-in
    // name sets NameBuiltIn in optionFlags.
    static bool IsValidRangeName(std::u16string_view name, std::uint16_t& optionFlags);
    // Replaces the name of the same sheet and text (any case) or appends a
    // new one. Its formula text is read with references absolute and on
    // the name's sheet (sheet 0 for a workbook-wide name); a refused text
    // changes nothing. An invalid name that replaces nothing: "Invalid
    // named range: "%s""; a sheet the workbook lacks: "Sheet number "%d"
    // invalid. Must be between 0 and %d".
    void AddName(const TXlsNamedRange& range);
    // The same with the name's finished tokens.
    void AddName(const TXlsNamedRange& range, std::span<const std::uint8_t> tokens);
    // The last name of the sheet with the text (any case), or none.
    TNameRecord* GetName(int sheetIndex, std::u16string_view name) const;

    TNameRecordList& Names() { return FNames; }
    // Cell formats, fonts and number formats.
    TXFRecordList& XF() { return FXF; }
    TFontRecordList& Fonts() { return FFonts; }
    TFormatRecordList& Formats() { return FFormats; }
    const TBaseRecordList& Records() const { return FRecords; }
    bool HasMacro() const { return FHasMacro; }
    bool IsXltTemplate() const { return FIsXltTemplate; }
    // The TEMPLATE record is written while the flag is set.
    void SetIsXltTemplate(bool value) { FIsXltTemplate = value; }
    const std::u16string& CodeName() const { return FCodeName; }

private:
    // TGlobalsAccess and TReferencesBook over these globals. The directory's
    // GetSheetName (a sheet's name) is not the access's GetSheetName (the
    // prefix of a 3-D reference): the two live apart.
    class TAccess final : public TGlobalsAccess, public TReferencesBook {
    public:
        explicit TAccess(TWorkbookGlobals& globals) : G(globals) {}
        TSST& SST() override { return G.FSST; }
        int FindSheet(std::u16string_view name) const override { return G.FindSheet(name); }
        std::u16string GetSheetName(int externSheet) const override;
        std::u16string GetName(int externSheet, int nameIndex) const override;
        int AddExternSheet(int firstSheet, int lastSheet) override;
        TReferencesMark MarkReferences() const override { return G.FReferences.Mark(); }
        void RestoreReferences(const TReferencesMark& mark) override { G.FReferences.Restore(mark); }
        int SheetCount() const override { return G.GetSheetCount(); }
        std::u16string SheetName(int sheet) const override { return G.GetSheetName(sheet); }
        const TNameRecordList& DefinedNames() const override { return G.FNames; }

    private:
        TWorkbookGlobals& G;
    };

    // sheetCount: the sheets a new local SUPBOOK is made with.
    TSheetInfo SheetInfo(int insSheet, int formulaSheet, int sheetCount);
    void Dispatch(std::unique_ptr<TBaseRecord> record);
    void LoadDrawingGroup(TOle2File& ole, TRecordHeader& header, std::unique_ptr<TBaseRecord> record);
    void Take(std::unique_ptr<TBaseRecord> record);
    void CheckSheet(int index) const;
    // Steps 2 to 10 of a save; sheetIndex -1 writes every BOUNDSHEET and the
    // drawing group.
    void SaveSections(TOle2File& ole, int sheetIndex);
    std::int64_t SizeWithout(bool drawingGroup) const;

    TSST FSST;
    TReferences FReferences;
    TBoundSheetList FBoundSheets;
    std::int64_t FBoundSheetsAt = 0;  // where the last save wrote the BOUNDSHEET records
    TBaseRecordList FRecords;
    TNameRecordList FNames;
    TDrawingGroup FDrawingGroup;
    TWindow1Record* FWindow1 = nullptr;
    T1904Record* F1904 = nullptr;
    TBookBoolRecord* FBookBool = nullptr;
    TPrecisionRecord* FPrecision = nullptr;
    // Cell formats, fonts and number formats, held as read; each is written
    // where its first record stood.
    TXFRecordList FXF;
    TFontRecordList FFonts;
    TFormatRecordList FFormats;
    TPaletteRecord* FPalette = nullptr;
    std::size_t FPaletteIndex = 0;
    bool FHasMacro = false;
    bool FDrawingsDropped = false;
    bool FIsXltTemplate = false;
    std::u16string FCodeName;
    TAccess FAccess{*this};
};

}  // namespace kalmira
