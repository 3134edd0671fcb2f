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

TEST(SheetNameList, KeepsFullNamesShorterFirstThenByCode) {
    TSheetNameList list;
    for (const char16_t* n : {u"AA", u"Z", u"sheet1", u"Sheet1", u"B", u"Ča"}) list.Add(n);
    EXPECT_EQ(FullNames(list), (Names{u"B", u"Z", u"AA", u"Ča", u"Sheet1", u"sheet1"}));
    int index = -1;
    EXPECT_TRUE(list.FindFullString(u"sheet1", index));
    EXPECT_EQ(index, 5);
    EXPECT_FALSE(list.FindFullString(u"C", index));
    EXPECT_EQ(index, 1);
}

TEST(SheetNameList, GetFullName) {
    EXPECT_EQ(TSheetNameList::GetFullName(u"Sheet", 0), u"Sheet");
    EXPECT_EQ(TSheetNameList::GetFullName(u"Sheet", 3), u"Sheet3");
    EXPECT_EQ(TSheetNameList::GetFullName(u"List", 2147483647), u"List2147483647");
}

TEST(SheetNameList, AddRefusesADuplicateAndKeepsTheList) {
    TSheetNameList list;
    list.Add(u"Sheet1");
    EXPECT_EQ(MessageOf([&] { list.Add(u"Sheet1"); }), "Sheet name already exists: Sheet1");
    EXPECT_EQ(FullNames(list), (Names{u"Sheet1"}));
}

TEST(SheetNameList, AddUniqueNameSkipsNumbersInUse) {
    TSheetNameList list;
    list.Add(u"Sheet");
    list.Add(u"Sheet1");
    list.Add(u"Sheet2");
    EXPECT_EQ(list.AddUniqueName(u"Sheet"), u"Sheet3");
    EXPECT_EQ(list.AddUniqueName(u"Sheet"), u"Sheet4");
    EXPECT_EQ(list.AddUniqueName(u"Data"), u"Data");
    EXPECT_EQ(list.AddUniqueName(u"Data"), u"Data1");
    EXPECT_EQ(FullNames(list), (Names{u"Data", u"Data1", u"Sheet", u"Sheet1", u"Sheet2", u"Sheet3", u"Sheet4"}));
}

TEST(SheetNameList, LoadedNamesAreTheirOwnRoots) {
    TSheetNameList list;
    for (const char16_t* n : {u"Sheet1", u"Sheet2", u"Sheet3"}) list.Add(n);
    EXPECT_EQ(list.AddUniqueName(u"Sheet"), u"Sheet");
    EXPECT_EQ(list.AddUniqueName(u"Sheet"), u"Sheet4");  // after Sheet (index 0): 1, 2, 3 are taken
    // A new root that is already a loaded name still gets a free one.
    EXPECT_EQ(list.AddUniqueName(u"Sheet1"), u"Sheet11");
    EXPECT_EQ(FullNames(list), (Names{u"Sheet", u"Sheet1", u"Sheet2", u"Sheet3", u"Sheet4", u"Sheet11"}));
}

TEST(SheetNameList, FindRootStringGivesTheFirstEntryInListOrder) {
    TSheetNameList list;
    list.AddUniqueName(u"Sheet");  // Sheet
    list.AddUniqueName(u"Sheet");  // Sheet1
    list.Add(u"Sheet10");
    int index = -1;
    EXPECT_TRUE(list.FindRootString(u"Sheet", index));
    EXPECT_EQ(index, 0);
    EXPECT_TRUE(list.FindRootString(u"Sheet10", index));
    EXPECT_EQ(index, 2);
    EXPECT_FALSE(list.FindRootString(u"Sheet2", index));
    EXPECT_EQ(index, 2);  // where "Sheet2" would go
}

TEST(SheetNameList, DeleteSheet) {
    TSheetNameList list;
    list.Add(u"A");
    list.AddUniqueName(u"A");
    list.DeleteSheet(u"A1");
    EXPECT_EQ(FullNames(list), (Names{u"A"}));
    EXPECT_EQ(MessageOf([&] { list.DeleteSheet(u"a"); }), "Invalid sheet: a");
    EXPECT_EQ(FullNames(list), (Names{u"A"}));
}

TEST(SheetNameList, Rename) {
    TSheetNameList list;
    for (const char16_t* n : {u"Jan", u"Feb", u"Mar"}) list.Add(n);
    list.Rename(u"Feb", u"Feb");
    list.Rename(u"Feb", u"Únor");
    EXPECT_EQ(FullNames(list), (Names{u"Jan", u"Mar", u"Únor"}));
    EXPECT_EQ(MessageOf([&] { list.Rename(u"Jan", u"Mar"); }), "Sheet name already exists: Mar");
    EXPECT_EQ(MessageOf([&] { list.Rename(u"Apr", u"May"); }), "Invalid sheet: Apr");
    EXPECT_EQ(FullNames(list), (Names{u"Jan", u"Mar", u"Únor"}));
    list.Rename(u"Jan", u"jan");
    EXPECT_EQ(FullNames(list), (Names{u"Mar", u"jan", u"Únor"}));
}

TEST(SheetNameList, MakeValidSheetName) {
    std::u16string forty = u"0123456789012345678901234567890123456789";
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(forty), forty.substr(0, 31));
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(u"a/b:c"), u"a_b.c");
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(u"x[1]*?"), u"x_1___");
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(u"back\\slash"), u"back_slash");
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(u"Отчёт"), u"Отчёт");
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(u"Ημερολόγιο"), u"Ημερολόγιο");
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(u"Měření"), u"Měření");
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(u""), u"");
    // The 31st unit is the high half of a pair: the pair goes whole.
    std::u16string pair = std::u16string(30, u'a') + u"\U0001F600" + u"b";
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(pair), std::u16string(30, u'a'));
    std::u16string fits = std::u16string(29, u'a') + u"\U0001F600" + u"b";
    EXPECT_EQ(TSheetNameList::MakeValidSheetName(fits), std::u16string(29, u'a') + u"\U0001F600");
}
