// The meters workbook through the main window, the real facade and engine:
// the load, the readings store and "Uložit tabulku", on copies of the
// LibreOffice-made fixtures (make_fixtures.py: meters.xls, app_meters*.xls)
// in a folder whose name has a blank and Czech letters; the store's clock is
// the test's, boxes answer through the seam, xlrd reads what was saved.
#include "app/F1.h"
#include "app/Tformats.h"
#include "app/Tlocalesettings.h"
#include "app/Tmeterbook.h"
#include "app/Tmetertable.h"
#include "app/Tmydates.h"
#include "app/Tmyodecty.h"
#include "app/Wpatnistav.h"
#include "platform/qt/StatusBar.h"
#include "tests/app/AppTestSupport.h"
#include "tests/workbook/storage/Ole2Fixtures.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

namespace {

namespace fs = std::filesystem;
using apptest::Boxes;
using kalmira::TVariant;
using Strings = std::vector<std::string>;

const Strings kAllKeys {"0xA0B0C0D=0", "0xA0B0C0D=8", "0x1a2b=1", "0x1a2b=2", "0x0a0b0c0e=0", "=0", "0x5=0", "0x6=2"};
const QStringList kListed {"1", "2", "3", "", "7", "8"};
const std::string kQuestion = "Informace|Soubor již existuje.Přejete si ho přepsat ?\n";
const plat::TDateTimeParts kMarch {2026, 3, 16, 10, 20, 30, 0};

class MeterWorkbook : public apptest::FormFixture {
protected:
    std::string folder = dir.File("Odečty č. 1");
    std::string book = folder + "/měřidla domu.xls";
    Tfpatni* patni = nullptr;

