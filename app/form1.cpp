#include "app/form1.h"

#include "app/control_layout.h"
#include "app/device_text.h"
#include "app/dmx_tab.h"
#include "app/guarded.h"
#include "app/log_pane.h"
#include "app/log_panel.h"
#include "app/patch_tab.h"
#include "params/param_grid.h"
#include "app/rdm_tab.h"
#include "app/settings_tab.h"
#include "app/status_tab.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTabWidget>
#include <stdexcept>

using namespace layout;

namespace {

template <typename T> T& Required(T* service, const char* what)
{
    if (!service)
        throw std::invalid_argument(std::string("the window needs ") + what);
    return *service;
}


constexpr int kDmxPage = 2;
constexpr int kStatusPage = 4;
constexpr auto kPatchFilter = "Patchfile (*.pat)";
constexpr auto kPatchDialogOptions = QFileDialog::HideNameFilterDetails;

constexpr auto kBackupFilter = "Vantrell backup (*.json)";

QString AddSuffix(QString path, const char* suffix)
{
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += suffix;
    return path;
}
QString AddPatchSuffix(QString path) { return AddSuffix(std::move(path), ".pat"); }

} // namespace

TForm1::TForm1(FormServices services, FormDialogs dialogs, QWidget* parent)
    : QWidget(parent),
      ListBox1(new QListWidget(this)),
      devices(ListBox1),
      dialogs_(std::move(dialogs)),
      settingsStore_(services.settingsPath)
{
    if (!dialogs_.showMessage)
        dialogs_.showMessage = [this](const QString& text) { QMessageBox::critical(this, windowTitle(), text); };
    if (!dialogs_.beep)
        dialogs_.beep = [] { QApplication::beep(); };
    if (!dialogs_.askSavePatch)
        dialogs_.askSavePatch = [this] {
            return AddPatchSuffix(QFileDialog::getSaveFileName(this, QString(), QString(), kPatchFilter, nullptr,
                                                               kPatchDialogOptions | QFileDialog::DontConfirmOverwrite));
        };
    if (!dialogs_.confirm)
        dialogs_.confirm = [this](const QString& question) {
            return QMessageBox::question(this, windowTitle(), question) == QMessageBox::Yes;
        };
    if (!dialogs_.askOpenPatch)
        dialogs_.askOpenPatch = [this] {
            return AddPatchSuffix(
                QFileDialog::getOpenFileName(this, QString(), QString(), kPatchFilter, nullptr, kPatchDialogOptions));
        };
    if (!dialogs_.askSaveBackup)
        dialogs_.askSaveBackup = [this] {
            return AddSuffix(QFileDialog::getSaveFileName(this, QString(), QString(), kBackupFilter, nullptr,
                                                          kPatchDialogOptions),
                             ".json");
        };
    if (!dialogs_.askOpenBackup)
        dialogs_.askOpenBackup = [this] {
            return QFileDialog::getOpenFileName(this, QString(), QString(), kBackupFilter, nullptr, kPatchDialogOptions);
        };
    ServiceEvents events;
    events.log = [this](const std::string& text) {
        // What came from a device is in it too: its control characters are shown, not obeyed.
        LogPanel1->LogMemo->appendText(VisibleControls(QString::fromUtf8(text), true));
    };
    events.running = [this](bool running) { setRunning(running); };
    events.progress = [this](const std::string& what, int done, int total) {
        LogPanel1->showProgress(QString::fromStdString(what), done, total);
    };
    events.failed = [this](const std::string& error) { dialogs_.showMessage(QString::fromUtf8(error)); };
    service_ = std::make_unique<RdmService>(
        Required(services.serial, "a serial-port service"), Required(services.d2xx, "the D2XX calls"),
        services.clock ? *services.clock : SystemClock::instance(), !services.blockingRuns, this, std::move(events));
    buildLayout();
    service_->port().PortInit();
    connectHandlers();
    FormCreate();
}

TForm1::~TForm1()
{
    // The command in progress ends after its exchange; nothing it posts arrives any more.
    service_->shutDown();
    // Child widgets lose the focus while they are destroyed; this part is gone by then.
    disconnect(qApp, nullptr, this, nullptr);
    // No DMX tick may run against a line that is going away, and the pages go
    // while all they use is still here.
    TabSheet3->stopOutput();
    PageControl1->blockSignals(true);
    delete PageControl1;
}

void TForm1::guarded(const std::function<void()>& handler) { RunGuarded(handler, dialogs_.showMessage); }

void TForm1::appendLine(const std::string& text) { service_->appendLine(text); }

