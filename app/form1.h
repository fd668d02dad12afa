#pragma once
// The main window: it owns every control and the single instances of the port,
// the RDM buffers, the device and parameter tables, the DMX universe and the
// settings. Handlers are short and hand the work to the protocol code.
#include "app/rdm_runner.h"
#include "settings/settings_store.h"
#include "dmx/dmx_output.h"
#include "link/enumeration.h"
#include "params/param_desc.h"
#include "params/param_edit.h"
#include "rdm/discovery.h"
#include "rdm/health_watch.h"

#include <QPointer>
#include <QWidget>
#include <array>
#include <atomic>
#include <deque>
#include <functional>
#include <map>
#include <memory>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QShortcut;
class QScrollBar;
class QTabWidget;
class QTimer;
class LogPane;
class PaintBoxWidget;
class PopupComboBox;
class QTableWidget;
class StringGridWidget;
class UpDown;

// What the window runs on; tests hand in the virtual rig and a virtual clock.
struct FormServices {
    SerialApi* serial = nullptr;  // the serial devices (required)
    D2xx* d2xx = nullptr;         // the FTDI devices (required)
    Clock* clock = nullptr;       // default: the system clock
    std::string settingsPath;     // default: the user's config folder
    // RDM work runs on the event thread itself, blocking it as the original did;
    // tests of that behaviour set this.
    bool blockingRuns = false;
};

// What the window asks of the user outside its own controls.
struct FormDialogs {
    std::function<void(const QString&)> showMessage;
    std::function<void()> beep;
    std::function<QString()> askSavePatch;
    std::function<QString()> askOpenPatch;
};

