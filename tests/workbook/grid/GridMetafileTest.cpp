// Metafiles in the grid: LibreOffice's WMF and EMF of a red square left of
// a blue one (tests/fixtures/make_metafiles.py) drawn inside their anchors
// on screen, in the preview and in print; what the libraries cannot read
// drawn as a frame in the grid's colours.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <iterator>

#include <sys/resource.h>
#include <unistd.h>

#include <QImage>
#include <QPainter>

#include "tests/workbook/grid/GridTestApp.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/grid/UKalmiraGrid.h"
#include "workbook/grid/UKmrMetafile.h"

using namespace kalmira;

namespace {

std::string Fixture(const std::string& name) { return std::string(ORVELO_SOURCE_DIR) + "/tests/fixtures/" + name; }

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
}

bool Red(QRgb p) { return qRed(p) > 200 && qGreen(p) < 60 && qBlue(p) < 60; }
bool Blue(QRgb p) { return qBlue(p) > 200 && qRed(p) < 60 && qGreen(p) < 60; }
bool Ink(QRgb p) { return Red(p) || Blue(p); }

// The share of pixels in [left, right) x [top, bottom) that pass.
template <class F>
double Share(const QImage& image, int left, int top, int right, int bottom, F test) {
    int n = 0, hits = 0;
    for (int y = std::max(top, 0); y < std::min(bottom, image.height()); ++y)
        for (int x = std::max(left, 0); x < std::min(right, image.width()); ++x, ++n) hits += test(image.pixel(x, y));
    return n == 0 ? 0 : static_cast<double>(hits) / n;
}

// Red in the left part of r, blue in its right part, no ink just outside.
void ExpectDrawn(const QImage& image, const TRect& r, const std::string& what) {
    const int w = r.Right - r.Left;
    EXPECT_GT(Share(image, r.Left + 2, r.Top + 2, r.Left + w * 2 / 5, r.Bottom - 2, Red), 0.97) << what;
    EXPECT_GT(Share(image, r.Left + w * 3 / 5, r.Top + 2, r.Right - 2, r.Bottom - 2, Blue), 0.97) << what;
    EXPECT_EQ(Share(image, r.Left - 5, r.Top - 5, r.Right + 5, r.Top - 2, Ink), 0) << what;
    EXPECT_EQ(Share(image, r.Left - 5, r.Bottom + 2, r.Right + 5, r.Bottom + 5, Ink), 0) << what;
    EXPECT_EQ(Share(image, r.Left - 5, r.Top, r.Left - 2, r.Bottom, Ink), 0) << what;
    EXPECT_EQ(Share(image, r.Right + 2, r.Top, r.Right + 5, r.Bottom, Ink), 0) << what;
}

// An outline in colour 0x00BBGGRR within r, the inside white.
void ExpectFrame(const QImage& image, const TRect& r, std::uint32_t color, const std::string& what) {
    const QRgb want = qRgb(color & 0xFF, color >> 8 & 0xFF, color >> 16 & 0xFF);
    auto is = [&](QRgb p) { return (p & 0xFFFFFF) == (want & 0xFFFFFF); };
    EXPECT_GT(Share(image, r.Left + 3, r.Top, r.Right - 3, r.Top + 1, is), 0.95) << what;
    EXPECT_GT(Share(image, r.Left + 3, r.Bottom - 1, r.Right - 3, r.Bottom, is), 0.95) << what;
    EXPECT_GT(Share(image, r.Left, r.Top + 3, r.Left + 1, r.Bottom - 3, is), 0.95) << what;
    EXPECT_GT(Share(image, r.Right - 1, r.Top + 3, r.Right, r.Bottom - 3, is), 0.95) << what;
    EXPECT_EQ(Share(image, r.Left + 3, r.Top + 3, r.Right - 3, r.Bottom - 3,
                    [](QRgb p) { return (p & 0xFFFFFF) == 0xFFFFFF; }),
              1)
        << what;
}

