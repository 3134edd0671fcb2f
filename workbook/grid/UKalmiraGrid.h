// The sheet grid: a view of the active sheet of a facade, and the text
// measuring it shares with autofit and printing (class methods usable
// without a grid object: they take the workbook and a canvas).
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "workbook/api/UExcelAdapter.h"
#include "workbook/grid/UKmrCanvas.h"
#include "workbook/grid/UKmrCustomGrid.h"
#include "workbook/grid/UKmrMetafile.h"
#include "workbook/grid/UKmrPrinter.h"
#include "workbook/storage/UKmrFormats.h"

#include <QImage>

namespace kalmira {

class TKalmiraImport;
class TKalmiraGrid;
class TKmrGraphic;

// What SaveFont keeps of a canvas font.
struct TSavedFont {
    bool Bold = false;
    bool Italic = false;
    bool Underline = false;
    bool StrikeOut = false;
    int Height = 0;
    std::u16string Name;
    std::uint32_t Color = 0;
    int Rotation = 0;  // escapement, tenths of a degree
};

// How a sub- or superscript run is measured: its size factor, and the
// divisor of the height of "Mg" that gives its baseline shift (0: none).
struct TSubscriptData {
    long double Factor = 1;
    long double Divisor = 0;
};

// Rounds to the nearest integer, halves to even.
int RoundEven(long double value);

class TKalmiraGridText {
public:
    static void WideTextExtent(TCanvas& canvas, std::u16string_view text, TSize& extent);
    // Subscript (style bit 4) is tested before superscript (bit 3).
    static TSubscriptData GetSubscriptData(std::uint8_t styleBits);
    static long double SubscriptOffset(const TSubscriptData& data, TCanvas& canvas);
    // The canvas font's ascent: runs of different fonts share one baseline
    // through it.
    static int FontDescent(TCanvas& canvas);
    // Rotation 0..90 rises, 91..180 falls (negative), 255 is stacked.
    static long double CalcAngle(int rotation, bool& stacked);
    static void RotateFont(TCanvasFont& font, int rotation);
    static void RotateFontDirect(TCanvasFont& font, int tenths);
    static int GetFontRotation(const TCanvasFont& font);
    static void AssignUnrotatedFont(const TCanvasFont& source, TCanvasFont& target);
    static TSavedFont SaveFont(const TCanvasFont& font);
    static void RestoreFont(TCanvasFont& font, const TSavedFont& saved);
    // The canvas font from an engine font at zoom (1 = 100 %): the palette
    // colour through the facade, else defaultColor; the grid's
    // OnGetFontName may rename it.
    static void LoadFont(TKalmiraImport* facade, TKalmiraGrid* grid, std::uint32_t defaultColor, long double zoom,
                         TCanvas& canvas, const TKmrFont& font);
    // Runs (first characters from 1) starting in [start, start + count),
    // made relative to start.
    static TRTFRunList GetRuns(const TRTFRunList& runs, int start, int count);
    // Plain text: its extent in the canvas font. Rich text, or text that is
    // a sub- or superscript as a whole (whole: the cell font's data; the
    // canvas font is then the cell font at its full size, and the text is
    // drawn smaller): the width of all pieces by the height from the
    // highest ascent to the lowest descent about the canvas font's
    // baseline, a superscript raised and a subscript lowered by its
    // SubscriptOffset; ascent is that baseline's distance from the top.
    static void CalcTextExtent(TExcelFile& workbook, TCanvas& canvas, std::u16string_view text,
                               const TRTFRunList& runs, long double zoom, TSize& extent, int& ascent,
                               const TSubscriptData& whole = {});
    // Cuts text into lines of at most width pixels (a word wider than that
    // between characters, never inside a surrogate pair); the extent is the
    // widest line by the tallest single line.
    static void SplitText(TExcelFile& workbook, TCanvas& canvas, std::u16string_view text, int width,
                          long double zoom, bool stacked, const TRTFRunList& runs, std::vector<std::u16string>& lines,
                          std::vector<TRTFRunList>& lineRuns, TSize& extent, const TSubscriptData& whole = {});

protected:
    // Calls each(piece, shift) for the characters before the first run (in
    // the canvas font, made smaller for a whole sub- or superscript) and for
    // each run (in its own font, its colour through the palette when
    // colours is set), the piece's font on the canvas; shift > 0 raises.
    // The canvas font comes back afterwards, also on failure.
    template <class F>
    static void ForEachPiece(TExcelFile& workbook, TCanvas& canvas, std::u16string_view text, const TRTFRunList& runs,
                             long double zoom, const TSubscriptData& whole, bool colours, F each);
};

// One picture of the sheet, sizes in pixels at zoom 100.
struct TPictureData {
    int Col1 = 0;
    int Row1 = 0;
    int Col2 = 0;
    int Row2 = 0;
    int LeftOffset = 0;
    int TopOffset = 0;
    int Width = 0;
    int Height = 0;
    bool Opaque = false;  // a raster picture: cells under it are not painted
    QImage Picture;       // a raster, or what OnFormatPicture made; null when none
    // A metafile converted for drawing; null when the libraries could not
    // read it.
    std::shared_ptr<const TKmrVectorPicture> Metafile;
    QImage Shown;  // the metafile as the grid last showed it, at that size

