#include "app/Wpatnistav.h"

#include "app/Tfieldnumber.h"
#include "app/Wcontrols.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

Tfpatni* fpatni = nullptr;

Tfpatni::Tfpatni(QWidget* parent) : QDialog(parent) {
    DialogFrame(this, "fpatni", QStringLiteral("Stav patního vodoměru"), 300, 150, false);
    GroupBox1 = NamedGroup(this, "GroupBox1", QStringLiteral(" Zadejte stav patního vodoměru "), 8, 8, 284, 90);
    ePatniStav = new QLineEdit(QStringLiteral("0"), GroupBox1);
    ePatniStav->setObjectName(QStringLiteral("ePatniStav"));
    ePatniStav->setGeometry(16, 26, 150, 22);
    Label1 = StaticLabel(GroupBox1, QStringLiteral("Tento údaj není povinný"), 16, 58, 250);
    Label1->setObjectName(QStringLiteral("Label1"));
    Button1 = NamedButton(this, "Button1", QStringLiteral("Pokračovat"), 192, 110, 100, 28);
    Button1->setDefault(true);
    OnLeave(ePatniStav, [this] { ePatniStavExit(); });
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
}

Tfpatni::~Tfpatni() {
    // Leaving the field rewrites it: let that happen while the dialog is
    // still whole, not when its base class hands the focus on.
    if (ePatniStav->hasFocus()) ePatniStav->clearFocus();
    if (fpatni == this) fpatni = nullptr;
}

void Tfpatni::ePatniStavExit() {
    ePatniStav->setText(QString::fromStdString(FieldNumberText(ePatniStav->text().toStdString(), kPatniPlaces)));
}

double Tfpatni::Value() const {
    return RoundToPlaces(ParseFieldNumber(ePatniStav->text().toStdString()), kPatniPlaces);
}