// An 8 × 11 inch page at 96 dpi, all of it printable, drawn on an image.
class TImagePrinter : public TKmrPrinter {
public:
    QImage Page{8 * 96, 11 * 96, QImage::Format_RGB32};
    int DpiX() override { return 96; }
    int DpiY() override { return 96; }
    int PageWidth() override { return Page.width(); }
    int PageHeight() override { return Page.height(); }
    void BeginDoc() override {
        Page.fill(Qt::white);
        FPainter = std::make_unique<QPainter>(&Page);
        FCanvas = std::make_unique<TQtCanvas>(FPainter.get());
    }
    void NewPage() override {}
    void EndDoc() override {
        FCanvas.reset();
        FPainter.reset();
    }
    TCanvas& Canvas() override { return *FCanvas; }

private:
    std::unique_ptr<QPainter> FPainter;
    std::unique_ptr<TQtCanvas> FCanvas;
};

struct MetafileFixture : ::testing::Test {
    TXLSAdapter adapter;
    TKalmiraImport facade;
    TKalmiraGrid grid;
    TImagePrinter printer;

    MetafileFixture() : grid((GridTestApp(), nullptr)) {}
    void SetUp() override {
        facade.SetAdapter(&adapter);
        grid.SetKalmiraImport(&facade);
        grid.SetPrinter(&printer);
        grid.OnNow = [] { return 45000.5; };
        grid.resize(700, 500);
        grid.show();
    }
    void Open(const std::string& path) {
        facade.OpenFile(path);
        grid.LoadSheet();
    }
    QImage Shot() { return grid.viewport()->grab().toImage(); }
    TRect ScreenRect(int i) {
        TRect r;
        EXPECT_TRUE(grid.CalcPictureRect(i, 100, 100, r, true, 1, 1, grid.ZoomFactor()));
        return r;
    }
    // Where picture i lands on the first printed page.
    TRect PrintRect(int i) {
        const int cols = grid.GetMaxPrintableCol(), rows = grid.GetMaxPrintableRow();
        const TPrintParams p = grid.CalcPrintParams({1, 1, cols, rows});
        TXlsCellRange page{1, 1, 0, 0};
        grid.CalcPrintedPage(1, 1, page.Bottom, page.Right, {1, 1, cols, rows}, p);
        TRect r;
        EXPECT_TRUE(grid.CalcPrintPictureRect(i, r, p, page));
        return r;
    }
};

// A facade's workbook whose one picture has the stored bytes given.
class TStoredPictureFile : public TXLSFile {
public:
    TStoredPictureFile(TXLSAdapter* adapter, std::vector<std::uint8_t> stored, TXlsImgTypes type)
        : TXLSFile(adapter), FStored(std::move(stored)), FType(type) {}
    std::int32_t GetPicturesCount(std::int32_t) override { return 1; }
    void GetPicture(std::int32_t, std::int32_t, TKmrStream& image, TXlsImgTypes& type, TClientAnchor& anchor) override {
        image.Write(FStored.data(), FStored.size());
        type = FType;
        anchor = {0, 2, 0, 3, 0, 4, 0, 8, 0};  // B3 to D8, no offsets
    }

private:
    std::vector<std::uint8_t> FStored;
    TXlsImgTypes FType;
};

struct TStoredPictureAdapter : TXLSAdapter {
    std::vector<std::uint8_t> Stored;
    TXlsImgTypes Type = TXlsImgTypes::xli_Emf;
    std::unique_ptr<TExcelFile> GetWorkbook() override {
        return std::make_unique<TStoredPictureFile>(this, Stored, Type);
    }
};

}  // namespace

TEST(MetafileConversion, LibreOfficesMetafilesBecomeSvgThatDrawsBothSquares) {
    for (const auto& [file, type] : {std::pair{"metafiles/metafile.wmf", TXlsImgTypes::xli_Wmf},
                                     std::pair{"metafiles/metafile.emf", TXlsImgTypes::xli_Emf}}) {
        const auto bytes = ReadFile(Fixture(file));
        ASSERT_TRUE(LooksLikeMetafile(bytes, type)) << file;
        const auto picture = TKmrVectorPicture::FromSvg(MetafileToSvg(bytes, type));
        ASSERT_NE(picture, nullptr) << file;
        QImage image(200, 100, QImage::Format_RGB32);
        image.fill(Qt::white);
        {
            QPainter painter(&image);
            picture->Draw(painter, QRectF(20, 10, 160, 80));
        }
        ExpectDrawn(image, {20, 10, 180, 90}, file);
    }
}

