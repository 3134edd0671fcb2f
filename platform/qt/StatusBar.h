// A status bar of fixed-width text panels, as the class library's status
// bar with its panel list shows them: the last one runs to the right edge.
#pragma once

#include <QFrame>
#include <QString>

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

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void Layout();

    std::vector<QLabel*> panels_;
    std::vector<int> widths_;
};

}  // namespace plat
