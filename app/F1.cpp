#include "app/F1.h"

#include "app/Tmydates.h"
#include "app/Tfieldnumber.h"
#include "app/Tmeterbook.h"
#include "app/Tmetertable.h"
#include "app/Tmymeridla.h"
#include "app/Tmyodecty.h"
#include "app/Tunitreport.h"
#include "app/Wmeridla.h"

#include "app/Tcheckandrefresh.h"
#include "app/Tformats.h"
#include "app/Tlocalesettings.h"
#include "app/Tlistcompare.h"
#include "app/Tmyconfig.h"
#include "app/Winfo.h"
#include "app/Wlog.h"
#include "app/Wcontrols.h"
#include "app/Wnulove.h"
#include "app/Wpatnistav.h"
#include "app/Wprovozni.h"
#include "app/Wselectserial.h"
#include "app/about.h"
#include "workbook/api/UKalmiraImport.h"
#include "workbook/api/XLSAdapter.h"
#include "workbook/grid/UKmrQtTextMeasure.h"
#include "gateway/Serial.h"
#include "platform/qt/Clipboard.h"
#include "platform/qt/Dialogs.h"
#include "platform/qt/MenuItem.h"
#include "platform/qt/StatusBar.h"
#include "platform/qt/TrayIcon.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <numeric>
#include <unordered_map>

TForm1* Form1 = nullptr;

namespace {

constexpr int kClientWidth = 766;
constexpr int kClientHeight = 491;
constexpr int kStatusHeight = 22;
constexpr int kClientTimerMs = 900000;

constexpr int kValueColumn = 9;

constexpr int kPanelWidths[] = {120, 110, 50, 100, 220, 90, 100};
// Panel 4 shows the selected meter's place, as long as it is: it takes what
// the others leave.
constexpr int kStretchPanel = 4;
// The stored layout: the list above, the group boxes and the buttons under
// it, their distances kept to the client area's left, right and bottom
// edges as the window is resized.
constexpr int kListBottomGap = 111;
constexpr int kGroupBottomGap = 103;
constexpr int kButtonBottomGap = 87;
constexpr int kButtonRightGaps[] = {340, 236, 118};
// Narrower than stored, the buttons (kept to the right edge) would cover
// the group boxes (kept to the left one).
constexpr int kMinClientWidth = kClientWidth;
constexpr int kMinClientHeight = 300;

constexpr int kDateColumn = 8;
// Texts the list must show whole: a reading's time and a long value.
constexpr const char* kWidestTime = "00.00.0000 00:00:00";
constexpr const char* kWidestValue = "00000000.0000";
constexpr int kCellPadding = 12;
// The longest texts of one column that are measured when the columns are
// fitted to a new list; the others are shorter by their characters.
constexpr std::size_t kMeasuredTexts = 24;
constexpr int kMaxCount = 99999;

// The client area of the main window: tells the window its new size.
class TClientArea : public QWidget {
public:
    TClientArea(QWidget* parent, std::function<void(QSize)> resized) : QWidget(parent), resized_(std::move(resized)) {}

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        resized_(size());
    }

private:
    std::function<void(QSize)> resized_;
};

QString MeterCountText(int count) { return QStringLiteral("Počet měřidel : ") + QString::number(count); }

}  // namespace

// The list rows by folded meter key, so that a reading finds its row
// without walking the list; a row leaves it when it is deleted.
class TMeterRows {
public:
    void Reserve(std::size_t rows) { rows_.reserve(rows); }
    void Add(const std::string& key, QTreeWidgetItem* item) { rows_[FoldKey(key)].push_back(item); }
    // The rows are all going: their deletion need not find them one by one.
    void Drop() {
        dropped_ = true;
        rows_.clear();
    }
    void Remove(const std::string& key, QTreeWidgetItem* item) {
        if (dropped_) return;
        auto it = rows_.find(FoldKey(key));
        if (it == rows_.end()) return;
        std::erase(it->second, item);
        if (it->second.empty()) rows_.erase(it);
    }
    // The first row of the key in the list's present order, or null.
    QTreeWidgetItem* First(const QTreeWidget* list, const std::string& key) const {
        auto it = rows_.find(FoldKey(key));
        if (it == rows_.end()) return nullptr;
        QTreeWidgetItem* first = nullptr;
        int firstAt = 0;
        for (QTreeWidgetItem* item : it->second) {
            const int at = it->second.size() == 1 ? 0 : list->indexOfTopLevelItem(item);
            if (at >= 0 && (!first || at < firstAt)) first = item, firstAt = at;
        }
        return first;
    }

private:
    std::unordered_map<std::string, std::vector<QTreeWidgetItem*>> rows_;
    bool dropped_ = false;
};

namespace {

// A list row; its data is the meter record, and it sorts by the column
// that was clicked last.
class TMeterItem : public QTreeWidgetItem {
public:
    TMeterItem(TMeterRecord record, std::shared_ptr<TMeterRows> rows)
        : record_(std::move(record)), rows_(std::move(rows)) {
        rows_->Add(record_->key, this);
    }
    ~TMeterItem() override { rows_->Remove(record_->key, this); }
    const TMeterRecord& Record() const { return record_; }