    // Without one, the picture is drawn as an outlined frame.
    bool HasGraphic() const { return Metafile != nullptr || !Picture.isNull(); }
};

using TPictureDataList = std::vector<std::unique_ptr<TPictureData>>;

// The parameters of one print job, preview or count.
struct TPrintParams {
    int Scale = 100;
    long double Zoom = 1;
    long double XRatio = 1;
    long double YRatio = 1;
    TRect PrintRect;
    int PageWidth = 0;
    int PageHeight = 0;
};

// In row Row, text crosses the right edge of column Col.
struct TSpawnedCell {
    std::int32_t Row = 0;
    std::int32_t Col = 0;

    // By column (signed), then by row (unsigned).
    static std::int64_t Key(std::int32_t col, std::int32_t row) {
        return static_cast<std::int64_t>(col) * 0x100000000LL + static_cast<std::uint32_t>(row);
    }
    std::int64_t Key() const { return Key(Col, Row); }
};

// The text crossings of a printed page, sorted when first searched.
class TSpawnedCellList {
public:
    void Add(const TSpawnedCell& cell);
    void Sort();
    // Sorts first when needed; index is the first equal entry, or where
    // the key would go.
    bool Find(std::int64_t key, int& index);
    int Count() const { return static_cast<int>(FItems.size()); }
    const TSpawnedCell& operator[](int i) const { return FItems[static_cast<std::size_t>(i)]; }
    void Clear() { FItems.clear(), FSorted = false; }

private:
    std::vector<TSpawnedCell> FItems;
    bool FSorted = false;
};

// Where CalcTextPos places a text: its start point and its bounds.
struct TTextPos {
    int X = 0;
    int Y = 0;
    TRect Bounds;
};

enum class TTextVAlign : std::uint8_t { Top, Center, Bottom };
enum class TTextHAlign : std::uint8_t { Left, Center, Right };

// What MyDrawCell draws: the cell whose content shows (Col, Row), the cell
// being painted (PaintCol, CellClip), the content's rectangle (a merged
// range or an overflowing neighbour), and the device: XScale/YScale for
// sheet sizes and margins, Zoom in percent, ZoomFactor for fonts.
struct TDrawCellArgs {
    int Col = 0;
    int Row = 0;
    int PaintCol = 0;
    TRect CellClip;
    TRect ContentRect;
    unsigned State = 0;
    bool DrawBack = true;
    bool MayGrowLeft = false;
    bool MayGrowRight = false;
    int LastCol = 0;
    int LastRow = 0;
    long double XScale = 1;
    long double YScale = 1;
    TRect ClipRect;
    int Zoom = 100;
    long double ZoomFactor = 1;
    bool GridLines = true;
    bool SheetSizes = false;
    TSpawnedCellList* Spawned = nullptr;
    bool Draw = true;
};

// The grid view of the active sheet of a facade. Cells are painted in
// Color with their shown text; column and row 0 hold the headers. Facade
// calls take (row, col), the grid's own operations and events (col, row).
class TKalmiraGrid : public TKmrCustomGrid, public TKalmiraGridText {
    Q_OBJECT
public:
    explicit TKalmiraGrid(QWidget* parent = nullptr);
    ~TKalmiraGrid() override;

