#include "workbook/grid/UKmrPrinter.h"

#include <QPainter>
#include <QPrinter>

#include "workbook/storage/XlsMessages.h"

namespace kalmira {

TQtPrinter::TQtPrinter() : FPrinter(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
    FPrinter->setFullPage(false);
}

TQtPrinter::~TQtPrinter() {
    if (FPainter != nullptr && FPainter->isActive()) FPainter->end();
}

int TQtPrinter::DpiX() { return FPrinter->resolution(); }
int TQtPrinter::DpiY() { return FPrinter->resolution(); }

int TQtPrinter::PageWidth() { return FPrinter->pageLayout().paintRectPixels(FPrinter->resolution()).width(); }
int TQtPrinter::PageHeight() { return FPrinter->pageLayout().paintRectPixels(FPrinter->resolution()).height(); }

void TQtPrinter::BeginDoc() {
    FPainter = std::make_unique<QPainter>();
    if (!FPainter->begin(FPrinter.get())) {
        FPainter.reset();
        Raise("The printer refused the document");
    }
    FCanvas = std::make_unique<TQtCanvas>(FPainter.get());
    FCanvas->Dpi = DpiY();
}

void TQtPrinter::NewPage() {
    if (FPainter != nullptr) FPrinter->newPage();
}

void TQtPrinter::EndDoc() {
    if (FPainter != nullptr) FPainter->end();
    FCanvas.reset();
    FPainter.reset();
}

TCanvas& TQtPrinter::Canvas() {
    if (FCanvas == nullptr) Raise("The printer has no document begun");
    return *FCanvas;
}

TQtPrinter& Printer() {
    static TQtPrinter* printer = new TQtPrinter;  // outlives every grid
    return *printer;
}

}  // namespace kalmira
