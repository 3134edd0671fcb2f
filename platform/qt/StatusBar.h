// A status bar of fixed-width text panels, as the class library's status
// bar with its panel list shows them: the last one runs to the right edge,
// unless one panel is made to take what the others leave.
#pragma once

#include <QFrame>
#include <QRect>
#include <QString>
#include <QStringList>

#include <vector>

class QLabel;

namespace plat {

class TStatusBar : public QFrame {
public:
    explicit TStatusBar(QWidget* parent = nullptr);

    void AddPanel(int width, Qt::Alignment alignment = Qt::AlignLeft);
    int Count() const { return static_cast<int>(panels_.size()); }
    // The width the panel was given (the last one may be drawn otherwise).
    int PanelWidth(int index) const;
    Qt::Alignment PanelAlignment(int index) const;
    QString Text(int index) const;
    void SetText(int index, const QString& text);
    // Widens the panel (never narrows it) so that each of the texts fits
    // whole in the panel's font.
    void FitPanel(int index, const QStringList& texts);
    // The width a text needs in the panel: its advance, frame and margins.
    int TextWidth(int index, const QString& text) const;
    // The panel that gets the width the others leave (none: the last one
    // runs to the right edge).
    void SetStretchPanel(int index);
    // What the panels but the stretching one need side by side (all of
    // them when none stretches).
    int FixedWidth() const;
    // Where the panel is drawn now.
    QRect PanelGeometry(int index) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Layout();

    std::vector<QLabel*> panels_;
    std::vector<int> widths_;
    int stretch_ = -1;
};

}  // namespace plat
