// Component-level message texts of the workbook engine.
#pragma once

#include "workbook/storage/XlsMessages.h"

namespace kalmira {

inline constexpr const char* ErrNoAdapter = "There is no Adapter linked to the report";
inline constexpr const char* ErrNoOpenFile = "There is no open file";
inline constexpr const char* ErrCantFindFile = "Can't find the file \"%s\"";
inline constexpr const char* ErrIndexOutBounds = "The index \"%d\" of the property \"%s\" is not in the range %d-%d";
inline constexpr const char* ErrUseFasterAdapter = "This component does not support OLE adapter";
inline constexpr const char* ErrInvalidWmf = "Wmf file is invalid";
inline constexpr const char* ErrInvalidNameForARange = "Invalid named range: \"%s\"";
inline constexpr const char* TxtTrue = "TRUE";
inline constexpr const char* TxtFalse = "FALSE";

}  // namespace kalmira
