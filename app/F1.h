// The main window: the meter list, the status bar, the menus and the
// switch that starts and stops the readings.
#pragma once

#include "app/Tmycounters.h"
#include "app/Treadcontrol.h"
#include "gateway/Linkif.h"
#include "platform/qt/HandOff.h"
#include "platform/sys/SysUtils.h"

#include <QMainWindow>
#include <QSize>

#include <atomic>
#include <functional>

#include <memory>
#include <string>
#include <vector>

class QAction;
class QCheckBox;
class QFileDialog;
class QGroupBox;
class QLabel;
class QMenu;
class QPushButton;
class QTimer;
class QTreeWidget;
class QTreeWidgetItem;
class TCheckAndRefresh;
class TMyConfig;
class TMyDates;
class TMeterRows;
class TMyMeridla;
class TMyOdecty;
class Tflog;

namespace kalmira {
class TKalmiraImport;
class TXLSAdapter;
}

namespace plat {
class TStatusBar;
class TTrayIcon;
}  // namespace plat

class TForm1 : public QMainWindow {
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    QTreeWidget* lvMeters;
    plat::TStatusBar* sb;
    QGroupBox* GroupBox1;
    QCheckBox* cb_aktodecty;
    QGroupBox* GroupBox2;
    QLabel* Label1;
    QLabel* st_Spusteno;
    QPushButton* Button1;
    QPushButton* mUlozit;
    QPushButton* btnReadModules;
    QMenu* mSoubor;
    QAction* mLoadFile;
    QAction* mPouzenaobrazovku;
    QAction* Nastavitkomunikaci1;
    QAction* Exit1;
    QMenu* mProvoz;
    QAction* Sta1;
    QAction* Zobrazitdoplkovservisnnformace1;
    QMenu* mLog;
    QAction* mShow;
    QAction* m_Debug;
    QMenu* mAbout;
    QAction* Informace1;
    QMenu* popmenuTable;
    QAction* Odeethned1;
    QAction* Export1;
    QAction* Upravit1;
    plat::TTrayIcon* TrayIcon1;
    // "Excel 1997-2003 (*.xls)"; the program's own dialog, not the desktop's.
    QFileDialog* openDlg;

    int sortColumn = 0;
    // Read by the reading hand-over on the transport's thread.
    std::atomic<bool> onlyOnScreen {false};
    int debugMode = 0;
    TCheckAndRefresh* refreshThread = nullptr;
    QTimer* clientTimer = nullptr;
    double mainMeterValue = 0;

    // UI thread only: the gateway's reports reach it as copies through
    // PostGatewayState.
    const std::string& GatewayRfAddress() const { return gatewayRfAddress_; }
    void SetGatewayRfAddress(const std::string& text) { gatewayRfAddress_ = text; }

    // The meters workbook: the file dialog, then LoadMeterFile.
    void mLoadFileClick();
    // Opens the file and fills the key list and the list from its first
    // sheet.  A file that cannot be opened or read whole changes nothing:
    // its box and log line give the file name and the reason.
    void LoadMeterFile(const std::string& fileName);
    // Where "Uložit tabulku" writes: the file the last good load read.
    const std::string& MeterFileName() const { return meterFile_; }
    // "Uložit tabulku": the readings into the open meters workbook, the main
    // water meter asked, the workbook written back to its file after a Yes.
    void mUlozitClick();
    // The main water meter dialog, also run alone by "Zadat patní vodoměr...":
    // the field shows mainMeterValue; its text when the dialog closes becomes
    // mainMeterValue, rounded to 3 places (a text that is no number raises).
    void MainMeterDialog();

    // The facade that holds the workbook the last load opened, and the
    // adapter that makes its workbook objects.
    kalmira::TKalmiraImport& xls() { return *xls_; }
    kalmira::TXLSAdapter& XLSAdapter1() { return *adapter_; }
    // The facade of the reports, never the meters workbook's.
    kalmira::TKalmiraImport& KalmiraImport() { return *report_; }