// An outline that does not fill what it outlines, a bitmap in its place
// and at its size, a text in Czech that Qt SVG still reads (its look is
// the fonts', and not compared), a shape whose shadow is a bitmap with a
// run-length compressed mask.
TEST(MetafileConversion, OutlinesBitmapsAndTextsAsLibreOfficeWroteThem) {
    GridTestApp();  // texts need fonts
    auto green = [](QRgb p) { return qGreen(p) > 200 && qRed(p) < 60 && qBlue(p) < 60; };
    auto white = [](QRgb p) { return (p & 0xFFFFFF) == 0xFFFFFF; };
    for (const char* kind : {"wmf", "emf"}) {
        const TXlsImgTypes type = kind == std::string("wmf") ? TXlsImgTypes::xli_Wmf : TXlsImgTypes::xli_Emf;
        auto draw = [&](const std::string& name) {
            const std::string svg = MetafileToSvg(ReadFile(Fixture("metafiles/" + name + "." + kind)), type);
            const auto picture = TKmrVectorPicture::FromSvg(svg);
            QImage image(200, 100, QImage::Format_RGB32);
            image.fill(Qt::white);
            if (picture != nullptr) {
                QPainter painter(&image);
                picture->Draw(painter, QRectF(0, 0, 200, 100));
            }
            return std::make_pair(svg, image);
        };
        const auto [outlineSvg, outlined] = draw("outlined");
        EXPECT_GT(Share(outlined, 60, 30, 140, 70, green), 0.99) << kind;
        const auto [bitmapSvg, bitmap] = draw("bitmap");
        EXPECT_GT(Share(bitmap, 5, 5, 90, 95, white), 0.99) << kind;
        EXPECT_GT(Share(bitmap, 110, 5, 195, 95, Blue), 0.99) << kind;
        const auto [textSvg, text] = draw("text");
        EXPECT_NE(TKmrVectorPicture::FromSvg(textSvg), nullptr) << kind;
        EXPECT_NE(textSvg.find("\u0159"), std::string::npos) << kind;  // the ř of Měřiče
        const auto [shadowSvg, shadow] = draw("shadow");
        EXPECT_GT(
            Share(shadow, 5, 5, 150, 60, [](QRgb p) { return qRed(p) > 200 && qGreen(p) > 200 && qBlue(p) < 60; }),
            0.99)
            << kind;
    }
}

// The libraries run in a child: however it ends, the test is still here.
TEST(MetafileConversion, TheChildsEndNeverReachesTheProgram) {
    // An exit handler of the program that must not run in the child.
    static const pid_t parent = getpid();
    static const std::string marker = testing::TempDir() + "metafile-child-exit-" + std::to_string(parent);
    std::remove(marker.c_str());
    std::atexit([] {
        if (getpid() != parent) std::ofstream(marker) << "ran";
    });
    struct TCase {
        const char* What;
        std::function<std::string()> Convert;
        std::string Result;
    };
    const TCase cases[] = {
        {"result", [] { return std::string("<svg/>"); }, "<svg/>"},
        {"a long result", [] { return std::string(3 << 20, 'x'); }, std::string(3 << 20, 'x')},
        {"nothing", [] { return std::string(); }, ""},
        {"throws", []() -> std::string { throw std::runtime_error("no"); }, ""},
        {"exit", []() -> std::string { std::exit(0); }, ""},
        {"abort", []() -> std::string { std::abort(); }, ""},
        {"crash",
         []() -> std::string {
             std::raise(SIGSEGV);
             return "after";
         },
         ""},
        {"killed",
         []() -> std::string {
             std::raise(SIGKILL);
             return "after";
         },
         ""},
    };
    for (const TCase& c : cases) EXPECT_EQ(ConvertInChild(c.Convert), c.Result) << c.What;
    EXPECT_FALSE(std::ifstream(marker).good());
}

// A child that crashes or runs out of time leaves no core file of the
// program behind, whatever the limits the program was started with.
TEST(MetafileConversion, TheChildWritesNoCoreFile) {
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_CORE, &before), 0);
    rlimit some = before;
    some.rlim_cur = std::min<rlim_t>(before.rlim_max, rlim_t(1) << 20);
    ASSERT_EQ(setrlimit(RLIMIT_CORE, &some), 0);
    const std::string limits = ConvertInChild([] {
        rlimit core{}, cpu{};
        getrlimit(RLIMIT_CORE, &core);
        getrlimit(RLIMIT_CPU, &cpu);
        return std::to_string(core.rlim_cur) + " " + std::to_string(core.rlim_max) + " " +
               std::to_string(cpu.rlim_cur);
    });
    setrlimit(RLIMIT_CORE, &before);
    EXPECT_EQ(limits, "0 0 15");
}

