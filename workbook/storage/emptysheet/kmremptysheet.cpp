// kmremptysheet OUT: writes the empty-workbook template that the engine
// embeds (workbook/storage/KmrEmptySheet.xls): a workbook with one empty,
// visible and selected worksheet "Sheet1" in a compound document whose only
// stream is "Workbook". It carries every record whose setter would
// otherwise do nothing, in the order the workbook writes them, so that a
// workbook made from it saves again unchanged.
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <string_view>

#include "workbook/storage/UOle2Impl.h"
#include "workbook/storage/UXlsBaseRecordLists.h"
#include "workbook/storage/UXlsSST.h"
#include "workbook/storage/UXlsSettingRecords.h"

using namespace kalmira;

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t xlr_BOF = 0x809, xlr_WRITEACCESS = 0x5C, xlr_CODEPAGE = 0x42, xlr_FONT = 0x31,
                        xlr_XF = 0xE0, xlr_STYLE = 0x293, xlr_BOUNDSHEET = 0x85, xlr_SELECTION = 0x1D;

// Little-endian words, double words and raw bytes, in order.
struct TFields {
    Bytes Data;
    TFields& W(std::uint16_t v) { return B({static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8)}); }
    TFields& L(std::uint32_t v) { return W(static_cast<std::uint16_t>(v)).W(static_cast<std::uint16_t>(v >> 16)); }
    TFields& B(std::initializer_list<std::uint8_t> bytes) {
        Data.insert(Data.end(), bytes);
        return *this;
    }
    TFields& Text8(std::string_view text) {  // characters of 8 bits behind their option byte
        B({0});
        Data.insert(Data.end(), text.begin(), text.end());
        return *this;
    }
};

template <class T = TBaseRecord>
void Add(TBaseRecordList& list, std::uint16_t id, const TFields& fields) {
    list.Add(std::make_unique<T>(id, fields.Data));
}

// BIFF8, the section's type, then the builder's version and the lowest
// version that reads it.
TFields Bof(std::uint16_t type) { return TFields().W(0x600).W(type).W(0x0DBB).W(0x07CC).L(0).L(6); }

// Cell formats 0-14 are the built-in styles (the first, Normal, sets every
// attribute, the others only their font), 15 the default cell format: font
// 0, format 0, aligned at the bottom, no borders, fill colours 64 and 65.
TFields Xf(int index) {
    const std::uint16_t type = index < 15 ? 0xFFF5 : 0x0001;
    const std::uint8_t unused = index > 0 && index < 15 ? 0xF4 : 0;
    return TFields().W(0).W(0).W(type).B({0x20, 0, 0, unused}).L(0).L(0).W(0x20C0);
}

void AddGlobals(TBaseRecordList& list) {
    Add(list, xlr_BOF, Bof(0x0005));
    TFields access;  // an empty user name, blank-padded to the record's 112 bytes
    access.W(0).B({0});
    access.Data.resize(112, ' ');
    Add(list, xlr_WRITEACCESS, access);
    Add(list, xlr_CODEPAGE, TFields().W(1200));
    // At 360, 30 twips, 14940 x 9150, scroll bars and tabs, sheet 0 active and selected.
    Add<TWindow1Record>(list, xlr_WINDOW1, TFields().W(360).W(30).W(14940).W(9150).W(0x38).W(0).W(0).W(1).W(600));
    Add<T1904Record>(list, xlr_DATEMODE, TFields().W(0));
    Add<TPrecisionRecord>(list, xlr_PRECISION, TFields().W(1));
    Add<TBookBoolRecord>(list, xlr_BOOKBOOL, TFields().W(0));
    // Four fonts, as readers count them (index 4 does not exist): Arial 10.
    for (int i = 0; i < 4; ++i)
        Add(list, xlr_FONT, TFields().W(200).W(0).W(0x7FFF).W(400).W(0).B({0, 0, 0, 0, 5}).Text8("Arial"));
    for (int i = 0; i < 16; ++i) Add(list, xlr_XF, Xf(i));
    Add(list, xlr_STYLE, TFields().W(0x8000).B({0, 0xFF}));  // the built-in Normal style on XF 0
    Add(list, xlr_BOUNDSHEET, TFields().L(0).B({0, 0, 6}).Text8("Sheet1"));
}

