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

    // Fills the port list from a scan. The current port is selected when
    // listed, else the first; a current port in use is listed in any case
    // (the scan leaves out a port that is held, ours too).
    void SetPorts(const std::vector<std::string>& ports, const std::string& current = {}, bool inUse = false);
    // OK only with a port selected.
    void Button1Click();
    std::string ChosenPort() const;
};

extern Tfselectserial* fselectserial;
