#include "app/form1.h"

#include "app/device_text.h"
#include "app/guarded.h"
#include "app/log_pane.h"
#include "app/up_down.h"
#include "link/interface_kinds.h"
#include "params/int_parse.h"
#include "params/param_grid.h"
#include "rdm/device_info.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimer>
#include <atomic>
#include <stdexcept>

namespace {

template <typename T> T& Required(T* service, const char* what)
{
    if (!service)
        throw std::invalid_argument(std::string("the window needs ") + what);
    return *service;
}

// Keys that move the current row of a list, as a click on the new row would.
bool IsListNavigationKey(int key)
{
    switch (key) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: return true;
    default: return false;
    }
}

// Focus that leaves because another window (a message box, a popup, another
// program) became active is not the user moving on to another control.
bool LeavesForAnotherWindow(const QFocusEvent* event)
{
    return event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason;
}

constexpr auto kPatchFilter = "Patchfile (*.pat)";
constexpr auto kPatchDialogOptions = QFileDialog::HideNameFilterDetails;

QString AddPatchSuffix(QString path)
{
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
        path += ".pat";
    return path;
}

} // namespace

TForm1::TForm1(FormServices services, FormDialogs dialogs, QWidget* parent)
    : QWidget(parent),
      port(Required(services.serial, "a serial-port service"), Required(services.d2xx, "the D2XX calls")),
      engine(port, services.clock ? *services.clock : SystemClock::instance(), *this),
      dmx(port, settings.UniverseSize),
      discovery(engine, devices,
                DiscoveryHooks{
                    [this] {
                        onEventThread([this] {
                            Timer1->stop();
                            dmx.DmxTimerStop();
                        });
                    },
                    [this] { onEventThread([this] { PageControl1Change(); }); },
                    [this] { onEventThread([this] { setDeviceRows({}); }); },
                    [this](const std::string& row) {
                        onEventThread([this, row] { ListBox1->addItem(QString::fromStdString(row)); });
                    },
                    [this] { return discoveryTimeout(); },
                    [this] { return runner_->stopRequested(); },
                    [this](int found, uint32_t elapsedMs) {
                        const int timeout = discoveryTimeout();
                        onEventThread([this, found, elapsedMs, timeout] {
                            showProgress(QString::asprintf("Обнаружение: найдено %d, %u из %d с", found,
                                                           elapsedMs / 1000, timeout),
                                         int(elapsedMs / 100), timeout * 10);
                        });
                    }}),
      settingsStore(services.settingsPath),
      dialogs_(std::move(dialogs))
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
    if (!dialogs_.askOpenPatch)
        dialogs_.askOpenPatch = [this] {
            return AddPatchSuffix(
                QFileDialog::getOpenFileName(this, QString(), QString(), kPatchFilter, nullptr, kPatchDialogOptions));
        };
    buildLayout();
    port.PortInit();
    // The high-resolution tick runs on its own thread; the log belongs to this one.
    dmx.onHighResFailure = [this](const std::string& text) {
        QMetaObject::invokeMethod(this, [this, text] { appendLine(text); }, Qt::QueuedConnection);
    };
    runner_ = std::make_unique<RdmRunner>(!services.blockingRuns, [this](RdmRunner::Task task) {
        QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
    });
    connectHandlers();
    FormCreate();
}

TForm1::~TForm1()
{
    // The run in progress ends after its exchange; nothing it posts arrives any more.
    runner_->shutDown();
    // Child widgets lose the focus while they are destroyed; this part is gone by then.
    disconnect(qApp, nullptr, this, nullptr);
    // No DMX tick may run against a window that is going away.
    dmx.DmxTimerStop();
    dmx.onHighResFailure = nullptr;
    Timer1->stop();
}

void TForm1::guarded(const std::function<void()>& handler) { RunGuarded(handler, dialogs_.showMessage); }

void TForm1::appendLine(const std::string& text)
{
    // Lines written by a run reach the pane in order, as they are written.
    // What came from a device is in it too: its control characters are shown, not obeyed.
    onEventThread([this, text] { LogMemo->appendText(VisibleControls(QString::fromUtf8(text), true)); });
}

bool TForm1::detailed() const { return detailed_.load(); }

