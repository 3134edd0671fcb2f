// Whole workbooks: hand-built streams and LibreOffice files loaded, changed
// and saved through the workbook; xlrd seeks every sheet by its offset.
#include <sched.h>

#include <array>
#include <filesystem>

#include <gmock/gmock.h>

#include "tests/bench/BenchBook.h"
#include "tests/workbook/book/GlobalsStreams.h"
#include "tests/workbook/storage/MessageOf.h"

using namespace kalmira;
using namespace ole2test;

namespace {

const std::string Invalid = "Error reading Excel records. File invalid";

const Bytes Work = Cat({SheetBof(0x10), EOF_}), OBPROJ = Rec(0xD3, {});

// The workbook of a hand-built stream, its sheets placed at their sections.
std::unique_ptr<TWorkbook> LoadStream(const Bytes& stream, const std::vector<int>& order = {}) {
    TStreamFile f(Placed(stream, order));
    auto book = std::make_unique<TWorkbook>();
    book->LoadFromStream(f.Ole);
    return book;
}

Bytes SaveStream(TWorkbook& book) {
    return Written([&](TOle2File& ole) { book.SaveToStream(ole); });
}

// Refused changes leave the next save as it was.
void ExpectRefused(const std::function<void(TWorkbook&)>& change, const std::string& message,
                   const std::function<void(TWorkbook&)>& prepare = [](TWorkbook&) {}) {
    const Bytes plain = booktest::RoundTrip(Fixture("globals_a"), prepare);
    std::string got;
    const Bytes refused = booktest::RoundTrip(Fixture("globals_a"), [&](TWorkbook& book) {
        prepare(book);
        got = MessageOf([&] { change(book); });
    });
    EXPECT_EQ(got, message);
    EXPECT_EQ(refused, plain) << message;
}

}  // namespace

// Sections by their BOF, each at the offset of its BOUNDSHEET; a section no
// BOUNDSHEET names, a BOUNDSHEET without its section and records behind a
// section's EOF are refused; zero padding ends the stream only behind the
// last EOF (cells past column 255: CellSaving.CellsBeyondColumn255AreRefused).
TEST(Workbook, HandBuiltStreamsLoadOrFail) {
    const Bytes globals2 = Cat({BOF, Sheet("A"), Sheet("B"), EOF_});
    const struct {
        Bytes Stream;
        int Sheets;
        std::string Message;
    } cases[] = {
        {Cat({globals2, Work, Work, Work}), 0, Invalid},
        {Cat({globals2, Work, Work, Rec(0x203, Bytes(14, 0))}), 0, Invalid},
        {Cat({globals2, Work, Rec(0x0A, {}), Work, Bytes(20, 0)}), 2, "no exception"},
        {Cat({globals2, SheetBof(0x10), EOF_, Rec(0x203, Bytes(14, 0)), EOF_, Work}), 0, Invalid},
        {Cat({globals2, EOF_, Work, EOF_, Cat({SheetBof(0x20), EOF_})}), 2, "no exception"},
        {Cat({BOF, Sheet("A"), Sheet("B"), Sheet("C"), EOF_, Work, Cat({SheetBof(0x40), EOF_}), Cat({SheetBof(0x20), EOF_})}), 3, "no exception"},
        {Cat({globals2, Work, Rec(0x203, Bytes(14, 0)), Work}), 0, Invalid},
        {Cat({globals2, Work}), 0, Invalid},
        {Cat({globals2, Work, SheetBof(0x10), Rec(0x55, {8, 0})}), 0, Invalid},
        {Cat({globals2, Work, SheetBof(0x10), Rec(0, {}), EOF_}), 0, Invalid},
        {Cat({Work, globals2}), 0, Invalid},
    };
    for (const auto& c : cases) {
        int sheets = 0;
        const std::string message = MessageOf([&] {
            auto book = LoadStream(c.Stream);
            sheets = book->SheetCount();
            const Bytes saved = SaveStream(*book);
            EXPECT_EQ(SaveStream(*LoadStream(saved)), saved);
        });
        EXPECT_EQ(std::make_pair(sheets, message), std::make_pair(c.Sheets, c.Message)) << &c - cases;
    }
    EXPECT_EQ(std::make_pair(LoadStream(cases[5].Stream)->IsWorksheet(0), LoadStream(cases[5].Stream)->IsWorksheet(1)),
              std::make_pair(true, false));
    // BOUNDSHEET records in another order than their sections: each sheet
    // takes its own section; two sheets of one section are refused.
    const Bytes chartLast = Cat({globals2, Work, Cat({SheetBof(0x20), EOF_})});
    auto swapped = LoadStream(chartLast, {1, 0});
    EXPECT_EQ(std::make_pair(swapped->IsWorksheet(0), swapped->IsWorksheet(1)), std::make_pair(false, true));
    EXPECT_EQ(swapped->Globals().GetSheetName(0), u"A");
    EXPECT_EQ(MessageOf([&] { LoadStream(chartLast, {0, 0}); }), Invalid);
}

