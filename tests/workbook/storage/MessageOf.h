// The text of the engine exception that a call raises, or "no exception".
#pragma once

#include <string>

#include "workbook/storage/XlsMessages.h"

template <class F>
std::string MessageOf(F f) {
    try {
        f();
    } catch (const kalmira::Exception& e) {
        return e.what();
    }
    return "no exception";
}