    void SetUp() override {
        FormFixture::SetUp();
        Start();
        patni = fpatni = new Tfpatni(form.get());
        fs::create_directory(folder);
    }
    std::string Load(const std::string& fixture) {
        fs::copy_file(ORVELO_SOURCE_DIR "/tests/fixtures/xls/" + fixture, book, fs::copy_options::overwrite_existing);
        return Boxes([&] { form->LoadMeterFile(book); });
    }
    Strings Keys() const {
        Strings keys;
        for (const TStradelCntrs& m : meterKeyList->Snapshot()) keys.push_back(m.key);
        return keys;
    }
    void Read(plat::TDateTimeParts at, const std::string& address, int index, double raw, int kind = 0) {
        myOdecty->SetClock([at] { return at; });
        myOdecty->AddReading(address, kind, -60, raw, index);
    }
    // The boxes of a save with the question answered, the dialog's field
    // typed over (when given) before "Pokračovat".
    std::string Save(const char* answer, std::optional<QString> typed = std::nullopt) {
        apptest::ScopedEnv reply("ORVELO_DIALOG_ANSWER", std::string(answer));
        apptest::WhenModal([this, typed](QWidget*) {
            shown = patni->ePatniStav->text();
            if (typed) patni->ePatniStav->setText(*typed);
            patni->Button1->click();
        });
        return Boxes([&] { form->mUlozitClick(); });
    }
    // "Sheet,row,col=value" (from 1, xlrd's repr), or "" when xlrd has no such cell.
    std::string Cell(const std::string& sheet, int row, int col) const {
        const std::string at = sheet + "\t" + std::to_string(row - 1) + "\t" + std::to_string(col - 1) + "\t";
        for (const std::string& line : ole2test::Lines(ole2test::OleCheck("cells", book)))
            if (line.rfind(at, 0) == 0) return line.substr(line.rfind('\t') + 1);
        return "";
    }
    std::string Saved() const { return "Informace|Výsledný soubor byl uložen do :" + book + "\n"; }
    QString shown;
};

TEST_F(MeterWorkbook, EachVariantFillsKeysListPanelAndMainMeter) {
    const std::string all = "0xA0B0C0D=0 0xA0B0C0D=8 0x1a2b=1 0x1a2b=2 0x0a0b0c0e=0 =0 0x5=0 0x6=2 |1|2|3||7|8| ";
    const std::pair<const char*, std::string> cases[] = {  // boxes, then the state
        {"app_meters_noblock.xls", all + "Počet měřidel : 6 0"},
        {"app_meters_empty.xls", "|| Počet měřidel : 0 0"},
        {"app_meters.xls", all + "Počet měřidel : 6 1234.5678"},
    };
    for (const auto& [file, expected] : cases) {
        form->sb->SetText(1, QString());
        std::string state = Load(file);
        for (const std::string& key : Keys()) state += key + " ";
        state += ("|" + apptest::ColumnTexts(form->lvMeters, 0).join('|') + "| ").toStdString();
        state += form->sb->Text(1).toStdString() + " " + plat::FloatToStr(form->mainMeterValue);
        EXPECT_EQ(state, expected) << file;
        EXPECT_TRUE(form->mUlozit->isEnabled() && LogHas(" : Načtený soubor : " + book + "\n")) << file;
    }
    const std::vector<TStradelCntrs> m = meterKeyList->Snapshot();
    EXPECT_EQ((Strings {m[0].houseNumber, m[0].serialNumber, m[1].flatNumber, m[0].meterType, m[2].rfAddress,
                        m[0].column13Text, m[3].column21Text, m[4].column21Text}),
              (Strings {"12", "9876543", "2", "SV", "  0x1a2b\t", "c13", "x", "0"}));
    EXPECT_EQ((std::vector<double> {m[2].correction, m[7].correction, m[3].column21Number, double(m[2].multiplier),
                                    double(m[6].divisor), double(m[7].multiplier), double(m[7].msgIndex)}),
              (std::vector<double> {2.5, 1.25, 0, 2, 0, 3, 2}));
    // Cells as the conversions see them: text, number, int (or the error).
    const std::tuple<TVariant, const char*, const char*, const char*> table[] = {
        {TVariant(3e9), "3000000000", "3000000000", "Řádek 5, sloupec 17: \"3000000000\" není celé číslo v rozsahu"},
        {TVariant(u" 1,5 "), " 1,5 ", "1.5", "2"},
        {TVariant(true), "TRUE", "1", "1"},
        {TVariant::FromError(0x2A), "#N/A", "Řádek 5, sloupec 17: \"#N/A\" není číslo", "Řádek 5, sloupec 17: \"#N/A\" není číslo"},
    };
    auto attempt = [](auto fn) {
        try {
            return fn();
        } catch (const EMeterCellError& e) {
            return std::string(e.what());
        }
    };
    for (const auto& [value, text, number, whole] : table) {
        const TVariant& cell = value;  // clang lets no lambda capture a structured binding
        EXPECT_EQ(CellText(cell), text);
        EXPECT_EQ(attempt([&] { return plat::FloatToStr(CellNumber(cell, 5, 17)); }), number);
        EXPECT_EQ(attempt([&] { return std::to_string(CellInt(cell, 5, 17)); }), whole);
    }
}

// A file that does not open keeps the workbook, list and key list of the
// load before it; the next save writes that workbook with its readings.
TEST_F(MeterWorkbook, AFailedLoadKeepsTheOpenWorkbook) {
    // The first one typed into the file dialog, as the operator opens it.
    QString opened;
    fs::copy_file(ORVELO_SOURCE_DIR "/tests/fixtures/xls/app_meters.xls", book);
    apptest::WhenModal([&](QWidget* modal) {
        auto* dialog = dynamic_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->nameFilters(), QStringList {"Excel 1997-2003 (*.xls)"});
        opened = dialog->directory().absolutePath();
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QString::fromStdString(book));
        dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open)->click();
    });
    {
        apptest::ScopedEnv home("HOME", dir.File("."));
        form->mLoadFile->trigger();
    }
    EXPECT_EQ(opened, QDir(QString::fromStdString(dir.File("."))).absolutePath()) << "the user's home";
    // The next time it opens where the workbook was.
    apptest::WhenModal([&](QWidget* modal) {
        opened = static_cast<QFileDialog*>(modal)->directory().absolutePath();
        modal->close();
    });
    form->mLoadFile->trigger();
    EXPECT_EQ(opened, QString::fromStdString(folder));
    const std::string first = book, text = dir.File("text.xls"), cut = dir.File("cut.xls");
    apptest::WriteFile(text, "Č.bytu;Jméno\n1;Jiří\n");
    apptest::WriteFile(cut, apptest::ReadFile(first).substr(0, 6000));
    const std::pair<std::string, std::string> bad[] = {  // the file, the engine's reason
        {text, "The file \"" + text + "\" is invalid"},
        {cut, "Error reading Excel records. File invalid"},
        {dir.File("chybí.xls"), "Can't find the file \"" + dir.File("chybí.xls") + "\""},
    };
    for (const auto& [file, reason] : bad) {
        const std::string& path = file;  // clang lets no lambda capture a structured binding
        EXPECT_EQ(Boxes([&] { form->LoadMeterFile(path); }),
                  "Chyba|Nelze načíst soubor měřidel\\n" + file + "\\n" + reason + "\n");
        EXPECT_TRUE(LogHas(" : Nelze načíst soubor měřidel : " + file + " : " + reason + "\n")) << file;
        EXPECT_EQ(Keys(), kAllKeys);
        EXPECT_EQ(apptest::ColumnTexts(form->lvMeters, 0), kListed);
        EXPECT_EQ(form->xls().FileName(), first);
        EXPECT_EQ(form->MeterFileName(), first);
    }
    Read(kMarch, "0xa0b0c0d", 0, 1234);
    EXPECT_EQ(Save("yes"), kQuestion + Saved());
    EXPECT_EQ(Cell("Roky", 5, 15), "22.84");
}

