#pragma once
// The main window: the device list with discovery and identify, the five pages,
// and the log. It owns the one RDM service through which every page reaches the
// line, the settings and the list of devices; its handlers only hand the work
// to the page or the service whose work it is.
#include "app/device_list.h"
#include "app/page_context.h"
#include "app/rdm_service.h"
#include "settings/settings_store.h"

#include <QPointer>
#include <QWidget>
#include <map>
#include <memory>

class QListWidget;
class QPushButton;
class QShortcut;
class QTabWidget;
class LogPanel;
class RdmTab;
class PatchTab;
class DmxTab;
class SettingsTab;
class StatusTab;

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

class TForm1 : public QWidget {
    Q_OBJECT
public:
    explicit TForm1(FormServices services, FormDialogs dialogs = {}, QWidget* parent = nullptr);
    ~TForm1() override;

    void FormCreate();
    bool FormCloseQuery();

    // The device list and the buttons under it.
    QListWidget* ListBox1;
    QPushButton* Button1;   // "Обнаруж."
    QPushButton* Button10;  // "Идентиф."
    QTabWidget* PageControl1;
    RdmTab* TabSheet1;       // "RDM"
    PatchTab* TabSheet2;     // "Расстановка"
    DmxTab* TabSheet3;       // "DMX-Tx"
    SettingsTab* TabSheet4;  // "Настройки"
    StatusTab* TabSheet5;    // "Состояние"
    LogPanel* LogPanel1;     // the log, "Подробный лог", "Очистить" and the run strip

    SettingsRecord settings;
    DeviceList devices;  // the rows of ListBox1
    RdmService& service() { return *service_; }

    void PageControl1Change();
    void Button1Click();
    void Button10Click();
    void ButtonCLRClick();
    void ListBox1Click();
    void StopRun();
    void appendLine(const std::string& text);  // a line of the log, from this thread

    // The line is busy, or work waits for it.
    bool running() const { return service_->busy(); }
    bool idle() const { return !service_->busy(); }
    bool identifying(Uid uid) const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildLayout();
    void connectHandlers();
    void guarded(const std::function<void()>& handler);
    void onFocusChanged(QWidget* old, QWidget* now);
    void setRunning(bool running);
    void PageControl1Changed();  // the tab signal; defers starting output while a run lasts
    void selectDevice(int row);

    FormDialogs dialogs_;
    SettingsStore settingsStore_;
    std::map<Uid, bool> identify_;
    QShortcut* stopKey_ = nullptr;
    QPointer<QWidget> focusBeforeRun_;
    bool focusTaken_ = false;      // a run's lock took the focus from its control
    bool closePending_ = false;    // closing waits for the run to stop
    bool outputDeferred_ = false;  // the DMX page was chosen during a run
    // Last member: stopped and joined before the window's parts go.
    std::unique_ptr<RdmService> service_;
};