// Outside a sanitizer the child may take a gigabyte beyond the address
// space it was forked with, no more.
TEST(MetafileConversion, TheChildsAddressSpaceIsCapped) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "a sanitizer's shadow memory is address space: the child is not capped under one";
#else
    const std::string said = ConvertInChild([] {
        rlimit space{};
        getrlimit(RLIMIT_AS, &space);
        std::ifstream statm("/proc/self/statm");
        unsigned long long pages = 0;
        statm >> pages;
        return std::to_string(space.rlim_cur) + " " + std::to_string(pages * sysconf(_SC_PAGESIZE));
    });
    unsigned long long limit = 0, size = 0;
    ASSERT_EQ(std::sscanf(said.c_str(), "%llu %llu", &limit, &size), 2) << said;
    EXPECT_GT(limit, size);
    EXPECT_LE(limit, size + (1ull << 30));
    EXPECT_GE(limit + (64ull << 20), size + (1ull << 30));  // what the child has grown by since the limit
#endif
}

TEST(MetafileConversion, WhatTheLibrariesCannotReadGivesNothing) {
    GridTestApp();
    const auto emf = ReadFile(Fixture("metafiles/metafile.emf"));
    const auto wmf = ReadFile(Fixture("metafiles/metafile.wmf"));
    auto cut = [](const std::vector<std::uint8_t>& b, std::size_t n) {
        return std::vector<std::uint8_t>(b.begin(), b.begin() + n);
    };
    auto patched = [](std::vector<std::uint8_t> b, std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> 8 * i);
        return b;
    };
    std::vector<std::uint8_t> noise(4096);
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<std::uint8_t>(i * 7919 >> 3);
    struct TCase {
        const char* What;
        std::vector<std::uint8_t> Bytes;
        TXlsImgTypes Type;
        bool Looks;  // passes the header test and so reaches the library
    };
    const TCase cases[] = {
        {"empty EMF", {}, TXlsImgTypes::xli_Emf, false},
        {"empty WMF", {}, TXlsImgTypes::xli_Wmf, false},
        {"noise as EMF", noise, TXlsImgTypes::xli_Emf, false},
        {"noise as WMF", noise, TXlsImgTypes::xli_Wmf, false},
        {"an EMF as WMF", emf, TXlsImgTypes::xli_Wmf, false},
        {"a WMF as EMF", wmf, TXlsImgTypes::xli_Emf, false},
        {"a PNG type", emf, TXlsImgTypes::xli_Png, false},
        {"EMF header cut", cut(emf, 60), TXlsImgTypes::xli_Emf, false},
        {"EMF header claiming more than the file", patched(cut(emf, 100), 4, 0x7FFFFFF0), TXlsImgTypes::xli_Emf, false},
        {"EMF header then noise",
         [&] {
             auto b = cut(emf, 108);
             b.insert(b.end(), noise.begin(), noise.end());
             return b;
         }(),
         TXlsImgTypes::xli_Emf, true},
        {"EMF whose second record claims 2 GB", patched(emf, 112, 0x7FFFFFF0), TXlsImgTypes::xli_Emf, true},
        {"WMF header alone", cut(wmf, 22 + 18), TXlsImgTypes::xli_Wmf, true},
        {"WMF whose first record claims 2 GB", patched(wmf, 40, 0x7FFFFFF0), TXlsImgTypes::xli_Wmf, true},
        {"WMF header then noise",
         [&] {
             auto b = cut(wmf, 40);
             b.insert(b.end(), noise.begin(), noise.end());
             return b;
         }(),
         TXlsImgTypes::xli_Wmf, true},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(LooksLikeMetafile(c.Bytes, c.Type), c.Looks) << c.What;
        const std::string svg = MetafileToSvg(c.Bytes, c.Type);
        // Whatever a library makes of a damaged file, it must not draw the
        // squares, and the program is still here to say so.
        const auto picture = TKmrVectorPicture::FromSvg(svg);
        if (picture == nullptr) continue;
        QImage image(100, 50, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        picture->Draw(painter, QRectF(0, 0, 100, 50));
        painter.end();
        EXPECT_LT(Share(image, 0, 0, 100, 50, Ink), 0.5) << c.What;
    }
    EXPECT_EQ(TKmrVectorPicture::FromSvg("<svg this is not"), nullptr);
    EXPECT_EQ(TKmrVectorPicture::FromSvg(""), nullptr);
}

