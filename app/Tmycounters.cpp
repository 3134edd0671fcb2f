#include "app/Tmycounters.h"

#include <strings.h>

TMeterKeyList* meterKeyList = nullptr;

void TMeterKeyList::Add(std::string key, TMeterRecord record) {
    entries_.emplace_back(std::move(key), std::move(record));
}

TMeterRecord TMeterKeyList::Find(const std::string& key) const {
    for (const auto& [k, record] : entries_)
        if (::strcasecmp(k.c_str(), key.c_str()) == 0) return record;
    return nullptr;
}

std::string ReadingKey(const std::string& address, int kind, int index) {
    if (kind == 1) index += 8;
    if (kind == 2) index = 11;
    return address + "=" + std::to_string(index);
}

std::string MeterHint(const TStradelCntrs& m, bool debug) {
    std::string hint = "Dvojklikem odečti tento řádek\nUpřesnění místa : " + m.locationDetail;
    if (!debug) return hint;
    hint += "\nRF adresa : " + m.rfAddress + "\n";
    hint += "Nasobitel : " + std::to_string(m.multiplier) + "\n";
    hint += "Delitel : " + std::to_string(m.divisor) + "\n";
    hint += "Korekce : " + plat::FloatToStr(m.correction) + "\n";
    hint += "Excel row : " + std::to_string(m.sheetRow) + "\n";
    hint += "Msg. idx : " + std::to_string(m.msgIndex);
    return hint;
}

std::string MeterPanelText(const TStradelCntrs& m) {
    return "RF : " + m.rfAddress + " / " + m.locationDetail;
}