// The value stored in extended precision; the raw value and the same
// second shown in the row.
TEST_F(MeterWorkbook, ReadingsStoreTheirValueAndShowTheRawOne) {
    Load("app_meters.xls");
    auto fine = std::make_shared<TStradelCntrs>();
    std::tie(fine->multiplier, fine->divisor, fine->correction, fine->key) = std::tuple(1, 10, 0.1, "0x7=0");
    meterKeyList->Add(fine->key, fine);
    const std::tuple<const char*, int, int, double, int, std::uint64_t> cases[] = {
        {"0xa0b0c0d", 0, 0, 1234, 0, std::bit_cast<std::uint64_t>(22.84)},
        {"0xa0b0c0d", 1, 0, 21.5, 1, std::bit_cast<std::uint64_t>(21.5)},  // a temperature: index 8
        {"0x1a2b", 0, 2, 7, 3, std::bit_cast<std::uint64_t>(7.0)},          // a hidden meter
        {"0x5", 0, 0, 5, 6, std::bit_cast<std::uint64_t>(10.0)},            // divisor 0 counts as 1
        {"0x7", 0, 0, 22, 8, 0x4002666666666666},                          // not 2.3000000000000003
        {"0xa0b0c0e", 0, 0, 1, -1, 0},                                     // written with a leading zero
        {"0x1a2b", 2, 0, 3.3, -1, 0},  // no index 11: the address's first meter keeps it
    };
    for (const auto& [address, kind, index, raw, record, bits] : cases) {
        Read(kMarch, address, index, raw, kind);
        if (record < 0) continue;
        const TStradelCntrs m = meterKeyList->Snapshot()[record];
        EXPECT_EQ(std::bit_cast<std::uint64_t>(m.value), bits) << address;
        EXPECT_EQ(DateTimeText(DecodeDateTime(m.readTime)), "16.03.2026 10:20:30");
    }
    EXPECT_EQ(meterKeyList->Snapshot()[2].auxValue, 3.3);
    EXPECT_EQ(meterKeyList->Snapshot()[2].readTime, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(apptest::ColumnTexts(form->lvMeters, 9), (QStringList {"1234", "21.5", "", "", "5", ""}));
    EXPECT_EQ(form->lvMeters->topLevelItem(0)->text(8), "16.03.2026 10:20:30");
    EXPECT_FALSE(LogHas("Odecet pro")) << "no debug line at level 0";
    myOdecty->SetDebug(3);
    myOdecty->AddReading("0xffff", 2, 0, 1, 4);
    EXPECT_TRUE(LogHas(" : Odecet pro 0xffff Idx:11\n"));
}

// Readings from a transport thread while the workbook is loaded again and
// again (run under ThreadSanitizer too); after the last load a reading lands.
TEST_F(MeterWorkbook, ReloadUnderTraffic) {
    std::atomic<bool> sent {false};
    std::thread transport([&] {
        for (int i = 0; i < 20000; ++i) myOdecty->AddReading("0xa0b0c0d", i % 2, 0, i, 0);
        sent = true;
    });
    for (int load = 0; load < 50 || !sent; ++load) {
        Load("app_meters.xls");
        QCoreApplication::processEvents();
    }
    transport.join();
    myOdecty->AddReading("0xa0b0c0d", 0, -60, 1234, 0);
    EXPECT_EQ(meterKeyList->Snapshot().front().value, 22.84);
}

// The facade's workbook: meters on rows 5 to 20, row 5 0x1A2B3C00 index 0
// (divisor 1000), row 6 0x1A2B3C07 index 1 (divisor 100, correction 0.125),
// row 14 hidden (0x1A2B3C3F index 0, divisor 100, correction 1.125).
TEST_F(MeterWorkbook, SavedMonthsLogAndOneClosingBlock) {
    Load("meters.xls");
    Read(kMarch, "0x1a2b3c00", 0, 1234);
    Read(kMarch, "0x1a2b3c00", 7, 3.3000000000000003, 2);  // a voltage, kept as auxValue
    Read({2025, 12, 29, 23, 59, 59, 0}, "0x1a2b3c07", 1, 200);
    Read({2027, 1, 1, 8, 0, 0, 0}, "0x1a2b3c3f", 0, 50);
    for (int save = 0; save < 2; ++save) {
        EXPECT_EQ(Save("yes"), kQuestion + Saved());
        EXPECT_EQ(shown, "1234.5");
        EXPECT_EQ((Strings {Cell("Roční tabulka", 5, 14), Cell("Roční tabulka", 5, 15), Cell("Roční tabulka", 6, 32),
                            Cell("Roční tabulka", 14, 11), Cell("Roční tabulka", 22, 36), Cell("Roční tabulka", 24, 36),
                            Cell("Roční tabulka", 25, 36), Cell("Roční tabulka", 7, 10)}),
                  (Strings {"'16.03.2026 10:20:30'", "1.234", "'29.12.2025 23:59:59'", "1.625", "'Patní vodoměr :'",
                            "'Ztráty :'", "", ""}));
        // Log rows 3 to 5, again from 6: texts, day, year, minute, ISO week, value, auxValue.
        const int log = 3 + 3 * save;
        EXPECT_EQ((Strings {Cell("Log", log, 8), Cell("Log", log, 9), Cell("Log", log, 11), Cell("Log", log, 13),
                            Cell("Log", log, 14), Cell("Log", log, 15), Cell("Log", log, 17),
                            Cell("Log", log + 1, 14), Cell("Log", log + 2, 14), Cell("Log", log + 3, 1)}),
                  (Strings {"'0031415'", "16.0", "2026.0", "20.0", "12.0", "1.234", "3.3000000000000003", "1.0",
                            "53.0", ""}));
    }
    const std::string formulas = ole2test::OleCheck("loformulas", book);
    for (const char* f : {"=MAX(I5:AG5)", "=I5", "=AI5-AJ5", "=SUM(AK5:AK21)", "=AK22-AK23"})
        EXPECT_NE(formulas.find(f), std::string::npos) << f;
    // Without readings the block must not creep down a row a save.
    Load("app_meters_noblock.xls");
    for (int save = 0; save < 3; ++save) {
        EXPECT_EQ(Save("yes", QStringLiteral("1234,5678")), kQuestion + Saved());
        EXPECT_EQ((Strings {Cell("Roky", 14, 36), Cell("Roky", 14, 37), Cell("Roky", 17, 36), Cell("Roky", 12, 8)}),
                  (Strings {"'Patní vodoměr :'", "1234.568", "", "'C2'"}));
    }
}

// Garbage in the field, a No and a failing write leave the file byte for
// byte; Yes through a symbolic link keeps the link and the file's mode; a
// workbook without sheet 2 is refused with nothing changed.
TEST_F(MeterWorkbook, NothingButACompleteSaveChangesTheFile) {
    Load("app_meters.xls");
    const std::string original = apptest::ReadFile(book);
    EXPECT_EQ(Save("yes", QStringLiteral("abc")), "Orvelo|\"abc\" není platné číslo.\n");
    EXPECT_EQ(shown, "1234.568");
    EXPECT_EQ(Save("no"), kQuestion + "Informace|Ukládánání souboru bylo zrušeno.\n");
    rlimit old {}, small {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    small = {4096, old.rlim_max};
    auto* handler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    const std::string failed = Save("yes");
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, handler);
    EXPECT_EQ(failed.rfind(kQuestion + "Orvelo|", 0), 0u) << failed;
    EXPECT_EQ(apptest::ReadFile(book), original);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "no file left behind";

    ::chmod(book.c_str(), 0640);
    const std::string target = book;
    book = folder + "/odkaz.xls";
    fs::create_symlink(target, book);
    form->LoadMeterFile(book);
    EXPECT_EQ(Save("yes"), kQuestion + Saved());
    EXPECT_TRUE(fs::is_symlink(book));
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(Cell("Roky", 14, 37), "1234.568");
    fs::remove(book);
    EXPECT_EQ(Save("yes"), Saved()) << "deleted since the load: written without the question";

    // A workbook without sheet 2 never loads; the table refuses it too.
    kalmira::TKalmiraImport one;
    one.SetAdapter(&form->XLSAdapter1());
    one.OpenFile(ORVELO_SOURCE_DIR "/tests/fixtures/xls/app_meters_onesheet.xls");
    try {
        CheckReadingTable(one, meterKeyList->Snapshot());
        ADD_FAILURE() << "no refusal";
    } catch (const std::exception& e) {
        EXPECT_STREQ(e.what(), "Sešit nemá list 2: tabulku odečtů nelze uložit.");
    }
    one.SetActiveSheet(1);
    EXPECT_EQ(one.GetMaxRow(), 12) << "nothing changed in the workbook";
}

// A workbook the window cannot use, loaded over a good load and into a
// window that has none: the box and the log line name the file and the
// engine's reason; list, key list, panel 1, save target, main meter and
// "Uložit tabulku" stay as they were, and panel 1 counts the rows listed.
TEST_F(MeterWorkbook, LoadsThatFailLeaveTheLoadBefore) {
    const std::string good = "|1|2|3||7|8| 8 Počet měřidel : 6 on 1234.5678 ";
    const std::tuple<const char*, const char*, std::string> cases[] = {  // fixture (none: bytes), reason
        {"app_meters_onesheet.xls", "", "Sheet number \"1\" invalid. Must be between 0 and 0"},
        {"app_meters_textdiv.xls", "", "Řádek 7, sloupec 16: \"abc\" není číslo"},
        {nullptr, "Č.bytu;Jméno\n1;Jiří\n", "The file \"" + book + "\" is invalid"},
        {nullptr, "", "The file \"" + book + "\" is invalid"},  // no bytes at all
    };
    auto state = [&] {
        const std::string file = form->MeterFileName() == book ? "book" : form->MeterFileName();
        return ("|" + apptest::ColumnTexts(form->lvMeters, 0).join('|') + "| ").toStdString() +
               std::to_string(Keys().size()) + " " + form->sb->Text(1).toStdString() + " " +
               (form->mUlozit->isEnabled() ? "on " : "off ") + plat::FloatToStr(form->mainMeterValue) + " " + file;
    };
    for (const auto& [fixture, bytes, reason] : cases) {
        for (const bool loadedBefore : {true, false}) {
            if (loadedBefore) {
                Load("app_meters.xls");
            } else {
                form.reset();
                Start();
            }
            const std::string before = state();
            EXPECT_EQ(before, loadedBefore ? good + "book" : "|| 0  off 0 ");
            std::string boxes;
            if (fixture) {
                boxes = Load(fixture);
            } else {
                apptest::WriteFile(book, bytes);
                boxes = Boxes([&] { form->LoadMeterFile(book); });
            }
            EXPECT_EQ(boxes, "Chyba|Nelze načíst soubor měřidel\\n" + book + "\\n" + reason + "\n");
            EXPECT_TRUE(LogHas(" : Nelze načíst soubor měřidel : " + book + " : " + reason + "\n")) << reason;
            EXPECT_EQ(state(), before) << reason;
        }
    }
}

// Sheet 4's log rows as xlrd reads them back: a declined save, a failing
// write and a field that is no number leave the open workbook as it was,
// so the good save after them adds one set; each good save adds one.
TEST_F(MeterWorkbook, OnlyAWrittenSaveAddsLogRows) {
    Load("meters.xls");
    Read(kMarch, "0x1a2b3c00", 0, 1234);
    Read({2025, 12, 29, 23, 59, 59, 0}, "0x1a2b3c07", 1, 200);
    auto logRows = [&] {
        int rows = 0;
        for (int row = 3; row <= 20; ++row) rows += !Cell("Log", row, 9).empty();
        return rows;
    };
    auto failingSave = [&] {
        rlimit old {}, small {};
        ::getrlimit(RLIMIT_FSIZE, &old);
        small = {4096, old.rlim_max};
        auto* handler = std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &small);
        const std::string boxes = Save("yes");
        ::setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, handler);
        return boxes;
    };
    auto openLogRows = [&] {
        form->xls().SetActiveSheet(4);
        return form->xls().GetMaxRow();
    };
    const int openBefore = openLogRows();
    EXPECT_EQ(Save("no"), kQuestion + "Informace|Ukládánání souboru bylo zrušeno.\n");
    EXPECT_EQ(failingSave().rfind(kQuestion + "Orvelo|", 0), 0u);
    EXPECT_EQ(Save("yes", QStringLiteral("abc")), "Orvelo|\"abc\" není platné číslo.\n");
    EXPECT_EQ(openLogRows(), openBefore);
    EXPECT_EQ(logRows(), 0);
    const std::pair<const char*, int> saves[] = {{"yes", 2}, {"no", 2}, {"yes", 4}};
    for (const auto& [answer, rows] : saves) {
        Save(answer);
        EXPECT_EQ(logRows(), rows) << answer;
    }
    EXPECT_EQ(Cell("Log", 5, 15), "1.234") << "the second set: the same reading again";
    EXPECT_EQ(form->MeterFileName(), book);
}

