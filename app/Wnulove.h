// The list of meters without consumption over a period.
#pragma once

#include <QDialog>

class QDateTimeEdit;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

class Tfnulove : public QDialog {
public:
    // Frees itself when closed.
    explicit Tfnulove(QWidget* owner = nullptr);

    QTreeWidget* lvMeters;
    QLabel* Label1;
    QLabel* lbSuma;
    QLabel* Label2;
    QDateTimeEdit* bilOdDate;
    QPushButton* btnOdPlus;
    QPushButton* btnOdMinus;
    QLabel* Label3;
    QDateTimeEdit* bilToDate;
    QPushButton* btnDoPlus;
    QPushButton* btnDoMinus;
    QPushButton* Button1;

    // A row of the consumption overview; it sorts as the main list does.
    QTreeWidgetItem* AddRow(const QStringList& texts);

    int sortColumn = 0;
    void lvMetersColumnClick(int column);

private:
    void FormCreate();
};
