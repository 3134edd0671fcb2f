// Menu items of the class library tick only when their handler says so;
// Qt ticks a checkable action before its handler runs.  OnClick undoes
// that, so the handler alone decides the tick.
#pragma once

#include <functional>

class QAction;

namespace plat {

void OnClick(QAction* item, std::function<void()> handler);

}  // namespace plat
