// The state of the building's main water meter, asked before the reading
// table is saved.
#pragma once

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

inline constexpr int kPatniPlaces = 3;

class Tfpatni : public QDialog {
public:
    explicit Tfpatni(QWidget* parent = nullptr);
    ~Tfpatni() override;

    QGroupBox* GroupBox1;
    QLineEdit* ePatniStav;
    QLabel* Label1;
    QPushButton* Button1;

    void ePatniStavExit();
    // The number the field shows.
    double Value() const;
};

extern Tfpatni* fpatni;
