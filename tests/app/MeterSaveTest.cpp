// "Uložit tabulku" through the main window, the real facade and engine, on
// copies of the meters workbooks in a folder whose name has a blank and
// Czech letters; the readings store's clock picks the months, the boxes
// answer through the seam, the main water meter dialog is filled as an
// operator would; xlrd and LibreOffice read the result.
#include "app/F1.h"
#include "app/Tmetertable.h"
#include "app/Tmyodecty.h"
#include "app/Wpatnistav.h"
#include "tests/app/AppTestSupport.h"
#include "tests/workbook/storage/Ole2Fixtures.h"

#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;
using apptest::Boxes;
using apptest::ReadFile;
using Cells = std::map<std::string, std::string>;

std::string Fixture(const std::string& name) { return ORVELO_SOURCE_DIR "/tests/fixtures/xls/" + name; }

class MeterSave : public apptest::FormFixture {
protected:
    std::string folder = dir.File("Odečty č. 1");
    std::string book = folder + "/měřidla domu.xls";
    std::unique_ptr<Tfpatni> patni;
    plat::TDateTimeParts now;

    void SetUp() override {
        FormFixture::SetUp();
        Start();
        patni = std::make_unique<Tfpatni>(form.get());
        fpatni = patni.get();
        fs::create_directory(folder);
        myOdecty->SetClock([this] { return now; });
    }
    void TearDown() override {
        patni.reset();
        FormFixture::TearDown();
    }
    void Load(const std::string& fixture) {
        fs::copy_file(Fixture(fixture), book, fs::copy_options::overwrite_existing);
        EXPECT_EQ(Boxes([&] { form->LoadMeterFile(book); }), "");
    }
    void Read(const plat::TDateTimeParts& at, const std::string& address, int index, double raw, int kind = 0) {
        now = at;
        myOdecty->AddReading(address, kind, -60, raw, index);
    }
    // The save with the question answered; the dialog's field, when given,
    // typed over before "Pokračovat".
    std::string Save(const char* answer, std::optional<QString> typed = std::nullopt, QString* shown = nullptr) {
        apptest::ScopedEnv reply("ORVELO_DIALOG_ANSWER", std::string(answer));
        apptest::WhenModal([typed, shown](QWidget* modal) {
            auto* dialog = static_cast<Tfpatni*>(modal);
            if (shown) *shown = dialog->ePatniStav->text();
            if (typed) dialog->ePatniStav->setText(*typed);
            dialog->Button1->click();
        });
        return Boxes([&] { form->mUlozitClick(); });
    }
    // "sheet row col" (from 1) -> xlrd's repr of the value.
    Cells Xlrd() const {
        Cells cells;
        for (const std::string& line : ole2test::Lines(ole2test::OleCheck("cells", book))) {
            const auto f = ole2test::Split(line);
            cells[f[0] + " " + std::to_string(std::stoi(f[1]) + 1) + " " + std::to_string(std::stoi(f[2]) + 1)] = f[4];
        }
        return cells;
    }
    std::string Saved() const { return "Informace|Výsledný soubor byl uložen do :" + book + "\n"; }
};

const plat::TDateTimeParts kMarch {2026, 3, 16, 10, 20, 30, 0}, kDecember {2026, 12, 31, 23, 59, 59, 0},
    kJanuary {2027, 1, 1, 8, 0, 0, 0};
const std::string kQuestion = "Informace|Soubor již existuje.Přejete si ho přepsat ?\n";

