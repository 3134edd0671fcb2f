// The meters workbook load through the main window, the real workbook
// engine and the LibreOffice-made fixtures (tests/fixtures/make_fixtures.py,
// make_app_meters), the boxes answered through the seam.
#include "app/F1.h"
#include "app/Tmeterbook.h"
#include "app/Tmyodecty.h"
#include "platform/qt/StatusBar.h"
#include "tests/app/AppTestSupport.h"

#include <QAction>
#include <QFontMetrics>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using apptest::Boxes;
using kalmira::TVariant;
using Strings = std::vector<std::string>;

std::string Fixture(const std::string& name) { return ORVELO_SOURCE_DIR "/tests/fixtures/xls/" + name; }

const Strings kAllKeys {"0xA0B0C0D=0", "0xA0B0C0D=8", "0x1a2b=1", "0x1a2b=2", "0x0a0b0c0e=0", "=0", "0x5=0", "0x6=2"};
const Strings kListed {"1", "2", "3", "", "7", "8"};

class MeterLoad : public apptest::FormFixture {
protected:
    void SetUp() override {
        FormFixture::SetUp();
        Start();
    }
    Strings Keys() const {
        Strings keys;
        for (const TStradelCntrs& m : meterKeyList->Snapshot()) keys.push_back(m.key);
        return keys;
    }
    Strings Listed() const {
        Strings flats;
        for (const QString& t : apptest::ColumnTexts(form->lvMeters, 0)) flats.push_back(t.toStdString());
        return flats;
    }
    std::string Load(const std::string& path) {
        return Boxes([&] { form->LoadMeterFile(path); });
    }
};

TEST_F(MeterLoad, EachVariantFillsKeysListPanelAndMainMeter) {
    struct Case {
        const char* file;
        Strings keys, listed;
        const char* panel;
        double mainMeter;
        std::string boxes;
    };
    const Case cases[] = {
        {"app_meters.xls", kAllKeys, kListed, "Počet měřidel : 6", 1234.5678, ""},
        {"app_meters_noblock.xls", kAllKeys, kListed, "Počet měřidel : 6", 0, ""},
        {"app_meters_empty.xls", {}, {}, "Počet měřidel : 0", 0, ""},
        // A text divisor in row 7: the rows before it stay loaded.
        {"app_meters_textdiv.xls", {"0xA0B0C0D=0", "0xA0B0C0D=8"}, {"1", "2"}, "", 0,
         "Orvelo|Řádek 7, sloupec 16: \"abc\" není číslo.\n"},
        {"app_meters_onesheet.xls", kAllKeys, kListed, "", 0, "Orvelo|Sheet number \"1\" invalid. Must be between 0 and 0.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        form->sb->SetText(1, QString());
        const std::string path = Fixture(c.file);
        EXPECT_EQ(Load(path), c.boxes);
        EXPECT_EQ(Keys(), c.keys);
        EXPECT_EQ(Listed(), c.listed);
        EXPECT_EQ(form->sb->Text(1).toStdString(), c.panel);
        EXPECT_EQ(form->mainMeterValue, c.mainMeter);
        EXPECT_TRUE(form->mUlozit->isEnabled());
        EXPECT_TRUE(LogHas(" : Načtený soubor : " + path + "\n"));
    }
}

TEST_F(MeterLoad, CellsConvertAsTheRecordsColumnsNeed) {
    Load(Fixture("app_meters.xls"));
    const std::vector<TStradelCntrs> m = meterKeyList->Snapshot();
    ASSERT_EQ(m.size(), 8u);
    // Numbers in text columns read as the sheet shows them.
    EXPECT_EQ(m[0].houseNumber, "12");
    EXPECT_EQ(m[0].serialNumber, "9876543");
    EXPECT_EQ(m[1].flatNumber, "2");
    EXPECT_EQ(m[0].meterType, "SV");
    EXPECT_EQ(m[0].locationDetail, "kuchyň");
    EXPECT_EQ((std::vector<double> {m[0].correction, m[2].correction, m[7].correction}),
              (std::vector<double> {10.5, 2.5, 1.25}));
    EXPECT_EQ((std::vector<int> {m[0].multiplier, m[0].divisor, m[2].multiplier, m[6].divisor, m[7].multiplier,
                                 m[7].msgIndex, m[0].column18Number, m[0].column19Number}),
              (std::vector<int> {1, 100, 2, 0, 3, 2, 18, 19}));
    EXPECT_EQ(m[2].rfAddress, "  0x1a2b\t") << "only the key is trimmed";
    EXPECT_EQ((Strings {m[0].column13Text, m[0].column14Text, m[0].column20Text, m[3].column21Text, m[4].column21Text}),
              (Strings {"c13", "c14", "c20", "x", "0"}));
    EXPECT_EQ(m[3].column21Number, 0);
    EXPECT_EQ((std::vector<int> {m[0].sheetRow, m[5].sheetRow, m[7].sheetRow}), (std::vector<int> {5, 10, 12}));

    struct Conversion {
        TVariant cell;
        const char* text;
        const char* number;  // the number's text, or the error
        const char* whole;
    };
    const Conversion table[] = {
        {TVariant(), "", "0", "0"},
        {TVariant(1.0), "1", "1", "1"},
        {TVariant(2.5), "2.5", "2.5", "2"},
        {TVariant(-3.5), "-3.5", "-3.5", "-4"},
        {TVariant(3e9), "3000000000", "3000000000", "Řádek 5, sloupec 17: \"3000000000\" není celé číslo v rozsahu"},
        {TVariant(u" 1,5 "), " 1,5 ", "1.5", "2"},
        {TVariant(u"+7e1"), "+7e1", "70", "70"},
        {TVariant(u"1.5x"), "1.5x", "Řádek 5, sloupec 17: \"1.5x\" není číslo", nullptr},
        {TVariant(u"inf"), "inf", "Řádek 5, sloupec 17: \"inf\" není číslo", nullptr},
        {TVariant(u""), "", "Řádek 5, sloupec 17: \"\" není číslo", nullptr},
        {TVariant(true), "TRUE", "1", "1"},
        {TVariant::FromError(0x2A), "#N/A", "Řádek 5, sloupec 17: \"#N/A\" není číslo", nullptr},
    };
    auto attempt = [](auto fn) {
        try {
            return fn();
        } catch (const EMeterCellError& e) {
            return std::string(e.what());
        }
    };
    for (const Conversion& c : table) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CellText(c.cell), c.text);
        EXPECT_EQ(attempt([&] { return plat::FloatToStr(CellNumber(c.cell, 5, 17)); }), c.number);
        EXPECT_EQ(attempt([&] { return std::to_string(CellInt(c.cell, 5, 17)); }), c.whole ? c.whole : c.number);
    }
}