// Under a Czech locale the list, the tooltip and the main meter's field
// show a decimal comma; the workbook gets numbers all the same.
TEST_F(MeterWorkbook, CzechNumbersOnScreenNumbersInTheWorkbook) {
    UseProgramFormatSettings(LocaleFormatSettings(QLocale(QLocale::Czech, QLocale::Czechia)));
    Load("app_meters.xls");
    Read(kMarch, "0xa0b0c0d", 0, 21.5, 1);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->lvMeters->topLevelItem(1)->text(9), "21,5");
    form->m_Debug->setChecked(true);
    EXPECT_NE(form->lvMetersInfoTip(form->lvMeters->topLevelItem(2)).indexOf("\nKorekce : 2,5\n"), -1);
    EXPECT_EQ(Save("yes", QStringLiteral("99,25")), kQuestion + Saved());
    EXPECT_EQ(shown, "1234,568");
    EXPECT_EQ(Save("yes", QStringLiteral("7.5")), kQuestion + Saved());
    EXPECT_EQ(shown, "99,25");
    EXPECT_EQ((Strings {Cell("Roky", 14, 37), Cell("Roky", 6, 15), Cell("Log", 3, 15)}),
              (Strings {"7.5", "21.5", "21.5"}));
    UseProgramFormatSettings(kalmira::InvariantFormatSettings());
}