void TForm1::onEventThread(std::function<void()> task)
{
    if (runner_ && runner_->onWorker())
        QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
    else
        task();
}

// --- RDM runs ---

void TForm1::startRun(const QString& what, std::function<void()> job, std::function<void()> finished)
{
    // One run at a time: one asked for during another waits for its turn.
    if (deferRuns_ || running()) {
        auto later = [this, what, job, finished] { startRun(what, job, finished); };
        if (deferRuns_)
            requestSoon(later);
        else
            request(later);
        return;
    }
    setRunning(true);
    showProgress(what.isEmpty() ? QString::fromUtf8("Обмен с устройством") : what, 0, 0);
    runner_->start(
        std::move(job),
        [this, finished = std::move(finished)] {
            if (finished)
                guarded(finished);
            runEnded();
        },
        [this](const std::string& error) {
            dialogs_.showMessage(QString::fromUtf8(error));
            runEnded();
        });
}

void TForm1::runEnded()
{
    if (running())
        return;  // the finished step started the next run (a Read Back)
    setRunning(false);
    if (outputDeferred_) {
        outputDeferred_ = false;
        guarded([this] { PageControl1Change(); });
    }
    if (closePending_) {
        requests_.clear();
        close();
        return;
    }
    nextRequest();
}

void TForm1::request(std::function<void()> handler)
{
    requests_.push_back(std::move(handler));
    nextRequest();
}

void TForm1::requestSoon(std::function<void()> handler)
{
    requests_.push_back(std::move(handler));
    if (requestKicked_)
        return;
    requestKicked_ = true;
    QTimer::singleShot(0, this, [this] {
        requestKicked_ = false;
        nextRequest();
    });
}

void TForm1::nextRequest()
{
    // A request asked for from a focus change waits for its turn of the loop.
    while (!running() && !requestKicked_ && !requests_.empty()) {
        std::function<void()> handler = std::move(requests_.front());
        requests_.pop_front();
        guarded(handler);
    }
}

int TForm1::discoveryTimeout()
{
    return std::atomic_ref<int32_t>(settings.discoTimeout).load(std::memory_order_relaxed);
}

void TForm1::StopRun()
{
    if (running())
        runner_->requestStop();
}

RunControl TForm1::runControl(const QString& unit)
{
    RunControl control;
    control.stopRequested = [this] { return runner_->stopRequested(); };
    control.progress = [this, unit](int done, int total) {
        onEventThread([this, unit, done, total] {
            showProgress(QString("%1 %2 из %3").arg(unit).arg(done).arg(total), done, total);
        });
    };
    return control;
}

void TForm1::showProgress(const QString& text, int done, int total)
{
    RunLabel->setText(text);
    RunProgress->setRange(0, total);  // 0 of 0: the bar only shows that work goes on
    RunProgress->setValue(done);
}

void TForm1::setRunning(bool running)
{
    QWidget* const locked[] = {ListBox1, Button1, Button10, Button2,       Button3,           UpDown2,
                               Button6,  Button7, Button8,  Button9,       ButtonConnect,     ListBoxInterfaces,
                               RadioGroupInterface, CheckBoxFastExchange, CheckBoxAllParameters};
    // The grids keep the focus they have (leaving one would commit it) but take no edits.
    for (StringGridWidget* grid : {StringGrid1, StringGrid2})
        grid->setEditingAllowed(!running);
    RunLabel->setVisible(running);
    RunProgress->setVisible(running);
    ButtonStop->setVisible(true);
    if (running) {
        // A disabled control hands its focus on to the next one; the Stop button
        // holds it instead, and it goes back where it was when the run ends.
        focusBeforeRun_ = QApplication::focusWidget();
        focusOwnerBeforeRun_ = nullptr;
        for (QWidget* w : locked)
            if (focusBeforeRun_ && (w == focusBeforeRun_ || w->isAncestorOf(focusBeforeRun_)))
                focusOwnerBeforeRun_ = w;
        if (focusOwnerBeforeRun_)
            ButtonStop->setFocus(Qt::OtherFocusReason);
    }
    for (QWidget* w : locked)
        w->setEnabled(!running);
    if (!running) {
        QWidget* back = focusBeforeRun_ ? focusBeforeRun_.data() : focusOwnerBeforeRun_.data();
        if (back && focusOwnerBeforeRun_)
            back->setFocus(Qt::OtherFocusReason);
        ButtonStop->setVisible(false);
    }
    stopKey_->setEnabled(running);
    for (QWidget* page : {TabSheet1, TabSheet2, TabSheet3, TabSheet4}) {
        if (running)
            page->setCursor(Qt::BusyCursor);
        else
            page->unsetCursor();
    }
}