    bool operator<(const QTreeWidgetItem& other) const override {
        int column = treeWidget() ? treeWidget()->sortColumn() : 0;
        return CompareMeterColumn(column, text(column).toStdString(),
                                  other.text(column).toStdString()) < 0;
    }

private:
    TMeterRecord record_;
    std::shared_ptr<TMeterRows> rows_;
};

// The texts of a row's columns 0 to 7, as the record holds them.
std::array<const std::string*, 8> RowTexts(const TStradelCntrs& m) {
    return {&m.flatNumber, &m.firstName, &m.surname, &m.street, &m.houseNumber, &m.city, &m.meterType, &m.serialNumber};
}

// A row not yet in a list: its texts set before the list would hear of each.
TMeterItem* MakeMeterItem(TMeterRecord record, const std::shared_ptr<TMeterRows>& rows) {
    const std::array<const std::string*, 8> texts = RowTexts(*record);
    auto* item = new TMeterItem(std::move(record), rows);
    for (int i = 0; i < static_cast<int>(texts.size()); ++i) item->setText(i, QString::fromStdString(*texts[i]));
    item->setTextAlignment(kValueColumn, Qt::AlignRight | Qt::AlignVCenter);
    return item;
}

QAction* AddItem(QMenu* menu, const char* name, const QString& caption) {
    QAction* item = menu->addAction(caption);
    item->setObjectName(QString::fromLatin1(name));
    return item;
}

QMenu* AddMenu(QMenuBar* bar, const char* name, const QString& caption) {
    QMenu* menu = bar->addMenu(caption);
    menu->setObjectName(QString::fromLatin1(name));
    return menu;
}

void Store(QAction* item, bool enabled, bool visible) {
    item->setEnabled(enabled);
    item->setVisible(visible);
}

QString Qs(const std::string& s) { return QString::fromStdString(s); }

// The adapter allows overwriting files while it lives.
class TOverwriting {
public:
    explicit TOverwriting(kalmira::TXLSAdapter& adapter) : adapter_(adapter), was_(adapter.AllowOverwritingFiles()) {
        adapter_.SetAllowOverwritingFiles(true);
    }
    ~TOverwriting() { adapter_.SetAllowOverwritingFiles(was_); }
    TOverwriting(const TOverwriting&) = delete;
    TOverwriting& operator=(const TOverwriting&) = delete;

private:
    kalmira::TXLSAdapter& adapter_;
    bool was_;
};

}  // namespace

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent),
      meterRows_(std::make_shared<TMeterRows>()),
      rowUpdates_(new plat::THandOff<TRowUpdate>(
          [this](const TRowUpdate& update) { ApplyRowUpdate(update); }, this)),
      gatewayStates_(new plat::THandOff<gatewayState>(
          [this](const gatewayState& state) { ApplyGatewayState(state); }, this)) {
    Form1 = this;
    comPortScan = EnumerateComPorts;
    SetWorkerFactory([this] { return MakeHlavniWorker(LinkSinks()); });
    BuildForm();

    log_ = std::make_unique<Tflog>();
    logWindow = log_.get();
    logWindow->SetShowItem(mShow);

    config_ = std::make_unique<TMyConfig>();
    myConfig = config_.get();
    if (!myConfig->Load()) {
        plat::MessageDlg(QStringLiteral("Nenalezen konfigurační registr."), plat::TMsgDlgType::Error,
                         plat::mbOK);
        std::exit(-1);
    }
    myConfig->SetDefaults();
    UseDesktopLocaleSettings();
    UseProgramDateFormat();
    TAllConf& conf = *myConfig->Conf();

    dates_ = std::make_unique<TMyDates>();
    myDates = dates_.get();
    // myDbBasic stays null: every database operation logs its failure.
    meridla_ = std::make_unique<TMyMeridla>(myDbBasic, [](const std::string& line) { logWindow->AddLogLine(line); });
    myMeridla = meridla_.get();

    debugMode = conf.debug >= 1 ? 3 : 0;
    m_Debug->setChecked(debugMode == 3);

    cb_aktodecty->setChecked(false);
    cb_aktodecty->setEnabled(conf.main.offline == 0);
    ShowMode();
    logWindow->AddLogLine("Program spusten : " + myConfig->ProgramFile());
    ShowComPort(conf.dir.usbCom);

    SetGatewayRfAddress("0x00000000");
    adapter_ = std::make_unique<kalmira::TXLSAdapter>();
    adapter_->SetAllowOverwritingFiles(false);
    // What the engine asks of the desktop: its clipboard, and text measured
    // in the screen's fonts when rows and columns are fitted.
    adapter_->SetClipboard(std::make_shared<plat::TQtClipboard>());
    adapter_->SetTextMeasure(kalmira::KmrQtTextMeasureFactory());
    xls_ = std::make_unique<kalmira::TKalmiraImport>();
    xls_->SetAdapter(adapter_.get());
    report_ = std::make_unique<kalmira::TKalmiraImport>();
    report_->SetAdapter(adapter_.get());
    keys_ = std::make_unique<TMeterKeyList>();
    meterKeyList = keys_.get();

    odecty_ = std::make_unique<TMyOdecty>(myDbBasic, [](const std::string& line) { logWindow->AddLogLine(line); });
    myOdecty = odecty_.get();
    Tflog* log = log_.get();
    odecty_->SetReadings(meterKeyList, {[log](const std::string& line) { log->AddLogLine(line); },
                                        [this](TRowUpdate update) { PostRowUpdate(std::move(update)); }});
    odecty_->SetDebug(conf.debug);
}

