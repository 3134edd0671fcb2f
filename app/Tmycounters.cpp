#include "app/Tmycounters.h"

#include "app/Tformats.h"

TMeterKeyList* meterKeyList = nullptr;

std::string FoldKey(std::string_view key) {
    std::string folded(key);
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

void TMeterKeyList::IndexLocked(std::size_t position) {
    const std::string& key = entries_[position].key;
    byKey_.try_emplace(FoldKey(key), position);
    byAddress_.try_emplace(FoldKey(std::string_view(key).substr(0, key.find('='))), position);
}

void TMeterKeyList::Add(std::string key, TMeterRecord record) {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back({std::move(key), std::move(record)});
    IndexLocked(entries_.size() - 1);
}

void TMeterKeyList::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
    byKey_.clear();
    byAddress_.clear();
}

std::size_t TMeterKeyList::Count() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
}

TStradelCntrs* TMeterKeyList::FirstLocked(const std::unordered_map<std::string, std::size_t>& index,
                                          const std::string& folded) const {
    auto it = index.find(folded);
    return it == index.end() ? nullptr : entries_[it->second].record.get();
}

TMeterRecord TMeterKeyList::Find(const std::string& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = byKey_.find(FoldKey(key));
    return it == byKey_.end() ? nullptr : entries_[it->second].record;
}

bool TMeterKeyList::Update(const std::string& key, const Change& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    TStradelCntrs* record = FirstLocked(byKey_, FoldKey(key));
    if (record) change(*record);
    return record != nullptr;
}

bool TMeterKeyList::UpdateFirstOfAddress(const std::string& address, const Change& change) {
    std::lock_guard<std::mutex> lock(mutex_);
    TStradelCntrs* record = FirstLocked(byAddress_, FoldKey(address));
    if (record) change(*record);
    return record != nullptr;
}

void TMeterKeyList::Swap(TMeterKeyList& loaded) {
    std::scoped_lock lock(mutex_, loaded.mutex_);
    entries_.swap(loaded.entries_);
    byKey_.swap(loaded.byKey_);
    byAddress_.swap(loaded.byAddress_);
}

std::vector<TStradelCntrs> TMeterKeyList::Snapshot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<TStradelCntrs> copies;
    copies.reserve(entries_.size());
    for (const Entry& e : entries_) copies.push_back(*e.record);
    return copies;
}

int ReadingIndex(int kind, int index) {
    if (kind == 1) return index + 8;
    if (kind == 2) return 11;
    return index;
}

std::string ReadingKey(const std::string& address, int kind, int index) {
    return address + "=" + std::to_string(ReadingIndex(kind, index));
}

std::string MeterHint(const TStradelCntrs& m, bool debug) {
    std::string hint = "Dvojklikem odečti tento řádek\nUpřesnění místa : " + m.locationDetail;
    if (!debug) return hint;
    hint += "\nRF adresa : " + m.rfAddress + "\n";
    hint += "Nasobitel : " + std::to_string(m.multiplier) + "\n";
    hint += "Delitel : " + std::to_string(m.divisor) + "\n";
    hint += "Korekce : " + NumberText(m.correction) + "\n";
    hint += "Excel row : " + std::to_string(m.sheetRow) + "\n";
    hint += "Msg. idx : " + std::to_string(m.msgIndex);
    return hint;
}

std::string MeterPanelText(const TStradelCntrs& m) {
    return "RF : " + m.rfAddress + " / " + m.locationDetail;
}