TEST_F(MetafileFixture, DrawnInsideTheirAnchorsOnScreenAndInPrint) {
    Open(Fixture("xls/metafiles.xls"));
    ASSERT_EQ(grid.Pictures().size(), 3u);
    for (const auto& p : grid.Pictures()) {
        EXPECT_NE(p->Metafile, nullptr);
        EXPECT_FALSE(p->Opaque);  // the cells under a metafile are painted
    }
    // The WMF twice over one blip: one conversion, kept over a reload.
    EXPECT_EQ(grid.Pictures()[1]->Metafile, grid.Pictures()[2]->Metafile);
    const auto first = grid.Pictures()[0]->Metafile;
    grid.LoadSheet();
    EXPECT_EQ(grid.Pictures()[0]->Metafile, first);

    const QImage screen = Shot();
    for (int i = 0; i < 3; ++i) ExpectDrawn(screen, ScreenRect(i), "screen " + std::to_string(i));
    grid.SetZoom(200);
    const QImage zoomed = Shot();
    ExpectDrawn(zoomed, ScreenRect(0), "zoom 200");
    // Back at 100 % and after the cursor moved, the same pixels as before.
    grid.SetZoom(100);
    grid.FocusCell(2, 2);
    grid.FocusCell(1, 1);
    EXPECT_EQ(Shot(), screen);

    grid.Print(1, -1);
    for (int i = 0; i < 3; ++i) ExpectDrawn(printer.Page, PrintRect(i), "print " + std::to_string(i));
    // The preview at 100 % of a 96-dpi page draws the same page.
    QImage preview(printer.Page.size(), QImage::Format_RGB32);
    preview.fill(Qt::white);
    {
        QPainter painter(&preview);
        TQtCanvas canvas(&painter);
        grid.PreviewPage({1, 1, grid.GetMaxPrintableCol(), grid.GetMaxPrintableRow()}, 1, canvas, 100);
    }
    for (int i = 0; i < 3; ++i) ExpectDrawn(preview, PrintRect(i), "preview " + std::to_string(i));
}