// Meters on rows 5 to 20 of the facade's workbook: row 5 0x1A2B3C00 index 0
// (divisor 1000), row 6 0x1A2B3C07 index 1 (divisor 100, correction
// 0.125), row 14 hidden (0x1A2B3C3F index 0, divisor 100, correction 1.125).
TEST_F(MeterSave, MonthsLogAndClosingBlockAsXlrdAndLibreOfficeReadThem) {
    Load("meters.xls");
    Read(kMarch, "0x1a2b3c00", 0, 1234);
    Read(kMarch, "0x1a2b3c00", 7, 3.3000000000000003, 2);  // voltage: the address's first meter keeps it
    Read(kDecember, "0x1a2b3c07", 1, 200);
    Read(kJanuary, "0x1a2b3c3f", 0, 50);
    QString shown;
    EXPECT_EQ(Save("yes", std::nullopt, &shown), kQuestion + Saved());
    EXPECT_EQ(shown, "1234.5");
    Cells c = Xlrd();
    const Cells expected {
        {"Roční tabulka 5 14", "'16.03.2026 10:20:30'"}, {"Roční tabulka 5 15", "1.234"},
        {"Roční tabulka 6 32", "'31.12.2026 23:59:59'"}, {"Roční tabulka 6 33", "2.125"},
        {"Roční tabulka 14 10", "'01.01.2027 08:00:00'"}, {"Roční tabulka 14 11", "1.625"},
        {"Roční tabulka 22 36", "'Patní vodoměr :'"},    {"Roční tabulka 22 37", "1234.5"},
        {"Roční tabulka 23 36", "'Celkem :'"},           {"Roční tabulka 24 36", "'Ztráty :'"},
        {"Log 3 1", "'1/1'"},  {"Log 3 7", "'SV'"},  {"Log 3 8", "'0031415'"}, {"Log 3 9", "16.0"},
        {"Log 3 10", "3.0"},   {"Log 3 11", "2026.0"}, {"Log 3 12", "10.0"},    {"Log 3 13", "20.0"},
        {"Log 3 14", "12.0"},  {"Log 3 15", "1.234"},  {"Log 3 17", "3.3000000000000003"},
        {"Log 4 14", "53.0"},  {"Log 5 14", "53.0"},   {"Log 5 15", "1.625"},
    };
    for (const auto& [at, value] : expected) EXPECT_EQ(c[at], value) << at;
    EXPECT_EQ(c.count("Roční tabulka 25 36"), 0u);
    EXPECT_EQ(c.count("Log 6 1"), 0u) << "meters without a reading get no log row";
    EXPECT_EQ(c.count("Roční tabulka 7 10"), 0u);

    // LibreOffice: the formula texts, and recalculated the row's consumption,
    // the total and the losses (main meter - total).
    const std::string formulas = ole2test::OleCheck("loformulas", book);
    for (const char* f : {"=MAX(I5:AG5)", "=I5", "=AI5-AJ5", "=SUM(AK5:AK21)", "=AK22-AK23"})
        EXPECT_NE(formulas.find(f), std::string::npos) << f;
    const std::string values = ole2test::OleCheck("locsv", book);
    EXPECT_NE(values.find(",Celkem :,"), std::string::npos);

    // A second save: one block at the same rows; the log holds the readings
    // of both saves.
    Read(kMarch, "0x1a2b3c00", 0, 1300);
    EXPECT_EQ(Save("yes"), kQuestion + Saved());
    c = Xlrd();
    EXPECT_EQ(c["Roční tabulka 22 36"], "'Patní vodoměr :'");
    EXPECT_EQ(c["Roční tabulka 24 36"], "'Ztráty :'");
    EXPECT_EQ(c.count("Roční tabulka 25 36") + c.count("Roční tabulka 27 36"), 0u);
    EXPECT_EQ(c["Roční tabulka 5 15"], "1.3");
    EXPECT_EQ(c["Log 6 15"], "1.3");
    EXPECT_EQ(c["Log 8 15"], "1.625");
    EXPECT_EQ(c.count("Log 9 1"), 0u);
}

// Without readings the block must not creep down: the empty row left above
// the deleted block is no used row.  The facade's workbook has every sheet 2
// row filled, so nothing else is written there.
TEST_F(MeterSave, RepeatedSavesKeepOneBlockInPlace) {
    struct Case {
        const char* file;
        std::string sheet;
        int block;
    };
    for (const Case& w : {Case {"app_meters_noblock.xls", "Roky ", 14}, Case {"meters.xls", "Roční tabulka ", 22}}) {
        SCOPED_TRACE(w.file);
        Load(w.file);
        const auto at = [&](int row, int col) { return w.sheet + std::to_string(row) + " " + std::to_string(col); };
        for (int save = 0; save < 3; ++save) {
            EXPECT_EQ(Save("yes", QStringLiteral("10")), kQuestion + Saved());
            Cells c = Xlrd();
            EXPECT_EQ(c[at(w.block, 36)], "'Patní vodoměr :'") << save;
            EXPECT_EQ(c[at(w.block, 37)], "10.0");
            EXPECT_EQ(c[at(w.block + 2, 36)], "'Ztráty :'");
            EXPECT_EQ(c.count(at(w.block + 3, 36)), 0u);
            EXPECT_EQ(c[at(12, 8)], w.block == 14 ? "'C2'" : "'0031534'") << "columns 1-8 as texts where column 8 was empty";
        }
    }
    EXPECT_NE(ole2test::OleCheck("loformulas", book).find("=SUM(AK5:AK21)"), std::string::npos);
}

