// The meters' definitions in the database: read one for the meter dialog
// and store what the dialog changed.
#pragma once

#include "app/Tmeridlacheck.h"
#include "app/Tmydbbasic.h"

#include <string>
#include <vector>

class TMyMeridla {
public:
    // db may be null: every operation then logs its failure line.
    TMyMeridla(TMyDbBasic* db, TDbLog log);
    virtual ~TMyMeridla() = default;

    // The record of the meter with that secondary address; false (logged)
    // when there is none or the database fails.
    bool ReadMeter(const std::string& secondaryAddress, TMeterDef& record);
    // Stores the record's eleven database columns (the M-Bus fields stay
    // as they are); false (logged) and nothing written on any failure.
    bool EditMeter(const TMeterDef& record);

    // The type lists the dialog's two choices index; nothing fills them.
    std::vector<TTypeEntry> meterTypes;
    std::vector<TTypeEntry> mediaTypes;
    std::vector<TTypeEntry> units;
    std::vector<TTypeEntry> groups;

private:
    TMyDbBasic* db_;
    TDbLog log_;
};

extern TMyMeridla* myMeridla;
