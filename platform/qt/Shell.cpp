#include "platform/qt/Shell.h"

#include <QDesktopServices>
#include <QUrl>

#include <mutex>

namespace plat {

namespace {

std::mutex& HandlerMutex() {
    static std::mutex m;
    return m;
}

TShellOpenHandler& Handler() {
    static TShellOpenHandler handler;
    return handler;
}

}  // namespace

bool ShellOpen(const QString& target) {
    TShellOpenHandler handler;
    {
        std::lock_guard lock(HandlerMutex());
        handler = Handler();
    }
    if (handler) return handler(target);
    return QDesktopServices::openUrl(QUrl::fromUserInput(target));
}

void SetShellOpenHandler(TShellOpenHandler handler) {
    std::lock_guard lock(HandlerMutex());
    Handler() = std::move(handler);
}

}  // namespace plat