void TForm1::buildLayout()
{
    setWindowTitle(QString::fromUtf8("  Vantrell v2.5a [www.vantrell.net]"));
    setFixedSize(653, 590);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowCloseButtonHint | Qt::WindowTitleHint);
    move(580, 136);
    setFont(SansFont(11));

    Place(ListBox1, 8, 8, 161, 345, "ListBox1");
    ListBox1->setToolTip("Devices");
    ListBox1->setFont(MonoFont(12, true));
    ListBox1->setUniformItemSizes(true);
    ListBox1->setStyleSheet("QListWidget::item { height: 16px; }");
    Button1 = Button(this, "Button1", "Обнаруж.", 8, 360, 75, 25);
    Button10 = Button(this, "Button10", "Идентиф.", 94, 360, 75, 25);

    const PageContext context{*service_, devices, settings, dialogs_,
                              [this](const std::function<void()>& handler) { guarded(handler); },
                              [this](int row) { selectDevice(row); }};
    PageControl1 = Place(new QTabWidget(this), 176, 8, 457, 385, "PageControl1");
    TabSheet1 = new RdmTab(context);
    TabSheet2 = new PatchTab(context);
    TabSheet3 = new DmxTab(context);
    TabSheet4 = new SettingsTab(context);
    TabSheet5 = new StatusTab(context);
    PageControl1->addTab(TabSheet1, "RDM");
    PageControl1->addTab(TabSheet2, QString::fromUtf8("Расстановка"));
    PageControl1->addTab(TabSheet3, "DMX-Tx");
    PageControl1->addTab(TabSheet4, QString::fromUtf8("Настройки"));
    PageControl1->addTab(TabSheet5, QString::fromUtf8("Состояние"));
    TabSheet3->period = [this] { return TabSheet4->periodShown(); };
    TabSheet4->allParametersChanged = [this] { devices.updateToolTips(settings.AllParameters != 0); };
    devices.changed = [this] { TabSheet2->repaintMap(); };

    LogPanel1 = new LogPanel(this);
}

void TForm1::connectHandlers()
{
    auto on = [this](auto* sender, auto signal, std::function<void()> handler) {
        connect(sender, signal, this, [this, handler] { guarded(handler); });
    };
    on(Button1, &QPushButton::clicked, [this] { Button1Click(); });
    on(Button10, &QPushButton::clicked, [this] { Button10Click(); });
    on(LogPanel1->ButtonCLR, &QPushButton::clicked, [this] { ButtonCLRClick(); });
    on(PageControl1, &QTabWidget::currentChanged, [this] { PageControl1Changed(); });
    on(LogPanel1->ButtonStop, &QPushButton::clicked, [this] { StopRun(); });
    on(ListBox1, &QListWidget::itemClicked, [this] { ListBox1Click(); });
    stopKey_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    stopKey_->setEnabled(false);
    connect(stopKey_, &QShortcut::activated, this, [this] { StopRun(); });
    connect(LogPanel1->CheckBoxLog, &QCheckBox::toggled, this, [this](bool on) { service_->setDetailedLog(on); });
    ListBox1->installEventFilter(this);
    connect(qApp, &QApplication::focusChanged, this, &TForm1::onFocusChanged);
}

// --- start and close ---

void TForm1::FormCreate()
{
    guarded([this] {
        service_->engine().SetupRequestHeader();
        devices.ClearUids();
        TabSheet3->dmx.ZeroUniverse();
        TabSheet2->mapPosition = 0;
        TabSheet1->ResetParamGrid();
        try {
            settingsStore_.Load(settings);
        } catch (const SettingsError& e) {
            // Said, then start-up goes on with every value that could be read.
            dialogs_.showMessage(QString::fromUtf8(e.what()));
        }
        service_->port().setKind(settings.InterfaceType);
        TabSheet4->showSettings();
        const bool attached = TabSheet4->ChooseStoredInterface();
        {
            QSignalBlocker block(PageControl1);
            PageControl1->setCurrentIndex(
                settings.TabIndex >= 0 && settings.TabIndex < SettingsBounds::kPages ? settings.TabIndex : 0);
        }
        if (attached) {
            TabSheet4->ListBoxInterfacesClick();
            TabSheet4->ButtonConnectClick();
        }
        PageControl1Change();
    });
}