int TForm1::selectedDevice() const
{
    const int row = ListBox1->currentRow();
    if (row < 0 || row >= ListBox1->count() || !ListBox1->item(row)->isSelected())
        return -1;
    return row < DeviceTable::kCapacity ? row : -1;
}

int TForm1::gridDevice() const
{
    if (gridUid_ == 0)
        return -1;
    for (int i = 0; i < DeviceTable::kCapacity && i < ListBox1->count(); ++i)
        if (devices.entries[i].uid == gridUid_)
            return i;
    return -1;
}

void TForm1::setDeviceRows(const std::vector<std::string>& rows)
{
    QSignalBlocker block(ListBox1);
    ListBox1->clear();
    for (const std::string& row : rows)
        ListBox1->addItem(QString::fromStdString(row));
    ListBox1->setCurrentRow(-1);
}

void TForm1::FormCreate()
{
    guarded([this] {
        engine.SetupRequestHeader();
        devices.ClearUids();
        dmx.ZeroUniverse();
        mapPosition = 0;
        ResetParamGrid();
        try {
            settingsStore.Load(settings);
        } catch (const SettingsError& e) {
            // Said, then start-up goes on with every value that could be read.
            dialogs_.showMessage(QString::fromUtf8(e.what()));
        }
        port.kind = settings.InterfaceType;
        UpDownUnivSize->setPosition(settings.UniverseSize);
        EditUniverse->setText(QString::number(settings.UniverseSize));
        UpDownPeriod->setPosition(settings.DMXPeriod);
        EditPeriod->setText(QString::number(settings.DMXPeriod));
        UpDownTimeout->setPosition(settings.discoTimeout);
        EditTimeout->setText(QString::number(settings.discoTimeout));
        if (QAbstractButton* b = TimerItems->button(settings.TimerType))
            b->setChecked(true);
        CheckBoxFastExchange->setChecked(settings.FastExchange != 0);
        CheckBoxFastExchangeClick();
        CheckBoxAllParameters->setChecked(settings.AllParameters != 0);
        if (QAbstractButton* b = InterfaceItems->button(settings.InterfaceType))
            b->setChecked(true);
        RadioGroupInterfaceClick();
        const bool attached = ChooseStoredInterface();
        {
            QSignalBlocker block(PageControl1);
            PageControl1->setCurrentIndex(
                settings.TabIndex >= 0 && settings.TabIndex < SettingsBounds::kPages ? settings.TabIndex : 0);
        }
        if (attached) {
            ListBoxInterfacesClick();
            ButtonConnectClick();
        }
        PageControl1Change();
    });
}

bool TForm1::FormCloseQuery()
{
    const int row = ListBoxInterfaces->currentRow();
    settings.InterfaceSelection =
        (row >= 0 && ListBoxInterfaces->item(row) && ListBoxInterfaces->item(row)->isSelected()) ? row : -1;
    // With no row chosen, the interface named before is still the one wanted.
    if (settings.InterfaceSelection >= 0 && settings.InterfaceSelection < int(interfaces.size()))
        settings.InterfaceName = interfaces[size_t(settings.InterfaceSelection)].text;
    try {
        settingsStore.Save(settings);
    } catch (const SettingsError& e) {
        dialogs_.showMessage(QString::fromUtf8(e.what()));
        return false;
    }
    return true;
}

void TForm1::closeEvent(QCloseEvent* event)
{
    if (running()) {
        // No exchange is cut off: the run stops after its current one, then the
        // window closes.
        closePending_ = true;
        runner_->requestStop();
        event->ignore();
        return;
    }
    closePending_ = false;
    if (FormCloseQuery()) {
        dmx.DmxTimerStop();
        event->accept();
    } else {
        event->ignore();
    }
}

