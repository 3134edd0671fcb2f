#include "app/Wmeridla.h"

#include "app/Tfieldnumber.h"
#include "app/Tmyconfig.h"
#include "app/Wcontrols.h"
#include "platform/qt/Dialogs.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

QComboBox* TypeList(QWidget* parent, const char* name, const QString& prompt, const std::vector<TTypeEntry>* entries,
                    int x, int y) {
    auto* box = new QComboBox(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setGeometry(x, y, 200, 24);
    box->setPlaceholderText(prompt);
    if (entries)
        for (const TTypeEntry& e : *entries) box->addItem(QString::fromStdString(e.name), e.id);
    box->setCurrentIndex(-1);
    return box;
}

QString Qs(const std::string& s) { return QString::fromStdString(s); }
std::string Text(const QLineEdit* e) { return e->text().toStdString(); }

}  // namespace

Tfmeridla::Tfmeridla(QWidget* owner, bool newMeter, TMeterDef* record)
    : QDialog(owner), newMeter_(newMeter), record_(record) {
    setAttribute(Qt::WA_DeleteOnClose);
    DialogFrame(this, "fmeridla", QStringLiteral("Měřidla"), 520, 420);
    BuildValueGroup();
    BuildMeterGroup();
    BuildAssignGroup();
    BuildMbusGroup();
    Button1 = NamedButton(this, "Button1", QStringLiteral("Uložit"), 324, 384, 90, 28);
    Button2 = NamedButton(this, "Button2", QStringLiteral("Cancel"), 422, 384, 90, 28);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    for (QLineEdit* field : NumberFields())
        OnLeave(field, [field] {
            field->setText(Qs(FieldNumberText(Text(field), kMeterDefPlaces)));
        });
    FormCreate();
}

void Tfmeridla::BuildValueGroup() {
    GroupBox1 = NamedGroup(this, "GroupBox1", QStringLiteral("Detail měřené hodnoty"), 8, 8, 248, 120);
    le_pocstav = LabeledEdit(GroupBox1, "le_pocstav", QStringLiteral("Počáteční stav"), QStringLiteral("0"), 10, 20, 110);
    le_nasobitel = LabeledEdit(GroupBox1, "le_nasobitel", QStringLiteral("Násobitel"), QStringLiteral("1"), 128, 20, 110);
    le_delitel = LabeledEdit(GroupBox1, "le_delitel", QStringLiteral("Dělitel"), QStringLiteral("1"), 10, 68, 110);
    le_korekce = LabeledEdit(GroupBox1, "le_korekce", QStringLiteral("Korekce"), QStringLiteral("0"), 128, 68, 110);
}

void Tfmeridla::BuildMeterGroup() {
    GroupBox2 = NamedGroup(this, "GroupBox2", QStringLiteral("Detail měřidla"), 264, 8, 248, 120);
    le_merjednotka = LabeledEdit(GroupBox2, "le_merjednotka", QStringLiteral("Základní jednotka"), {}, 10, 20, 110);
    le_nazev = LabeledEdit(GroupBox2, "le_nazev", QStringLiteral("Název"), {}, 128, 20, 110);
    le_sekaddr = LabeledEdit(GroupBox2, "le_sekaddr", QStringLiteral("Sekundární adresa"), {}, 10, 68, 110);
    le_merpausal = LabeledEdit(GroupBox2, "le_merpausal", QStringLiteral("Paušál za jednotku"), QStringLiteral("0"), 128, 68, 110);
}

void Tfmeridla::BuildAssignGroup() {
    const TMyConfig* config = myConfig;
    GroupBox3 = NamedGroup(this, "GroupBox3", QStringLiteral("Přiřazení měřidla"), 8, 136, 504, 120);
    Label1 = StaticLabel(GroupBox3, QStringLiteral("Typ media "), 10, 22, 200, 15);
    cb_typmedia = TypeList(GroupBox3, "cb_typmedia", QStringLiteral("Zvolte typ media"),
                           config ? &config->mediaTypes : nullptr, 10, 38);
    Label1->setBuddy(cb_typmedia);
    Label2 = StaticLabel(GroupBox3, QStringLiteral("Typ měřidla"), 240, 22, 200, 15);
    cb_typmeridla = TypeList(GroupBox3, "cb_typmeridla", QStringLiteral("Zvolte typ měřidla"),
                             config ? &config->meterTypes : nullptr, 240, 38);
    Label2->setBuddy(cb_typmeridla);
    le_fashiontabname = LabeledEdit(GroupBox3, "le_fashiontabname", QStringLiteral("Jméno v tabulce Excel"), {}, 10, 70, 200);
}