// At the stored size every column is in view, "Datum odečtu" and "Hodnota"
// whole, and each status panel holds its longest text in the window's
// font; a larger window takes the list and the buttons along.
TEST_F(MeterWorkbook, TheStoredSizeShowsEveryColumnAndEveryPanelText) {
    {
        kalmira::TKalmiraImport made;
        made.SetAdapter(&form->XLSAdapter1());
        made.NewFile(4);
        made.SetActiveSheet(1);
        const char* texts[] = {"124/56", "Maximilián", "Novotná-Dvořáková", "Nábřeží Kapitána Jaroše", "1234/56a",
                               "Ústí nad Labem", "u okna", "SV studená", "A123456789", "0x1a2b3c4d"};
        for (int row = 5; row < 60; ++row)
            for (int col = 1; col <= 10; ++col)
                made.SetCellValue(row, col, kalmira::TVariant(kalmira::Utf8ToUtf16(texts[col - 1])));
        made.Save(book);
    }
    EXPECT_EQ(Boxes([&] { form->LoadMeterFile(book); }), "");
    form->show();
    QCoreApplication::processEvents();
    QTreeWidget* list = form->lvMeters;
    EXPECT_EQ(form->centralWidget()->size(), QSize(766, 491));
    const QFontMetrics metrics = list->fontMetrics();
    for (int column = 0; column < list->columnCount(); ++column)
        EXPECT_LE(list->header()->sectionViewportPosition(column) + list->columnWidth(column), list->viewport()->width())
            << column;
    EXPECT_EQ(list->horizontalScrollBar()->maximum(), 0);
    EXPECT_GT(list->columnWidth(8), metrics.horizontalAdvance("16.03.2026 10:20:30"));
    EXPECT_GT(list->columnWidth(9), metrics.horizontalAdvance("12345678.1234"));
    EXPECT_GE(list->columnWidth(2), list->header()->sectionSizeHint(2)) << "captions whole";

    const QList<QLabel*> panels = form->sb->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_EQ(panels.size(), 7);
    const std::pair<int, QString> longest[] = {
        {0, "Master"}, {1, "Počet měřidel : 99999"}, {1, "Počet měřidel : 10000"}, {2, "COM3"},
        {3, "OFFLINE"}, {5, " Odečtených: 99999"}, {5, " Odečtených: 19"}, {6, "23:59:58"}};
    for (const auto& [panel, text] : longest) {
        const QFontMetrics fm = panels[panel]->fontMetrics();
        const int room = form->sb->PanelGeometry(panel).width() - 2 * panels[panel]->frameWidth() -
                         fm.horizontalAdvance(QLatin1Char('x')) / 2;
        EXPECT_GE(room, fm.horizontalAdvance(text)) << text.toStdString();
    }
    EXPECT_LE(form->sb->PanelGeometry(6).right(), form->sb->width() - 1);
    EXPECT_GT(form->sb->PanelGeometry(4).width(), 80) << "the selected meter's panel keeps some room";
    form->ApplyComPort("/dev/ttyUSB10");
    EXPECT_GE(form->sb->PanelGeometry(2).width() - 2 * panels[2]->frameWidth(),
              panels[2]->fontMetrics().horizontalAdvance("/dev/ttyUSB10"));
    EXPECT_LE(form->sb->PanelGeometry(6).right(), form->sb->width() - 1) << "panel 4 gave the room";

    const int menu = form->height() - 491;
    form->resize(1000, 600 + menu);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->centralWidget()->size(), QSize(1000, 600));
    EXPECT_EQ(list->geometry(), QRect(0, 0, 1000, 600 - 111));
    EXPECT_EQ(form->btnReadModules->geometry(), QRect(1000 - 118, 600 - 87, 110, 30));
    EXPECT_EQ(form->sb->geometry(), QRect(0, 600 - 22, 1000, 22));
    EXPECT_EQ(form->sb->PanelGeometry(6).right(), 999);

    // A column the operator sized keeps its width when the window changes;
    // the others still make room for every column.
    list->header()->resizeSection(3, 200);
    form->resize(960, 600 + menu);
    QCoreApplication::processEvents();
    EXPECT_EQ(list->columnWidth(3), 200);
    for (int column = 0; column < list->columnCount(); ++column)
        EXPECT_LE(list->header()->sectionViewportPosition(column) + list->columnWidth(column), list->viewport()->width())
            << column;
}

