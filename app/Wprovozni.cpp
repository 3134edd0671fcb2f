#include "app/Wprovozni.h"

#include "app/Wcontrols.h"

#include <QTreeWidget>

TfProvozni::TfProvozni(QWidget* owner) : QDialog(owner) {
    setAttribute(Qt::WA_DeleteOnClose);
    DialogFrame(this, "fProvozni", QStringLiteral("Provozní parametry"), 800, 400);
    lvMeters = ReportList(this, "lvMeters",
                          {{"Výr. číslo", 80}, {"RF adresa", 80}, {"RSSI", 50}, {"Baterie", 60},
                           {"Poslední odečet", 120}, {"Hodnota", 70}, {"Typ", 60}, {"Č.bytu", 50},
                           {"Ulice", 90}, {"č.p.", 50}, {"Upřesnění", 80}});
    lvMeters->setGeometry(8, 8, 784, 384);
}
