// The operating parameters of the modules (signal, battery, last reading).
#pragma once

#include <QDialog>

class QTreeWidget;

class TfProvozni : public QDialog {
public:
    // Frees itself when closed.
    explicit TfProvozni(QWidget* owner = nullptr);

    QTreeWidget* lvMeters;
};