TForm1::~TForm1() {
    rowUpdates_->Close();
    gatewayStates_->Close();
    readings_.reset();
    if (myOdecty == odecty_.get()) myOdecty = nullptr;
    if (meterKeyList == keys_.get()) meterKeyList = nullptr;
    if (myConfig == config_.get()) myConfig = nullptr;
    if (myDates == dates_.get()) myDates = nullptr;
    if (myMeridla == meridla_.get()) myMeridla = nullptr;
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::ShowMode() {
    if (myConfig->Conf()->main.offline != 0) {
        sb->SetText(0, QStringLiteral("Klient"));
        logWindow->AddLogLine("Klient mode - načítání offline - provádí ho master");
        clientTimer = new QTimer(this);
        clientTimer->setInterval(kClientTimerMs);
        // Client mode reads offline: the master does the reading.
        connect(clientTimer, &QTimer::timeout, this, [] {});
        clientTimer->start();
    } else {
        sb->SetText(0, QStringLiteral("Master"));
        logWindow->AddLogLine("Master mód");
    }
}

void TForm1::BuildForm() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Stradel odečty"));
    setWindowIcon(plat::ProgramIcon());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::CustomizeWindowHint);
    auto* client = new TClientArea(this, [this](QSize size) { PlaceControls(size); });
    client->setMinimumHeight(kMinClientHeight);
    setCentralWidget(client);
    BuildList(client);
    sb = new plat::TStatusBar(client);
    BuildStatusBar();
    FitMinimumWidth();
    BuildButtons(client);
    BuildMenus();
    PlaceControls(QSize(kClientWidth, kClientHeight));
    TrayIcon1 = new plat::TTrayIcon(this);
    openDlg = new QFileDialog(this);
    openDlg->setObjectName(QStringLiteral("openDlg"));
    openDlg->setOption(QFileDialog::DontUseNativeDialog);
    openDlg->setNameFilter(QStringLiteral("Excel 1997-2003 (*.xls)"));
    openDlg->setFileMode(QFileDialog::ExistingFile);
    openDlg->setAcceptMode(QFileDialog::AcceptOpen);
    // The stored client area under the menu bar; the window can be resized.
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
}

// The list fills the width above the group boxes; the buttons keep their
// distance to the right edge, everything below the list to the bottom one.
void TForm1::PlaceControls(QSize client) {
    const int w = client.width(), h = client.height();
    lvMeters->setGeometry(0, 0, w, h - kListBottomGap);
    GroupBox1->move(8, h - kGroupBottomGap);
    GroupBox2->move(186, h - kGroupBottomGap);
    QPushButton* buttons[] = {Button1, mUlozit, btnReadModules};
    for (std::size_t i = 0; i < std::size(buttons); ++i)
        buttons[i]->move(w - kButtonRightGaps[i], h - kButtonBottomGap);
    sb->setGeometry(0, h - kStatusHeight, w, kStatusHeight);
    FitColumns();
}

// "Č.bytu" keeps the list's default width.
void TForm1::BuildList(QWidget* client) {
    lvMeters = ReportList(client, "lvMeters",
                          {{"Č.bytu", 50}, {"Jméno", 70}, {"Příjmení", 90}, {"Ulice", 70}, {"č.p.", 60},
                           {"Město", 90}, {"Typ", 80}, {"Výr. číslo", 80}, {"Datum odečtu", 80}, {"Hodnota", 70}});
    lvMeters->setGeometry(0, 0, kClientWidth, kClientHeight - kListBottomGap);
    for (int i = 0; i < lvMeters->columnCount(); ++i) storedWidths_.push_back(lvMeters->columnWidth(i));
    userWidths_.assign(storedWidths_.size(), 0);
    // A column the operator sizes keeps that width through later fits.
    connect(lvMeters->header(), &QHeaderView::sectionResized, this, [this](int column, int, int width) {
        if (!fitting_) userWidths_[static_cast<std::size_t>(column)] = width;
    });
    lvMeters->headerItem()->setTextAlignment(kValueColumn, Qt::AlignRight | Qt::AlignVCenter);
    lvMeters->setContextMenuPolicy(Qt::CustomContextMenu);
    lvMeters->viewport()->installEventFilter(this);
    connect(lvMeters->header(), &QHeaderView::sectionClicked, this,
            [this](int column) { lvMetersColumnClick(column); });
    connect(lvMeters, &QTreeWidget::itemSelectionChanged, this, [this] { lvMetersSelectItem(); });
    connect(lvMeters, &QTreeWidget::itemDoubleClicked, this,
            [this](QTreeWidgetItem* item) { lvMetersDblClick(item); });
    connect(lvMeters, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        popmenuTable->popup(lvMeters->viewport()->mapToGlobal(at));
    });
}

