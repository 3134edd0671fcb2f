// The shell's "open" verb: hands a web address or a file to the desktop's
// default program.  Tests put a handler of their own in its place.
#pragma once

#include <QString>

#include <functional>

namespace plat {

using TShellOpenHandler = std::function<bool(const QString& target)>;

// True when the target was handed on.
bool ShellOpen(const QString& target);

// An empty handler restores the desktop's.
void SetShellOpenHandler(TShellOpenHandler handler);

}  // namespace plat
