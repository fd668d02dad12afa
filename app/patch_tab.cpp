#include "app/patch_tab.h"

#include "app/control_layout.h"
#include "patch/auto_address.h"
#include "patch/patch_file.h"
#include "patch/patch_map.h"
#include "patch/patch_view.h"
#include "rdm/uid.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QDir>
#include <cstdio>
#include <memory>

using namespace layout;

PatchTab::PatchTab(PageContext context) : context_(std::move(context)), devices_(context_.devices)
{
    setObjectName("TabSheet2");
    buildControls();
    auto on = [this](QPushButton* button, std::function<void()> handler) {
        context_.on(this, button, &QPushButton::clicked, std::move(handler));
    };
    on(Button6, [this] { Button6Click(); });
    on(Button7, [this] { Button7Click(); });
    on(Button8, [this] { Button8Click(); });
    on(Button9, [this] { Button9Click(); });
    on(ButtonAuto, [this] { ButtonAutoClick(); });
    on(ButtonBackup, [this] { ButtonBackupClick(); });
    on(ButtonRestore, [this] { ButtonRestoreClick(); });
}

void PatchTab::buildControls()
{
    PaintBox1 = Place(new PaintBoxWidget(this), 8, 8, 417, 225, "PaintBox1");
    PaintBox1->onPaint = [this](QPainter& p) { PaintBox1Paint(p); };
    PaintBox1->onMouseMove = [this](Qt::MouseButtons b, int x, int y) {
        context_.handle([=, this] { PaintBox1MouseMove(b, x, y); });
    };
    PaintBox1->onMouseUp = [this](Qt::MouseButton b, int x, int y) {
        context_.handle([=, this] { PaintBox1MouseUp(b, x, y); });
    };
    PaintBox1->onMouseDown = [this](Qt::MouseButton b, int x, int y) {
        context_.handle([=, this] { PaintBox1MouseDown(b, x, y); });
    };
    PaintBox1->onToolTip = [this](int x, int y) { return PaintBox1ToolTip(x, y); };
    Label28 = Place(new QLabel("000", this), 208, 245, 21, 16, "Label28");
    Label28->setFont(SansFont(13));
    Button6 = Button(this, "Button6", "Read", 24, 240);
    Button7 = Button(this, "Button7", "Write", 80, 240);
    Button9 = Button(this, "Button9", "Load", 304, 240);
    Button8 = Button(this, "Button8", "Save", 360, 240);
    ButtonAuto = Button(this, "ButtonAuto", "Автоадреса…", 24, 280, 107, 25);
    ButtonAuto->setToolTip(QString::fromUtf8("Адреса подряд с 1, в порядке нынешних; спросит перед записью"));
    ButtonBackup = Button(this, "ButtonBackup", "Сохранить настройки…", 136, 280, 151, 25);
    ButtonBackup->setToolTip(QString::fromUtf8("Все настраиваемые параметры устройств списка — в файл"));
    ButtonRestore = Button(this, "ButtonRestore", "Восстановить…", 292, 280, 107, 25);
    ButtonRestore->setToolTip(QString::fromUtf8("Записать настройки из файла и прочитать обратно; спросит перед записью"));
}

void PatchTab::setLocked(bool locked)
{
    for (QWidget* w : std::initializer_list<QWidget*>{Button6, Button7, Button8, Button9, ButtonAuto, ButtonBackup, ButtonRestore})
        w->setEnabled(!locked);
    if (locked)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void PatchTab::repaintMap() { PaintBox1->repaint(); }

void PatchTab::deviceSelected()
{
    const int row = devices_.selected();
    if (row < 0)
        return;
    mapPosition = devices_.entries[row].startIndex;
    repaintMap();
}

// --- the map ---

void PatchTab::PaintBox1Paint(QPainter& painter)
{
    using namespace patch_map;
    const int selected = devices_.selected();
    if (selected >= 0)
        Label28->setText(QString::number(mapPosition + 1));
    const auto counts = SlotCounts(devices_, devices_.listed(), selected, mapPosition);
    painter.fillRect(QRect(QPoint(2, 2), QPoint(414, 202)), Qt::white);
    painter.setPen(QPen(Qt::black, 1));
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            const Rgb colour = ColourForCount(counts[size_t(kColumns * r + c)]);
            painter.setBrush(QColor(colour.r, colour.g, colour.b));
            // Outline and fill of a 13 x 13 cell, right and bottom edges exclusive.
            painter.drawRect(kCell * c, kCell * r, kCell - 1, kCell - 1);
        }
    }
    if (context_.allParameters())
        paintMapLabels(painter, selected);
}

void PatchTab::PaintBox1MouseDown(Qt::MouseButton, int, int) { mapDragged_ = false; }

