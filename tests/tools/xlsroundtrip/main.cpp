// xlsroundtrip IN OUT
//
// Opens IN through the engine and writes it to OUT unchanged: the records of
// its "Workbook" stream are loaded and written back through a record list
// (index and cache records dropped) into a copy of the compound document. A file the
// engine cannot read gives exit status 1 and the engine's message on one
// line of standard error; OUT is then not created.
#include <cstdio>
#include <iostream>
#include <vector>

#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/Uexcelrecords.h"
#include "workbook/storage/XlsMessages.h"

namespace {

using namespace kalmira;

std::vector<std::uint8_t> RoundTrip(const char* inName) {
    TKmrFileStream in(inName, TKmrFileStream::TMode::Read);
    TOle2File ole(&in);
    ole.SelectStream(u"Workbook");
    TBaseRecordList records;
    WalkRecords(ole, [&](std::unique_ptr<TBaseRecord> record) { records.Add(std::move(record)); });

    TKmrMemoryStream out;
    ole.PrepareForWrite(&out, u"Workbook");
    records.SaveToStream(ole);
    Assert(ole.Position() == records.GetTotalSize(), "xlsroundtrip", "written size differs from the list's size");
    ole.FinishStream();
    return out.Bytes();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: xlsroundtrip IN OUT\n";
        return 2;
    }
    std::vector<std::uint8_t> bytes;
    try {
        bytes = RoundTrip(argv[1]);
    } catch (const std::exception& e) {
        std::cerr << e.what() << '\n';
        return 1;
    }
    try {
        TKmrFileStream out(argv[2], TKmrFileStream::TMode::Create);
        out.Write(bytes.data(), bytes.size());
    } catch (const std::exception& e) {
        std::remove(argv[2]);  // never leave a half-written file
        std::cerr << e.what() << '\n';
        return 1;
    }
    return 0;
}
