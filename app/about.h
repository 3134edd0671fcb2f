// The about box.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
public:
    explicit TAboutBox(QWidget* parent = nullptr);
    ~TAboutBox() override;

    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;
    QLabel* Copyright;
    QLabel* Comments;
    QLabel* Label1;
    QLabel* Email;
    QPushButton* OKButton;

    // Opens the web address that Comments shows.
    void CommentsClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

extern TAboutBox* AboutBox;