void PatchTab::PaintBox1MouseMove(Qt::MouseButtons buttons, int x, int y)
{
    const int selected = devices_.selected();
    if (!(buttons & Qt::LeftButton) || selected < 0)
        return;
    mapDragged_ = true;
    const uint16_t index = patch_map::IndexAt(x, y);
    if (patch_map::Fits(index, devices_.entries[selected].footprint))
        mapPosition = index;
    repaintMap();
}

void PatchTab::PaintBox1MouseUp(Qt::MouseButton button, int x, int y)
{
    const int selected = devices_.selected();
    if (selected >= 0)
        devices_.entries[selected].startIndex = mapPosition;
    // A click that moved nothing selects the device under it, as the list does.
    if (!context_.allParameters() || mapDragged_ || button != Qt::LeftButton)
        return;
    const int under = deviceAtMap(x, y);
    if (under >= 0 && under != selected)
        context_.selectRow(under);
}

int PatchTab::deviceAtMap(int x, int y) const
{
    const uint16_t index = patch_map::IndexAt(x, y);
    if (index >= patch_map::kSlots || x >= patch_map::kCell * patch_map::kColumns)
        return -1;
    const int selected = devices_.selected();
    int found = -1;
    for (int i = 0; i < devices_.listed(); ++i) {
        const DeviceEntry& d = devices_.entries[i];
        const uint16_t start = i == selected ? mapPosition : d.startIndex;
        if (d.footprint && index >= start && index < start + d.footprint && (found < 0 || found == selected))
            found = i;
    }
    return found;
}

QString PatchTab::PaintBox1ToolTip(int x, int y) const
{
    if (!context_.allParameters())
        return QString();
    const int i = deviceAtMap(x, y);
    if (i < 0)
        return QString();
    const DeviceEntry& d = devices_.entries[i];
    const DeviceList::Notes notes = devices_.notes(d.uid);
    const uint16_t start = i == devices_.selected() ? mapPosition : d.startIndex;
    // Label and model are known once the device has had a Get.
    QString tip = "UID: " + QString::fromStdString(UidColonText(d.uid));
    if (!notes.label.empty())
        tip += QString::fromUtf8("\nМетка: ") + QString::fromStdString(notes.label);
    if (!notes.model.empty())
        tip += QString::fromUtf8("\nМодель: ") + QString::fromStdString(notes.model);
    return tip + QString::fromUtf8("\nАдрес: %1\nКаналов: %2").arg(start + 1).arg(d.footprint);
}

