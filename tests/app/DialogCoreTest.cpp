// The dialogs' number fields and the meter dialog's checks, without widgets.
#include "app/Tfieldnumber.h"
#include "app/Tmeridlacheck.h"
#include "app/Tmydates.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

struct FieldCase {
    const char* typed;
    int places;
    const char* shown;
};

TEST(FieldNumber, RewritesWhatWasTyped) {
    const FieldCase cases[] = {
        {"12,345", 4, "12.345"}, {"1.5", 4, "1.5"},       {"abc", 4, "0"},        {"1.234,5", 4, "0"},
        {"nan", 4, "0"},         {"inf", 4, "0"},         {"-INF", 4, "0"},       {"1e400", 4, "0"},
        {"1,23456", 4, "1.2346"}, {"1,0625", 3, "1.062"}, {"2.03125", 4, "2.0312"}, {"  7,25  ", 4, "7.25"},
        {"", 4, "0"},            {"1 000", 4, "0"},       {"1e3", 4, "1000"},     {"-0,5", 3, "-0.5"},
        {"+2", 4, "2"},          {"12,345", 3, "12.345"}, {"0x10", 4, "0"},       {"1,5,", 4, "0"},
    };
    for (const FieldCase& c : cases)
        EXPECT_EQ(FieldNumberText(c.typed, c.places), c.shown) << "typed: " << c.typed;
}

TEST(FieldNumber, HostileTextsGiveZeroAndHalvesRoundToEven) {
    EXPECT_EQ(ParseFieldNumber(std::string(10000, '9')), 0);
    EXPECT_EQ(ParseFieldNumber(std::string(10000, 'x')), 0);
    EXPECT_EQ(ParseFieldNumber("1e-400"), 0);
    EXPECT_FALSE(std::isnan(ParseFieldNumber("NaN")));
    EXPECT_EQ(RoundToPlaces(0.125, 2), 0.12);
    EXPECT_EQ(RoundToPlaces(0.375, 2), 0.38);
    EXPECT_EQ(RoundToPlaces(-1.0625, 3), -1.062);
    EXPECT_EQ(FieldWholeNumber(2.5), 2);
    EXPECT_EQ(FieldWholeNumber(3.5), 4);
    EXPECT_EQ(FieldWholeNumber(1e300), 2147483647);
    EXPECT_EQ(FieldWholeNumber(-1e300), -2147483647 - 1);
}

TMeterDefInput GoodInput() {
    return {.mediaTypeIndex = 0, .meterTypeIndex = 1, .name = " Studená voda ", .secondaryAddress = "12345678",
            .unit = "m3", .startState = "0", .correction = "-1,5", .multiplier = "1", .divisor = "100",
            .flatRate = "0", .mbusAddress = "1", .mbusIndex = "0", .mbusInterval = "60", .tableName = "Byty"};
}

struct CheckCase {
    const char* what;
    void (*spoil)(TMeterDefInput&);
    int failed;
    const char* message;
};

TEST(MeterDefChecks, TheFirstFailingCheckSpeaksInOrder) {
    const CheckCase cases[] = {
        {"no media", [](TMeterDefInput& i) { i.mediaTypeIndex = -1; i.meterTypeIndex = -1; }, 1, "Zvolte medium"},
        {"no meter type", [](TMeterDefInput& i) { i.meterTypeIndex = -1; i.name = "A"; }, 2, "Zvolte měřidlo"},
        {"short name", [](TMeterDefInput& i) { i.name = "AB"; }, 3, "Název je příliš krátký. (3-32)"},
        {"blank name", [](TMeterDefInput& i) { i.name = "  AB   "; }, 3, "Název je příliš krátký. (3-32)"},
        {"long name", [](TMeterDefInput& i) { i.name = std::string(33, 'x'); }, 3, "Název je příliš krátký. (3-32)"},
        {"short address", [](TMeterDefInput& i) { i.secondaryAddress = "123"; }, 4,
         "Sekundární adresa je příliš krátká (4-20)"},
        {"no unit", [](TMeterDefInput& i) { i.unit = "   "; }, 5, "Zvolte základní jednotku měřiče (1-6)"},
        {"long unit", [](TMeterDefInput& i) { i.unit = "kWh/m3x"; }, 5, "Zvolte základní jednotku měřiče (1-6)"},
        {"negative start", [](TMeterDefInput& i) { i.startState = "-1"; }, 6, ""},
        {"multiplier 0", [](TMeterDefInput& i) { i.multiplier = "0"; }, 8, "Násobitel nesmí být 0"},
        {"multiplier nan", [](TMeterDefInput& i) { i.multiplier = "nan"; }, 8, "Násobitel nesmí být 0"},
        {"divisor 0", [](TMeterDefInput& i) { i.divisor = "abc"; }, 9, "Dělitel nesmí být 0"},
        {"negative rate", [](TMeterDefInput& i) { i.flatRate = "-0,01"; }, 10, "Paušál nesmí být menší než 0"},
        {"address 0", [](TMeterDefInput& i) { i.mbusAddress = "0"; }, 11, "Adresa musí být v rozsahu 1-253"},
        {"address 254", [](TMeterDefInput& i) { i.mbusAddress = "254"; }, 11, "Adresa musí být v rozsahu 1-253"},
        {"index 126", [](TMeterDefInput& i) { i.mbusIndex = "126"; }, 12, "Index musí být větší než 0"},
        {"index -1", [](TMeterDefInput& i) { i.mbusIndex = "-1"; }, 12, "Index musí být větší než 0"},
        {"interval 59", [](TMeterDefInput& i) { i.mbusInterval = "59"; }, 13, "Interval musí být v rozsahu 60-1440"},
        {"interval 1441", [](TMeterDefInput& i) { i.mbusInterval = "1441"; }, 13,
         "Interval musí být v rozsahu 60-1440"},
    };
    for (const CheckCase& c : cases) {
        TMeterDefInput in = GoodInput();
        c.spoil(in);
        TMeterDef record;
        TMeterDefCheck result = CheckMeterDef(in, record);
        EXPECT_FALSE(result.ok) << c.what;
        EXPECT_EQ(result.failedCheck, c.failed) << c.what;
        EXPECT_EQ(result.message, c.message) << c.what;
    }
}

