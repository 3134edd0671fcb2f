// The meter row record, loaded from one row of the meters workbook, and
// the key list that finds it for each reading.
#pragma once

#include "platform/sys/SysUtils.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

struct TStradelCntrs {
    std::string flatNumber;
    std::string firstName;
    std::string surname;
    std::string street;
    std::string houseNumber;
    std::string city;
    std::string locationDetail;
    std::string serialNumber;
    std::string rfAddress;
    std::string meterType;
    int msgIndex = 0;
    int multiplier = 0;
    int divisor = 0;
    double correction = 0;
    int column19Number = 0;
    int column18Number = 0;
    std::string column20Text;
    std::string column14Text;
    std::string column13Text;
    std::string key;
    std::string column21Text;
    int rssi = 0;
    double auxValue = 0;
    int sheetRow = 0;
    double readTime = 0;  // day number from 1899-12-30; 0: no reading yet
    double value = 0;
    double column21Number = 0;
};

// Shared, so that a record that a reading still holds outlives a reload.
using TMeterRecord = std::shared_ptr<TStradelCntrs>;

// A key folded for look-ups that ignore letter case (ASCII letters; the
// keys are hexadecimal addresses and decimal indexes).
std::string FoldKey(std::string_view key);

// Keys ("rfAddress=msgIndex") in sheet order; look-ups ignore letter case;
// duplicates allowed, the first in order wins.  The list and the reading
// fields of its records (rssi, auxValue, readTime, value) are shared between
// the UI thread and the transport threads: one mutex guards both, held only
// for a look-up, an update or a swap.  The other record fields are written
// before a record is filed and only read afterwards.
class TMeterKeyList {
public:
    using Change = std::function<void(TStradelCntrs&)>;

    void Add(std::string key, TMeterRecord record);
    void Clear();
    std::size_t Count() const;
    // The record of the first key equal to key, or null.
    TMeterRecord Find(const std::string& key) const;
    // Runs change on the record of the first key equal to key, under the
    // lock; false when there is none.
    bool Update(const std::string& key, const Change& change);
    // The same for the first line whose part before "=" is the address.
    bool UpdateFirstOfAddress(const std::string& address, const Change& change);
    // Takes over the lines of loaded (a list no other thread knows) and
    // leaves it with this list's old lines.
    void Swap(TMeterKeyList& loaded);
    // Copies of the records in order, their reading fields read under the
    // lock, so each time goes with its value.
    std::vector<TStradelCntrs> Snapshot() const;

private:
    struct Entry {
        std::string key;
        TMeterRecord record;
    };
    void IndexLocked(std::size_t position);
    TStradelCntrs* FirstLocked(const std::unordered_map<std::string, std::size_t>& index,
                               const std::string& folded) const;

    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    // Folded key, and folded address, to the first line that has it.
    std::unordered_map<std::string, std::size_t> byKey_;
    std::unordered_map<std::string, std::size_t> byAddress_;
};

extern TMeterKeyList* meterKeyList;

// A reading's date and value for the list row of one meter key.
struct TRowUpdate {
    std::string key;
    plat::TDateTimeParts time;
    double value = 0;
};

// The key a reading finds its meter by: the address text, "=", the index.
// A temperature (kind 1) counts its index from 8, a voltage (kind 2) is
// always index 11; other kinds keep the record's index.
std::string ReadingKey(const std::string& address, int kind, int index);
int ReadingIndex(int kind, int index);

// The tooltip of a row: always where the meter is; with the debug details
// while "Debug" is ticked.
std::string MeterHint(const TStradelCntrs& meter, bool debug);

// Status panel 4 for the selected row.
std::string MeterPanelText(const TStradelCntrs& meter);
