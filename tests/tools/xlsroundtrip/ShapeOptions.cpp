#include "tests/tools/xlsroundtrip/Options.h"

#include <algorithm>
#include <map>
#include <ostream>
#include <string>
#include <typeinfo>

namespace xlsroundtrip {

using namespace kalmira;

namespace {

const std::map<int, std::string> Kinds = {{-1, "shape"},   {0, "group"},   {1, "line"},       {2, "rectangle"},
                                           {3, "oval"},    {5, "chart"},   {6, "textbox"},    {8, "picture"},
                                           {0x14, "dropdown"}, {0x19, "comment"}};

std::string KindName(int type) {
    const auto found = Kinds.find(type);
    return found != Kinds.end() ? found->second : "obj" + std::to_string(type);
}

// The object type of the shape container's OBJ; -1 without one.
int ObjTypeOf(const TEscherContainerRecord& shape) {
    for (std::size_t i = 0; i < shape.Children().Count(); ++i) {
        const TEscherRecord* child = shape.Children()[i];
        if (typeid(*child) != typeid(TEscherClientDataRecord)) continue;
        const auto* data = dynamic_cast<const TPlainClientData*>(static_cast<const TEscherClientDataRecord*>(child)->ClientData());
        if (data) return data->ObjType();
    }
    return -1;
}

void PrintTree(const TEscherRecord& record, int sheet, std::ostream& out) {
    const auto* container = dynamic_cast<const TEscherContainerRecord*>(&record);
    if (!container) return;
    const auto* shape = dynamic_cast<const TEscherSpContainerRecord*>(container);
    if (shape && shape->SP && !(shape->SP->Flags() & 0x0004)) {
        out << sheet << '\t' << shape->SP->ShapeId() << '\t' << KindName(ObjTypeOf(*shape));
        if (shape->ClientAnchor && shape->ClientAnchor->HasAnchor()) {
            const TClientAnchor a = shape->ClientAnchor->GetAnchor();
            out << '\t' << a.Flag << '\t' << a.Row1 + 1 << '\t' << a.Col1 + 1 << '\t' << a.Row2 + 1 << '\t'
                << a.Col2 + 1 << '\n';
        } else {
            out << "\t-\t-\t-\t-\t-\n";
        }
    }
    for (std::size_t i = 0; i < container->Children().Count(); ++i) PrintTree(*container->Children()[i], sheet, out);
}

}  // namespace

void PrintComments(const TWorkbook& book, std::ostream& out) {
    for (int s = 0; s < book.SheetCount(); ++s) {
        if (!book.IsWorksheet(s)) continue;
        const TNoteList& notes = book.WorkSheets(s).Notes();
        std::vector<int> rows;
        for (const auto& note : notes.Items()) rows.push_back(note->GetRow());
        std::sort(rows.begin(), rows.end());
        rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
        for (int row : rows)
            for (const TNoteRecord* note : notes.InRow(row)) {
                const TRichString text = TNoteList::GetText(*note);
                std::string runs;
                for (const TRTFRun& run : text.RTFRuns)
                    if (run.FirstChar < text.Value.size())
                        runs += (runs.empty() ? "" : ",") + std::to_string(run.FirstChar) + ":" + std::to_string(run.FontIndex);
                out << s + 1 << '\t' << row + 1 << '\t' << note->GetColumn() + 1 << '\t' << Escaped(note->GetAuthor())
                    << '\t' << (note->Link ? runs : "-") << '\t' << Escaped(text.Value) << '\n';
            }
    }
}

namespace {

// \n is a line break, \\ a backslash.
std::u16string Unescaped(const std::string& text) {
    std::string out;
    for (const char* c = text.c_str(); *c; ++c) {
        if (*c == '\\' && (c[1] == 'n' || c[1] == '\\')) out += *++c == 'n' ? '\n' : '\\';
        else out += *c;
    }
    return Utf8ToUtf16(out);
}

// --comment SHEET ROW COL AUTHOR TEXT: the box right of the cell, rows ROW-1
// to ROW+3, columns COL+1 to COL+3, kept on the sheet; an author given is
// set on the note.
void SetComment(TXLSFile& f, const TArgs& a) {
    const int sheet = a.N(0), row = a.N(1), col = a.N(2);
    const TImageProperties box{std::min(col + 1, 256), 0, std::max(row - 1, 1), 0, std::min(col + 3, 256), 0,
                               std::min(row + 3, 65536), 0, {}};
    f.SetCellComment(row, col, Unescaped(a.Text[4]), box);
    TNoteRecord* note = a.Text[3].empty() ? nullptr : f.GetTWorkbook().WorkSheets(sheet - 1).Notes().At(row - 1, col - 1);
    if (note) note->SetAuthor(a.U(3));
}

const TOption Options[] = {
    {"--comment", "snntt", [](TKalmiraImport& x, const TArgs& a) { SetComment(File(x), a); }},
    {"--assign-comment", "snnt",
     [](TKalmiraImport& x, const TArgs& a) { File(x).AssignComment(a.N(1), a.N(2), Unescaped(a.Text[3])); }},
    {"--delete-picture", "sn", [](TKalmiraImport& x, const TArgs& a) { File(x).DeleteImage(a.N(1) - 1); }},
    {"--row-height", "snn", [](TKalmiraImport& x, const TArgs& a) { File(x).SetRowHeight(a.N(1), a.N(2)); }},
    {"--autofilter", "snnn", [](TKalmiraImport& x, const TArgs& a) { File(x).SetAutoFilter(a.N(1), a.N(2), a.N(3)); }},
};

}  // namespace

const TOptionTable ShapeOptions = Options;

void PrintShapes(const TWorkbook& book, std::ostream& out) {
    for (int s = 0; s < book.SheetCount(); ++s)
        if (book.IsWorksheet(s) && book.WorkSheets(s).Drawing().Root())
            PrintTree(*book.WorkSheets(s).Drawing().Root(), s + 1, out);
}

}  // namespace xlsroundtrip
