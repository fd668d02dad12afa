#include "app/settings_tab.h"

#include "app/control_layout.h"
#include "app/up_down.h"
#include "link/interface_kinds.h"
#include "params/int_parse.h"
#include "settings/settings_store.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <atomic>

using namespace layout;

namespace {

// Focus that leaves because another window (a message box, a popup, another
// program) became active is not the user moving on to another control.
bool LeavesForAnotherWindow(const QFocusEvent* event)
{
    return event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason;
}


} // namespace

SettingsTab::SettingsTab(PageContext context) : context_(std::move(context))
{
    setObjectName("TabSheet4");
    buildControls();
    auto on = [this](auto* sender, auto signal, std::function<void()> handler) {
        context_.on(this, sender, signal, std::move(handler));
    };
    on(ButtonConnect, &QPushButton::clicked, [this] { ButtonConnectClick(); });
    on(EditNodes, &QLineEdit::editingFinished, [this] { EditNodesDone(); });
    on(ListBoxInterfaces, &QListWidget::itemClicked, [this] { ListBoxInterfacesClick(); });
    on(InterfaceItems, &QButtonGroup::idClicked, [this] { RadioGroupInterfaceClick(); });
    on(TimerItems, &QButtonGroup::idClicked, [this] { RadioGroup1Click(); });
    on(CheckBoxFastExchange, &QCheckBox::clicked, [this] { CheckBoxFastExchangeClick(); });
    on(CheckBoxAllParameters, &QCheckBox::clicked, [this] { CheckBoxAllParametersClick(); });
    for (NumberBox& box : boxes_) {
        box.edit->installEventFilter(this);
        NumberBox* b = &box;
        connect(box.upDown, &UpDown::clicked, this, [this, b] { context_.handle([this, b] { UpDownClick(*b); }); });
    }
    ListBoxInterfaces->installEventFilter(this);
}

void SettingsTab::buildControls()
{
    std::vector<const char*> kinds;
    for (int k = 0; k < kInterfaceKindCount; ++k)
        kinds.push_back(kInterfaceKinds[k].displayName);
    RadioGroupInterface =
        RadioGroup(this, "RadioGroupInterface", "Интерфейс", kinds, InterfaceItems, 24, 16, 153, 89);
    ListBoxInterfaces = Place(new QListWidget(this), 192, 16, 241, 137, "ListBoxInterfaces");
    ListBoxInterfaces->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ButtonConnect = Button(this, "ButtonConnect", "Подключить", 192, 160, 89, 25);
    EditNodes = Place(new QLineEdit(this), 288, 162, 145, 21, "EditNodes");
    EditNodes->setPlaceholderText(QString::fromUtf8("адреса узлов"));
    EditNodes->setToolTip(QString::fromUtf8("Узлы Art-Net, опрашиваемые по адресу (10.0.0.20, 10.0.1.20:6455); "
                                            "пусто: все узлы в сетях компьютера"));
    EditNodes->hide();
    RadioGroup1 = RadioGroup(this, "RadioGroup1", "DMX таймер", {"Стандартный", "Высокого разрешения"}, TimerItems,
                             24, 120, 153, 65);
    TimerItems->button(0)->setChecked(true);

    struct Row {
        const char* caption;
        int y;
        const char* initial;
        int min, max;
        QLineEdit** edit;
        UpDown** upDown;
        const char* editName;
        const char* upDownName;
    };
    const Row rows[3] = {
        {"Таймаут обнаружения", 216, "EditTimeout", 1, 100, &EditTimeout, &UpDownTimeout, "EditTimeout",
         "UpDownTimeout"},
        {"Размер DMX пакета", 240, "24", 1, 512, &EditUniverse, &UpDownUnivSize, "EditUniverse", "UpDownUnivSize"},
        {"Период DMX пакетов, мс", 264, "200", 1, 1000, &EditPeriod, &UpDownPeriod, "EditPeriod", "UpDownPeriod"},
    };
    for (const Row& r : rows) {
        Place(new QLabel(QString::fromUtf8(r.caption), this), 24, r.y, 150, 16);
        *r.edit = Place(new QLineEdit(QString::fromUtf8(r.initial), this), 184, r.y, 57, 21, r.editName);
        *r.upDown = Place(new UpDown(this), 240, r.y, 16, 20, r.upDownName);
        (*r.upDown)->setRange(r.min, r.max);
    }
    // Below the number boxes: waits by the line's own limits instead of fixed sleeps.
    CheckBoxFastExchange = Check(this, "CheckBoxFastExchange", "Быстрый обмен", 24, 296, 160, 17);
    CheckBoxAllParameters = Check(this, "CheckBoxAllParameters", "Все параметры E1.20", 24, 320, 200, 17);
    SettingsRecord& settings = context_.settings;
    boxes_[0] = {EditTimeout, UpDownTimeout, [this, &settings](int v) {
                     settings.discoTimeout = v;
                     context_.service.setDiscoveryTimeout(v);  // a discovery that runs takes it
                 }};
    boxes_[1] = {EditUniverse, UpDownUnivSize, [&settings](int v) {
                     // Read by every DMX frame, on the output thread too.
                     std::atomic_ref<uint16_t>(settings.UniverseSize).store(uint16_t(v), std::memory_order_relaxed);
                 }};
    boxes_[2] = {EditPeriod, UpDownPeriod, [&settings](int v) { settings.DMXPeriod = v; }};
}

