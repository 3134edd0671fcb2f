#include "app/Tcheckandrefresh.h"

#include "app/Tformats.h"
#include "platform/qt/StatusBar.h"

#include <QTimer>
#include <QTreeWidget>

TCheckAndRefresh::TCheckAndRefresh(QTreeWidget* list, plat::TStatusBar* status, QObject* parent)
    : QObject(parent), list_(list), status_(status), timer_(new QTimer(this)) {
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, [this] { Refresh(); });
}

void TCheckAndRefresh::Start() { timer_->start(); }

void TCheckAndRefresh::Terminate() { timer_->stop(); }

bool TCheckAndRefresh::Running() const { return timer_->isActive(); }

void TCheckAndRefresh::Refresh() {
    status_->SetText(6, QString::fromStdString(plat::FormatDateTime(kLongTimeFormat, plat::Now())));
    int read = 0;
    for (int i = 0; i < list_->topLevelItemCount(); ++i)
        if (!list_->topLevelItem(i)->text(9).isEmpty()) ++read;
    status_->SetText(5, QStringLiteral(" Odečtených: ") + QString::number(read));
}
