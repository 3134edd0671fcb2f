// The printer the grid prints on: its resolution, its printable area and a
// document of pages with a canvas to draw them on. TQtPrinter is one
// QPrinter for the whole process; tests bring their own device.
#pragma once

#include <memory>
#include <string>

#include "workbook/grid/UKmrCanvas.h"

class QPainter;
class QPrinter;

namespace kalmira {

class TKmrPrinter {
public:
    virtual ~TKmrPrinter() = default;
    // Pixels per inch across and down.
    virtual int DpiX() = 0;
    virtual int DpiY() = 0;
    // The printable area in device pixels; positions count from its corner.
    virtual int PageWidth() = 0;
    virtual int PageHeight() = 0;
    virtual void BeginDoc() = 0;
    virtual void NewPage() = 0;
    virtual void EndDoc() = 0;
    // The canvas of the document begun.
    virtual TCanvas& Canvas() = 0;
};

class TQtPrinter : public TKmrPrinter {
public:
    TQtPrinter();
    ~TQtPrinter() override;

    QPrinter& Device() { return *FPrinter; }
    int DpiX() override;
    int DpiY() override;
    int PageWidth() override;
    int PageHeight() override;
    void BeginDoc() override;
    void NewPage() override;
    void EndDoc() override;
    TCanvas& Canvas() override;

private:
    std::unique_ptr<QPrinter> FPrinter;
    std::unique_ptr<QPainter> FPainter;
    std::unique_ptr<TQtCanvas> FCanvas;
};

// The process's printer, made on first use.
TQtPrinter& Printer();

}  // namespace kalmira
