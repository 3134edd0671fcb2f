// The COM port dialog: the ports that are present, one to choose.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class Tfselectserial : public QDialog {
public:
    explicit Tfselectserial(QWidget* parent = nullptr);
    ~Tfselectserial() override;

    QGroupBox* GroupBox1;
    QLabel* Label1;
    QComboBox* ComboBox1;
    QLabel* Label2;
    QLineEdit* echanel;
    QLabel* Label3;
    QPushButton* Button1;
    QPushButton* Button2;

    // Fills the port list from a scan; the first port is selected.
    void SetPorts(const std::vector<std::string>& ports);
    // OK only with a port selected.
    void Button1Click();
    std::string ChosenPort() const;
};

extern Tfselectserial* fselectserial;
