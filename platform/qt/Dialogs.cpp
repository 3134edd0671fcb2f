#include "platform/qt/Dialogs.h"

#include <QApplication>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace plat {

namespace {

struct ButtonInfo {
    TMsgDlgBtn button;
    const char* answer;  // as ORVELO_DIALOG_ANSWER names it
    QMessageBox::StandardButton qt;
    TModalResult result;
};

// In the order in which the first present button is the default.
constexpr ButtonInfo kButtons[] = {
    {mbYes, "yes", QMessageBox::Yes, mrYes},
    {mbOK, "ok", QMessageBox::Ok, mrOk},
    {mbNo, "no", QMessageBox::No, mrNo},
    {mbCancel, "cancel", QMessageBox::Cancel, mrCancel},
};

bool AutoAnswer() {
    const char* mode = std::getenv("ORVELO_DIALOGS");
    return mode && std::strcmp(mode, "auto") == 0;
}

int Answer(unsigned buttons) {
    const char* wanted = std::getenv("ORVELO_DIALOG_ANSWER");
    const ButtonInfo* first = nullptr;
    for (const ButtonInfo& b : kButtons) {
        if (!(buttons & b.button)) continue;
        if (!first) first = &b;
        if (wanted && std::strcmp(wanted, b.answer) == 0) return b.result;
    }
    return first ? first->result : mrOk;
}

void PrintBox(const QString& caption, const QString& text) {
    QString flat = text;
    flat.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    QByteArray line = (caption + QLatin1Char('|') + flat + QLatin1Char('\n')).toUtf8();
    std::fwrite(line.constData(), 1, static_cast<std::size_t>(line.size()), stderr);
    std::fflush(stderr);
}

QMessageBox::Icon IconOf(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::Plain: return QMessageBox::NoIcon;
    case TMsgDlgType::Warning: return QMessageBox::Warning;
    case TMsgDlgType::Error: return QMessageBox::Critical;
    case TMsgDlgType::Information: return QMessageBox::Information;
    case TMsgDlgType::Confirmation: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

int ShowBox(const QString& text, const QString& caption, TMsgDlgType type, unsigned buttons,
            QWidget* parent) {
    QMessageBox box(IconOf(type), caption, text, QMessageBox::NoButton, parent);
    const ButtonInfo* first = nullptr;
    for (const ButtonInfo& b : kButtons) {
        if (!(buttons & b.button)) continue;
        box.addButton(b.qt);
        if (!first) first = &b;
    }
    if (first) box.setDefaultButton(first->qt);
    int pressed = box.exec();
    for (const ButtonInfo& b : kButtons)
        if (pressed == b.qt) return b.result;
    return (buttons & mbCancel) ? mrCancel : mrNone;
}

}  // namespace

QString DialogCaption(TMsgDlgType type) {
    switch (type) {
    case TMsgDlgType::Plain: return QCoreApplication::applicationName();
    case TMsgDlgType::Warning: return QStringLiteral("Upozornění");
    case TMsgDlgType::Error: return QStringLiteral("Chyba");
    case TMsgDlgType::Information: return QStringLiteral("Informace");
    case TMsgDlgType::Confirmation: return QStringLiteral("Potvrzení");
    }
    return {};
}

int MessageBox(const QString& text, const QString& caption, TMsgDlgType type, unsigned buttons,
               QWidget* parent) {
    if (AutoAnswer()) {
        PrintBox(caption, text);
        return Answer(buttons);
    }
    return ShowBox(text, caption, type, buttons, parent);
}

void ShowException(const std::exception& e) {
    QString text = QString::fromUtf8(e.what());
    if (!text.isEmpty() && text.back() > QLatin1Char('.')) text += QLatin1Char('.');
    QString caption = QCoreApplication::applicationName();
    MessageBox(text, caption, TMsgDlgType::Error, mbOK);
}

}  // namespace plat