void AddSheet(TBaseRecordList& list) {
    Add(list, xlr_BOF, Bof(0x0010));
    Add<TRefModeRecord>(list, xlr_REFMODE, TFields().W(1));
    Add<TPrintGridLinesRecord>(list, xlr_PRINTGRIDLINES, TFields().W(0));
    Add<TDefRowHeightRecord>(list, xlr_DEFAULTROWHEIGHT, TFields().W(0).W(255));
    // Automatic page breaks, summary rows below and columns right of detail, outline symbols.
    Add<TWsBoolRecord>(list, xlr_WSBOOL, TFields().W(0x04C1));
    Add<TPageHeaderRecord>(list, xlr_HEADER, TFields());
    Add<TPageFooterRecord>(list, xlr_FOOTER, TFields());
    Add<TPrintCenteredRecord>(list, xlr_HCENTER, TFields().W(0));
    Add<TPrintCenteredRecord>(list, xlr_VCENTER, TFields().W(0));
    // A4, 100 %, first page 1, fit 1 x 1, portrait with valid printer
    // fields, 600 x 600 dpi, header and footer margins 0.5 inch, one copy.
    const std::uint32_t halfInchHigh = 0x3FE00000;
    Add<TSetupRecord>(list, xlr_SETUP, TFields().W(9).W(100).W(1).W(1).W(1).W(0x0002).W(600).W(600)
                                           .L(0).L(halfInchHigh).L(0).L(halfInchHigh).W(1));
    Add<TDefColWidthRecord>(list, xlr_DEFCOLWIDTH, TFields().W(10));
    Add<TDimensionsRecord>(list, xlr_DIMENSIONS, TFields().L(0).L(0).W(0).W(1).W(0));  // as an empty sheet saves
    // Grid lines, headers, zeros, default grid colour, outline symbols,
    // selected and shown; grid colour 64.
    Add<TWindow2Record>(list, xlr_WINDOW2, TFields().W(0x06B6).W(0).W(0).W(64).W(0).W(0).W(0).L(0));
    // The cursor in A1 of the upper left pane. Zoom and panes are inserted
    // between WINDOW2 and the record after it.
    Add(list, xlr_SELECTION, TFields().B({3}).W(0).W(0).W(0).W(1).W(0).W(0).B({0, 0}));
    Add(list, xlr_EOF, TFields());
}

// An empty container in two sectors: the FAT (sector 0) and the directory
// (sector 1) with the root and an empty "Workbook" stream. The container
// writer copies it and writes the stream.
Bytes EmptyContainer() {
    TFields header;
    header.B({0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}).L(0).L(0).L(0).L(0);
    header.W(0x3E).W(3).W(0xFFFE).W(9).W(6).W(0).L(0).L(0).L(1).L(1).L(0).L(4096);
    header.L(ENDOFCHAIN).L(0).L(ENDOFCHAIN).L(0).L(0);
    header.Data.resize(512, 0xFF);  // the other FAT sectors: none
    TFields fat;
    fat.L(FATSECT).L(ENDOFCHAIN);
    fat.Data.resize(512, 0xFF);
    auto entry = [](std::u16string_view name, std::uint8_t type, std::uint32_t child) {
        TFields e;
        for (char16_t c : name) e.W(c);
        e.Data.resize(64, 0);
        e.W(static_cast<std::uint16_t>(2 * name.size() + 2)).B({type, 1}).L(FREESECT).L(FREESECT).L(child);
        e.Data.resize(116, 0);
        e.L(ENDOFCHAIN).L(0).L(0);
        return e.Data;
    };
    Bytes out = header.Data;
    out.insert(out.end(), fat.Data.begin(), fat.Data.end());
    for (const Bytes& e : {entry(u"Root Entry", TOle2Directory::TypeRoot, 1),
                           entry(u"Workbook", TOle2Directory::TypeStream, FREESECT)})
        out.insert(out.end(), e.begin(), e.end());
    TFields unused;  // an empty entry links nowhere
    unused.Data.resize(68, 0);
    unused.L(FREESECT).L(FREESECT).L(FREESECT);
    unused.Data.resize(128, 0);
    for (int i = 0; i < 2; ++i) out.insert(out.end(), unused.Data.begin(), unused.Data.end());
    return out;
}

Bytes Template() {
    TBaseRecordList globals, sheet;
    AddGlobals(globals);
    AddSheet(sheet);
    TSST sst;
    const auto eof = std::make_unique<TBaseRecord>(xlr_EOF, Bytes{});
    const std::int64_t sheetOffset = globals.GetTotalSize() + sst.TotalSize() + eof->TotalSize();
    TBaseRecord* boundSheet = globals.GetItems(globals.Count() - 1);
    SetLongWord(boundSheet->Data, 0, static_cast<std::uint32_t>(sheetOffset));

    TKmrMemoryStream container(EmptyContainer()), out;
    TOle2File ole(&container);
    ole.PrepareForWrite(&out, u"Workbook");
    globals.SaveToStream(ole);
    sst.SaveToStream(ole);
    eof->SaveToStream(ole);
    Assert(ole.Position() == sheetOffset, "kmremptysheet", "BOUNDSHEET offset");
    sheet.SaveToStream(ole);
    ole.FinishStream();
    return out.Bytes();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kmremptysheet OUT\n");
        return 2;
    }
    try {
        const Bytes bytes = Template();
        std::ofstream file(argv[1], std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!file.flush()) {
            std::fprintf(stderr, "kmremptysheet: cannot write %s\n", argv[1]);
            return 1;
        }
    } catch (const Exception& e) {
        std::fprintf(stderr, "kmremptysheet: %s\n", e.what());
        return 1;
    }
    return 0;
}
