#include "app/Wcontrols.h"

#include <QDialog>
#include <QEvent>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTreeWidget>

#include <utility>

namespace {

// Lives as a child of the edit, so it goes with it.
class LeaveFilter : public QObject {
public:
    LeaveFilter(QLineEdit* edit, std::function<void()> handler) : QObject(edit), handler_(std::move(handler)) {
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::returnPressed, this, [this] { handler_(); });
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut) handler_();
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> handler_;
};

}  // namespace

QLineEdit* LabeledEdit(QWidget* parent, const char* name, const QString& caption, const QString& text, int x,
                       int y, int width) {
    auto* edit = new QLineEdit(text, parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(x, y + 16, width, 22);
    QLabel* label = StaticLabel(parent, caption, x, y, width, 15);
    label->setObjectName(QString::fromLatin1(name) + QStringLiteral("Label"));
    label->setBuddy(edit);
    return edit;
}

QPushButton* NamedButton(QWidget* parent, const char* name, const QString& caption, int x, int y, int width,
                         int height) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(x, y, width, height);
    return b;
}

QGroupBox* NamedGroup(QWidget* parent, const char* name, const QString& caption, int x, int y, int width,
                      int height) {
    auto* g = new QGroupBox(caption, parent);
    g->setObjectName(QString::fromLatin1(name));
    g->setGeometry(x, y, width, height);
    return g;
}

QLabel* StaticLabel(QWidget* parent, const QString& text, int x, int y, int width, int height) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(x, y, width, height);
    return label;
}

void OnLeave(QLineEdit* edit, std::function<void()> handler) { new LeaveFilter(edit, std::move(handler)); }

QTreeWidget* ReportList(QWidget* parent, const char* name, std::initializer_list<TListColumn> columns) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setColumnCount(static_cast<int>(columns.size()));
    QStringList captions;
    for (const TListColumn& c : columns) captions << QString::fromUtf8(c.caption);
    list->setHeaderLabels(captions);
    int i = 0;
    for (const TListColumn& c : columns) list->setColumnWidth(i++, c.width);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionsClickable(true);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setAllColumnsShowFocus(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setStyleSheet(QStringLiteral(
        "QTreeView::item { border-right: 1px solid #d4d4d4; border-bottom: 1px solid #d4d4d4; }"
        "QTreeView::item:selected { background: #3070c8; color: white; }"));
    return list;
}

void DialogFrame(QDialog* dialog, const char* name, const QString& caption, int width, int height,
                 bool borderIcons) {
    dialog->setObjectName(QString::fromLatin1(name));
    dialog->setWindowTitle(caption);
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (borderIcons) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    dialog->setWindowFlags(flags);
    dialog->setFixedSize(width, height);
}

void CenterOnScreen(QWidget* window) {
    if (QScreen* screen = window->screen())
        window->move(screen->availableGeometry().center() - window->rect().center());
}