// Visibility is checked before a byte is written; the first visible sheet
// goes into WINDOW1; code names only with a macro project.
TEST(Workbook, SaveChecksAndCodeNames) {
    const std::pair<std::function<void(TWorkbook&)>, std::string> refused[] = {
        {[](TWorkbook& b) { b.Globals().SetSheetVisible(0, TXlsSheetVisible::sv_Hidden); }, "To save this file, you must select a visible sheet"},
        {[](TWorkbook& b) {
             for (int s = 0; s < 3; ++s) b.Globals().SetSheetVisible(s, TXlsSheetVisible::sv_VeryHidden), b.Sheet(s).SetSelected(false);
         },
         "There are not visible sheets on the file"},
    };
    for (const auto& [change, message] : refused) {
        booktest::TOpened f(Fixture("globals_a"));
        change(f.Book);
        EXPECT_EQ(MessageOf([&] { f.Book.SaveToStream(f.Ole); }), message);
        EXPECT_EQ(f.Ole.Position(), 0);
    }
    const Bytes saved = booktest::RoundTrip(Fixture("globals_a"), [](TWorkbook& b) {
        b.Globals().SetSheetVisible(0, TXlsSheetVisible::sv_Hidden);
        b.Globals().SetSheetVisible(1, TXlsSheetVisible::sv_Visible);
        b.SetActiveSheet(2);
    });
    for (const auto& r : ParseRecords(ReadStream(saved, u"Workbook")))
        if (r.Id == 0x3D) {
            EXPECT_EQ(r.Data.at(12) | r.Data.at(13) << 8, 1);
        }

    const Bytes codeName = Rec(0x1BA, {5, 0, 0, 'D', 'A', 'T', 'A', '1'});
    const Bytes sheets = Cat({Sheet("X"), Sheet("Data"), Sheet("Data1"), EOF_, SheetBof(0x10), codeName, EOF_, Work, Work});
    auto macros = LoadStream(Cat({BOF, OBPROJ, sheets}));
    SaveStream(*macros);
    EXPECT_EQ(macros->Sheet(1).GetCodeName() + u" " + macros->Sheet(2).GetCodeName(), u"Data Data2");
    auto plain = LoadStream(Cat({BOF, sheets}));
    EXPECT_EQ(RecordsWithId(SaveStream(*plain), 0x1BA).size(), 1u);
}

