// Binds formula records as the sheet loader does, for record lists in
// tests, fuzzing and benchmarks.
#pragma once

#include <memory>
#include <vector>

#include "workbook/cells/UXlsFormula.h"
#include "workbook/storage/UXlsBaseRecordLists.h"

namespace formulatest {

using namespace kalmira;

// What the sheet loader does with formulas: a STRING gives the formula
// before it its text, SHRFMLA records expand into their members, names
// read and change their area.
struct TFormulaBinding {
    TShrFmlaRecordList Shared;
    std::vector<TFormulaRecord*> Formulas;

    // False when the record is taken (it is not to go into the list).
    // Refused values leave the formula as it was.
    bool Bind(std::unique_ptr<TBaseRecord>& record, TBaseRecordList& list) {
        try {
            if (auto* formula = dynamic_cast<TFormulaRecord*>(record.get())) Formulas.push_back(formula);
            if (auto* name = dynamic_cast<TNameRecord*>(record.get())) name->Name(), name->SetC2(name->GetC1() + 1);
            if (auto* text = dynamic_cast<TStringRecord*>(record.get()); text && !Formulas.empty()) {
                list.Resize(*Formulas.back(), [&] { Formulas.back()->SetFormulaValue(TVariant(text->Value())); });
            }
        } catch (const Exception&) {
            // Refused input: the message is the expected outcome.
        }
        if (!dynamic_cast<TShrFmlaRecord*>(record.get())) return true;
        Shared.Add(std::unique_ptr<TShrFmlaRecord>(static_cast<TShrFmlaRecord*>(record.release())));
        return false;
    }

    // Shared members take their tokens; a refused expansion leaves the
    // formula as it was.
    void Expand(TBaseRecordList& list) {
        for (TFormulaRecord* formula : Formulas) {
            try {
                list.Resize(*formula, [&] { Shared.Expand(*formula); });
            } catch (const Exception&) {
                // An unknown token leaves the formula as it was.
            }
        }
    }
};

}  // namespace formulatest