bool TForm1::FormCloseQuery()
{
    TabSheet4->storeChoice();
    try {
        settingsStore_.Save(settings);
    } catch (const SettingsError& e) {
        dialogs_.showMessage(QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (running()) {
        // No exchange is cut off: the work stops after its current one, what waits
        // is dropped, then the window closes.
        closePending_ = true;
        service_->stopAll();
        event->ignore();
        return;
    }
    closePending_ = false;
    if (FormCloseQuery()) {
        TabSheet3->stopOutput();
        event->accept();
    } else {
        event->ignore();
    }
}

void TForm1::ButtonCLRClick() { LogPanel1->LogMemo->clear(); }

// --- the line busy ---

void TForm1::StopRun() { service_->stop(); }

void TForm1::setRunning(bool running)
{
    if (running) {
        // A disabled control hands its focus on to the next one; the Stop button
        // holds it instead, and it goes back where it was when the work ends.
        focusBeforeRun_ = QApplication::focusWidget();
    }
    for (QWidget* w : std::initializer_list<QWidget*>{Button1, Button10})
        w->setEnabled(!running);
    TabSheet1->setLocked(running);
    TabSheet2->setLocked(running);
    TabSheet4->setLocked(running);
    LogPanel1->showRunning(running);
    stopKey_->setEnabled(running);
    if (running) {
        focusTaken_ = focusBeforeRun_ && !focusBeforeRun_->isEnabled();
        if (focusTaken_)
            LogPanel1->ButtonStop->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (focusTaken_ && focusBeforeRun_)
        focusBeforeRun_->setFocus(Qt::OtherFocusReason);
    focusTaken_ = false;
    if (outputDeferred_) {
        outputDeferred_ = false;
        guarded([this] { PageControl1Change(); });
    }
    if (closePending_)
        close();
}

// --- pages and output ---

void TForm1::PageControl1Changed()
{
    // While the line is busy the DMX page starts no output; the end of the work decides.
    if (running() && PageControl1->currentIndex() == kDmxPage) {
        settings.TabIndex = kDmxPage;
        outputDeferred_ = true;
        return;
    }
    PageControl1Change();
}

void TForm1::PageControl1Change()
{
    outputDeferred_ = false;
    const int page = PageControl1->currentIndex();
    settings.TabIndex = page;
    TabSheet5->StatusPageChange(page == kStatusPage);
    if (page == kDmxPage)
        TabSheet3->startOutput();
    else
        TabSheet3->stopOutput();
}

// --- discovery and the device list ---

void TForm1::Button1Click()
{
    // The list is made anew: values read before are no longer current.
    TabSheet1->clearForNewList();
    DiscoveryEvents events;
    events.stopOutput = [this] { TabSheet3->stopOutput(); };
    events.resumeOutput = [this] { guarded([this] { PageControl1Change(); }); };
    events.cleared = [this] { devices.clearRows(); };
    events.found = [this](Uid uid) { devices.addRow(uid); };
    service_->discover(std::move(events), [this](const DiscoveryVerdict& verdict) {
        TabSheet2->repaintMap();
        if (!verdict.cutShort || verdict.setAside)
            return;  // when replies could not be resolved, more time would not help
        appendLine("Таймаут обнаружения можно увеличить на странице «Настройки».");
        // The fixed waits take several times as long for the same search.
        if (!service_->fastExchange())
            appendLine("С фиксированными ожиданиями поиск идёт в несколько раз дольше: на странице «Настройки» "
                       "можно включить «Быстрый обмен».");
    });
}

void TForm1::ListBox1Click()
{
    if (PageControl1->currentIndex() == 0)
        TabSheet1->Button2Click();
    else if (PageControl1->currentIndex() == 1)
        TabSheet2->deviceSelected();
}

void TForm1::selectDevice(int row)
{
    if (row < 0) {
        ListBox1->setCurrentRow(-1);
        ListBox1->clearSelection();
        return;
    }
    ListBox1->setCurrentRow(row);
    ListBox1Click();
}

bool TForm1::identifying(Uid uid) const
{
    auto it = identify_.find(uid);
    return it != identify_.end() && it->second;
}

void TForm1::Button10Click()
{
    const int row = devices.selected();
    if (row < 0)
        return;
    const Uid uid = devices.entries[row].uid;
    const bool on = !identifying(uid);
    identify_[uid] = on;
    service_->identify(uid, on);
}

// --- the keyboard and the focus ---

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ListBox1 && event->type() == QEvent::KeyRelease &&
        IsListNavigationKey(static_cast<QKeyEvent*>(event)->key()))
        guarded([this] { ListBox1Click(); });
    return QWidget::eventFilter(watched, event);
}

void TForm1::onFocusChanged(QWidget* old, QWidget* now)
{
    // Only a move to another control of this window leaves a grid: not the
    // application losing the focus, nor a message box or popup taking it.
    if (!now || now->window() != window() || running())
        return;
    auto inside = [](QWidget* w, QWidget* container) { return w && (w == container || container->isAncestorOf(w)); };
    RdmTab& rdm = *TabSheet1;
    if (inside(old, rdm.StringGrid1) && !inside(now, rdm.StringGrid1))
        guarded([&rdm] { rdm.StringGrid1Exit(); });
    if (inside(old, rdm.StringGrid2) && !inside(now, rdm.StringGrid2) && rdm.StringGrid2->isVisible())
        guarded([&rdm] { rdm.StringGrid2Exit(); });
}
