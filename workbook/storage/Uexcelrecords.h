// The record factory: turns the next record of the selected stream into an
// object of its record class, with the records attached to it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "workbook/storage/UXlsBaseRecords.h"

namespace kalmira {

inline constexpr std::uint16_t xlr_EOF = 0x0A;
inline constexpr std::uint16_t xlr_FORMULA = 0x06;
// The FORMULA ids of older versions, which some writers still use in BIFF8
// streams; the factory builds them as FORMULA.
inline constexpr std::uint16_t xlr_FORMULA_OLD3 = 0x206;
inline constexpr std::uint16_t xlr_FORMULA_OLD4 = 0x406;
inline constexpr std::uint16_t xlr_FILEPASS = 0x2F;
inline constexpr std::uint16_t xlr_HLINK = 0x1B8;
inline constexpr std::uint16_t xlr_HLINKTOOLTIP = 0x800;
inline constexpr std::uint16_t xlr_ARRAY = 0x221;
inline constexpr std::uint16_t xlr_TABLE = 0x236;
inline constexpr std::uint16_t xlr_SHRFMLA = 0x4BC;

using TRecordMaker = std::unique_ptr<TBaseRecord> (*)(std::uint16_t id, TRecordData data);

template <class T>
std::unique_ptr<TBaseRecord> MakeRecord(std::uint16_t id, TRecordData data) {
    return std::make_unique<T>(id, std::move(data));
}

// A loaded record of class T, which adds no fields to TBaseRecord: data
// too long to be inline (a short LABEL's) sits in the room behind the
// record in its pool slot rather than in a block of its own. (NUMBER and
// ROW records take such slots whatever made them.)
template <class T>
std::unique_ptr<TBaseRecord> MakeLoadedRecord(std::uint16_t id, TRecordData data) {
    const std::size_t size = data.size();
    return MakeInSlot<T, 32, 40, 48, 56, 64>(size, id, std::move(data));
}

// One record id and the class the factory builds for it.
struct TRecordClass {
    std::uint16_t Id;
    TRecordMaker Maker;
};

// The class of each record id; an id nobody registered stays a plain
// record, written back byte for byte. Record classes register here.
void RegisterRecordClass(std::uint16_t id, TRecordMaker maker);

// Reads the next record header, or gives {0, 0} (no record, as in zero
// padding) when the stream has 3 bytes or fewer left.
void ReadRecordHeader(TOle2File& ole, TRecordHeader& header);

// Loads the record whose header the caller holds, with its CONTINUE chain;
// a record (or CONTINUE) longer than 8224 bytes: "Record with ID 0x%x is
// invalid";
// leaves in header the header of the record after it, or {0, 0} when the
// stream has 3 bytes or fewer left. A header of id 0 (zero padding, or the
// stream's end inside a section): "Error reading Excel records. File
// invalid".
std::unique_ptr<TBaseRecord> LoadRecords(TOle2File& ole, TRecordHeader& header);
// The same, except that a record whose id plain accepts is built as a plain
// record whatever its class, so that it goes back exactly as read.
std::unique_ptr<TBaseRecord> LoadRecords(TOle2File& ole, TRecordHeader& header, bool (*plain)(std::uint16_t id));

// Walks the selected stream as the workbook loader does: sections up to and
// including their EOF record, while more than 3 bytes are left; a header id
// of 0 ends the walk, so the zeros that pad a saved stream are not read.
void WalkRecords(TOle2File& ole, const std::function<void(std::unique_ptr<TBaseRecord>)>& visit);
// The same from the record whose header the caller has read.
void WalkRecords(TOle2File& ole, TRecordHeader& header,
                 const std::function<void(std::unique_ptr<TBaseRecord>)>& visit);

}  // namespace kalmira
