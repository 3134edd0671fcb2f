// What the engine's fuzz targets share.
#pragma once

#include <functional>
#include <initializer_list>

#include "workbook/storage/XlsMessages.h"

namespace fuzzsupport {

// Runs each step in turn: input the engine refuses with its message is an
// outcome, not a fault, and the next step runs on what is left.
inline void TryEach(std::initializer_list<std::function<void()>> steps) {
    for (const auto& step : steps) {
        try {
            step();
        } catch (const kalmira::Exception&) {
        }
    }
}

}  // namespace fuzzsupport