// A file that does not open keeps the workbook, list and key list of the
// load before it, and "Uložit tabulku" stays as it was.
TEST_F(MeterLoad, AFailedLoadKeepsTheOpenWorkbook) {
    EXPECT_EQ(Load(dir.File("chybí.xls")), "Chyba|Nelze načíst soubor měřidel\n");
    EXPECT_FALSE(form->mUlozit->isEnabled());
    EXPECT_FALSE(form->xls().IsLoaded());
    Load(Fixture("app_meters.xls"));
    const std::string text = dir.File("text.xls"), truncated = dir.File("truncated.xls");
    apptest::WriteFile(text, "Č.bytu;Jméno\n1;Jiří\n");
    apptest::WriteFile(truncated, apptest::ReadFile(Fixture("app_meters.xls")).substr(0, 6000));
    for (const std::string& bad : {text, truncated, dir.File("chybí.xls"), Fixture("damaged")}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(Load(bad), "Chyba|Nelze načíst soubor měřidel\n");
        EXPECT_TRUE(LogHas(" : Nelze načíst soubor měřidel" + bad + "\n"));
        EXPECT_EQ(Keys(), kAllKeys);
        EXPECT_EQ(Listed(), kListed);
        EXPECT_EQ(form->xls().FileName(), Fixture("app_meters.xls"));
        form->xls().SetActiveSheet(1);
        EXPECT_EQ(CellText(form->xls().GetCellValue(5, 2)), "Jiří");
    }
}

// Readings from a transport thread while the workbook is loaded again and
// again; after the last load a reading lands in its new record.
TEST_F(MeterLoad, ReloadUnderTraffic) {
    Load(Fixture("app_meters.xls"));
    std::atomic<bool> sent {false};
    std::thread transport([&] {
        for (int i = 0; i < 20000; ++i) myOdecty->AddReading("0xa0b0c0d", i % 2, 0, i, 0);
        sent = true;
    });
    for (int load = 0; load < 50 || !sent; ++load) {
        Load(Fixture("app_meters.xls"));
        QCoreApplication::processEvents();
    }
    transport.join();
    myOdecty->AddReading("0xa0b0c0d", 0, -60, 1234, 0);
    const TStradelCntrs first = meterKeyList->Snapshot().front();
    EXPECT_EQ(first.value, 22.84);
    EXPECT_EQ(first.rssi, -60);
    QCoreApplication::processEvents();
    EXPECT_EQ(form->lvMeters->topLevelItem(0)->text(9), "1234");
}

// The stored widths were laid out for a smaller font: captions, times and
// values must not be cut in the program's own.
TEST_F(MeterLoad, ColumnsFitCaptionsTimesAndValues) {
    const QFontMetrics metrics = form->lvMeters->fontMetrics();
    QHeaderView* header = form->lvMeters->header();
    for (int i = 0; i < form->lvMeters->columnCount(); ++i) EXPECT_GE(header->sectionSize(i), header->sectionSizeHint(i));
    EXPECT_GT(header->sectionSize(8), metrics.horizontalAdvance("16.03.2026 10:20:30"));
    EXPECT_GT(header->sectionSize(9), metrics.horizontalAdvance("9876543.1234"));
    EXPECT_EQ(header->sectionSize(1), 70) << "never narrower than stored";
}

}  // namespace