// Copies before their source point at themselves; inserted empty sheets
// come unselected; a delete past the end stops at the last sheet.
TEST(Workbook, SheetsInsertedCopiedAndDeleted) {
    const std::string copies = SaveWorkbook("sheets_v", [](TWorkbook& b) {
        b.WorkSheets(0).Cells().CellList().SetFormula(9, 1, u"=Hodnoty!B2*2");
        b.InsertSheets(0, 0, 2);
    });
    // LibreOffice sees each formula on the sheet it names.
    std::vector<std::string> seen;
    for (const auto& line : Lines(OleCheck("lofods", copies)))
        if (line.find("<table:table table:name=") != line.npos || line.find(".B2]*2") != line.npos)
            seen.push_back(line.substr(line.find('"') + 1, line.find('"', line.find('"') + 1) - line.find('"') - 1));
    EXPECT_EQ(seen, (std::vector<std::string>{"Sheet1", "of:=[$Sheet1.B2]*2", "Sheet", "of:=[$Sheet.B2]*2", "Hodnoty",
                                              "of:=[$Hodnoty.B2]*2", "Druhy"}));

    const std::string empty = SaveWorkbook("globals_a", [](TWorkbook& b) {
        b.InsertSheets(-1, 1, 2);
        int selected = 0;
        for (int s = 0; s < b.SheetCount(); ++s) selected += b.Sheet(s).GetSelected();
        EXPECT_EQ(selected, 1);
    });
    EXPECT_EQ(LinesOf(OleCheck("refs", empty), "sheet ").size(), 5u);

    const std::string deleted = SaveWorkbook("globals_a", [](TWorkbook& b) { b.DeleteSheets(2, 5); });
    EXPECT_EQ(LinesOf(OleCheck("refs", deleted), "sheet "), (std::vector<std::string>{"sheet Odecty", "sheet Skryty"}));

    auto macros = LoadStream(Cat({BOF, OBPROJ, Sheet("A"), Sheet("B"), EOF_, Work, Work}));
    const Bytes before = SaveStream(*macros);
    EXPECT_EQ(MessageOf([&] { macros->DeleteSheets(0, 1); }), "Can't delete a sheet on a file containing macros");
    EXPECT_EQ(SaveStream(*macros), before);
}

// Refused row and column changes leave the save as it was; a range save
// holds the globals and the one sheet cut to the range.
TEST(Workbook, RowsAndColumns) {
    const std::string bad = "Ivalid arguments to call InsertAndCopyRows";
    const std::pair<std::array<int, 9>, std::string> refused[] = {
        {{0, 2, 5, 3, 1, 0, 0, 0, 0}, bad},  // destination inside the block
        {{0, 0, 32767, 40000, 2, 0, 0, 0, 0}, bad},
        {{0, 0, 0, 0, 0, 0, 200, 1, 1 << 30}, bad},
        {{0, 0, 0, 0, -1, 0, 0, 0, 0}, bad},
        {{3, 0, 0, 0, 1, 0, 0, 0, 0}, "Sheet number \"3\" invalid. Must be between 0 and 2"},
    };
    for (const auto& [a, message] : refused)
        ExpectRefused([&a = a](TWorkbook& b) { b.InsertAndCopyRowsAndCols(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], false); },
                      message);
    // Sheet 3's formula cannot follow: sheet 1 and the names stay too.
    const std::uint8_t unsupported[] = {0x5A, 0, 0, 3, 0, 1, 0, 0x06, 0x1A};
    ExpectRefused([](TWorkbook& b) { b.InsertAndCopyRowsAndCols(0, 0, 0, 4, 1, 0, 0, 0, 0, false); },
                  "Formula at Row 0, column 0 is not supported. Token Id: 0x1A", [&](TWorkbook& b) {
                      b.WorkSheets(2).Cells().CellList().AssignFormulaX(0, 0, unsupported, TVariant(1.0), false);
                  });

    booktest::TOpened f(Fixture("globals_a"));
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c) f.Book.WorkSheets(1).Cells().CellList().SetValueX2(r, c, {TVariant(r * 10.0 + c), -1, false}, {}, false);
    f.Book.SaveRangeToStream(f.Ole, 1, TXlsCellRange{1, 1, 2, 2});
    const std::string path = std::string(ORVELO_BINARY_DIR) + "/book-tests/range.xls";
    WriteFile(path, f.Finish());
    EXPECT_EQ(Lines(OleCheck("first", path)), (std::vector<std::string>{"3\t3", "1\t1\t2\t11.0\t15", "1\t2\t2\t12.0\t15",
                                                                         "2\t1\t2\t21.0\t15", "2\t2\t2\t22.0\t15"}));
}

