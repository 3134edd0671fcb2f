#include "app/about.h"

#include "app/Wcontrols.h"
#include "platform/qt/Shell.h"
#include "platform/qt/TrayIcon.h"

#include <QEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

TAboutBox* AboutBox = nullptr;

namespace {

QLabel* Named(QLabel* label, const char* name) {
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

}  // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    DialogFrame(this, "AboutBox", QStringLiteral("O programu"), 340, 230);
    ProgramIcon = Named(new QLabel(this), "ProgramIcon");
    ProgramIcon->setGeometry(16, 16, 48, 48);
    ProgramIcon->setPixmap(plat::ProgramIcon().pixmap(48, 48));
    ProductName = Named(StaticLabel(this, QStringLiteral("Orvelo"), 80, 16, 240), "ProductName");
    QFont bold = ProductName->font();
    bold.setBold(true);
    ProductName->setFont(bold);
    Version = Named(StaticLabel(this, QStringLiteral("Verze: 0.9 RC"), 80, 40, 240), "Version");
    Copyright = Named(StaticLabel(this, QStringLiteral("Example s.r.o."), 80, 64, 240), "Copyright");
    Comments = Named(StaticLabel(this, QStringLiteral("www.example.com"), 80, 88, 240), "Comments");
    Comments->setStyleSheet(QStringLiteral("color: #0000ee; text-decoration: underline;"));
    Comments->setCursor(Qt::PointingHandCursor);
    Comments->installEventFilter(this);
    Label1 = StaticLabel(this, QStringLiteral("Případné chyby nebo požadavky zasílejte na adresu :"), 16, 124,
                         310);
    Label1->setObjectName(QStringLiteral("Label1"));
    Email = Named(StaticLabel(this, QStringLiteral("podpora@example.com"), 16, 146, 310), "Email");
    OKButton = NamedButton(this, "OKButton", QStringLiteral("OK"), 130, 190, 80, 28);
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

TAboutBox::~TAboutBox() {
    if (AboutBox == this) AboutBox = nullptr;
}

void TAboutBox::CommentsClick() { plat::ShellOpen(QStringLiteral("http://") + Comments->text()); }

bool TAboutBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Comments && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        CommentsClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
