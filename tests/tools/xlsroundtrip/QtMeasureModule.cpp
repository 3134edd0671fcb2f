// xlsroundtrip_qt.so: the program's own text measuring for --canvas qt.
// xlsroundtrip loads it from its folder only when that canvas is asked
// for, so that the tool itself starts without Qt.
#include <QGuiApplication>

#include "tests/tools/xlsroundtrip/Options.h"
#include "workbook/grid/UKmrQtTextMeasure.h"

namespace {

using namespace kalmira;

// Qt's font database needs the application object while measuring; the
// tool runs with one from then on. Measuring needs no screen: without a
// platform named, it is the offscreen one.
void StartGuiApplication() {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "xlsroundtrip";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
}

TKmrTextMeasure* NewQtMeasure() { return new TKmrQtTextMeasure; }

}  // namespace

extern "C" xlsroundtrip::TNewTextMeasure XlsroundtripStartQtMeasure() {
    StartGuiApplication();
    return NewQtMeasure;
}