    TKalmiraImport* KalmiraImport() const { return FKalmiraImport; }
    // Only redraws: the sheet comes in with LoadSheet.
    void SetKalmiraImport(TKalmiraImport* facade);

    bool FormulaReadOnly = false;
    bool FullWorksheet = false;
    bool HideCursor = false;
    bool UseFixedCells = false;
    bool ShowHiddenRows = false;
    bool ShowHiddenCols = false;
    int ScrollWheelOffset = 1;
    int PrintLineWidth = 0;
    std::uint32_t Color = 0xFFFFFF;
    std::uint32_t BackgroundColor = 0xFFFFFF;
    std::uint32_t ForegroundColor = 0x000000;
    TCanvasFont GridFont;  // Arial 8 pt

    bool ReadOnly() const { return FReadOnly; }
    void SetReadOnly(bool value);
    int Zoom() const { return FZoom; }
    long double ZoomFactor() const { return FZoomFactor; }
    // Clamped to 10..400; OnZoomChanged gets the value asked for.
    void SetZoom(int value);
    bool ShowGridLines() const { return FShowGridLines; }
    // The canvas font last used for the current cell (a value: the editor
    // takes it without rotation).
    const TCanvasFont& CurrentCellFont() const { return FCurrentCellFont; }
    const TPictureDataList& Pictures() const { return FPictures; }

    std::function<void(TKalmiraGrid&, std::u16string&)> OnGetFontName;
    // Builds a picture the grid cannot decode itself.
    std::function<void(TKalmiraGrid&, const std::vector<std::uint8_t>&, TXlsImgTypes, QImage&)> OnFormatPicture;
    std::function<void(TKalmiraGrid&, int col, bool& result, int row)> OnSelectCell;
    std::function<void(TKalmiraGrid&, int col, int row, const std::u16string& text)> OnSetEditText;
    std::function<void(TKalmiraGrid&, int col, bool& allowed, int row)> OnAllowEditCell;
    std::function<void(TKalmiraGrid&, int zoom)> OnZoomChanged;
    std::function<void(TKalmiraGrid&)> OnTopLeftChanged;
    std::function<void(TKalmiraGrid&)> OnColWidthsChanged;
    std::function<void(TKalmiraGrid&)> OnRowHeightsChanged;
    std::function<void(TKalmiraGrid&, Qt::KeyboardModifiers, QPoint, bool& handled)> OnMouseWheelDown;
    std::function<void(TKalmiraGrid&, Qt::KeyboardModifiers, QPoint, bool& handled)> OnMouseWheelUp;
    // Failures of keys, editing and the clipboard; without a handler a
    // message box shows them.
    std::function<void(TKalmiraGrid&, const std::exception&)> OnError;

    // Sheet queries, rows and columns from 1.
    bool RowHidden(int row);
    bool ColumnHidden(int col);
    int RowH(int row);
    int ColW(int col);
    TVariant GetCellValue(int row, int col);
    void GetCellFormatDef(int row, int col, TKmrFormat& format);
    static std::u16string ColTitle(int col);

    // Signed pixel distances from line from to line to.
    int CalcAcumColWidth(bool sheetSizes, int from, int to, long double scaleA, long double scaleB);
    int CalcAcumRowHeight(bool sheetSizes, int from, int to, long double scaleA, long double scaleB);
    int CalcAcumColWidthZoom100(int from, int to);
    int CalcAcumRowHeightZoom100(int from, int to);

    void LoadSheet();
    void ResizeRowsAndCols();
    void ApplySheet();
    // What a grid read from a form description does after loading.
    void Loaded();

    TXlsCellRange GetCursorCoords();
    bool CalcPictureRect(int index, int maxCol, int maxRow, TRect& rect, bool whole, long double xFactor,
                         long double yFactor, long double zoomFactor);
    int GetMaxVisibleRow();
    int GetMaxVisibleCol();
    void CacheVisibleFormats(std::vector<bool>& flags);
    static bool IsVisibleFormat(int xf, const std::vector<bool>& flags);
    void LastMerged(int& row, int& col);