namespace {

// The record stream of a fixture's Workbook with every drawing record
// (and the CONTINUE records and chart sub-streams behind them) taken out of
// its sheets and the drawing group out of its globals, each BOUNDSHEET set
// to its section again; empty where the file has no such stream.
Bytes WithoutDrawings(const std::string& path) {
    Bytes stream;
    (void)MessageOf([&] {
        TKmrFileStream in(path, TKmrFileStream::TMode::Read);
        TOle2File ole(&in);
        ole.SelectStream(u"Workbook");
        stream.resize(static_cast<std::size_t>(ole.Length()));
        ole.ReadMem(stream.data(), ole.Length());
    });
    Bytes out;
    int depth = 0, sections = 0;
    bool dropping = false;
    for (std::size_t pos = 0; pos + 4 <= stream.size();) {
        const std::uint16_t id = static_cast<std::uint16_t>(stream[pos] | stream[pos + 1] << 8);
        const std::size_t end = std::min(stream.size(), pos + 4 + (stream[pos + 2] | stream[pos + 3] << 8));
        if (id == 0x809 && depth++ == 0) ++sections;
        const bool drawing = id == 0xEC || id == 0x5D || id == 0x1B6 || id == 0x7F || id == 0xED;
        dropping = id == 0xEB || (dropping && id == 0x3C) || (sections > 1 && (depth > 1 || drawing));
        if (id == 0x0A && depth > 0) --depth;
        if (!dropping) out.insert(out.end(), stream.begin() + static_cast<std::ptrdiff_t>(pos),
                                  stream.begin() + static_cast<std::ptrdiff_t>(end));
        pos = end;
    }
    return sections > 2 ? Placed(out) : Bytes{};
}

}  // namespace

