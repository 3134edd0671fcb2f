// Pieces that the dialogs share: the labelled edit, the "field left" event,
// the report-style list and the dialog frame.
#pragma once

#include <QString>

#include <functional>
#include <initializer_list>

class QDialog;
class QGroupBox;
class QPushButton;
class QLabel;
class QLineEdit;
class QTreeWidget;
class QWidget;

struct TListColumn {
    const char* caption;
    int width;
};

// An edit with its caption above it; the caption is the edit's buddy label.
QLineEdit* LabeledEdit(QWidget* parent, const char* name, const QString& caption, const QString& text, int x,
                       int y, int width);

QPushButton* NamedButton(QWidget* parent, const char* name, const QString& caption, int x, int y, int width,
                         int height = 28);
QGroupBox* NamedGroup(QWidget* parent, const char* name, const QString& caption, int x, int y, int width,
                      int height);

// A caption at a place.
QLabel* StaticLabel(QWidget* parent, const QString& text, int x, int y, int width, int height = 17);

// Runs the handler when the edit loses the focus or Return is pressed in it.
void OnLeave(QLineEdit* edit, std::function<void()> handler);

// A read-only report list with grid lines and whole-row selection of one row.
QTreeWidget* ReportList(QWidget* parent, const char* name, std::initializer_list<TListColumn> columns);

// Name, caption and client size of a dialog-bordered window; without border
// icons it shows only its caption.
void DialogFrame(QDialog* dialog, const char* name, const QString& caption, int width, int height,
                 bool borderIcons = true);

// The dialog centred over the screen it appears on.
void CenterOnScreen(QWidget* window);