    // Cell drawing, on screen and for printing.
    bool IsEmptyCell(int row, int col);
    bool CellCanSpawnRight(int row, int col);
    bool CellCanSpawnLeft(int row, int col);
    bool PointInGridRange(int col, int row, TGridRect rect);
    std::uint32_t GetColor(int index);
    void MyDrawCell(TCanvas& canvas, const TDrawCellArgs& args);
    static TTextPos CalcTextPos(TTextVAlign v, TTextHAlign h, long double a, const TRect& r, int m, TSize extent,
                                bool general, bool stacked, int lines, long double sinA, long double cosA);
    // The same with margins of their own at the sides (mx) and at the top
    // and bottom (my).
    static TTextPos CalcTextPos(TTextVAlign v, TTextHAlign h, long double a, const TRect& r, int mx, int my,
                                TSize extent, bool general, bool stacked, int lines, long double sinA,
                                long double cosA);
    // The text of a number or date for a cell width pixels wide: as it is
    // when it fits, else General's narrower form that fits, else "#"s
    // filling the cell (numbers never flow into neighbours).
    std::u16string FitNumber(TCanvas& canvas, TExcelFile* book, const TVariant& value, std::u16string_view format,
                             std::u16string text, int width, const TSubscriptData& sub, long double zoom);
    // Draws a line of text whose extent's top-left corner is (x, y), run by
    // run on one baseline, clipped to clip; whole as for CalcTextExtent.
    static void WriteText(TExcelFile& workbook, TCanvas& canvas, const TRect& clip, int x, int y,
                          std::u16string_view text, const TRTFRunList& runs, long double zoom,
                          const TSubscriptData& whole = {});
    // Backgrounds and lines of a printed range whose first cell starts at
    // rect's top-left corner; s scales sheet sizes, x and y are the
    // device factors and m multiplies the output.
    void DrawBackground(TCanvas& canvas, const TXlsCellRange& range, long double s, long double x, long double y,
                        const TRect& rect, long double m);
    void DrawLines(TCanvas& canvas, const TXlsCellRange& range, long double s, long double x, long double y,
                   const TRect& rect, bool gridLines, TSpawnedCellList& spawned, long double m, bool preview);

    // Printing: pages from the sheet's page setup on Printer() (or the
    // device set here), a preview of one page, the page count. A last
    // page below 0 prints to the end.
    void SetPrinter(TKmrPrinter* printer) { FPrinter = printer; }
    // The clock of "&D" and "&T" in headers and footers: a date of the
    // 1900 system (days since 30 December 1899).
    std::function<double()> OnNow;
    void SetPrintLineWidth(int width);
    void Print(int firstPage, int lastPage);
    void Print(const TXlsCellRange& range, int firstPage, int lastPage);
    void PreviewPage(const TXlsCellRange& range, int page, TCanvas& canvas, int zoom);
    void CalcNumberOfPrintingPages(int& count);
    void CalcNumberOfPrintingPages(const TXlsCellRange& range, int& count);
    int GetMaxPrintableRow();
    int GetMaxPrintableCol();
    TPrintParams CalcPrintParams(const TXlsCellRange& range);
    // Cuts the page starting at (firstRow, firstCol).
    void CalcPrintedPage(int firstRow, int firstCol, int& lastRow, int& lastCol, const TXlsCellRange& range,
                         const TPrintParams& p);
    void InternalCalcNumberOfPrintingPages(const TXlsCellRange& range, int& across, int& down, const TPrintParams& p);
    int RealRowHeight(int row, long double zoom, long double yRatio);
    int RealColWidth(int col, long double zoom, long double xRatio);
    bool CalcPrintPictureRect(int index, TRect& rect, const TPrintParams& p, const TXlsCellRange& page);
    // One section of a header or footer with its codes, from (x, baseline y).
    void DoWriteHeader(int page, int total, const std::u16string& section, TCanvas& canvas, bool draw, int x, int y,
                       int& width, int& height, const TRect& clip, long double f);

