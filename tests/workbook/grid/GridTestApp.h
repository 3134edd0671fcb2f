#pragma once

#include <QApplication>

// One application for the whole run, never destroyed: Qt's own globals go
// before it at exit.
inline QApplication& GridTestApp() {
    static int argc = 1;
    static char name[] = "test_workbook_grid";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}
