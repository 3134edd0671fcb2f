// The meter row record, loaded from one row of the meters workbook, and
// the key list that finds it for each reading.
#pragma once

#include "platform/sys/SysUtils.h"

#include <memory>
#include <string>
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

// Keys ("rfAddress=msgIndex") in sheet order; look-ups ignore letter case;
// duplicates allowed.
class TMeterKeyList {
public:
    void Add(std::string key, TMeterRecord record);
    void Clear() { entries_.clear(); }
    std::size_t Count() const { return entries_.size(); }
    // The record of the first key equal to key, or null.
    TMeterRecord Find(const std::string& key) const;

private:
    std::vector<std::pair<std::string, TMeterRecord>> entries_;
};

extern TMeterKeyList* meterKeyList;

// The key a reading finds its meter by: the address text, "=", the index.
// A temperature (kind 1) counts its index from 8, a voltage (kind 2) is
// always index 11; other kinds keep the record's index.
std::string ReadingKey(const std::string& address, int kind, int index);

// The tooltip of a row: always where the meter is; with the debug details
// while "Debug" is ticked.
std::string MeterHint(const TStradelCntrs& meter, bool debug);

// Status panel 4 for the selected row.
std::string MeterPanelText(const TStradelCntrs& meter);