void TForm1::ButtonCLRClick() { LogMemo->clear(); }

// --- interface choice ---

void TForm1::RadioGroupInterfaceClick()
{
    port.PortClose();
    const int kind = InterfaceItems->checkedId();
    port.kind = int8_t(kind);
    settings.InterfaceType = int8_t(kind);
    port.ListInterfaces(interfaces);
    if (!port.listNote.empty())
        appendLine("Виртуальные линии не показаны: " + port.listNote);
    ListBoxInterfaces->clear();
    for (const InterfaceEntry& e : interfaces)
        ListBoxInterfaces->addItem(QString::fromStdString(e.text));
    if (ListBoxInterfaces->count() > 0)
        ListBoxInterfaces->setCurrentRow(0);
}

bool TForm1::ChooseStoredInterface()
{
    if (settings.InterfaceName.empty()) {
        // Settings from before the text was kept: the row, as it always was.
        ListBoxInterfaces->setCurrentRow(ListBoxInterfaces->count() > settings.InterfaceSelection
                                             ? settings.InterfaceSelection
                                             : 0);
        return true;
    }
    const int row = ChooseInterfaceRow(settings.InterfaceType, interfaces, std::string(), settings.InterfaceSelection,
                                       settings.InterfaceName);
    if (row >= 0) {
        ListBoxInterfaces->setCurrentRow(row);
        return true;
    }
    // Another device in its row is not opened in its place: the user chooses.
    ListBoxInterfaces->setCurrentRow(-1);
    ListBoxInterfaces->clearSelection();
    appendLine("Сохранённый интерфейс не подключён: " + settings.InterfaceName +
               ". Выберите интерфейс в списке и нажмите \"Подключить\".");
    return false;
}

void TForm1::ListBoxInterfacesClick()
{
    const int row = ListBoxInterfaces->currentRow();
    if (row < 0 || row >= int(interfaces.size()) || !ListBoxInterfaces->item(row)->isSelected())
        return;
    port.ChooseInterface(interfaces[size_t(row)]);
}

void TForm1::ButtonConnectClick()
{
    port.PortClose();
    engine.resetLateMargin();  // the wait belongs to the interface
    const bool opened = port.PortOpen() == 1;
    appendLine(opened ? status_text::kInterfaceReady : status_text::kInterfaceError);
    if (!opened && !port.refusal.empty())
        appendLine(port.refusal);
}

// --- DMX output ---

void TForm1::PageControl1Changed()
{
    // During a run the DMX page starts no output; the run's end decides.
    if (running() && PageControl1->currentIndex() == 2) {
        settings.TabIndex = 2;
        outputDeferred_ = true;
        return;
    }
    PageControl1Change();
}

void TForm1::PageControl1Change()
{
    outputDeferred_ = false;
    settings.TabIndex = PageControl1->currentIndex();
    StatusPageChange();
    if (PageControl1->currentIndex() != 2) {
        Timer1->stop();
        dmx.DmxTimerStop();
        return;
    }
    const int period = StrToInt(EditPeriod->text().toStdString());
    const uint64_t frameUs = DmxOutput::FrameUs(std::min<int>(settings.UniverseSize, DmxOutput::kMaxSlots));
    if (uint64_t(period) * 1000 < frameUs && (settings.TimerType == 0 || settings.TimerType == 1))
        appendLine("Период " + std::to_string(period) + " мс короче кадра DMX из " +
                   std::to_string(settings.UniverseSize) + " каналов (" + std::to_string((frameUs + 999) / 1000) +
                   " мс на линии): кадры идут подряд, не чаще.");
    if (settings.TimerType == 0) {
        Timer1->setInterval(period);
        Timer1->start();
    } else if (settings.TimerType == 1) {
        dmx.DmxTimerStart(period);
    }
}

void TForm1::Timer1Timer()
{
    if (dmx.SendFrame() == 0) {
        appendLine(status_text::kInterfaceError);
        Timer1->stop();
    }
}

void TForm1::ScrollBarChange(int fader)
{
    const int level = 255 - ScrollBar[fader - 1]->value();
    dmx.SetSlot(fader, uint8_t(level));
    FaderLabel[fader - 1]->setText(QString::asprintf("%i", level));
}