// Worksheets loaded on several threads make the workbook that loading them
// in turn makes: every fixture (the damaged ones too, damaged drawings
// among them, which load in turn) and a generated book of four worksheets,
// whole and damaged at many places (bytes changed in a section, sections
// cut short), save to the same bytes or fail with the same message.
TEST(Workbook, SheetsLoadedSideBySideAreTheSheetsLoadedInTurn) {
    struct TLoaded {
        Bytes Saved;
        std::string Message;
        bool SideBySide = false;
        bool Drawings = false;
    };
    const auto load = [](TOle2File& ole, TLoaded& loaded) {
        loaded.Message = MessageOf([&] {
            TWorkbook book;
            book.LoadFromStream(ole);
            loaded.SideBySide = book.LoadedSideBySide();
            loaded.Drawings = book.Globals().DrawingGroup().HasTree();
            loaded.Saved = SaveStream(book);
        });
    };
    const auto fromFile = [&](const std::string& path, unsigned threads) {
        TWorkbook::SetLoadThreads(threads, 0);
        TLoaded loaded;
        loaded.Message = MessageOf([&] {
            TKmrFileStream in(path, TKmrFileStream::TMode::Read);
            TOle2File ole(&in);
            ole.SelectStream(u"Workbook");
            load(ole, loaded);
        });
        return loaded;
    };
    const auto fromStream = [&](const Bytes& stream, unsigned threads) {
        TWorkbook::SetLoadThreads(threads, 0);
        TLoaded loaded;
        TStreamFile f(stream);
        load(f.Ole, loaded);
        return loaded;
    };
    int files = 0, drawingsSideBySide = 0, strippedSideBySide = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(FixtureDir())) {
        if (entry.path().extension() != ".xls") continue;
        const std::string path = entry.path().string();
        const TLoaded inTurn = fromFile(path, 1), beside = fromFile(path, 4);
        EXPECT_FALSE(inTurn.SideBySide);
        EXPECT_EQ(beside.Message, inTurn.Message) << path;
        EXPECT_TRUE(beside.Saved == inTurn.Saved) << path;
        ++files;
        drawingsSideBySide += beside.SideBySide && beside.Drawings;
        // The same worksheets without their drawings take the road side by
        // side with all else they hold: formulas, names, ranges, links,
        // notes, labels of every kind.
        const Bytes stripped = WithoutDrawings(path);
        if (stripped.empty()) continue;
        const TLoaded strippedInTurn = fromStream(stripped, 1), strippedBeside = fromStream(stripped, 4);
        EXPECT_EQ(strippedBeside.Message, strippedInTurn.Message) << path << " without drawings";
        EXPECT_TRUE(strippedBeside.Saved == strippedInTurn.Saved) << path << " without drawings";
        strippedSideBySide += strippedBeside.SideBySide;
    }
    EXPECT_GT(files, 100);
    EXPECT_GT(strippedSideBySide, 30);
    EXPECT_GT(drawingsSideBySide, 30);  // with their drawings too

    // The generated book's record stream, whole and damaged.
    const Bytes book = benchbook::MakeBook(4, 150);
    TKmrMemoryStream memory(book);
    TOle2File ole(&memory);
    ole.SelectStream(u"Workbook");
    Bytes stream(static_cast<std::size_t>(ole.Length()));
    ole.ReadMem(stream.data(), ole.Length());
    const TLoaded whole = fromStream(stream, 4);
    EXPECT_TRUE(whole.SideBySide);
    EXPECT_EQ(whole.Message, "no exception");
    EXPECT_TRUE(whole.Saved == fromStream(stream, 1).Saved);
    int sideBySide = 0, failed = 0;
    const std::size_t step = stream.size() / 41;
    for (std::size_t at = step; at < stream.size(); at += step)
        for (int damage = 0; damage < 3; ++damage) {
            Bytes damaged = stream;
            if (damage == 0) damaged[at] ^= 0x5A;
            if (damage == 1) std::fill_n(damaged.begin() + static_cast<std::ptrdiff_t>(at), std::min<std::size_t>(6, stream.size() - at), 0xFF);
            if (damage == 2) damaged.resize(at);
            const TLoaded inTurn = fromStream(damaged, 1), beside = fromStream(damaged, 4);
            EXPECT_EQ(beside.Message, inTurn.Message) << "damage " << damage << " at " << at;
            EXPECT_TRUE(beside.Saved == inTurn.Saved) << "damage " << damage << " at " << at;
            sideBySide += beside.SideBySide;
            failed += beside.Message != "no exception";
        }
    TWorkbook::SetLoadThreads(0);
    // Both roads taken: damage that leaves the sections whole and readable
    // loads side by side, the rest fails or loads in turn.
    EXPECT_GT(sideBySide, 10);
    EXPECT_GT(failed, 10);
}

