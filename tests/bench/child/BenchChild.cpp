// The engine's side of the benchmark's side-by-side runs, a program of the
// engine's libraries alone (a process that starts with Qt loaded costs some
// 15 MB before it reads a byte):
//   orvelo_bench_child make SHEETS OUT [ROWS]  the generated workbook (50,000 rows a sheet) into OUT
//   orvelo_bench_child read FILE [THREADS]     every cell value: a count and a checksum
//                                              (THREADS 1: the sheets load in turn)
//   orvelo_bench_child save FILE OUT           open and save straight into OUT
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/bench/BenchBook.h"

using namespace kalmira;

namespace {

void Read(const TWorkbook& book) {
    long count = 0;
    double sum = 0;
    for (int s = 0; s < book.SheetCount(); ++s) {
        const TCellList& list = book.WorkSheets(s).Cells().CellList();
        for (std::size_t row = 0; row < list.Count(); ++row)
            if (const auto* cells = list.GetItems(row))
                for (std::size_t c = 0; c < cells->Count(); ++c) {
                    const TVariant value = cells->GetItems(c)->GetValue();
                    if (value.IsEmpty()) continue;
                    ++count;
                    if (value.VarType() == TVarType::Double) sum += value.RealValue();
                    else if (value.VarType() == TVarType::String) sum += static_cast<double>(value.Text().size());
                }
    }
    std::printf("%ld %.6e\n", count, sum);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string verb = argc > 2 ? argv[1] : "";
    if (verb == "make" && (argc == 4 || argc == 5)) {
        const auto bytes = benchbook::MakeBook(std::stoi(argv[2]), argc == 5 ? std::stoi(argv[4]) : benchbook::Rows);
        std::ofstream(argv[3], std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return 0;
    }
    if ((verb != "read" || (argc != 3 && argc != 4)) && (verb != "save" || argc != 4)) {
        std::fprintf(stderr, "usage: orvelo_bench_child make SHEETS OUT [ROWS] | read FILE [THREADS] | save FILE OUT\n");
        return 2;
    }
    if (verb == "read" && argc == 4) TWorkbook::SetLoadThreads(static_cast<unsigned>(std::stoul(argv[3])));
    TKmrFileStream in(argv[2], TKmrFileStream::TMode::Read);
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    auto book = std::make_unique<TWorkbook>();
    book->LoadFromStream(ole);
    if (verb == "save") {
        // Straight into the file, as the workbook file saves.
        TKmrSafeFileStream out(argv[3], TKmrSafeFileStream::TReplace::Allow);
        ole.PrepareForWrite(&out, u"Workbook");
        book->SaveToStream(ole);
        ole.FinishStream();
        out.Commit();
        std::printf("saved\n");
    } else {
        Read(*book);
    }
    std::fflush(stdout);
    book.reset();  // freed as in a program that goes on
    return 0;
}