void TForm1::RadioGroup1Click() { settings.TimerType = TimerItems->checkedId(); }

void TForm1::CheckBoxFastExchangeClick()
{
    settings.FastExchange = CheckBoxFastExchange->isChecked() ? 1 : 0;
    // Taken by the next exchange; one that runs now finishes as it began.
    engine.setFastExchange(settings.FastExchange != 0);
}

// --- discovery and the device list ---

void TForm1::Button1Click()
{
    // Output stops here, on the thread that owns the timers, before the run starts.
    Timer1->stop();
    dmx.DmxTimerStop();
    // The list is made anew: values read before are no longer current.
    params.count = 0;
    ResetParamGrid();
    startRun(QString::fromUtf8("Обнаружение"), [this] { discovery.Run(); });
}

void TForm1::ListBox1Click()
{
    if (PageControl1->currentIndex() == 0) {
        Button2Click();
    } else if (PageControl1->currentIndex() == 1) {
        const int row = selectedDevice();
        if (row < 0)
            return;
        mapPosition = devices.entries[row].startIndex;
        repaintMap();
    }
}

bool TForm1::identifying(Uid uid) const
{
    auto it = identify_.find(uid);
    return it != identify_.end() && it->second;
}

void TForm1::Button10Click()
{
    const int row = selectedDevice();
    if (row < 0)
        return;
    const Uid uid = devices.entries[row].uid;
    const bool on = !identifying(uid);
    identify_[uid] = on;
    startRun(QString(), [this, uid, on] { SetIdentify(engine, uid, on); });
}

// --- settings page ---

TForm1::NumberBox* TForm1::numberBoxFor(QObject* edit)
{
    for (NumberBox& box : boxes_)
        if (box.edit == edit)
            return &box;
    return nullptr;
}

bool TForm1::ValidateNumberBox(QLineEdit* edit, int min, int max)
{
    if (edit->text().isEmpty())
        edit->setText(QString::number(min));
    const int32_t value = StrToInt(edit->text().toStdString());
    const int32_t clamped = value < min ? min : value > max ? max : value;
    edit->setText(QString::number(clamped));
    const bool inRange = clamped == value;
    if (!inRange)
        dialogs_.beep();
    return inRange;
}

void TForm1::CommitNumberBox(NumberBox& box)
{
    ValidateNumberBox(box.edit, box.upDown->minimum(), box.upDown->maximum());
    box.upDown->setPosition(StrToInt(box.edit->text().toStdString()));
    box.store(box.upDown->position());
}