class TForm1 : public QWidget, public LogSink {
    Q_OBJECT
public:
    explicit TForm1(FormServices services, FormDialogs dialogs = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    void FormCreate();
    bool FormCloseQuery();

    void appendLine(const std::string& text) override;
    bool detailed() const override;

    // Window controls.
    QListWidget* ListBox1;
    QPushButton* Button1;
    QPushButton* Button10;
    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QWidget* TabSheet2;
    QWidget* TabSheet3;
    QWidget* TabSheet4;
    QWidget* TabSheet5;  // "Состояние": the rig's health
    QTableWidget* StatusTable = nullptr;
    QTimer* StatusTimer = nullptr;
    LogPane* LogMemo;
    QCheckBox* CheckBoxLog;
    QPushButton* ButtonCLR;
    QTimer* Timer1;
    // The strip right of "Очистить", shown while RDM work runs.
    QLabel* RunLabel;
    QProgressBar* RunProgress;
    QPushButton* ButtonStop;
    // Page "RDM".
    StringGridWidget* StringGrid1;
    StringGridWidget* StringGrid2;
    UpDown* UpDown2;
    QPushButton* Button2;
    QPushButton* Button3;
    QCheckBox* CheckBox12;
    QCheckBox* CheckBoxReadBack;
    // Page "Расстановка".
    PaintBoxWidget* PaintBox1;
    QLabel* Label28;
    QPushButton* Button6;
    QPushButton* Button7;
    QPushButton* Button8;
    QPushButton* Button9;
    // Page "DMX-Tx": ScrollBar1..16 and Label12..27.
    QScrollBar* ScrollBar[16];
    QLabel* FaderLabel[16];
    // Page "Настройки".
    QGroupBox* RadioGroupInterface;
    QButtonGroup* InterfaceItems;
    QListWidget* ListBoxInterfaces;
    QPushButton* ButtonConnect;
    QGroupBox* RadioGroup1;
    QButtonGroup* TimerItems;
    QCheckBox* CheckBoxFastExchange;
    QCheckBox* CheckBoxAllParameters;
    QLineEdit* EditTimeout;
    QLineEdit* EditUniverse;
    QLineEdit* EditPeriod;
    UpDown* UpDownTimeout;
    UpDown* UpDownUnivSize;
    UpDown* UpDownPeriod;

    // The system's single instances.
    InterfacePort port;
    RdmEngine engine;
    DeviceTable devices;
    ParamTable params;
    SettingsRecord settings;
    DmxOutput dmx;
    Discovery discovery;
    SettingsStore settingsStore;
    uint16_t mapPosition = 0;
    std::vector<InterfaceEntry> interfaces;

    // Handlers.
    void PageControl1Change();
    void Timer1Timer();
    void ScrollBarChange(int fader);  // fader 1..16
    void Button1Click();
    void Button10Click();
    void ButtonCLRClick();
    void ListBox1Click();
    void RadioGroupInterfaceClick();
    // Selects the row of the interface the settings name; false, said in the log,
    // when that interface is not attached.
    bool ChooseStoredInterface();
    void ListBoxInterfacesClick();
    void ButtonConnectClick();
    void RadioGroup1Click();
    void CheckBoxFastExchangeClick();
    void CheckBoxAllParametersClick();
    void Button2Click();
    void Button3Click();
    void ResetParamGrid();
    void ShowDeviceInfo(const std::array<std::string, 9>* rows);  // null: the device did not answer
    bool StringGrid1SelectCell(int column, int row) const;
    void StringGrid1Click();
    void StringGrid1KeyDown();
    void StringGrid1Exit();
    void StringGrid2Click();
    void StringGrid2KeyDown();
    void StringGrid2Exit();
    void UpDown2Click(bool upper);
    void PaintBox1Paint(QPainter& painter);
    void PaintBox1MouseMove(Qt::MouseButtons buttons, int x, int y);
    void PaintBox1MouseUp(Qt::MouseButton button, int x, int y);
    void Button6Click();
    void Button7Click();
    void Button8Click();
    void Button9Click();

    // The parameter grid: DEVICE_INFO's nine rows and the software version label
    // come first, then one row per parameter record.
    static constexpr int kFixedParamRows = 10;
    static constexpr int RowOfRecord(int k) { return kFixedParamRows + k; }
    // The parameter record shown in grid row `row`, or null for a fixed row or none.
    RDMPARAMDESC* recordAtRow(int row) { return recordIndex(row) < 0 ? nullptr : &params.records[recordIndex(row)]; }
    const RDMPARAMDESC* recordAtRow(int row) const
    {
        return recordIndex(row) < 0 ? nullptr : &params.records[recordIndex(row)];
    }

    int selectedDevice() const;  // the device list's selected row, -1 for none
    // The listed row of the device whose values the grid holds (its last Get's),
    // to which alone a Set, an Enter or a choice in the grid goes: -1 when the grid
    // holds none or that device is no longer listed.
    int gridDevice() const;
    bool identifying(Uid uid) const;
    Uid gridUid_ = 0;  // whose values the grid holds; 0: nobody's

    // Whether RDM work is queued or in progress; asks it to stop after its exchange.
    bool running() const { return runner_ && runner_->busy(); }
    // Nothing running and nothing asked for that waits to run.
    bool idle() const { return !running() && requests_.empty(); }
    void StopRun();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout();
    void buildRdmPage();
    void buildPatchPage();
    void buildDmxPage();
    void buildSettingsPage();
    void connectHandlers();
    void guarded(const std::function<void()>& handler);
    void onFocusChanged(QWidget* old, QWidget* now);

    // The number boxes of the settings page.
    struct NumberBox {
        QLineEdit* edit;
        UpDown* upDown;
        std::function<void(int)> store;
    };
    NumberBox* numberBoxFor(QObject* edit);
    bool ValidateNumberBox(QLineEdit* edit, int min, int max);
    void CommitNumberBox(NumberBox& box);
    void UpDownClick(NumberBox& box);

    int recordIndex(int row) const;  // -1 for a fixed row or a row past the records
    // A value the device refused: the record and its cell take the device's own.
    void showRefused(const RefusedValue& refused);
    void setDeviceRows(const std::vector<std::string>& rows);

    // RDM work: `job` runs on the worker; `finished` on this thread afterwards.
    void startRun(const QString& what, std::function<void()> job, std::function<void()> finished = {});
    void runEnded();
    // A handler that starts RDM work runs at once when the line is free, or after
    // the work asked for before it, in the order asked.
    void request(std::function<void()> handler);
    // The same on the next turn of the loop, after the rest of the current event.
    void requestSoon(std::function<void()> handler);
    void nextRequest();
    void setRunning(bool running);
    void showProgress(const QString& text, int done, int total);
    RunControl runControl(const QString& unit);
    // Runs `task` on this thread: at once from this thread, queued from the worker.
    void onEventThread(std::function<void()> task);
    void PageControl1Changed();  // the tab signal; defers starting output while a run lasts
    void storeEditorElements();
    void repaintMap();
    int listedDevices() const;  // rows of the device list that have a table entry
    int discoveryTimeout();  // seconds; the number box may change it during a run

    // Every standard parameter shown (the "Все параметры E1.20" setting): the
    // personality drop-down, the device notes behind the map's labels and the list's
    // tool tips, and clicks on the map.
    bool allParameters() const { return settings.AllParameters != 0; }
    struct DeviceNotes {
        std::string label, model;  // UTF-8, from the device's last Get
    };
    std::map<Uid, DeviceNotes> notes_;
    void noteValue(Uid uid, uint16_t pid, const std::string& value);
    void noteModelId(Uid uid, const std::string& modelId);
    void updateDeviceToolTips();
    void commitStandardCell(int row, RDMPARAMDESC& record);
    // Commits a cell's text to the device on the worker (CommitValue and the like)
    // and shows what it returns.
    using CellCommit = std::optional<std::string> (*)(RdmEngine&, Uid, RDMPARAMDESC&, const std::string&, bool);
    void commitCell(int row, int device, const std::string& text, CellCommit commit);
    void showPersonalityEditor(int row);
    bool loadPersonalities();
    void choosePersonality(int index);
    int deviceAtMap(int x, int y) const;
    QString PaintBox1ToolTip(int x, int y) const;
    void PaintBox1MouseDown(Qt::MouseButton button, int x, int y);
    void paintMapLabels(QPainter& painter, int selected);
    PopupComboBox* ComboPersonality = nullptr;

    // The page "Состояние": health rounds on the worker while it is shown.
    std::unique_ptr<HealthWatch> health_;
    void buildStatusPage();
    void StatusPageChange();  // the page shown or left
    void StatusTimerTimer();  // the next round, when the line is free
    void showHealth(const std::vector<DeviceHealth>& devices);
    Uid personalitiesOf_ = 0;  // whose personalities the drop-down lists
    bool mapDragged_ = false;

    FormDialogs dialogs_;
    NumberBox boxes_[3];
    std::map<Uid, bool> identify_;
    std::atomic<bool> detailed_{false};  // the detailed-log switch, read by the worker
    QShortcut* stopKey_ = nullptr;
    QPointer<QWidget> focusBeforeRun_, focusOwnerBeforeRun_;
    bool closePending_ = false;         // closing waits for the run to stop
    bool outputDeferred_ = false;       // the DMX page was chosen during a run
    std::deque<std::function<void()>> requests_;
    bool requestKicked_ = false;
    bool deferRuns_ = false;  // runs asked for now start on the next turn of the loop
    // The worker's own copies, so that it never shares what the window shows.
    ParamTable workParams_;
    DeviceTable workDevices_;
    // Last member: destroyed, and so stopped and joined, before all it uses.
    std::unique_ptr<RdmRunner> runner_;
};