// The widest text of each column among the rows: the longest texts by
// their characters are measured, a handful a column, so that ten thousand
// rows cost no more than the list itself.
void TForm1::MeasureContents(const std::vector<TMeterRecord>& listed) {
    contentWidths_.assign(static_cast<std::size_t>(lvMeters->columnCount()), 0);
    const QFontMetrics metrics = lvMeters->fontMetrics();
    for (int column = 0; column < kDateColumn; ++column) {
        std::vector<std::pair<std::size_t, const std::string*>> texts;
        texts.reserve(listed.size());
        for (const TMeterRecord& m : listed) {
            const std::string& text = *RowTexts(*m)[column];
            texts.emplace_back(TrimmedLength(text), &text);
        }
        const std::size_t measured = std::min(kMeasuredTexts, texts.size());
        std::partial_sort(texts.begin(), texts.begin() + static_cast<std::ptrdiff_t>(measured), texts.end(),
                          [](const auto& a, const auto& b) { return a.first > b.first; });
        int widest = 0;
        for (std::size_t i = 0; i < measured; ++i)
            widest = std::max(widest, metrics.horizontalAdvance(Qs(*texts[i].second)));
        contentWidths_[static_cast<std::size_t>(column)] = widest ? widest + kCellPadding : 0;
    }
}

// Each column as wide as stored, widened for its caption and its contents,
// the reading's time and a long value whole.  When that is wider than the
// list (a vertical scroll bar counted in), the text columns give up width
// in proportion to what they have beyond their captions, so that every
// column stays in view.  A column the operator sized keeps its width.
void TForm1::FitColumns() {
    const int columns = lvMeters->columnCount();
    if (contentWidths_.size() != static_cast<std::size_t>(columns)) contentWidths_.assign(columns, 0);
    const QFontMetrics metrics = lvMeters->fontMetrics();
    std::vector<int> caption(columns), width(columns);
    for (int i = 0; i < columns; ++i) {
        caption[i] = lvMeters->header()->sectionSizeHint(i);
        width[i] = std::max({storedWidths_[static_cast<std::size_t>(i)], caption[i],
                             contentWidths_[static_cast<std::size_t>(i)]});
    }
    width[kDateColumn] =
        std::max(width[kDateColumn], metrics.horizontalAdvance(QLatin1String(kWidestTime)) + kCellPadding);
    width[kValueColumn] =
        std::max(width[kValueColumn], metrics.horizontalAdvance(QLatin1String(kWidestValue)) + kCellPadding);
    // What a text column may give up: its width beyond the caption, unless
    // the operator sized it.
    std::vector<int> giving(columns, 0);
    for (int i = 0; i < columns; ++i) {
        if (const int user = userWidths_[static_cast<std::size_t>(i)]) width[i] = user;
        else if (i < kDateColumn) giving[i] = std::max(0, width[i] - caption[i]);
    }
    const int room = lvMeters->width() - 2 * lvMeters->frameWidth() -
                     lvMeters->verticalScrollBar()->sizeHint().width();
    const int total = std::accumulate(width.begin(), width.end(), 0);
    const int spare = std::accumulate(giving.begin(), giving.end(), 0);
    if (total > room && spare > 0) {
        const int cut = std::min(total - room, spare);
        int left = cut;
        for (int i = 0; i < kDateColumn && left > 0; ++i) {
            const int share = static_cast<int>((static_cast<long long>(giving[i]) * cut + spare - 1) / spare);
            const int take = std::min({share, left, giving[i]});
            width[i] -= take;
            left -= take;
        }
    }
    fitting_ = true;
    for (int i = 0; i < columns; ++i) lvMeters->setColumnWidth(i, width[i]);
    fitting_ = false;
}

// The stored widths, each widened to the longest text its panel shows in
// this font (counts up to 99,999); panel 2 widens again for a longer port.
void TForm1::BuildStatusBar() {
    sb->setObjectName(QStringLiteral("sb"));
    sb->setGeometry(0, kClientHeight - kStatusHeight, kClientWidth, kStatusHeight);
    const int last = static_cast<int>(std::size(kPanelWidths)) - 1;
    for (int i = 0; i <= last; ++i)
        sb->AddPanel(kPanelWidths[i], i == last ? Qt::AlignHCenter : Qt::AlignLeft);
    const QString count = QString::number(kMaxCount);  // digits: the font's widest ones are as wide
    sb->FitPanel(0, {QStringLiteral("Master"), QStringLiteral("Klient")});
    sb->FitPanel(1, {MeterCountText(kMaxCount)});
    sb->FitPanel(2, {QStringLiteral("COM99")});
    sb->FitPanel(3, {QStringLiteral("ONLINE"), QStringLiteral("OFFLINE")});
    sb->FitPanel(5, {QStringLiteral(" Odečtených: ") + count});
    sb->FitPanel(6, {QString::fromStdString(plat::FormatDateTime(kLongTimeFormat, {2000, 12, 28, 20, 48, 58, 0}))});
    sb->SetStretchPanel(kStretchPanel);
}

