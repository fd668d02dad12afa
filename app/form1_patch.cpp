// The arrangement page: the universe map, Read and Write, and the patch file.
#include "app/form1.h"

#include "app/log_pane.h"
#include "patch/patch_file.h"
#include "patch/patch_map.h"
#include "patch/patch_transfer.h"
#include "patch/patch_view.h"

#include <QLabel>
#include <QListWidget>
#include <QPainter>

void TForm1::repaintMap() { PaintBox1->repaint(); }

int TForm1::listedDevices() const
{
    return ListBox1->count() < DeviceTable::kCapacity ? ListBox1->count() : DeviceTable::kCapacity;
}

void TForm1::PaintBox1Paint(QPainter& painter)
{
    using namespace patch_map;
    const int selected = selectedDevice();
    if (selected >= 0)
        Label28->setText(QString::number(mapPosition + 1));
    const auto counts = SlotCounts(devices, ListBox1->count(), selected, mapPosition);
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
    if (allParameters())
        paintMapLabels(painter, selected);
}

void TForm1::PaintBox1MouseMove(Qt::MouseButtons buttons, int x, int y)
{
    const int selected = selectedDevice();
    if (!(buttons & Qt::LeftButton) || selected < 0)
        return;
    mapDragged_ = true;
    const uint16_t index = patch_map::IndexAt(x, y);
    if (patch_map::Fits(index, devices.entries[selected].footprint))
        mapPosition = index;
    repaintMap();
}

void TForm1::PaintBox1MouseUp(Qt::MouseButton button, int x, int y)
{
    const int selected = selectedDevice();
    if (selected >= 0)
        devices.entries[selected].startIndex = mapPosition;
    // A click that moved nothing selects the device under it, as the list does.
    if (!allParameters() || mapDragged_ || button != Qt::LeftButton)
        return;
    const int under = deviceAtMap(x, y);
    if (under >= 0 && under != selected) {
        ListBox1->setCurrentRow(under);
        ListBox1Click();
    }
}

void TForm1::Button6Click()
{
    const int n = listedDevices();
    workDevices_ = devices;  // the map keeps painting from the window's own table
    startRun(
        "Чтение расстановки",
        [this, n] {
            ReadPatch(
                engine, workDevices_, n,
                [this](int i, uint16_t footprint, uint16_t startIndex) {
                    onEventThread([this, i, footprint, startIndex] {
                        devices.entries[i].footprint = footprint;
                        devices.entries[i].startIndex = startIndex;
                    });
                },
                runControl("Устройство"));
        },
        [this] {
            ListBox1->setCurrentRow(-1);
            ListBox1->clearSelection();
            repaintMap();
        });
}

void TForm1::Button7Click()
{
    const int n = listedDevices();
    workDevices_ = devices;
    startRun("Запись расстановки", [this, n] { WritePatch(engine, workDevices_, n, runControl("Устройство")); });
}

void TForm1::Button8Click()
{
    const int n = listedDevices();
    const QString path = dialogs_.askSavePatch();
    if (path.isEmpty())
        return;
    std::vector<PatchRecord> records;
    for (int i = 0; i < n; ++i)
        records.push_back({devices.entries[i].uid, devices.entries[i].startIndex, devices.entries[i].footprint});
    std::string why;
    if (!SavePatchFile(path.toStdString(), records, why))
        appendLine("Файл расстановки не сохранён: " + path.toStdString() + ": " + why);
}

void TForm1::Button9Click()
{
    const QString path = dialogs_.askOpenPatch();
    if (path.isEmpty())
        return;
    std::vector<PatchRecord> records;
    std::string why;
    if (!LoadPatchFile(path.toStdString(), records, why)) {
        appendLine("Файл расстановки не загружен: " + path.toStdString() + ": " + why);
        return;
    }
    std::vector<std::string> rows;
    for (size_t i = 0; i < records.size(); ++i) {
        devices.entries[i] = {records[i].uid, records[i].startIndex, records[i].footprint};
        rows.push_back(UidLogText(records[i].uid));
    }
    setDeviceRows(rows);
    repaintMap();
}