void Tfmeridla::BuildMbusGroup() {
    GroupBox4 = NamedGroup(this, "GroupBox4", QStringLiteral("M-Bus parametry"), 8, 264, 504, 112);
    le_mbusaddr = LabeledEdit(GroupBox4, "le_mbusaddr", QStringLiteral("M-Bus adresa"), QStringLiteral("1"), 10, 20, 110);
    le_mbusinterval = LabeledEdit(GroupBox4, "le_mbusinterval", QStringLiteral("Interval odečtů"), QStringLiteral("60"), 128, 20, 110);
    le_mbusindex = LabeledEdit(GroupBox4, "le_mbusindex", QStringLiteral("Index"), QStringLiteral("0"), 246, 20, 110);
    le_mbusgw = LabeledEdit(GroupBox4, "le_mbusgw", QStringLiteral("Gateway IP"), {}, 10, 64, 110);
    le_mbusmask = LabeledEdit(GroupBox4, "le_mbusmask", QStringLiteral("GW maska"), {}, 128, 64, 110);
    le_mbusgw->setEnabled(false);
    le_mbusmask->setEnabled(false);
}

std::vector<QLineEdit*> Tfmeridla::NumberFields() const {
    return {le_pocstav, le_nasobitel, le_delitel, le_korekce, le_merpausal,
            le_mbusaddr, le_mbusinterval, le_mbusindex, le_mbusgw, le_mbusmask};
}

void Tfmeridla::FormCreate() {
    if (newMeter_ || !record_) return;
    const TMeterDefInput in = MeterDefTexts(*record_);
    cb_typmedia->setCurrentIndex(in.mediaTypeIndex < cb_typmedia->count() ? in.mediaTypeIndex : -1);
    cb_typmeridla->setCurrentIndex(in.meterTypeIndex < cb_typmeridla->count() ? in.meterTypeIndex : -1);
    const std::pair<QLineEdit*, const std::string*> fields[] = {
        {le_nazev, &in.name},           {le_sekaddr, &in.secondaryAddress}, {le_merjednotka, &in.unit},
        {le_pocstav, &in.startState},   {le_korekce, &in.correction},       {le_nasobitel, &in.multiplier},
        {le_delitel, &in.divisor},      {le_merpausal, &in.flatRate},       {le_mbusaddr, &in.mbusAddress},
        {le_mbusindex, &in.mbusIndex},  {le_mbusinterval, &in.mbusInterval}, {le_fashiontabname, &in.tableName},
    };
    for (const auto& [edit, text] : fields) edit->setText(Qs(*text));
}

TMeterDefInput Tfmeridla::Input() const {
    TMeterDefInput in;
    in.mediaTypeIndex = cb_typmedia->currentIndex();
    in.meterTypeIndex = cb_typmeridla->currentIndex();
    in.name = Text(le_nazev);
    in.secondaryAddress = Text(le_sekaddr);
    in.unit = Text(le_merjednotka);
    in.startState = Text(le_pocstav);
    in.correction = Text(le_korekce);
    in.multiplier = Text(le_nasobitel);
    in.divisor = Text(le_delitel);
    in.flatRate = Text(le_merpausal);
    in.mbusAddress = Text(le_mbusaddr);
    in.mbusIndex = Text(le_mbusindex);
    in.mbusInterval = Text(le_mbusinterval);
    in.tableName = Text(le_fashiontabname);
    return in;
}

void Tfmeridla::Button1Click() {
    TMeterDef scratch;
    TMeterDefCheck result = CheckMeterDef(Input(), record_ ? *record_ : scratch);
    if (result.ok) {
        accept();
        return;
    }
    if (!result.message.empty())
        plat::MessageDlg(Qs(result.message), plat::TMsgDlgType::Error, plat::mbOK, this);
}