// The bounds that pass, the trimmed name, and the texts a stored record
// gives the dialog, which pass the checks again.
TEST(MeterDefChecks, BoundsPassAndARecordsTextsPassAgain) {
    TMeterDefInput in = GoodInput();
    in.name = " Žlu ";  // three characters, five bytes
    in.mbusAddress = "253";
    in.mbusIndex = "125";
    in.mbusInterval = "1440";
    in.secondaryAddress = std::string(20, '1');
    TMeterDef record;
    record.meterId = 17;
    TMeterDefCheck result = CheckMeterDef(in, record);
    ASSERT_TRUE(result.ok) << result.message;
    EXPECT_EQ(record.meterId, 17);
    EXPECT_EQ(record.name, "Žlu");
    EXPECT_EQ(record.meterTypeIndex, 1);
    EXPECT_EQ(record.correction, -1.5f);
    EXPECT_EQ(record.divisor, 100);
    EXPECT_EQ(record.mbusAddress, 253);
    EXPECT_EQ(record.mbusIndex, 125);
    EXPECT_EQ(record.mbusInterval, 1440);
    EXPECT_EQ(record.tableName, "Byty");

    record.correction = 0.1f;
    TMeterDefInput texts = MeterDefTexts(record);
    EXPECT_EQ(texts.correction, "0.1");
    EXPECT_EQ(texts.mbusInterval, "1440");
    TMeterDef again;
    ASSERT_TRUE(CheckMeterDef(texts, again).ok);
    EXPECT_EQ(again.divisor, 100);
}

// Day numbers from 30.12.1899; "end of" is the day + 86399999/86400000.
TEST(CurrDates, BoundsOfTheCalendarCases) {
    struct Case {
        plat::TDateTimeParts now;
        double monthStart, monthEnd, weekStart, weekEnd, prevMonthStart;
    };
    const Case cases[] = {
        {{2026, 1, 15, 10, 30, 0, 0}, 46023, 46053.999999988424, 46034, 46040.999999988424, 45992},
        {{2028, 2, 29, 13, 14, 15, 160}, 46784, 46812.999999988424, 46811, 46817.999999988424, 46753},
        {{2027, 1, 1, 0, 0, 0, 0}, 46388, 46418.999999988424, 46384, 46390.999999988424, 46357},
        {{2025, 12, 29, 23, 59, 59, 999}, 45992, 46022.999999988424, 46020, 46026.999999988424, 45962},
    };
    for (const Case& c : cases) {
        const TCurrDates d = ComputeCurrDates(c.now);
        SCOPED_TRACE(c.now.year * 10000 + c.now.month * 100 + c.now.day);
        EXPECT_EQ(d.monthStart, c.monthStart);
        EXPECT_EQ(d.monthEnd, c.monthEnd);
        EXPECT_EQ(d.weekStart, c.weekStart);
        EXPECT_EQ(d.weekEnd, c.weekEnd);
        EXPECT_EQ(d.prevMonthStart, c.prevMonthStart);
        EXPECT_EQ(d.todayStart, std::floor(d.now));
    }
}

TEST(CurrDates, YearQuarterEndsAndParts) {
    const TCurrDates d = ComputeCurrDates({2026, 11, 7, 8, 9, 10, 11});
    EXPECT_EQ((std::vector<double> {d.yearStart, d.yearEnd, d.marchEnd, d.juneEnd, d.septemberEnd}),
              (std::vector<double> {46023, 46387.999999988424, 46112.999999988424, 46203.999999988424,
                                    46295.999999988424}));
    EXPECT_EQ((std::vector<std::uint16_t> {d.year, d.month, d.day}), (std::vector<std::uint16_t> {2026, 11, 7}));
    EXPECT_DOUBLE_EQ(d.now, 46333 + 29350011.0 / 86400000);
}

TEST(TransferMonth, TwoMonthsBackDecemberForJanuaryAndFebruary) {
    const int table[][4] = {{1, 2026, 12, 2025}, {2, 2026, 12, 2025}, {3, 2026, 1, 2026}, {12, 2026, 10, 2026}};
    for (const auto& row : table) {
        const TTransferMonth t = TransferMonth(row[0], row[1]);
        EXPECT_EQ((std::vector<int> {t.month, t.year}), (std::vector<int> {row[2], row[3]})) << row[0];
    }
}

}  // namespace
