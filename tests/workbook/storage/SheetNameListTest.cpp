#include <gtest/gtest.h>

#include <vector>

#include "workbook/storage/Usheetnamelist.h"
#include "tests/workbook/storage/MessageOf.h"
#include "workbook/storage/XlsMessages.h"

using namespace kalmira;

namespace {

std::vector<std::u16string> FullNames(const TSheetNameList& list) {
    std::vector<std::u16string> names;
    for (int i = 0; i < list.Count(); ++i) names.push_back(TSheetNameList::GetFullName(list[i].Name, list[i].Index));
    return names;
}

using Names = std::vector<std::u16string>;

}  // namespace

TEST(SheetNameList, RenameAndDelete) {
    TSheetNameList list;
    for (const char16_t* n : {u"Jan", u"Feb", u"Mar"}) list.Add(n);
    list.AddUniqueName(u"Mar");
    list.DeleteSheet(u"Mar1");
    EXPECT_EQ(MessageOf([&] { list.DeleteSheet(u"mar"); }), "Invalid sheet: mar");
    list.Rename(u"Feb", u"Feb");
    list.Rename(u"Feb", u"Únor");
    EXPECT_EQ(FullNames(list), (Names{u"Jan", u"Mar", u"Únor"}));
    EXPECT_EQ(MessageOf([&] { list.Rename(u"Jan", u"Mar"); }), "Sheet name already exists: Mar");
    EXPECT_EQ(MessageOf([&] { list.Rename(u"Apr", u"May"); }), "Invalid sheet: Apr");
    EXPECT_EQ(FullNames(list), (Names{u"Jan", u"Mar", u"Únor"}));
    list.Rename(u"Jan", u"jan");
    EXPECT_EQ(FullNames(list), (Names{u"jan", u"Mar", u"Únor"}));
}

TEST(SheetNameList, MakeValidSheetName) {
    std::u16string forty = u"0123456789012345678901234567890123456789";
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(forty), forty.substr(0, 31));
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(u"a/b:c[1]*?\\"), u"a_b.c_1____");
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(u"Отчёт Měření"), u"Отчёт Měření");
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(u""), u"");
    // The 31st unit is the high half of a pair: the pair goes whole.
    std::u16string pair = std::u16string(30, u'a') + u"\U0001F600" + u"b";
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(pair), std::u16string(30, u'a'));
    std::u16string fits = std::u16string(29, u'a') + u"\U0001F600" + u"b";
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(fits), std::u16string(29, u'a') + u"\U0001F600");
}

// Names that differ only in case are one name for new names; a file read
// with both keeps them.
TEST(SheetNameList, NamesIgnoreCase) {
    TSheetNameList list;
    list.Add(u"Data");
    for (const char16_t* taken : {u"DATA", u"data", u"dAtA"})
        EXPECT_EQ(MessageOf([&] { list.Add(taken); }), "Sheet name already exists: " + Utf16ToUtf8(taken));
    list.Add(u"Žluť");
    EXPECT_EQ(MessageOf([&] { list.Add(u"ŽLUŤ"); }), "Sheet name already exists: ŽLUŤ");
    EXPECT_EQ(MessageOf([&] { list.Rename(u"Žluť", u"DATA"); }), "Sheet name already exists: DATA");
    list.Rename(u"Data", u"DATA");  // its own name in another case
    EXPECT_EQ(FullNames(list), (Names{u"DATA", u"Žluť"}));

    // Sheet1 taken in another case: the next free number.
    list.Add(u"SHEET1");
    EXPECT_EQ(list.AddUniqueName(u"Sheet"), u"Sheet");
    EXPECT_EQ(list.AddUniqueName(u"Sheet"), u"Sheet2");

    TSheetNameList read;
    read.AddAsRead(u"Data");
    read.AddAsRead(u"DATA");
    EXPECT_EQ(MessageOf([&] { read.AddAsRead(u"DATA"); }), "Sheet name already exists: DATA");
    EXPECT_EQ(MessageOf([&] { read.Rename(u"Data", u"data"); }), "Sheet name already exists: data");
    read.DeleteSheet(u"DATA");
    read.Rename(u"Data", u"data");
    EXPECT_EQ(FullNames(read), (Names{u"data"}));
}
