#include "platform/qt/MenuItem.h"

#include <QAction>

namespace plat {

void OnClick(QAction* item, std::function<void()> handler) {
    QObject::connect(item, &QAction::triggered, item, [item, handler](bool checked) {
        if (item->isCheckable()) {
            const QSignalBlocker block(item);
            item->setChecked(!checked);
        }
        handler();
    });
}

}  // namespace plat