    // Editing, navigation and the clipboard.
    TXlsCellRange GetXCellMergedBounds(int row, int col);
    void SetCell(int row, int col, const std::u16string& text);
    void CopyToClipboard();
    void PasteFromClipboard();

protected:
    void Paint(QPainter& painter, const QRect& clip) override;
    void DrawCell(QPainter& painter, int col, int row, const QRect& rect, unsigned state) override;
    bool SelectCell(int col, int row) override;
    bool CanEditShow() override;
    std::u16string GetEditText(int col, int row) override;
    void SetEditText(int col, int row, const std::u16string& text) override;
    void CreateEditor(QLineEdit& editor) override;
    void ColWidthsChanged() override;
    void RowHeightsChanged() override;
    void TopLeftChanged() override;
    void KeyDown(QKeyEvent* event) override;
    bool DoMouseWheelDown(Qt::KeyboardModifiers modifiers, QPoint pos) override;
    bool DoMouseWheelUp(Qt::KeyboardModifiers modifiers, QPoint pos) override;
    void ReportError(const std::exception& error) override;

private:
    bool Open() const;
    void DrawCursor(QPainter& painter, const TXlsCellRange& range);
    // Sheet size in pixels at the current zoom: the one conversion both
    // ResizeRowsAndCols and ApplySheet use, so a zoom never writes back.
    int RowPixels(int twips) const;
    int ColPixels(int width) const;
    void LoadPicture(int index);
    void ClearSelection();
    void MergedMove(int key);
    std::unique_ptr<TKmrGraphic> FillOf(const TKmrFormat& format, std::uint32_t& brush, bool& hasFill);
    // Text of the cell may flow out of it: not aligned to blocking, not
    // wrapped, not merged.
    bool CellCanSpawn(int row, int col, THKmrAlignment blocking);
    void RecordCrossing(TCanvas& canvas, const TDrawCellArgs& args, int col);
    // Runs a key or wheel action, reporting its failure.
    template <class F>
    void Guarded(F action);

    TKalmiraImport* FKalmiraImport = nullptr;
    bool FReadOnly = false;
    int FZoom = 100;
    long double FZoomFactor = 1;
    bool FShowGridLines = true;
    bool FSheetLoaded = false;
    TCanvasFont FCurrentCellFont;
    int FLastRow = -1;
    int FLastCol = -1;
    int FLastTopRow = -1;
    int FLastLeftCol = -1;
    bool FLastSpanned = false;
    bool FResizing = false;
    bool FInSelectCell = false;
    TPictureDataList FPictures;
    TKmrMetafileCache FMetafiles;
    TCanvas* FGridCanvas = nullptr;  // the canvas of the paint under way
    TKmrPrinter* FPrinter = nullptr;  // none: the process's printer

    TKmrPrinter& ThePrinter();
    TKalmiraImport& Facade();
    void GenericPrint(TCanvas* canvas, const TXlsCellRange& range, int firstPage, int lastPage, bool preview,
                      long double d);
    // Printed lines: 1 in a preview, else PrintLineWidth or 1/150 inch.
    int PrintedLineWidth(bool preview, long double xRatio) const;
    void PrintImages(TCanvas& canvas, const TPrintParams& p, const TXlsCellRange& page, long double d, bool preview);
    void DrawHeadersAndFooters(TCanvas& canvas, int page, long double f, const TPrintParams& p, long double d,
                               int total, const TRect& clipRect, const TRect& pageRect);
    void DrawHeaderOrFooter(const std::u16string& text, TCanvas& canvas, long double f, const TPrintParams& p,
                            long double d, int page, int total, int y, int direction);
    int GetMaxVRow(bool printable);
    int GetMaxVCol(bool printable);
    bool IsPrintingRow(int row, const std::vector<bool>& flags);
    int PrintableColCount(const std::vector<bool>& flags);
    // A cell holds no value (the extents' test: unlike IsEmptyCell, the
    // last row and column are no exception).
    bool HoldsNoValue(int row, int col);
};

}  // namespace kalmira
