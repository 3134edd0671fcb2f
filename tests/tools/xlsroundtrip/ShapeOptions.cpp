#include "tests/tools/xlsroundtrip/ShapeOptions.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <ostream>
#include <string>
#include <typeinfo>

namespace xlsroundtrip {

using namespace kalmira;

namespace {

struct TOption {
    const char* Name;
    int Arguments;
    void (*Run)(TXLSFile&, const std::array<int, 5>&);
};

TWorkbook& BookAt(TXLSFile& file, int sheet) {
    file.SetActiveSheet(sheet);
    return file.GetTWorkbook();
}

const TOption Options[] = {
    {"--delete-picture", 2, [](TXLSFile& f, const auto& n) { BookAt(f, n[0]), f.DeleteImage(n[1] - 1); }},
    {"--row-height", 3, [](TXLSFile& f, const auto& n) { BookAt(f, n[0]), f.SetRowHeight(n[1], n[2]); }},
    {"--autofilter", 4, [](TXLSFile& f, const auto& n) { BookAt(f, n[0]), f.SetAutoFilter(n[1], n[2], n[3]); }},
};

const char* KindName(int type, std::string& other) {
    switch (type) {
        case -1: return "shape";
        case 0: return "group";
        case 1: return "line";
        case 2: return "rectangle";
        case 3: return "oval";
        case 5: return "chart";
        case 6: return "textbox";
        case 8: return "picture";
        case 0x14: return "dropdown";
        case 0x19: return "comment";
        default: return (other = "obj" + std::to_string(type)).c_str();
    }
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
        std::string other;
        out << sheet << '\t' << shape->SP->ShapeId() << '\t' << KindName(ObjTypeOf(*shape), other);
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

std::string Escaped(const std::u16string& text) {
    std::string out;
    for (char c : Utf16ToUtf8(text)) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            default: out += c;
        }
    }
    return out;
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
std::u16string Unescaped(const char* text) {
    std::string out;
    for (const char* c = text; *c; ++c) {
        if (*c == '\\' && (c[1] == 'n' || c[1] == '\\')) out += *++c == 'n' ? '\n' : '\\';
        else out += *c;
    }
    return Utf8ToUtf16(out);
}

// --comment SHEET ROW COL AUTHOR TEXT: the box right of the cell, rows ROW-1
// to ROW+3, columns COL+1 to COL+3, kept on the sheet; an author given is
// set on the note. --assign-comment SHEET ROW INDEX TEXT.
TFileChange ParseCommentOption(char** argv, int argc, int& i) {
    const bool comment = std::strcmp(argv[i], "--comment") == 0;
    if ((!comment && std::strcmp(argv[i], "--assign-comment") != 0) || i + (comment ? 5 : 4) >= argc) return {};
    const int sheet = std::stoi(argv[i + 1]), row = std::stoi(argv[i + 2]), third = std::stoi(argv[i + 3]);
    const std::u16string author = comment ? Utf8ToUtf16(argv[i + 4]) : u"";
    const std::u16string text = Unescaped(argv[i + (comment ? 5 : 4)]);
    i += comment ? 6 : 5;
    if (!comment)
        return [=](TXLSFile& f) { BookAt(f, sheet), f.AssignComment(row, third, text); };
    return [=](TXLSFile& f) {
        const TImageProperties box{std::min(third + 1, 256), 0, std::max(row - 1, 1), 0, std::min(third + 3, 256), 0,
                                   std::min(row + 3, 65536), 0, {}};
        BookAt(f, sheet), f.SetCellComment(row, third, text, box);
        if (TNoteRecord* note = author.empty() ? nullptr : f.GetTWorkbook().WorkSheets(sheet - 1).Notes().At(row - 1, third - 1))
            note->SetAuthor(author);
    };
}

}  // namespace

TFileChange ParseShapeOption(char** argv, int argc, int& i) {
    if (auto change = ParseCommentOption(argv, argc, i)) return change;
    for (const TOption& option : Options) {
        if (std::strcmp(argv[i], option.Name) != 0 || i + option.Arguments >= argc) continue;
        std::array<int, 5> n{};
        for (int k = 0; k < option.Arguments; ++k) n[static_cast<std::size_t>(k)] = std::stoi(argv[i + 1 + k]);
        i += option.Arguments + 1;
        return [run = option.Run, n](TXLSFile& file) { run(file, n); };
    }
    return {};
}

void PrintShapes(const TWorkbook& book, std::ostream& out) {
    for (int s = 0; s < book.SheetCount(); ++s)
        if (book.IsWorksheet(s) && book.WorkSheets(s).Drawing().Root())
            PrintTree(*book.WorkSheets(s).Drawing().Root(), s + 1, out);
}

}  // namespace xlsroundtrip
