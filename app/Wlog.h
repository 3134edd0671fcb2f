// The log window and the writer of the daily log file.
#pragma once

#include "platform/qt/HandOff.h"

#include <QWidget>

#include <string>

class QAction;
class QPlainTextEdit;
class QPushButton;

class Tflog : public QWidget {
public:
    Tflog();
    ~Tflog() override;

    QPlainTextEdit* M;
    QPushButton* Button3;  // "Uložit obsah logu"
    QPushButton* Button1;  // "Vymazat log okno"
    QPushButton* Button2;  // "Zavřít log okno"

    // Dated line to the window and to today's file; 1 when it reached the
    // file.  Any thread may call it: the file is written at once, the
    // window gets the line on the UI thread without the caller waiting.
    int AddLogLine(const std::string& text);
    // Any thread; the window keeps at most maxLogLines lines.
    void AddMemoLine(const std::string& text);
    int LineCount() const;
    QString Line(int index) const;

    // The main window's "Show log" item, unticked by Button2.
    void SetShowItem(QAction* item) { showItem_ = item; }

    void Button1Click();
    void Button2Click();
    void Button3Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void AppendToMemo(const std::string& text);
    int MaxLines() const;

    QAction* showItem_ = nullptr;
    plat::THandOff<std::string>* pending_;
    bool shownOnce_ = false;
};

extern Tflog* logWindow;