// Pictures in every sheet, one image shown in two sheets: loaded side by
// side, the drawing group ends as a load in turn leaves it. The saves are
// the same, and so are they after pictures go and come, which reads the
// shapes' references to the stored images (an image still shown elsewhere
// stays) and the clusters the shape ids were claimed from.
TEST(Workbook, DrawingsLoadedSideBySideLeaveTheGroupAsInTurn) {
    const Bytes png = {0x89, 'P', 'N', 'G', 1, 2, 3}, jpeg = {0xFF, 0xD8, 0xFF, 0xE0, 9, 9};
    const auto place = [](int row) { return TImageProperties{1, 0, row, 0, 3, 0, row + 4, 0, {}}; };
    const auto add = [&](TWorkbook& book, int sheet, const Bytes& image, int row) {
        book.WorkSheets(sheet).AddImage(image, image == png ? TXlsImgTypes::xli_Png : TXlsImgTypes::xli_Jpeg,
                                        place(row), TKmrAnchorType::at_MoveAndResize);
    };
    TWorkbook::SetLoadThreads(1, 0);
    const auto made = benchbook::Load(benchbook::MakeBook(4, 150));
    add(*made, 0, png, 1);
    add(*made, 1, jpeg, 1);
    add(*made, 2, png, 1);
    add(*made, 2, jpeg, 8);
    add(*made, 3, jpeg, 1);
    const Bytes saved = SaveStream(*made);
    // The drawing group's clusters as some writers leave them, saying no id
    // is used: each sheet's drawing claims its ids again as it loads.
    Bytes stream = saved;
    for (std::size_t pos = 0; pos + 4 <= stream.size();) {
        const std::size_t size = GetWord(stream, pos + 2), data = pos + 4;
        if (GetWord(stream, pos) == 0xEB)
            for (std::size_t at = data; at + 24 <= data + size; ++at)
                if (GetWord(stream, at + 2) == 0xF006) {
                    const std::size_t dgg = at + 8, clusters = GetLongWord(stream, dgg + 4);
                    SetLongWord(stream, dgg, 0);
                    for (std::size_t k = 0; k + 1 < clusters && dgg + 24 + 8 * k <= data + size; ++k)
                        SetLongWord(stream, dgg + 20 + 8 * k, 0);
                    break;
                }
        pos = data + size;
    }
    ASSERT_FALSE(stream == saved);

    struct TRoad {
        bool SideBySide = false;
        Bytes Saved, Changed;
    };
    const auto road = [&](unsigned threads) {
        TWorkbook::SetLoadThreads(threads, 0);
        TStreamFile f(stream);
        TWorkbook book;
        book.LoadFromStream(f.Ole);
        TRoad r{book.LoadedSideBySide(), SaveStream(book), {}};
        book.WorkSheets(0).Drawing().DeleteImage(0);  // the png stays: sheet 2 shows it
        book.WorkSheets(1).Drawing().DeleteImage(0);
        book.WorkSheets(3).Drawing().DeleteImage(0);  // the jpeg stays: sheet 2 shows it
        book.WorkSheets(2).Drawing().DeleteImage(1);  // now it goes
        add(book, 1, png, 12);
        add(book, 3, png, 12);
        r.Changed = SaveStream(book);
        return r;
    };
    const TRoad inTurn = road(1), beside = road(4);
    TWorkbook::SetLoadThreads(0);
    EXPECT_FALSE(inTurn.SideBySide);
    EXPECT_TRUE(beside.SideBySide);
    EXPECT_TRUE(inTurn.Saved == saved);  // the clusters claimed again
    EXPECT_TRUE(beside.Saved == inTurn.Saved);
    EXPECT_TRUE(beside.Changed == inTurn.Changed);
}

// A process pinned to one processor loads its worksheets in turn unless
// told a number of threads: more would only take turns on that processor.
TEST(Workbook, SheetsLoadInTurnOnOneProcessor) {
    cpu_set_t before;
    ASSERT_EQ(::sched_getaffinity(0, sizeof before, &before), 0);
    cpu_set_t one;
    CPU_ZERO(&one);
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu)
        if (CPU_ISSET(cpu, &before)) {
            CPU_SET(cpu, &one);
            break;
        }
    ASSERT_EQ(::sched_setaffinity(0, sizeof one, &one), 0);
    const Bytes book = benchbook::MakeBook(4, 150);
    const auto sideBySide = [&](unsigned threads) {
        TWorkbook::SetLoadThreads(threads, 0);
        return benchbook::Load(book)->LoadedSideBySide();
    };
    EXPECT_FALSE(sideBySide(0));
    EXPECT_TRUE(sideBySide(3));
    TWorkbook::SetLoadThreads(0);
    ASSERT_EQ(::sched_setaffinity(0, sizeof before, &before), 0);
}
