#include "app/Wnulove.h"

#include "app/Tlistcompare.h"
#include "app/Tmydates.h"
#include "app/Wcontrols.h"

#include <QDateTimeEdit>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

namespace {

constexpr int kConsumptionColumn = 6;

// Sorts as the main list does: "Spotřeba" as numbers, the rest as text.
class TNuloveItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        return CompareListTexts(text(column).toStdString(), other.text(column).toStdString(),
                                column == kConsumptionColumn) < 0;
    }
};

QDateTime ToQt(const plat::TDateTimeParts& t) {
    return QDateTime(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second, t.millisecond));
}

QPushButton* SmallButton(QWidget* parent, const char* name, const QString& caption, int x, int y) {
    QPushButton* b = NamedButton(parent, name, caption, x, y, 24, 22);
    b->setEnabled(false);
    return b;
}

QDateTimeEdit* Picker(QWidget* parent, const char* name, int x, int y) {
    auto* p = new QDateTimeEdit(parent);
    p->setObjectName(QString::fromLatin1(name));
    p->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
    p->setGeometry(x, y, 150, 22);
    p->setEnabled(false);
    return p;
}

}  // namespace

Tfnulove::Tfnulove(QWidget* owner) : QDialog(owner) {
    setAttribute(Qt::WA_DeleteOnClose);
    DialogFrame(this, "fnulove", QStringLiteral("Nulové odečty"), 740, 420);
    lvMeters = ReportList(this, "lvMeters",
                          {{"Název", 110}, {"Sek.Addresa", 90}, {"Min.Datum", 120}, {"Hodnota", 100},
                           {"Max.Datum", 120}, {"Hodnota", 100}, {"Spotřeba", 80}});
    lvMeters->setGeometry(8, 8, 724, 330);
    Label1 = StaticLabel(this, QStringLiteral("Celkem :"), 560, 346, 60);
    lbSuma = StaticLabel(this, QStringLiteral("0"), 624, 346, 100);
    lbSuma->setObjectName(QStringLiteral("lbSuma"));
    Label2 = StaticLabel(this, QStringLiteral("Interval od :"), 8, 350, 90);
    bilOdDate = Picker(this, "bilOdDate", 96, 346);
    btnOdPlus = SmallButton(this, "btnOdPlus", QStringLiteral("+"), 250, 346);
    btnOdMinus = SmallButton(this, "btnOdMinus", QStringLiteral("-"), 276, 346);
    Label3 = StaticLabel(this, QStringLiteral("Interval do :"), 8, 382, 90);
    bilToDate = Picker(this, "bilToDate", 96, 378);
    btnDoPlus = SmallButton(this, "btnDoPlus", QStringLiteral("+"), 250, 378);
    btnDoMinus = SmallButton(this, "btnDoMinus", QStringLiteral("-"), 276, 378);
    Button1 = NamedButton(this, "Button1", QStringLiteral("Zavřít"), 644, 380, 88, 28);
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(lvMeters->header(), &QHeaderView::sectionClicked, this, [this](int c) { lvMetersColumnClick(c); });
    FormCreate();
}

// The period is this month so far, as of the moment the dialog opens.
void Tfnulove::FormCreate() {
    TMyDates own;
    TMyDates& current = myDates ? *myDates : own;
    current.Refresh();
    bilOdDate->setDateTime(ToQt(DecodeDateTime(current.dates.monthStart)));
    bilToDate->setDateTime(ToQt(DecodeDateTime(current.dates.now)));
    lvMeters->clear();
}

void Tfnulove::lvMetersColumnClick(int column) {
    sortColumn = column;
    lvMeters->sortItems(column, Qt::AscendingOrder);
}

QTreeWidgetItem* Tfnulove::AddRow(const QStringList& texts) {
    auto* item = new TNuloveItem(lvMeters);
    for (int i = 0; i < texts.size() && i < lvMeters->columnCount(); ++i) item->setText(i, texts[i]);
    return item;
}
