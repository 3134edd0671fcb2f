// The daily log file: code page 1250, one line per entry, only ever
// appended to.
#pragma once

#include <string>

// Appends the text (UTF-8, lines already ended by '\n') in one write, so
// that lines from several threads never interleave.  False when the file
// cannot be opened or written.
bool AppendLogFile(const std::string& path, const std::string& text);