void SettingsTab::setLocked(bool locked)
{
    for (QWidget* w : std::initializer_list<QWidget*>{ButtonConnect, ListBoxInterfaces, RadioGroupInterface, EditNodes,
                                                      CheckBoxFastExchange, CheckBoxAllParameters})
        w->setEnabled(!locked);
    if (locked)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void SettingsTab::showSettings()
{
    const SettingsRecord& settings = context_.settings;
    UpDownUnivSize->setPosition(settings.UniverseSize);
    EditUniverse->setText(QString::number(settings.UniverseSize));
    UpDownPeriod->setPosition(settings.DMXPeriod);
    EditPeriod->setText(QString::number(settings.DMXPeriod));
    UpDownTimeout->setPosition(settings.discoTimeout);
    EditTimeout->setText(QString::number(settings.discoTimeout));
    context_.service.setDiscoveryTimeout(settings.discoTimeout);
    if (QAbstractButton* b = TimerItems->button(settings.TimerType))
        b->setChecked(true);
    CheckBoxFastExchange->setChecked(settings.FastExchange != 0);
    CheckBoxFastExchangeClick();
    CheckBoxAllParameters->setChecked(settings.AllParameters != 0);
    if (QAbstractButton* b = InterfaceItems->button(settings.InterfaceType))
        b->setChecked(true);
    RadioGroupInterfaceClick();
}

void SettingsTab::storeChoice()
{
    SettingsRecord& settings = context_.settings;
    const int row = ListBoxInterfaces->currentRow();
    settings.InterfaceSelection =
        (row >= 0 && ListBoxInterfaces->item(row) && ListBoxInterfaces->item(row)->isSelected()) ? row : -1;
    // With no row chosen, the interface named before is still the one wanted.
    if (settings.InterfaceSelection >= 0 && settings.InterfaceSelection < int(interfaces.size()))
        settings.InterfaceName =
            InterfaceIdentity(settings.InterfaceType, interfaces[size_t(settings.InterfaceSelection)]);
}

int SettingsTab::periodShown() const { return StrToInt(EditPeriod->text().toStdString()); }

// --- the interface ---

void SettingsTab::RadioGroupInterfaceClick()
{
    InterfacePort& port = context_.service.port();
    port.PortClose();
    const int kind = InterfaceItems->checkedId();
    port.setKind(int8_t(kind));
    context_.settings.InterfaceType = int8_t(kind);
    port.setListAddresses(context_.settings.NodeAddresses);
    port.setNodeWaitUs(uint32_t(context_.settings.NodeWaitMs) * 1000);
    const bool polls = KindOnNetwork(kind);  // nodes are given a second to answer
    EditNodes->setVisible(polls);
    EditNodes->setText(QString::fromStdString(context_.settings.NodeAddresses));
    if (polls)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    port.ListInterfaces(interfaces);
    if (polls)
        QApplication::restoreOverrideCursor();
    if (!port.listNote().empty())
        context_.log((polls ? "Узлы не опрошены: " : "Виртуальные линии не показаны: ") + port.listNote());
    if (polls && interfaces.empty())
        context_.log("Ни один узел не ответил на опрос" +
                     (context_.settings.NodeAddresses.empty() ? std::string(" (ArtPoll во все сети компьютера).")
                                                              : " (" + context_.settings.NodeAddresses + ")."));
    ListBoxInterfaces->clear();
    for (const InterfaceEntry& e : interfaces)
        ListBoxInterfaces->addItem(QString::fromStdString(e.text));
    if (ListBoxInterfaces->count() > 0)
        ListBoxInterfaces->setCurrentRow(0);
}

bool SettingsTab::ChooseStoredInterface()
{
    const SettingsRecord& settings = context_.settings;
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
    context_.log("Сохранённый интерфейс не подключён: " + settings.InterfaceName +
                 ". Выберите интерфейс в списке и нажмите \"Подключить\".");
    return false;
}

void SettingsTab::ListBoxInterfacesClick()
{
    const int row = ListBoxInterfaces->currentRow();
    if (row < 0 || row >= int(interfaces.size()) || !ListBoxInterfaces->item(row)->isSelected())
        return;
    context_.service.port().ChooseInterface(interfaces[size_t(row)]);
}

void SettingsTab::ButtonConnectClick()
{
    InterfacePort& port = context_.service.port();
    port.PortClose();
    context_.service.engine().resetLateMargin();  // the wait belongs to the interface
    const bool opened = port.PortOpen() == 1;
    context_.log(opened ? status_text::kInterfaceReady : status_text::kInterfaceError);
    if (!opened && !port.refusal().empty())
        context_.log(port.refusal());
}

void SettingsTab::EditNodesDone()
{
    const std::string addresses = EditNodes->text().trimmed().toStdString();
    if (addresses == context_.settings.NodeAddresses)
        return;
    context_.settings.NodeAddresses = addresses;
    RadioGroupInterfaceClick();  // the list of the nodes now named
}

void SettingsTab::RadioGroup1Click() { context_.settings.TimerType = TimerItems->checkedId(); }

void SettingsTab::CheckBoxFastExchangeClick()
{
    context_.settings.FastExchange = CheckBoxFastExchange->isChecked() ? 1 : 0;
    // Taken by the next exchange; one that runs now finishes as it began.
    context_.service.setFastExchange(context_.settings.FastExchange != 0);
}

void SettingsTab::CheckBoxAllParametersClick()
{
    context_.settings.AllParameters = CheckBoxAllParameters->isChecked() ? 1 : 0;
    if (allParametersChanged)
        allParametersChanged();
}

// --- the number boxes ---

SettingsTab::NumberBox* SettingsTab::numberBoxFor(QObject* edit)
{
    for (NumberBox& box : boxes_)
        if (box.edit == edit)
            return &box;
    return nullptr;
}

bool SettingsTab::ValidateNumberBox(QLineEdit* edit, int min, int max)
{
    if (edit->text().isEmpty())
        edit->setText(QString::number(min));
    const int32_t value = StrToInt(edit->text().toStdString());
    const int32_t clamped = value < min ? min : value > max ? max : value;
    edit->setText(QString::number(clamped));
    const bool inRange = clamped == value;
    if (!inRange)
        context_.dialogs.beep();
    return inRange;
}

void SettingsTab::CommitNumberBox(NumberBox& box)
{
    ValidateNumberBox(box.edit, box.upDown->minimum(), box.upDown->maximum());
    box.upDown->setPosition(StrToInt(box.edit->text().toStdString()));
    box.store(box.upDown->position());
}

void SettingsTab::UpDownClick(NumberBox& box)
{
    box.edit->setText(QString::number(box.upDown->position()));
    box.store(box.upDown->position());
}

bool SettingsTab::eventFilter(QObject* watched, QEvent* event)
{
    if (NumberBox* box = numberBoxFor(watched)) {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                context_.handle([this, box] { CommitNumberBox(*box); });
                return true;
            }
            const QString text = key->text();
            if (key->key() == Qt::Key_Backspace || text.isEmpty())
                return false;
            return !(text.size() == 1 && text[0] >= '0' && text[0] <= '9');
        }
        if (event->type() == QEvent::FocusOut && !LeavesForAnotherWindow(static_cast<QFocusEvent*>(event)))
            context_.handle([this, box] { CommitNumberBox(*box); });
        return false;
    }
    if (watched == ListBoxInterfaces && event->type() == QEvent::KeyRelease &&
        IsListNavigationKey(static_cast<QKeyEvent*>(event)->key()))
        context_.handle([this] { ListBoxInterfacesClick(); });
    return QWidget::eventFilter(watched, event);
}