void TForm1::BuildButtons(QWidget* client) {
    GroupBox1 = new QGroupBox(client);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->resize(170, 60);
    cb_aktodecty = new QCheckBox(QStringLiteral("Aktivovat odečty"), GroupBox1);
    cb_aktodecty->setObjectName(QStringLiteral("cb_aktodecty"));
    cb_aktodecty->setGeometry(12, 22, 150, 22);
    cb_aktodecty->setChecked(true);
    // The state, not the click: code unticks the box to stop the readings.
    connect(cb_aktodecty, &QCheckBox::stateChanged, this, [this] { cb_aktodectyClick(); });

    GroupBox2 = new QGroupBox(client);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    GroupBox2->resize(230, 60);
    Label1 = new QLabel(QStringLiteral("Spuštěno :"), GroupBox2);
    Label1->setGeometry(12, 24, 70, 18);
    st_Spusteno = new QLabel(GroupBox2);
    st_Spusteno->setObjectName(QStringLiteral("st_Spusteno"));
    st_Spusteno->setGeometry(84, 22, 136, 22);
    st_Spusteno->setFrameShape(QFrame::Panel);
    st_Spusteno->setFrameShadow(QFrame::Sunken);

    // Placed by PlaceControls, as are the group boxes.
    auto button = [client](const char* name, const QString& caption) {
        auto* b = new QPushButton(caption, client);
        b->setObjectName(QString::fromLatin1(name));
        b->resize(110, 30);
        b->setEnabled(false);
        return b;
    };
    Button1 = button("Button1", QStringLiteral("Nulové spotřeby"));
    Button1->setVisible(false);
    mUlozit = button("mUlozit", QStringLiteral("Uložit tabulku"));
    btnReadModules = button("btnReadModules", QStringLiteral("Odečíst moduly"));
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(mUlozit, &QPushButton::clicked, this, [this] { mUlozitClick(); });
    connect(btnReadModules, &QPushButton::clicked, this, [this] { btnReadModulesClick(); });
}

void TForm1::BuildMenus() {
    QMenuBar* mainM = menuBar();
    mainM->setObjectName(QStringLiteral("mainM"));
    mSoubor = AddMenu(mainM, "N1", QStringLiteral("&Soubor"));
    mLoadFile = AddItem(mSoubor, "mLoadFile", QStringLiteral("Načíst soubor ..."));
    mSoubor->addSeparator();
    mPouzenaobrazovku = AddItem(mSoubor, "mPouzenaobrazovku", QStringLiteral("Pouze na obrazovku"));
    mPouzenaobrazovku->setCheckable(true);
    Store(mPouzenaobrazovku, false, false);
    Nastavitkomunikaci1 =
        AddItem(mSoubor, "Nastavitkomunikaci1", QStringLiteral("Nastavit komunikaci ..."));
    mSoubor->addSeparator();
    Exit1 = AddItem(mSoubor, "Exit1", QStringLiteral("E&xit"));

    mProvoz = AddMenu(mainM, "mProvoz", QStringLiteral("Provoz"));
    mProvoz->menuAction()->setVisible(false);
    Sta1 = AddItem(mProvoz, "Sta1", QStringLiteral("Zadat patní vodoměr..."));
    Zobrazitdoplkovservisnnformace1 =
        AddItem(mProvoz, "Zobrazitdoplkovservisnnformace1",
                QStringLiteral("Zobrazit doplňkové servisní ínformace"));

    mLog = AddMenu(mainM, "Log1", QStringLiteral("&Log"));
    mShow = AddItem(mLog, "mShow", QStringLiteral("Show log"));
    m_Debug = AddItem(mLog, "m_Debug", QStringLiteral("Debug"));
    m_Debug->setCheckable(true);

    mAbout = AddMenu(mainM, "mAbout", QStringLiteral("O programu"));
    Informace1 = AddItem(mAbout, "Informace1", QStringLiteral("Informace ..."));

    popmenuTable = new QMenu(this);
    popmenuTable->setObjectName(QStringLiteral("popmenuTable"));
    Odeethned1 = AddItem(popmenuTable, "Odeethned1", QStringLiteral("Výměna vodoměru ..."));
    Store(Odeethned1, false, true);
    Export1 = AddItem(popmenuTable, "Export1", QStringLiteral("Deaktivovat ..."));
    Store(Export1, false, true);
    Upravit1 = AddItem(popmenuTable, "Upravit1", QStringLiteral("Upravit..."));
    Store(Upravit1, false, false);

    plat::OnClick(Exit1, [this] { close(); });
    plat::OnClick(mLoadFile, [this] { mLoadFileClick(); });
    plat::OnClick(Sta1, [this] {
        try {
            MainMeterDialog();
        } catch (const std::exception& e) {
            plat::ShowException(e);
        }
    });
    plat::OnClick(mShow, [this] { mShowClick(); });
    plat::OnClick(m_Debug, [this] { m_DebugClick(); });
    plat::OnClick(mPouzenaobrazovku, [this] { mPouzenaobrazovkuClick(); });
    plat::OnClick(Nastavitkomunikaci1, [this] { Nastavitkomunikaci1Click(); });
    plat::OnClick(Informace1, [this] { Informace1Click(); });
    plat::OnClick(Zobrazitdoplkovservisnnformace1, [this] { ZobrazitProvozniClick(); });
    plat::OnClick(Upravit1, [this] { Upravit1Click(); });
    plat::OnClick(Export1, [this] { Export1Click(); });
}

// The file dialog opens in the folder of the workbook loaded last, else in
// the user's home.
void TForm1::mLoadFileClick() {
    const std::filesystem::path folder = std::filesystem::path(meterFile_).parent_path();
    openDlg->setDirectory(meterFile_.empty() ? QDir::homePath() : QString::fromStdString(folder.string()));
    if (openDlg->exec() != QDialog::Accepted || openDlg->selectedFiles().isEmpty()) return;
    LoadMeterFile(openDlg->selectedFiles().front().toStdString());
}