void TForm1::UpDownClick(NumberBox& box)
{
    box.edit->setText(QString::number(box.upDown->position()));
    box.store(box.upDown->position());
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (NumberBox* box = numberBoxFor(watched)) {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                guarded([this, box] { CommitNumberBox(*box); });
                return true;
            }
            const QString text = key->text();
            if (key->key() == Qt::Key_Backspace || text.isEmpty())
                return false;
            return !(text.size() == 1 && text[0] >= '0' && text[0] <= '9');
        }
        if (event->type() == QEvent::FocusOut && !LeavesForAnotherWindow(static_cast<QFocusEvent*>(event)))
            guarded([this, box] { CommitNumberBox(*box); });
        return false;
    }
    if (event->type() == QEvent::KeyRelease && IsListNavigationKey(static_cast<QKeyEvent*>(event)->key())) {
        if (watched == ListBox1)
            request([this] { ListBox1Click(); });
        else if (watched == ListBoxInterfaces)
            guarded([this] { ListBoxInterfacesClick(); });
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::connectHandlers()
{
    auto on = [this](auto* sender, auto signal, std::function<void()> handler) {
        connect(sender, signal, this, [this, handler] { guarded(handler); });
    };
    auto rdm = [this](std::function<void()> handler) { return [this, handler] { request(handler); }; };
    on(Button1, &QPushButton::clicked, rdm([this] { Button1Click(); }));
    on(Button10, &QPushButton::clicked, rdm([this] { Button10Click(); }));
    on(ButtonCLR, &QPushButton::clicked, [this] { ButtonCLRClick(); });
    on(ButtonConnect, &QPushButton::clicked, [this] { ButtonConnectClick(); });
    on(Button2, &QPushButton::clicked, rdm([this] { Button2Click(); }));
    on(Button3, &QPushButton::clicked, rdm([this] { Button3Click(); }));
    on(Button6, &QPushButton::clicked, rdm([this] { Button6Click(); }));
    on(Button7, &QPushButton::clicked, rdm([this] { Button7Click(); }));
    on(Button8, &QPushButton::clicked, [this] { Button8Click(); });
    on(Button9, &QPushButton::clicked, [this] { Button9Click(); });
    on(Timer1, &QTimer::timeout, [this] { Timer1Timer(); });
    on(PageControl1, &QTabWidget::currentChanged, [this] { PageControl1Changed(); });
    on(ButtonStop, &QPushButton::clicked, [this] { StopRun(); });
    stopKey_ = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    stopKey_->setEnabled(false);
    connect(stopKey_, &QShortcut::activated, this, [this] { StopRun(); });
    connect(CheckBoxLog, &QCheckBox::toggled, this, [this](bool on) { detailed_.store(on); });
    on(ListBox1, &QListWidget::itemClicked, rdm([this] { ListBox1Click(); }));
    on(ListBoxInterfaces, &QListWidget::itemClicked, [this] { ListBoxInterfacesClick(); });
    on(InterfaceItems, &QButtonGroup::idClicked, [this] { RadioGroupInterfaceClick(); });
    on(TimerItems, &QButtonGroup::idClicked, [this] { RadioGroup1Click(); });
    on(CheckBoxFastExchange, &QCheckBox::clicked, [this] { CheckBoxFastExchangeClick(); });
    on(CheckBoxAllParameters, &QCheckBox::clicked, [this] { CheckBoxAllParametersClick(); });
    for (int i = 0; i < 16; ++i)
        on(ScrollBar[i], &QScrollBar::valueChanged, [this, i] { ScrollBarChange(i + 1); });
    for (NumberBox& box : boxes_) {
        box.edit->installEventFilter(this);
        NumberBox* b = &box;
        connect(box.upDown, &UpDown::clicked, this, [this, b] { guarded([this, b] { UpDownClick(*b); }); });
    }
    ListBox1->installEventFilter(this);
    ListBoxInterfaces->installEventFilter(this);

    // While a run lasts the grids only scroll and select.
    auto idle = [this](std::function<void()> handler) {
        return [this, handler] {
            if (!running())
                handler();
        };
    };
    on(StringGrid1, &StringGridWidget::clicked, idle([this] { StringGrid1Click(); }));
    on(StringGrid1, &StringGridWidget::enterPressed, idle([this] { StringGrid1KeyDown(); }));
    on(StringGrid2, &StringGridWidget::clicked, idle([this] { StringGrid2Click(); }));
    on(StringGrid2, &StringGridWidget::enterPressed, idle([this] { StringGrid2KeyDown(); }));
    connect(UpDown2, &UpDown::clicked, this, [this](bool upper) { guarded([this, upper] { UpDown2Click(upper); }); });
    connect(qApp, &QApplication::focusChanged, this, &TForm1::onFocusChanged);
}

void TForm1::onFocusChanged(QWidget* old, QWidget* now)
{
    // Only a move to another control of this window leaves a grid: not the
    // application losing the focus, nor a message box or popup taking it.
    if (!now || now->window() != window())
        return;
    auto inside = [](QWidget* w, QWidget* container) { return w && (w == container || container->isAncestorOf(w)); };
    // A run disables the grid and so moves the focus out of it: that is no commit.
    if (inside(old, StringGrid1) && !inside(now, StringGrid1) && !running()) {
        // The commit takes the cell and device as they are now; its exchange waits
        // for the rest of the event that moved the focus, and goes before what
        // that event asks for.
        deferRuns_ = true;
        guarded([this] { StringGrid1Exit(); });
        deferRuns_ = false;
    }
    if (inside(old, StringGrid2) && !inside(now, StringGrid2) && StringGrid2->isVisible() && !running())
        guarded([this] { StringGrid2Exit(); });
}