TEST_F(MeterSave, TheMainMeterDialogAndTheQuestion) {
    Load("app_meters.xls");
    QString shown;
    const std::string original = ReadFile(book);
    ::chmod(book.c_str(), 0640);
    // Garbage left in the field: the box names it, nothing on disk changes.
    EXPECT_EQ(Save("yes", QStringLiteral("abc"), &shown), "Orvelo|\"abc\" není platné číslo.\n");
    EXPECT_EQ(shown, "1234.568");
    EXPECT_EQ(ReadFile(book), original);
    // No: the file stays, the message says so.
    EXPECT_EQ(Save("no", QStringLiteral("1234,5678")), kQuestion + "Informace|Ukládánání souboru bylo zrušeno.\n");
    EXPECT_EQ(form->mainMeterValue, 1234.568);
    EXPECT_EQ(ReadFile(book), original);
    // Yes through a symbolic link: the link stays, the file keeps its mode.
    const std::string link = folder + "/odkaz.xls";
    fs::create_symlink(book, link);
    const std::string loaded = book;
    book = link;
    form->LoadMeterFile(link);
    EXPECT_EQ(Save("yes"), kQuestion + Saved());
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(fs::status(loaded).permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(Xlrd()["Roky 14 37"], "1234.568");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2) << "no file left behind";
}

// A write that fails half-way leaves the file as it was and no other file;
// a later save works.  Workbooks without a worksheet 2 or 4 are refused
// before anything changes.
TEST_F(MeterSave, FailuresChangeNothingOnDisk) {
    Load("meters.xls");
    Read(kMarch, "0x1a2b3c00", 0, 1234);
    const std::string original = ReadFile(book);
    rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const std::string boxes = Save("yes");
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(boxes.rfind(kQuestion + "Orvelo|", 0), 0u) << boxes;
    EXPECT_EQ(boxes.find("uložen"), std::string::npos);
    EXPECT_EQ(ReadFile(book), original);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
    // Deleted since the load: written without the question.
    fs::remove(book);
    EXPECT_EQ(Save("yes"), Saved());
    EXPECT_EQ(Xlrd()["Roční tabulka 5 15"], "1.234");

    // A failed load keeps the workbook and its readings for the next save.
    form->LoadMeterFile(folder + "/chybí.xls");
    Read(kDecember, "0x1a2b3c00", 0, 2000);
    EXPECT_EQ(Save("yes"), kQuestion + Saved());
    EXPECT_EQ(Xlrd()["Roční tabulka 5 33"], "2.0");

    fs::copy_file(Fixture("app_meters_onesheet.xls"), book, fs::copy_options::overwrite_existing);
    Boxes([&] { form->LoadMeterFile(book); });
    const std::string one = ReadFile(book);
    EXPECT_EQ(Save("yes"), "Orvelo|Sešit nemá list 2: tabulku odečtů nelze uložit.\n");
    EXPECT_EQ(ReadFile(book), one);
    form->xls().SetActiveSheet(1);
    EXPECT_EQ(form->xls().GetMaxRow(), 12) << "nothing changed in the open workbook";
}

TEST(IsoWeek, FollowsIso8601) {
    EXPECT_EQ(IsoWeek(46388), 53);  // 01.01.2027
    EXPECT_EQ(IsoWeek(46020), 1);   // 29.12.2025
    EXPECT_EQ(IsoWeek(46097.4), 12);  // 16.03.2026 09:36
}

}  // namespace