// The workbook is opened and read whole in a facade of its own; the
// window takes it over only when everything it needs was read, so a file
// that fails leaves the open workbook, the list, the key list and the save
// target as they were.
void TForm1::LoadMeterFile(const std::string& fileName) {
    auto fresh = std::make_unique<kalmira::TKalmiraImport>();
    fresh->SetAdapter(adapter_.get());
    TMeterKeyList loaded;
    std::vector<TMeterRecord> listed;
    double mainMeter = 0;
    try {
        fresh->OpenFile(fileName);
        fresh->SetActiveSheet(1);
        ReadMeterRows(*fresh, [&](TMeterRecord record) {
            if (record->column21Text.empty()) listed.push_back(record);
            std::string key = record->key;
            loaded.Add(std::move(key), std::move(record));
        });
        mainMeter = ReadMainMeter(*fresh);
    } catch (const std::exception& e) {
        plat::MessageDlg(QStringLiteral("Nelze načíst soubor měřidel\n") + Qs(fileName) + u'\n' +
                             QString::fromUtf8(e.what()),
                         plat::TMsgDlgType::Error, plat::mbOK, this);
        logWindow->AddLogLine("Nelze načíst soubor měřidel : " + fileName + " : " + e.what());
        return;
    }
    xls_ = std::move(fresh);
    meterFile_ = xls_->FileName();
    logWindow->AddLogLine("Načtený soubor : " + meterFile_);
    mUlozit->setEnabled(true);
    ShowMeterRows(listed);
    // Readings go on into the old records until the new ones are swapped in.
    meterKeyList->Swap(loaded);
    mainMeterValue = mainMeter;
    sb->SetText(1, MeterCountText(lvMeters->topLevelItemCount()));
}

void TForm1::mUlozitClick() {
    try {
        SaveReadingTable();
    } catch (const std::exception& e) {
        plat::ShowException(e);
    }
}

// The readings are copied under their lock first: one arriving meanwhile
// goes into the next save.  The table is written into a copy of the open
// workbook, which takes the open one's place only once the file is
// written: a declined or failed save leaves the open workbook as it was,
// so the next save appends its log rows once.  The file on disk changes
// only by a complete new one.
void TForm1::SaveReadingTable() {
    const std::vector<TStradelCntrs> meters = meterKeyList->Snapshot();
    std::unique_ptr<kalmira::TKalmiraImport> copy = CopyOfMeterBook();
    CheckReadingTable(*copy, meters);
    WriteReadingTable(*copy, meters);
    MainMeterDialog();
    WriteMainMeter(*copy, mainMeterValue);
    const std::string fileName = meterFile_;
    std::error_code error;
    if (std::filesystem::exists(fileName, error)) {
        const int answer = plat::MessageDlg(QStringLiteral("Soubor již existuje.Přejete si ho přepsat ?"),
                                            plat::TMsgDlgType::Information, plat::mbYes | plat::mbNo, this);
        if (answer != plat::mrYes) {
            ShowInformation("Ukládánání souboru bylo zrušeno.");
            return;
        }
    }
    WriteMeterFile(*copy, fileName);
    xls_ = std::move(copy);
    ShowInformation(("Výsledný soubor byl uložen do :" + fileName).c_str());
}

// The open workbook through memory into a facade of its own (its other
// streams go along); the copy keeps no file name, the window keeps it.
std::unique_ptr<kalmira::TKalmiraImport> TForm1::CopyOfMeterBook() {
    kalmira::TKmrMemoryStream bytes;
    xls_->SaveToStream(bytes);
    bytes.Seek(0);
    auto copy = std::make_unique<kalmira::TKalmiraImport>();
    copy->SetAdapter(adapter_.get());
    copy->LoadFromStream(bytes);
    return copy;
}

void TForm1::MainMeterDialog() {
    if (!fpatni) {
        // The program makes it at start; a window made without it makes its own.
        fpatni = new Tfpatni(this);
    }
    fpatni->ePatniStav->setText(Qs(NumberText(RoundToPlaces(mainMeterValue, kPatniPlaces))));
    // "Pokračovat" is its only button: closing it goes on with the text too.
    fpatni->exec();
    const std::string text = fpatni->ePatniStav->text().toStdString();
    const std::optional<double> value = TryParseFieldNumber(text);
    if (!value) throw std::runtime_error("\"" + text + "\" není platné číslo");
    mainMeterValue = RoundToPlaces(*value, kPatniPlaces);
}

QTreeWidgetItem* TForm1::AddMeterRow(TMeterRecord record) {
    QTreeWidgetItem* item = MakeMeterItem(std::move(record), meterRows_);
    lvMeters->addTopLevelItem(item);
    return item;
}

// The old rows go at once, without each leaving the row index; the new ones
// are made aside and inserted in one batch while the list does not paint.
void TForm1::ShowMeterRows(const std::vector<TMeterRecord>& listed) {
    auto rows = std::make_shared<TMeterRows>();
    rows->Reserve(listed.size());
    QList<QTreeWidgetItem*> items;
    items.reserve(static_cast<qsizetype>(listed.size()));
    for (const TMeterRecord& record : listed) items.append(MakeMeterItem(record, rows));
    lvMeters->setUpdatesEnabled(false);
    meterRows_->Drop();
    meterRows_ = std::move(rows);
    lvMeters->clear();
    lvMeters->addTopLevelItems(items);
    MeasureContents(listed);
    FitColumns();
    lvMeters->setUpdatesEnabled(true);
}

