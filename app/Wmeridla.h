// The meter definition dialog: edits a database meter record.
#pragma once

#include "app/Tmeridlacheck.h"

#include <QDialog>

#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class Tfmeridla : public QDialog {
public:
    // Frees itself when closed.  The record takes the fields only when
    // "Uložit" passes every check.
    Tfmeridla(QWidget* owner, bool newMeter, TMeterDef* record);

    QPushButton* Button1;
    QPushButton* Button2;
    QGroupBox* GroupBox1;
    QLineEdit* le_pocstav;
    QLineEdit* le_nasobitel;
    QLineEdit* le_delitel;
    QLineEdit* le_korekce;
    QGroupBox* GroupBox2;
    QLineEdit* le_merjednotka;
    QLineEdit* le_nazev;
    QLineEdit* le_sekaddr;
    QLineEdit* le_merpausal;
    QGroupBox* GroupBox3;
    QLabel* Label1;
    QComboBox* cb_typmedia;
    QLabel* Label2;
    QComboBox* cb_typmeridla;
    QLineEdit* le_fashiontabname;
    QGroupBox* GroupBox4;
    QLineEdit* le_mbusaddr;
    QLineEdit* le_mbusinterval;
    QLineEdit* le_mbusindex;
    QLineEdit* le_mbusgw;
    QLineEdit* le_mbusmask;

    // The ten number fields, rewritten when left.
    std::vector<QLineEdit*> NumberFields() const;
    void Button1Click();

private:
    void BuildValueGroup();
    void BuildMeterGroup();
    void BuildAssignGroup();
    void BuildMbusGroup();
    void FormCreate();
    TMeterDefInput Input() const;

    bool newMeter_;
    TMeterDef* record_;
};
