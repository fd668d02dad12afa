#include "app/form1.h"

#include "app/guarded.h"
#include "app/log_pane.h"
#include "app/up_down.h"
#include "params/int_parse.h"
#include "params/param_grid.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
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
                DiscoveryHooks{[this] {
                                   Timer1->stop();
                                   dmx.DmxTimerStop();
                               },
                               [this] { PageControl1Change(); }, [this] { setDeviceRows({}); },
                               [this](const std::string& row) { ListBox1->addItem(QString::fromStdString(row)); },
                               [this] { return settings.discoTimeout; }}),
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
    connectHandlers();
    FormCreate();
}

TForm1::~TForm1()
{
    // Child widgets lose the focus while they are destroyed; this part is gone by then.
    disconnect(qApp, nullptr, this, nullptr);
    // No DMX tick may run against a window that is going away.
    dmx.DmxTimerStop();
    dmx.onHighResFailure = nullptr;
    Timer1->stop();
}

void TForm1::guarded(const std::function<void()>& handler) { RunGuarded(handler, dialogs_.showMessage); }

void TForm1::appendLine(const std::string& text) { LogMemo->appendText(QString::fromUtf8(text)); }

bool TForm1::detailed() const { return CheckBoxLog->isChecked(); }

int TForm1::selectedDevice() const
{
    const int row = ListBox1->currentRow();
    if (row < 0 || row >= ListBox1->count() || !ListBox1->item(row)->isSelected())
        return -1;
    return row < DeviceTable::kCapacity ? row : -1;
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
            dialogs_.showMessage(QString::fromUtf8(e.what()));
            return;  // the rest of start-up is skipped; the window comes up all the same
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
        if (QAbstractButton* b = InterfaceItems->button(settings.InterfaceType))
            b->setChecked(true);
        RadioGroupInterfaceClick();
        if (ListBoxInterfaces->count() > settings.InterfaceSelection)
            ListBoxInterfaces->setCurrentRow(settings.InterfaceSelection);
        else
            ListBoxInterfaces->setCurrentRow(0);
        {
            QSignalBlocker block(PageControl1);
            PageControl1->setCurrentIndex(settings.TabIndex >= 0 && settings.TabIndex < 4 ? settings.TabIndex : 0);
        }
        ListBoxInterfacesClick();
        ButtonConnectClick();
        PageControl1Change();
    });
}

bool TForm1::FormCloseQuery()
{
    const int row = ListBoxInterfaces->currentRow();
    settings.InterfaceSelection =
        (row >= 0 && ListBoxInterfaces->item(row) && ListBoxInterfaces->item(row)->isSelected()) ? row : -1;
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
    ListBoxInterfaces->clear();
    for (const InterfaceEntry& e : interfaces)
        ListBoxInterfaces->addItem(QString::fromStdString(e.text));
    if (ListBoxInterfaces->count() > 0)
        ListBoxInterfaces->setCurrentRow(0);
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
    appendLine(port.PortOpen() == 1 ? status_text::kInterfaceReady : status_text::kInterfaceError);
}

// --- DMX output ---

void TForm1::PageControl1Change()
{
    settings.TabIndex = PageControl1->currentIndex();
    if (PageControl1->currentIndex() != 2) {
        Timer1->stop();
        dmx.DmxTimerStop();
        return;
    }
    const int period = StrToInt(EditPeriod->text().toStdString());
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

// --- discovery and the device list ---

void TForm1::Button1Click() { discovery.Run(); }

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
    const uint8_t data = on ? 1 : 0;
    engine.PrepareRequest(rdm::SET_COMMAND, rdm::IDENTIFY_DEVICE, &data, 1);
    engine.RdmTransaction(uid, rdm::kReplyReadLength);
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
            guarded([this] { ListBox1Click(); });
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
    on(Button1, &QPushButton::clicked, [this] { Button1Click(); });
    on(Button10, &QPushButton::clicked, [this] { Button10Click(); });
    on(ButtonCLR, &QPushButton::clicked, [this] { ButtonCLRClick(); });
    on(ButtonConnect, &QPushButton::clicked, [this] { ButtonConnectClick(); });
    on(Button2, &QPushButton::clicked, [this] { Button2Click(); });
    on(Button3, &QPushButton::clicked, [this] { Button3Click(); });
    on(Button6, &QPushButton::clicked, [this] { Button6Click(); });
    on(Button7, &QPushButton::clicked, [this] { Button7Click(); });
    on(Button8, &QPushButton::clicked, [this] { Button8Click(); });
    on(Button9, &QPushButton::clicked, [this] { Button9Click(); });
    on(Timer1, &QTimer::timeout, [this] { Timer1Timer(); });
    on(PageControl1, &QTabWidget::currentChanged, [this] { PageControl1Change(); });
    on(ListBox1, &QListWidget::itemClicked, [this] { ListBox1Click(); });
    on(ListBoxInterfaces, &QListWidget::itemClicked, [this] { ListBoxInterfacesClick(); });
    on(InterfaceItems, &QButtonGroup::idClicked, [this] { RadioGroupInterfaceClick(); });
    on(TimerItems, &QButtonGroup::idClicked, [this] { RadioGroup1Click(); });
    for (int i = 0; i < 16; ++i)
        on(ScrollBar[i], &QScrollBar::valueChanged, [this, i] { ScrollBarChange(i + 1); });
    for (NumberBox& box : boxes_) {
        box.edit->installEventFilter(this);
        NumberBox* b = &box;
        connect(box.upDown, &UpDown::clicked, this, [this, b] { guarded([this, b] { UpDownClick(*b); }); });
    }
    ListBox1->installEventFilter(this);
    ListBoxInterfaces->installEventFilter(this);

    on(StringGrid1, &StringGridWidget::clicked, [this] { StringGrid1Click(); });
    on(StringGrid1, &StringGridWidget::enterPressed, [this] { StringGrid1KeyDown(); });
    on(StringGrid2, &StringGridWidget::clicked, [this] { StringGrid2Click(); });
    on(StringGrid2, &StringGridWidget::enterPressed, [this] { StringGrid2KeyDown(); });
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
    if (inside(old, StringGrid1) && !inside(now, StringGrid1))
        guarded([this] { StringGrid1Exit(); });
    if (inside(old, StringGrid2) && !inside(now, StringGrid2) && StringGrid2->isVisible())
        guarded([this] { StringGrid2Exit(); });
}