TMeterRecord TForm1::RecordOf(QTreeWidgetItem* item) const {
    auto* meter = dynamic_cast<TMeterItem*>(item);
    return meter ? meter->Record() : nullptr;
}

// Built when it is shown, so it follows the "Debug" tick.
QString TForm1::lvMetersInfoTip(QTreeWidgetItem* item) const {
    TMeterRecord record = RecordOf(item);
    return record ? Qs(MeterHint(*record, m_Debug->isChecked())) : QString();
}

void TForm1::lvMetersColumnClick(int column) {
    sortColumn = column;
    lvMeters->sortItems(column, Qt::AscendingOrder);
}

void TForm1::lvMetersSelectItem() {
    QList<QTreeWidgetItem*> selected = lvMeters->selectedItems();
    TMeterRecord record = selected.isEmpty() ? nullptr : RecordOf(selected.front());
    if (record) sb->SetText(4, Qs(MeterPanelText(*record)));
}

// The database record is found by the row's serial number as its
// secondary address; the dialog edits it and OK stores it.
void TForm1::Upravit1Click() {
    QList<QTreeWidgetItem*> selected = lvMeters->selectedItems();
    if (selected.isEmpty()) {
        plat::MessageDlg(QStringLiteral("Nejprve zvolte měřidlo."), plat::TMsgDlgType::Error,
                         plat::mbOK, this);
        return;
    }
    TMeterRecord row = RecordOf(selected.front());
    auto record = std::make_shared<TMeterDef>();
    if (!row || !myMeridla || !myMeridla->ReadMeter(row->serialNumber, *record)) return;
    auto* dialog = new Tfmeridla(this, false, record.get());
    connect(dialog, &QDialog::accepted, this, [record] {
        if (myMeridla) myMeridla->EditMeter(*record);
    });
    dialog->open();
}

// The report replaces its earlier file whole, so the adapter allows
// overwriting while the report's workbooks are made; the meters workbook
// writes its file itself, after its own question.
void TForm1::Export1Click() {
    QList<QTreeWidgetItem*> selected = lvMeters->selectedItems();
    TMeterRecord row = selected.isEmpty() ? nullptr : RecordOf(selected.front());
    if (!row) {
        plat::MessageDlg(QStringLiteral("Nejprve zvolte měřidlo."), plat::TMsgDlgType::Error, plat::mbOK, this);
        return;
    }
    dates_->Refresh();
    TUnitReportResult result;
    try {
        const TOverwriting overwriting(*adapter_);
        result = MakeUnitReport(*odecty_, *report_, myConfig->Conf()->dir.progdir, row->flatNumber, dates_->dates,
                                [](const std::string& line) { logWindow->AddLogLine(line); });
    } catch (const std::exception& e) {
        plat::ShowException(e);
        return;
    }
    plat::MessageDlg(Qs(result.message), result.ok ? plat::TMsgDlgType::Information : plat::TMsgDlgType::Error,
                     plat::mbOK, this);
}

// Without a running gateway worker the tick and the level stay as they are.
void TForm1::m_DebugClick() {
    bool ticked = m_Debug->isChecked();
    debugMode = readings_->DebugClick(ticked, debugMode);
    m_Debug->setChecked(ticked);
    myConfig->Conf()->debug = debugMode;
    odecty_->SetDebug(debugMode);
}

void TForm1::mPouzenaobrazovkuClick() {
    onlyOnScreen = !onlyOnScreen;
    mPouzenaobrazovku->setChecked(onlyOnScreen);
}

void TForm1::mShowClick() {
    logWindow->show();
    logWindow->raise();
    logWindow->activateWindow();
}

void TForm1::ApplyComPort(const std::string& name) {
    if (cb_aktodecty->isChecked()) cb_aktodecty->setChecked(false);
    myConfig->Conf()->dir.usbCom = name;
    ShowComPort(name);
    myConfig->SaveUsbCom();
}

// A device path is longer than a COM name: the panel widens for it.
void TForm1::ShowComPort(const std::string& name) {
    sb->FitPanel(2, {Qs(name)});
    sb->SetText(2, Qs(name));
    FitMinimumWidth();
}

// The client area is never narrower than the stored layout, nor than the
// status panels that keep their widths side by side.
void TForm1::FitMinimumWidth() {
    centralWidget()->setMinimumWidth(std::max(kMinClientWidth, sb->FixedWidth()));
}

void TForm1::cb_aktodectyClick() {
    if (!cb_aktodecty->isChecked()) {
        StopReadings();
        return;
    }
    if (lvMeters->topLevelItemCount() == 0) {
        ShowInformation(kNoMeterFile);
        cb_aktodecty->setChecked(false);  // the state change stops the readings
        return;
    }
    readings_->Start(myConfig->Conf()->dir.usbCom, debugMode);
    st_Spusteno->setText(Qs(DateTimeText(plat::Now())));
}

