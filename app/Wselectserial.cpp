#include "app/Wselectserial.h"

#include "app/Wcontrols.h"
#include "platform/sys/SerialPort.h"

#include <algorithm>

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

Tfselectserial* fselectserial = nullptr;

Tfselectserial::Tfselectserial(QWidget* parent) : QDialog(parent) {
    DialogFrame(this, "fselectserial", QStringLiteral("Nastavení komunikace"), 300, 170);
    GroupBox1 = NamedGroup(this, "GroupBox1", QStringLiteral("Zvolte seriový port"), 8, 8, 284, 110);
    Label1 = StaticLabel(GroupBox1, QStringLiteral("Port :"), 16, 30, 60);
    ComboBox1 = new QComboBox(GroupBox1);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setGeometry(80, 26, 180, 24);
    Label2 = StaticLabel(GroupBox1, QStringLiteral("Kanál :"), 16, 66, 60);
    echanel = new QLineEdit(QStringLiteral("-1"), GroupBox1);
    echanel->setObjectName(QStringLiteral("echanel"));
    echanel->setGeometry(80, 62, 50, 22);
    Label3 = StaticLabel(GroupBox1, QStringLiteral("--1 je kanál gatewaye"), 138, 66, 140);
    Button1 = NamedButton(this, "Button1", QStringLiteral("Nastavit"), 108, 130, 88, 28);
    Button2 = NamedButton(this, "Button2", QStringLiteral("Zavřít"), 204, 130, 88, 28);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

Tfselectserial::~Tfselectserial() {
    if (fselectserial == this) fselectserial = nullptr;
}

void Tfselectserial::SetPorts(const std::vector<std::string>& ports, const std::string& current, bool inUse) {
    std::vector<std::string> listed = ports;
    if (inUse && !current.empty() && std::find(listed.begin(), listed.end(), current) == listed.end()) {
        // In the scan's order: COM names first, then device paths.
        const auto isCom = [](const std::string& name) { return name.find('/') == std::string::npos; };
        const auto at = std::find_if(listed.begin(), listed.end(), [&](const std::string& name) {
            if (isCom(name) != isCom(current)) return isCom(current);
            return platform::serialPortBefore(current, name);
        });
        listed.insert(at, current);
    }
    ComboBox1->clear();
    for (const std::string& port : listed) ComboBox1->addItem(QString::fromStdString(port));
    const auto chosen = std::find(listed.begin(), listed.end(), current);
    ComboBox1->setCurrentIndex(listed.empty() ? -1
                               : chosen == listed.end() ? 0
                                                        : static_cast<int>(chosen - listed.begin()));
}

void Tfselectserial::Button1Click() {
    if (ComboBox1->currentIndex() >= 0) accept();
}

std::string Tfselectserial::ChosenPort() const { return ComboBox1->currentText().toStdString(); }
