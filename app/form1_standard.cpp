// Every standard parameter shown (the "Все параметры E1.20" setting): standard
// cells edited by their layout, the personality drop-down, and a readable map.
#include "app/form1.h"

#include "app/device_text.h"
#include "app/popup_combo.h"
#include "params/param_edit.h"
#include "params/param_grid.h"
#include "params/personalities.h"
#include "params/standard_param.h"
#include "rdm/text_codec.h"
#include "patch/patch_map.h"
#include "rdm/device_info.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QListWidget>
#include <QPainter>
#include <memory>

void TForm1::CheckBoxAllParametersClick() { settings.AllParameters = CheckBoxAllParameters->isChecked() ? 1 : 0; }

void TForm1::noteValue(Uid uid, uint16_t pid, const std::string& value)
{
    if (pid == rdm::DEVICE_LABEL)
        notes_[uid].label = value;
    else if (pid == rdm::DEVICE_MODEL_DESCRIPTION)
        notes_[uid].model = value;
}

void TForm1::noteModelId(Uid uid, const std::string& modelId)
{
    DeviceNotes& n = notes_[uid];
    // A model description, once read, says more than the number.
    if (n.model.empty() || n.model.rfind("0x", 0) == 0)
        n.model = modelId;
}

void TForm1::updateDeviceToolTips()
{
    for (int i = 0; i < listedDevices(); ++i) {
        QListWidgetItem* item = ListBox1->item(i);
        const auto it = notes_.find(devices.entries[i].uid);
        if (!item || !allParameters() || it == notes_.end()) {
            if (item)
                item->setToolTip(QString());
            continue;
        }
        item->setToolTip(QString::fromUtf8("Метка: %1\nМодель: %2")
                             .arg(QString::fromStdString(it->second.label), QString::fromStdString(it->second.model)));
    }
}

void TForm1::commitStandardCell(int row, RDMPARAMDESC& record)
{
    const QString stored = FromDevice(StandardValueText(record).value_or(std::string()));
    if (!record.writable()) {
        StringGrid1->setCellText(1, row, stored);
        return;
    }
    const std::string text = Utf8ToCp1251(StringGrid1->cellText(1, row).toStdString());
    std::vector<uint8_t> data;
    std::string error;
    if (!EncodeStandardValue(record, text, data, error)) {
        // Outside what the field holds: nothing is sent, the cell keeps the value.
        StringGrid1->setCellText(1, row, stored);
        dialogs_.beep();
        return;
    }
    if (const int device = gridDevice(); device >= 0)
        commitCell(row, device, text, CommitStandardValue);
}

void TForm1::showPersonalityEditor(int row)
{
    const RDMPARAMDESC* record = recordAtRow(row);
    if (!record || selectedDevice() < 0 || record->valueLength < 2)
        return;
    if (!ComboPersonality) {
        ComboPersonality = new PopupComboBox(StringGrid1->viewport());
        ComboPersonality->beforePopup = [this] { return loadPersonalities(); };
        connect(ComboPersonality, &QComboBox::activated, this, [this](int index) {
            guarded([this, index] { choosePersonality(index); });
        });
    }
    const int current = record->byteValues[0];
    const int count = record->byteValues[1];
    QSignalBlocker block(ComboPersonality);
    ComboPersonality->clear();
    for (int n = 1; n <= count; ++n)
        ComboPersonality->addItem(QString::number(n), n);
    ComboPersonality->setCurrentIndex(current - 1);
    personalitiesOf_ = 0;  // the list is read when it opens
    ComboPersonality->setGeometry(StringGrid1->visualRect(StringGrid1->model()->index(row, 1)));
    ComboPersonality->show();
}

bool TForm1::loadPersonalities()
{
    const int device = selectedDevice();
    if (device < 0 || running())
        return false;
    const Uid uid = devices.entries[device].uid;
    if (personalitiesOf_ == uid)
        return true;
    const int count = ComboPersonality->count();
    auto read = std::make_shared<std::vector<Personality>>();
    startRun(
        QString(), [this, uid, count, read] { *read = ReadPersonalities(engine, uid, count); },
        [this, uid, read] {
            if (!ComboPersonality->isVisible())
                return;
            QSignalBlocker block(ComboPersonality);
            for (const Personality& p : *read)
                ComboPersonality->setItemText(p.number - 1, FromDevice(PersonalityText(p)));
            personalitiesOf_ = uid;
            ComboPersonality->openPopup();
        });
    return false;
}