TEST_F(MetafileFixture, UnreadableMetafilesAreFramesInTheGridsColours) {
    // The stored form: the 34-byte header (size, bounds, compression byte
    // at 32: 0xFE stored as it is, 0 deflated) and the data.
    auto stored = [](std::uint8_t compression, std::vector<std::uint8_t> data) {
        std::vector<std::uint8_t> b(34, 0);
        for (int i = 0; i < 4; ++i) b[i] = static_cast<std::uint8_t>(data.size() >> 8 * i);
        b[32] = compression;
        b[33] = 0xFE;
        b.insert(b.end(), data.begin(), data.end());
        return b;
    };
    const std::vector<std::uint8_t> noise{1, 0, 0, 0, 0x6C, 0, 0, 0, 0xDE, 0xAD, 0xBE, 0xEF, 0x20, 0x45, 0x4D, 0x46};
    struct TCase {
        const char* What;
        std::vector<std::uint8_t> Stored;
        TXlsImgTypes Type;
    };
    const TCase cases[] = {
        {"EMF noise", stored(0xFE, noise), TXlsImgTypes::xli_Emf},
        {"WMF noise", stored(0xFE, noise), TXlsImgTypes::xli_Wmf},
        {"EMF that does not inflate", stored(0, noise), TXlsImgTypes::xli_Emf},
        {"WMF header and nothing", stored(0xFE, {1, 0, 9, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
         TXlsImgTypes::xli_Wmf},
    };
    TStoredPictureAdapter stub;
    facade.SetAdapter(&stub);
    // A green pen; the printed grid lines leave the canvas's pen grey.
    grid.ForegroundColor = 0x00A000;
    for (const TCase& c : cases) {
        stub.Stored = c.Stored;
        stub.Type = c.Type;
        facade.NewFile(1);
        facade.SetCellValue(1, 1, TVariant(1.0));
        facade.SetPrintGridLines(true);
        grid.LoadSheet();
        ASSERT_EQ(grid.Pictures().size(), 1u) << c.What;
        EXPECT_FALSE(grid.Pictures()[0]->HasGraphic()) << c.What;
        const TRect r = ScreenRect(0);
        ExpectFrame(Shot(), {r.Left, r.Top, r.Right, r.Bottom}, grid.ForegroundColor, std::string("screen ") + c.What);
        grid.Print(1, -1);
        ExpectFrame(printer.Page, PrintRect(0), grid.ForegroundColor, std::string("print ") + c.What);
        facade.CloseFile();
    }
}

namespace {

// One WMF record: its function and its parameters, as words or as bytes
// (padded to a word).
void WmfRecord(std::vector<std::uint8_t>& records, int function, std::vector<std::uint8_t> params) {
    if (params.size() % 2) params.push_back(0);
    const std::size_t size = 3 + params.size() / 2;
    for (const std::size_t v : {size, size >> 16, static_cast<std::size_t>(function)})
        records.push_back(static_cast<std::uint8_t>(v)), records.push_back(static_cast<std::uint8_t>(v >> 8));
    records.insert(records.end(), params.begin(), params.end());
}
void WmfRecord(std::vector<std::uint8_t>& records, int function, std::initializer_list<int> words) {
    std::vector<std::uint8_t> params;
    for (int w : words) params.push_back(static_cast<std::uint8_t>(w)), params.push_back(static_cast<std::uint8_t>(w >> 8));
    WmfRecord(records, function, params);
}

// A placeable WMF of a 1000 x 1000 window holding the records given (an
// EOF record follows them).
std::vector<std::uint8_t> Wmf(std::vector<std::uint8_t> records) {
    std::vector<std::uint8_t> start;
    WmfRecord(start, 0x020B, {0, 0});        // SETWINDOWORG
    WmfRecord(start, 0x020C, {1000, 1000});  // SETWINDOWEXT
    records.insert(records.begin(), start.begin(), start.end());
    WmfRecord(records, 0, {});               // EOF
    std::vector<std::uint8_t> file;
    auto put = [&](std::initializer_list<int> words) {
        for (int w : words) file.push_back(static_cast<std::uint8_t>(w)), file.push_back(static_cast<std::uint8_t>(w >> 8));
    };
    put({0xCDD7, 0x9AC6, 0, 0, 0, 1000, 1000, 1440, 0, 0});
    std::uint16_t check = 0;
    for (std::size_t i = 0; i < file.size(); i += 2) check ^= static_cast<std::uint16_t>(file[i] | file[i + 1] << 8);
    put({check});
    const std::size_t words = (18 + records.size()) / 2;
    put({1, 9, 0x300, static_cast<int>(words & 0xFFFF), static_cast<int>(words >> 16), 1, 64, 0, 0});
    file.insert(file.end(), records.begin(), records.end());
    return file;
}

// lines lines across the window, drawn with a pen of width 0.
std::vector<std::uint8_t> WmfOfLines(int lines) {
    std::vector<std::uint8_t> records;
    WmfRecord(records, 0x02FA, {0, 0, 0, 0, 0});  // CREATEPENINDIRECT: solid, width 0, black
    WmfRecord(records, 0x012D, {0});              // SELECTOBJECT
    for (int i = 0; i < lines; ++i) WmfRecord(records, 0x0325, {2, 0, i % 1000, 999, i % 1000});  // POLYLINE
    return Wmf(records);
}

// text written by TEXTOUT (else EXTTEXTOUT with a clipping rectangle) in
// a font of height 200.
std::vector<std::uint8_t> WmfOfText(const std::string& text, bool ext) {
    std::vector<std::uint8_t> records;
    std::vector<std::uint8_t> font = {0x38, 0xFF, 0, 0, 0, 0, 0, 0, 0x90, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    for (const char c : std::string("Arial")) font.push_back(static_cast<std::uint8_t>(c));
    font.push_back(0);
    WmfRecord(records, 0x02FB, font);  // CREATEFONTINDIRECT
    WmfRecord(records, 0x012D, {0});   // SELECTOBJECT
    std::vector<std::uint8_t> params;
    auto word = [&](int v) { params.push_back(static_cast<std::uint8_t>(v)), params.push_back(static_cast<std::uint8_t>(v >> 8)); };
    if (ext) {
        word(500), word(100), word(static_cast<int>(text.size())), word(0x0004);
        for (int v : {0, 0, 1000, 1000}) word(v);
    } else {
        word(static_cast<int>(text.size()));
    }
    params.insert(params.end(), text.begin(), text.end());
    if (!ext) {
        if (params.size() % 2) params.push_back(0);
        word(500), word(100);
    }
    WmfRecord(records, ext ? 0x0A32 : 0x0521, params);
    return Wmf(records);
}

std::size_t Occurrences(const std::string& text, std::string_view part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

}  // namespace

// A metafile of many small elements (a chart's grid, a drawing's hatching)
// converts in one go and comes back whole, every line tidied: neither the
// library's output nor its tidying costs time by the square of its size,
// which would outrun the child's time.
TEST(MetafileConversion, ManyElementsComeBackWhole) {
    GridTestApp();
    constexpr int Lines = 20000;
    const std::vector<std::uint8_t> wmf = WmfOfLines(Lines);
    ASSERT_TRUE(LooksLikeMetafile(wmf, TXlsImgTypes::xli_Wmf));
    const std::string svg = MetafileToSvg(wmf, TXlsImgTypes::xli_Wmf);
    EXPECT_EQ(Occurrences(svg, "<polyline "), std::size_t{Lines});
    EXPECT_EQ(Occurrences(svg, "style=\"fill:none; stroke-width:1; vector-effect:non-scaling-stroke;"),
              std::size_t{Lines});
    EXPECT_NE(TKmrVectorPicture::FromSvg(svg), nullptr);
}

// The characters of markup in a metafile's text are the text's: the SVG
// stays valid and draws, and no text writes elements of its own.
TEST(MetafileConversion, TextsWithMarkupCharactersStayTexts) {
    GridTestApp();
    struct TCase {
        std::string Text;
        std::string Written;  // as the SVG holds it
    };
    const TCase cases[] = {
        {"R&D", "R&amp;D"},
        {"a<b>c", "a&lt;b&gt;c"},
        {"tab\tand\x01" "bell\x02", "tab\tand bell "},
        {"</text><image xlink:href=\"/x.png\" width=\"9\" height=\"9\"/><text>",
         "&lt;/text&gt;&lt;image xlink:href=\"/x.png\" width=\"9\" height=\"9\"/&gt;&lt;text&gt;"},
    };
    for (const bool ext : {false, true})
        for (const TCase& c : cases) {
            const std::string what = c.Text + (ext ? " by EXTTEXTOUT" : " by TEXTOUT");
            const std::string svg = MetafileToSvg(WmfOfText(c.Text, ext), TXlsImgTypes::xli_Wmf);
            EXPECT_NE(svg.find(">" + c.Written + "</text>"), std::string::npos) << what << "\n" << svg;
            EXPECT_EQ(svg.find("<image"), std::string::npos) << what;
            EXPECT_NE(TKmrVectorPicture::FromSvg(svg), nullptr) << what;
        }
}

// An SVG that refers to anything outside itself is no picture: Qt SVG would
// read the file it names. Inline images and references within stay.
TEST(MetafileConversion, OnlySelfContainedSvgIsDrawn) {
    GridTestApp();
    const std::string head = "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
                             "width=\"10\" height=\"10\"><rect id=\"r\" width=\"5\" height=\"5\" fill=\"red\"/>";
    const std::string dot = "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mP8z8DwHwAFBQIAX8jx0gAAAABJRU5ErkJggg==";
    const struct {
        std::string Body;
        bool Drawn;
    } cases[] = {
        {"", true},
        {"<image width=\"5\" height=\"5\" xlink:href=\"" + dot + "\"/>", true},
        {"<use xlink:href=\"#r\"/>", true},
        {"<image width=\"5\" height=\"5\" xlink:href=\"/tmp/picture.png\"/>", false},
        {"<image width=\"5\" height=\"5\" href=\"file:///tmp/picture.png\"/>", false},
        {"<image width=\"5\" height=\"5\" xlink:href=\" picture.png\"/>", false},
        {"<use xlink:href=\"other.svg#r\"/>", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TKmrVectorPicture::FromSvg(head + c.Body + "</svg>") != nullptr, c.Drawn) << c.Body;
}