void PatchTab::paintMapLabels(QPainter& painter, int selected)
{
    using namespace patch_map;
    QFont font = painter.font();
    font.setPixelSize(9);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QFontMetrics metrics(font);
    std::vector<QRect> drawn;
    for (int i = 0; i < devices_.listed(); ++i) {
        const DeviceEntry& d = devices_.entries[i];
        if (!d.footprint)
            continue;
        const int start = i == selected ? mapPosition : d.startIndex;
        if (start >= kSlots)
            continue;
        // In the block's first row of cells.
        const int column = start % kColumns, row = start / kColumns;
        const int cells = std::min<int>(d.footprint, kColumns - column);
        const QRect box(kCell * column + 1, kCell * row, kCell * cells - 2, kCell - 1);
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", unsigned(UidDevice(d.uid) & 0xFFFF));
        for (const QString& text : {QString::fromStdString(devices_.notes(d.uid).label), QString::fromLatin1(digits)}) {
            const int width = metrics.horizontalAdvance(text);
            const QRect backdrop(box.left(), box.top() + 1, width + 2, box.height() - 2);
            if (text.isEmpty() || width + 2 > box.width())
                continue;
            // Devices that start together share the spot: the first keeps it.
            bool taken = false;
            for (const QRect& r : drawn)
                taken = taken || r.intersects(backdrop);
            if (!taken) {
                // On a light backdrop, readable on every colour of the map.
                painter.fillRect(backdrop, QColor(255, 255, 255, 225));
                painter.drawText(box.adjusted(1, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, text);
                drawn.push_back(backdrop);
            }
            break;
        }
    }
}

// --- Read, Write, Save, Load ---

void PatchTab::Button6Click()
{
    context_.service.readPatch(
        devices_, devices_.listed(),
        [this](Uid uid, uint16_t footprint, uint16_t startIndex) {
            devices_.takeRead(uid, footprint, startIndex);
        },
        [this] {
            context_.selectRow(-1);
            repaintMap();
        });
}

void PatchTab::Button7Click() { context_.service.writePatch(devices_, devices_.listed()); }

void PatchTab::Button8Click()
{
    const QString path = context_.dialogs.askSavePatch();
    if (path.isEmpty())
        return;
    std::vector<PatchRecord> records;
    for (int i = 0; i < devices_.listed(); ++i)
        records.push_back({devices_.entries[i].uid, devices_.entries[i].startIndex, devices_.entries[i].footprint});
    std::string why;
    if (!SavePatchFile(path.toStdString(), records, why))
        context_.log("Файл расстановки не сохранён: " + path.toStdString() + ": " + why);
}

void PatchTab::Button9Click()
{
    const QString path = context_.dialogs.askOpenPatch();
    if (path.isEmpty())
        return;
    std::vector<PatchRecord> records;
    std::string why;
    if (!LoadPatchFile(path.toStdString(), records, why)) {
        context_.log("Файл расстановки не загружен: " + path.toStdString() + ": " + why);
        return;
    }
    std::vector<std::string> rows;
    for (size_t i = 0; i < records.size(); ++i) {
        devices_.entries[i] = {records[i].uid, records[i].startIndex, records[i].footprint};
        rows.push_back(UidLogText(records[i].uid));
    }
    devices_.setRows(rows);
    repaintMap();
}

// --- auto-addressing ---

namespace {

// Where the arrangement before an auto-addressing is kept: the user's state folder.
std::string UndoFileName()
{
    QString folder = qEnvironmentVariable("XDG_STATE_HOME");
    if (folder.isEmpty())
        folder = QDir::homePath() + "/.local/state";
    folder += "/vantrell";
    QDir().mkpath(folder);
    return folder.toStdString() + "/" + BeforeAutoFileName();
}

} // namespace

void PatchTab::ButtonAutoClick()
{
    if (devices_.listed() == 0) {
        context_.log("Автоадресация: в списке нет устройств; сначала «Обнаруж.».");
        return;
    }
    // Footprints and starts as the devices say now; then the rest on this thread.
    auto answered = std::make_shared<int>(0);
    const int asked = devices_.listed();
    context_.service.readPatch(
        devices_, asked,
        [this, answered](Uid uid, uint16_t footprint, uint16_t startIndex) {
            *answered += devices_.takeRead(uid, footprint, startIndex);
        },
        [this, answered, asked] {
            repaintMap();
            if (context_.service.stopRequested())
                return;
            // Addresses given without every device known could land on one not counted.
            if (*answered < asked) {
                context_.log("Автоадресация не выполнена: ответили " + std::to_string(*answered) + " из " +
                             std::to_string(asked) + " устройств.");
                return;
            }
            context_.handle([this] { autoAddressRead(); });
        });
}

void PatchTab::autoAddressRead()
{
    std::vector<AddressedDevice> listed;
    std::vector<PatchRecord> before;
    for (int i = 0; i < devices_.listed(); ++i) {
        const DeviceEntry& d = devices_.entries[i];
        listed.push_back({d.uid, d.startIndex, d.footprint, {}});
        if (d.footprint)
            before.push_back({d.uid, d.startIndex, d.footprint});
    }
    std::vector<PatchRecord> wanted;
    std::string why;
    if (!AutoAddress(listed, 1, 0, AddressOrder::Address, wanted, why)) {
        context_.log("Автоадресация не выполнена: " + why);
        context_.dialogs.beep();
        return;
    }
    if (wanted.empty()) {
        context_.log("Автоадресация: ни одно устройство не занимает каналов.");
        return;
    }
    const std::string undo = UndoFileName();
    if (!context_.dialogs.confirm(QString::fromUtf8("Дать %1 устройствам адреса подряд с 1 в порядке нынешних "
                                                    "адресов?\nПрежняя расстановка сохранится в файл\n%2")
                                      .arg(wanted.size())
                                      .arg(QString::fromStdString(undo))))
        return;
    if (!SavePatchFile(undo, before, why)) {
        context_.log("Автоадресация не выполнена: прежнюю расстановку не сохранить в " + undo + ": " + why);
        return;
    }
    context_.log("Прежняя расстановка сохранена: " + undo + " (Load и Write вернут её).");
    DeviceTable table;
    for (size_t i = 0; i < wanted.size(); ++i)
        table.entries[i] = {wanted[i].uid, wanted[i].startIndex, wanted[i].footprint};
    context_.service.writePatch(table, int(wanted.size()));
    // Read back: only the devices' own word says they took their addresses.
    context_.service.readPatch(
        table, int(wanted.size()),
        [this](Uid uid, uint16_t footprint, uint16_t startIndex) {
            devices_.takeRead(uid, footprint, startIndex);
        },
        [this, wanted] { context_.handle([this, wanted] { autoAddressCheck(wanted); }); });
}

void PatchTab::autoAddressCheck(const std::vector<PatchRecord>& wanted)
{
    context_.selectRow(-1);
    repaintMap();
    int matching = 0;
    for (const PatchRecord& w : wanted) {
        const int row = devices_.rowOf(w.uid);
        if (row >= 0 && devices_.entries[row].startIndex == w.startIndex)
            ++matching;
        else
            context_.log("Автоадресация: устройство " + UidLogText(w.uid) + " не подтвердило адрес " +
                         std::to_string(w.startIndex + 1) + ".");
    }
    context_.log("Автоадресация: " + std::to_string(matching) + " из " + std::to_string(wanted.size()) +
                 " устройств на своих адресах (прочитано обратно).");
}