void TForm1::choosePersonality(int index)
{
    const int device = gridDevice();
    const int k = recordIndex(StringGrid1->row());
    if (device < 0 || k < 0 || params.records[k].pid != rdm::DMX_PERSONALITY)
        return;
    const Uid uid = devices.entries[device].uid;
    const int number = ComboPersonality->itemData(index).toInt();
    struct Outcome {
        SetOutcome sent;
        bool read = false;
        rdm::DeviceInfo info;
    };
    auto outcome = std::make_shared<Outcome>();
    startRun(
        QString(),
        [this, uid, number, outcome] {
            outcome->sent = SetPersonality(engine, uid, number);
            LogSetOutcome(engine, uid, "DMX Personality", outcome->sent);
            outcome->read = GetDeviceInfo(engine, uid, outcome->info);
        },
        [this, uid, k, outcome] {
            ComboPersonality->hide();
            if (!outcome->read)
                return;
            // The device's own word on its personality and footprint.
            const auto texts = DeviceInfoTexts(outcome->info);
            ShowDeviceInfo(&texts);
            RDMPARAMDESC& record = params.records[k];
            record.byteValues[0] = outcome->info.personality;
            record.byteValues[1] = outcome->info.personalityCount;
            record.valueLength = 2;
            StringGrid1->setCellText(1, RowOfRecord(k), FromDevice(StandardValueText(record).value_or(std::string())));
            for (int i = 0; i < listedDevices(); ++i)
                if (devices.entries[i].uid == uid)
                    devices.entries[i].footprint = outcome->info.footprint;
            repaintMap();
        });
}

int TForm1::deviceAtMap(int x, int y) const
{
    const uint16_t index = patch_map::IndexAt(x, y);
    if (index >= patch_map::kSlots || x >= patch_map::kCell * patch_map::kColumns)
        return -1;
    const int selected = selectedDevice();
    int found = -1;
    for (int i = 0; i < listedDevices(); ++i) {
        const DeviceEntry& d = devices.entries[i];
        const uint16_t start = i == selected ? mapPosition : d.startIndex;
        if (d.footprint && index >= start && index < start + d.footprint && (found < 0 || found == selected))
            found = i;
    }
    return found;
}

QString TForm1::PaintBox1ToolTip(int x, int y) const
{
    if (!allParameters())
        return QString();
    const int i = deviceAtMap(x, y);
    if (i < 0)
        return QString();
    const DeviceEntry& d = devices.entries[i];
    const auto it = notes_.find(d.uid);
    const DeviceNotes notes = it == notes_.end() ? DeviceNotes{} : it->second;
    const uint16_t start = i == selectedDevice() ? mapPosition : d.startIndex;
    // Label and model are known once the device has had a Get.
    QString tip = "UID: " + QString::fromStdString(UidColonText(d.uid));
    if (!notes.label.empty())
        tip += QString::fromUtf8("\nМетка: ") + QString::fromStdString(notes.label);
    if (!notes.model.empty())
        tip += QString::fromUtf8("\nМодель: ") + QString::fromStdString(notes.model);
    return tip + QString::fromUtf8("\nАдрес: %1\nКаналов: %2").arg(start + 1).arg(d.footprint);
}

void TForm1::PaintBox1MouseDown(Qt::MouseButton, int, int) { mapDragged_ = false; }

void TForm1::paintMapLabels(QPainter& painter, int selected)
{
    using namespace patch_map;
    QFont font = painter.font();
    font.setPixelSize(9);
    painter.setFont(font);
    painter.setPen(Qt::black);
    const QFontMetrics metrics(font);
    std::vector<QRect> drawn;
    for (int i = 0; i < listedDevices(); ++i) {
        const DeviceEntry& d = devices.entries[i];
        if (!d.footprint)
            continue;
        const int start = i == selected ? mapPosition : d.startIndex;
        if (start >= kSlots)
            continue;
        // In the block's first row of cells.
        const int column = start % kColumns, row = start / kColumns;
        const int cells = std::min<int>(d.footprint, kColumns - column);
        const QRect box(kCell * column + 1, kCell * row, kCell * cells - 2, kCell - 1);
        const auto it = notes_.find(d.uid);
        char digits[8];
        std::snprintf(digits, sizeof digits, "%04X", unsigned(UidDevice(d.uid) & 0xFFFF));
        for (const QString& text : {it != notes_.end() ? QString::fromStdString(it->second.label) : QString(),
                                    QString::fromLatin1(digits)}) {
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