void TForm1::StopReadings() {
    if (refreshThread) refreshThread->StopRefresh();
    readings_->Stop();
}

bool TForm1::PostRowUpdate(TRowUpdate update) { return rowUpdates_->Post(std::move(update)); }

void TForm1::ApplyRowUpdate(const TRowUpdate& update) {
    QTreeWidgetItem* item = meterRows_->First(lvMeters, update.key);
    if (!item) return;
    item->setText(8, Qs(DateTimeText(update.time)));
    item->setText(kValueColumn, Qs(ValueText(update.value)));
}

// The show event comes again at every restore from the notification area;
// the refresh starts at the first only.
void TForm1::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    CenterOnScreen(this);
    refreshThread = new TCheckAndRefresh(lvMeters, sb, this);
    refreshThread->Start();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (closing_) {
        event->accept();
        return;
    }
    int answer = plat::MessageDlg(
        QStringLiteral("Přejete si zcela ukončit odečty ?\nStiskněte Cancel pro minimalizaci."),
        plat::TMsgDlgType::Confirmation, plat::mbOK | plat::mbCancel, this);
    if (answer != plat::mrOk) {
        event->ignore();
        TrayIcon1->MinimizeToTray();
        return;
    }
    // Nothing may reach the window from here on.
    closing_ = true;
    if (refreshThread) refreshThread->Terminate();
    rowUpdates_->Close();
    gatewayStates_->Close();
    logWindow->AddLogLine("Program ukoncen...");
    StopReadings();
    event->accept();
    logWindow->hide();
    QCoreApplication::quit();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lvMeters->viewport() && event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        QString tip = lvMetersInfoTip(lvMeters->itemAt(help->pos()));
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, lvMeters->viewport());
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::SetWorkerFactory(TReadingControl::Factory factory) {
    readings_ = std::make_unique<TReadingControl>(
        std::move(factory), [](const std::string& line) { logWindow->AddLogLine(line); });
}

void TForm1::ShowInformation(const char* text) {
    plat::MessageDlg(QString::fromUtf8(text), plat::TMsgDlgType::Information, plat::mbOK, this);
}

void TForm1::btnReadModulesClick() {
    const char* refusal = readings_->ReadAllRefusal(lvMeters->topLevelItemCount() > 0);
    if (refusal) {
        ShowInformation(refusal);
        if (refusal == kNoMeterFile) cb_aktodecty->setChecked(false);
        return;
    }
    if (!finfo) return;
    finfo->sendReadRequest = [this](int parameter) { SendReadRequest(parameter); };
    finfo->exec();
}

void TForm1::lvMetersDblClick(QTreeWidgetItem* item) {
    TMeterRecord record = RecordOf(item);
    if (!record) return;
    if (const char* refusal = readings_->ReadOneRefusal()) {
        ShowInformation(refusal);
        return;
    }
    SendReadRequestTo(record->rfAddress, kReadRequestParameter);
}

bool TForm1::SendReadRequest(int parameter) { return readings_->SendReadRequest(GatewayRfAddress(), parameter); }

bool TForm1::SendReadRequestTo(const std::string& addressText, int parameter) {
    return readings_->SendReadRequestTo(GatewayRfAddress(), addressText, parameter);
}

void TForm1::ApplyGatewayOnline(bool online) {
    readings_->SetOnline(online);
    sb->SetText(3, online ? QStringLiteral("ONLINE") : QStringLiteral("OFFLINE"));
    btnReadModules->setEnabled(online);
}

linkInterfaces TForm1::LinkSinks() {
    linkInterfaces sinks;
    Tflog* log = log_.get();
    // Shown as it came, then dated and filed.
    sinks.log = [log](std::string line) {
        log->AddMemoLine(line);
        log->AddLogLine(line);
    };
    TMyOdecty* odecty = odecty_.get();
    sinks.reading = [odecty](const std::string& address, int kind, int rssi, double value, int index) {
        odecty->AddReading(address, kind, rssi, value, index);
    };
    sinks.screenOnly = [this] { return onlyOnScreen.load(); };
    sinks.state = [this](gatewayState state) { PostGatewayState(std::move(state)); };
    return sinks;
}

bool TForm1::PostGatewayState(gatewayState state) { return gatewayStates_->Post(std::move(state)); }

// A lost gateway reports no address: the one shown stays, and so do
// panel 3 and the button for an interface that does not show them.
void TForm1::ApplyGatewayState(const gatewayState& state) {
    if (state.rfAddressText) SetGatewayRfAddress(*state.rfAddressText);
    if (state.showsOnline)
        ApplyGatewayOnline(state.online);
    else
        readings_->SetOnline(state.online);
}

void TForm1::Nastavitkomunikaci1Click() {
    if (!fselectserial) return;
    fselectserial->SetPorts(comPortScan ? comPortScan() : std::vector<std::string>(), myConfig->Conf()->dir.usbCom,
                            cb_aktodecty->isChecked());
    if (fselectserial->exec() == QDialog::Accepted) ApplyComPort(fselectserial->ChosenPort());
}

void TForm1::Informace1Click() {
    if (AboutBox) AboutBox->exec();
}

void TForm1::Button1Click() { (new Tfnulove(this))->exec(); }

void TForm1::ZobrazitProvozniClick() { (new TfProvozni(this))->exec(); }