// Made narrower, the window keeps the stored width: the buttons, kept to the
// right edge, never cover the group boxes, nor the status panels each
// other; a port name longer than the room widens it.
TEST_F(MeterWorkbook, ANarrowerWindowKeepsEverythingApart) {
    form->show();
    QCoreApplication::processEvents();
    const std::vector<QRect> stored = {QRect(8, 388, 170, 60), QRect(186, 388, 230, 60), QRect(530, 404, 110, 30),
                                       QRect(648, 404, 110, 30)};
    EXPECT_EQ((std::vector<QRect> {form->GroupBox1->geometry(), form->GroupBox2->geometry(),
                                   form->mUlozit->geometry(), form->btnReadModules->geometry()}),
              stored)
        << "the stored layout";
    const int menu = form->height() - 491;
    form->resize(500, 350 + menu);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->centralWidget()->size(), QSize(766, 350));
    EXPECT_GT(form->mUlozit->x(), form->GroupBox2->geometry().right());
    EXPECT_LE(form->sb->PanelGeometry(6).right(), form->sb->width() - 1);

    form->ApplyComPort("/dev/serial/by-path/pci-0000:00:14.0-usb-0:1.4.2:1.0-port0");
    QCoreApplication::processEvents();
    EXPECT_GT(form->centralWidget()->width(), 766);
    EXPECT_LE(form->sb->PanelGeometry(6).right(), form->sb->width() - 1) << "the clock in view";
    EXPECT_GE(form->sb->PanelGeometry(2).width(), form->sb->TextWidth(2, form->sb->Text(2)));
}

}  // namespace
