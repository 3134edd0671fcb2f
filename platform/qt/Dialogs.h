// The modal message box and question.  With ORVELO_DIALOGS=auto no box is
// shown: one line "caption|text" goes to standard error and the box answers
// at once (a question with the button that ORVELO_DIALOG_ANSWER names,
// else with its default), so that the program can be driven from outside.
#pragma once

#include <QString>

#include <exception>

class QWidget;

namespace plat {

// Plain: no icon, as the application's own message box shows it.
enum class TMsgDlgType { Plain, Warning, Error, Information, Confirmation };

// Buttons, combined with '|'.
enum TMsgDlgBtn : unsigned { mbOK = 1, mbCancel = 2, mbYes = 4, mbNo = 8 };

enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

// The caption that a box of this type carries ("Chyba", "Upozornění", ...).
QString DialogCaption(TMsgDlgType type);

int MessageBox(const QString& text, const QString& caption, TMsgDlgType type,
               unsigned buttons = mbOK, QWidget* parent = nullptr);

inline int MessageDlg(const QString& text, TMsgDlgType type, unsigned buttons = mbOK,
                      QWidget* parent = nullptr) {
    return MessageBox(text, DialogCaption(type), type, buttons, parent);
}

// The application's standard box for an exception that nobody caught.
void ShowException(const std::exception& e);

}  // namespace plat
