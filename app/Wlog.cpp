#include "app/Wlog.h"

#include "app/Tformats.h"
#include "app/Tlogfile.h"
#include "app/Tmyconfig.h"
#include "app/Wcontrols.h"
#include "platform/qt/Dialogs.h"

#include <QAction>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>
#include <QVBoxLayout>

Tflog* logWindow = nullptr;

namespace {

constexpr int kDefaultMaxLines = 500;

QPushButton* AddButton(QHBoxLayout* row, const char* name, const QString& caption) {
    auto* button = new QPushButton(caption);
    button->setObjectName(QString::fromLatin1(name));
    row->addWidget(button);
    return button;
}

}  // namespace

Tflog::Tflog()
    : QWidget(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::CustomizeWindowHint),
      pending_(new plat::THandOff<std::string>([this](const std::string& line) { AppendToMemo(line); },
                                               this)) {
    setObjectName(QStringLiteral("flog"));
    setWindowTitle(QStringLiteral("Log a debug zprávy"));
    M = new QPlainTextEdit;
    M->setObjectName(QStringLiteral("M"));
    M->setReadOnly(true);
    M->setLineWrapMode(QPlainTextEdit::NoWrap);
    M->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    M->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* buttons = new QHBoxLayout;
    Button3 = AddButton(buttons, "Button3", QStringLiteral("Uložit obsah logu"));
    Button1 = AddButton(buttons, "Button1", QStringLiteral("Vymazat log okno"));
    Button2 = AddButton(buttons, "Button2", QStringLiteral("Zavřít log okno"));
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(M);
    layout->addLayout(buttons);
    setFixedSize(746, 304);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
}

Tflog::~Tflog() {
    if (logWindow == this) logWindow = nullptr;
}

// Centred at its first showing only; later it comes back where it was left.
void Tflog::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    CenterOnScreen(this);
}

int Tflog::MaxLines() const {
    const TAllConf* conf = myConfig ? myConfig->Conf() : nullptr;
    return conf ? conf->maxLogLines : kDefaultMaxLines;
}

// "Now" is taken once, so a line written at midnight lands in the file of
// the day its date names.
int Tflog::AddLogLine(const std::string& text) {
    plat::TDateTimeParts now = plat::Now();
    std::string line = LogLineText(now, text);
    AddMemoLine(line);
    if (!myConfig || !myConfig->Conf()) return 0;
    return AppendLogFile(myConfig->LogFilePath(now), line + "\n") ? 1 : 0;
}

// A line of this thread waits behind the lines that other threads handed
// over before it, so the window keeps the order in which they were logged.
void Tflog::AddMemoLine(const std::string& text) {
    if (QThread::currentThread() == thread() && pending_->Pending() == 0)
        AppendToMemo(text);
    else
        pending_->Post(text);
}

void Tflog::AppendToMemo(const std::string& text) {
    M->appendPlainText(QString::fromStdString(text));
    if (M->document()->blockCount() <= MaxLines()) return;
    QTextCursor cursor(M->document()->firstBlock());
    cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
}

int Tflog::LineCount() const {
    return M->document()->isEmpty() ? 0 : M->document()->blockCount();
}

QString Tflog::Line(int index) const { return M->document()->findBlockByNumber(index).text(); }

void Tflog::Button1Click() {
    int answer = plat::MessageDlg(
        QStringLiteral("Obsah okna bude vymazán, údaje jsou zachovány v log souboru"),
        plat::TMsgDlgType::Warning, plat::mbOK | plat::mbCancel, this);
    if (answer == plat::mrOk) M->clear();
}

void Tflog::Button2Click() {
    if (showItem_) showItem_->setChecked(false);
    close();
}

// Appends: the file already holds every line, also those the window has
// dropped since, and must keep them.
void Tflog::Button3Click() {
    if (!myConfig || !myConfig->Conf()) return;
    std::string text;
    for (int i = 0; i < LineCount(); ++i) text += Line(i).toStdString() + "\n";
    AppendLogFile(myConfig->LogFilePath(), text);
}