    // A list row for the record, with the record as its data.
    QTreeWidgetItem* AddMeterRow(TMeterRecord record);
    TMeterRecord RecordOf(QTreeWidgetItem* item) const;

    QString lvMetersInfoTip(QTreeWidgetItem* item) const;
    void lvMetersColumnClick(int column);
    void lvMetersSelectItem();
    void Upravit1Click();
    // "Deaktivovat ...": the unit report of the selected row's flat for this
    // month, its outcome in a box.
    void Export1Click();
    void m_DebugClick();
    void mPouzenaobrazovkuClick();
    void mShowClick();
    // The chosen COM port: stops the readings, shows and stores the name.
    void ApplyComPort(const std::string& name);
    void StopReadings();

    // Starting and stopping the readings, and the read requests.
    TReadingControl& Readings() { return *readings_; }
    // How the readings make their gateway worker; the program's own is
    // MakeHlavniWorker on the sinks of LinkSinks.
    void SetWorkerFactory(TReadingControl::Factory factory);
    // The gateway link's road into this window: log lines to the log
    // window, readings to their list rows, the state through the hand-off.
    // Every sink may be called on a link thread and never waits for this one.
    linkInterfaces LinkSinks();
    void btnReadModulesClick();
    void lvMetersDblClick(QTreeWidgetItem* item);
    bool SendReadRequest(int parameter);
    bool SendReadRequestTo(const std::string& addressText, int parameter);
    // The gateway state as it reached the UI thread: panel 3, the button.
    void ApplyGatewayOnline(bool online);
    // Any thread; applied on the UI thread even after the worker that
    // reported it is gone (its last word is the OFFLINE of its end), but
    // dropped once the window has begun to close.
    bool PostGatewayState(gatewayState state);
    void ApplyGatewayState(const gatewayState& state);

    // The COM ports present, for the port dialog.
    std::function<std::vector<std::string>()> comPortScan;
    void Nastavitkomunikaci1Click();
    void Informace1Click();
    void Button1Click();
    void ZobrazitProvozniClick();

    // Any thread; dropped once the window has begun to close.
    bool PostRowUpdate(TRowUpdate update);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildForm();
    void BuildList(QWidget* client);
    void PlaceControls(QSize client);
    void MeasureContents(const std::vector<TMeterRecord>& listed);
    void FitColumns();
    void ShowMeterRows(const std::vector<TMeterRecord>& listed);
    std::unique_ptr<kalmira::TKalmiraImport> CopyOfMeterBook();
    void BuildStatusBar();
    void BuildMenus();
    void BuildButtons(QWidget* client);
    void ShowMode();
    void ShowComPort(const std::string& name);
    void FitMinimumWidth();
    void cb_aktodectyClick();
    void ApplyRowUpdate(const TRowUpdate& update);
    void SaveReadingTable();
    void ShowInformation(const char* text);

    std::unique_ptr<Tflog> log_;
    std::unique_ptr<TMyConfig> config_;
    std::unique_ptr<TMyDates> dates_;
    std::unique_ptr<TMyMeridla> meridla_;
    std::unique_ptr<TMeterKeyList> keys_;
    std::unique_ptr<TMyOdecty> odecty_;
    std::shared_ptr<TMeterRows> meterRows_;
    std::unique_ptr<kalmira::TXLSAdapter> adapter_;
    std::unique_ptr<kalmira::TKalmiraImport> xls_;
    std::unique_ptr<kalmira::TKalmiraImport> report_;
    std::unique_ptr<TReadingControl> readings_;
    plat::THandOff<TRowUpdate>* rowUpdates_;
    plat::THandOff<gatewayState>* gatewayStates_;
    std::string gatewayRfAddress_;
    std::string meterFile_;
    // Per list column, the stored width, the width its widest text needs
    // (0: none measured) and the width the operator dragged it to (0: none).
    std::vector<int> storedWidths_;
    std::vector<int> contentWidths_;
    std::vector<int> userWidths_;
    bool fitting_ = false;
    bool shownOnce_ = false;
    bool closing_ = false;
};

extern TForm1* Form1;
