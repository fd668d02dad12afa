// The RDM page: Get, Set, the parameter grid and its element editor.
#include "app/form1.h"

#include "app/device_text.h"
#include "app/popup_combo.h"
#include "app/up_down.h"
#include "params/int_parse.h"
#include "params/param_edit.h"
#include "params/param_grid.h"
#include "params/param_read.h"
#include "params/param_transfer.h"
#include "rdm/text_codec.h"
#include "rdm/device_info.h"

#include <QCheckBox>
#include <QScrollBar>
#include <memory>

namespace {

const char* FixedRowName(int row) { return row < 9 ? kDeviceInfoRowNames[row] : "Software Version Label"; }
} // namespace

int TForm1::recordIndex(int row) const
{
    const int k = row - kFixedParamRows;
    return k >= 0 && k < params.count ? k : -1;
}

void TForm1::ResetParamGrid()
{
    gridUid_ = 0;
    StringGrid1->setRowCount(kFixedParamRows);
    for (int row = 0; row < kFixedParamRows; ++row) {
        StringGrid1->setCellText(0, row, FixedRowName(row));
        StringGrid1->setCellText(1, row, QString());
    }
    StringGrid1->setVisible(true);
}

void TForm1::ShowDeviceInfo(const std::array<std::string, 9>* rows)
{
    if (!rows) {
        ResetParamGrid();
        return;
    }
    for (int row = 0; row < 9; ++row)
        StringGrid1->setCellText(1, row, QString::fromStdString((*rows)[size_t(row)]));
}

void TForm1::Button2Click()
{
    const int device = selectedDevice();
    StringGrid2->hide();
    UpDown2->hide();
    if (ComboPersonality)
        ComboPersonality->hide();
    if (device < 0) {
        ResetParamGrid();
        return;
    }
    const Uid uid = devices.entries[device].uid;
    // The worker reads into its own table; each finished row is copied over here.
    auto rows = std::make_shared<int>(0);
    ParamReadSink sink;
    sink.listed = [this, rows, uid](int count) {
        onEventThread([this, rows, count, uid] {
            *rows = count;
            params.count = 0;
            ResetParamGrid();
            gridUid_ = uid;  // from here on the grid holds this device's values
        });
    };
    sink.deviceInfo = [this, uid](const std::array<std::string, 9>* info) {
        onEventThread([this, uid, answered = info != nullptr, texts = info ? *info : std::array<std::string, 9>{}] {
            ShowDeviceInfo(answered ? &texts : nullptr);
            if (answered)
                noteModelId(uid, texts[1]);
        });
    };
    sink.softwareVersionLabel = [this, rows](const std::string& label) {
        onEventThread([this, rows, label] {
            StringGrid1->setCellText(1, 9, FromDevice(label));
            StringGrid1->setRowCount(RowOfRecord(*rows));
        });
    };
    sink.row = [this, uid](int k, const RDMPARAMDESC& record, const std::string& value) {
        onEventThread([this, uid, k, record, value] {
            params.records[k] = record;
            params.count = k + 1;
            StringGrid1->setCellText(0, RowOfRecord(k), FromDevice(record.description));
            StringGrid1->setCellText(1, RowOfRecord(k), FromDevice(value));
            noteValue(uid, record.pid, Cp1251ToUtf8(value));
        });
    };
    const bool all = allParameters();
    startRun(
        "Получение параметров",
        [this, uid, sink, all] { ReadDeviceParameters(engine, uid, workParams_, sink, runControl("Параметр"), all); },
        [this] {
            updateDeviceToolTips();
            // A stopped Get keeps the rows it filled.
            if (StringGrid1->rowCount() > RowOfRecord(params.count))
                StringGrid1->setRowCount(RowOfRecord(params.count));
            StringGrid1->viewport()->update();
        });
}

void TForm1::Button3Click()
{
    // The values go to the device they were read from, whichever row is selected.
    const int device = gridDevice();
    auto readBack = [this] {
        if (CheckBoxReadBack->isChecked())
            Button2Click();
    };
    if (device < 0) {
        readBack();
        return;
    }
    const Uid uid = devices.entries[device].uid;
    std::vector<std::string> texts(size_t(params.count));
    for (int k = 0; k < params.count; ++k)
        if (params.records[k].dataType == DS_ASCII)
            texts[size_t(k)] = ToDevice(StringGrid1->cellText(1, RowOfRecord(k)));
    auto refused = std::make_shared<std::vector<RefusedValue>>();
    startRun(
        "Установка параметров",
        [this, uid, texts, refused] { *refused = SendAllValues(engine, uid, params, texts, runControl("Параметр")); },
        [this, readBack, refused] {
            for (const RefusedValue& r : *refused)
                showRefused(r);
            if (!runner_->stopRequested())
                readBack();
        });
}

bool TForm1::StringGrid1SelectCell(int column, int row) const
{
    if (column != 1 || row < kFixedParamRows)
        return false;
    const RDMPARAMDESC* record = recordAtRow(row);
    // The personality is chosen from its drop-down.
    return !record || record->writable() || (record->layout && record->pid == rdm::DMX_PERSONALITY);
}

void TForm1::StringGrid1KeyDown()
{
    const int row = StringGrid1->row();
    RDMPARAMDESC* found = recordAtRow(row);
    if (!found)
        return;
    RDMPARAMDESC& record = *found;
    if (record.layout) {
        commitStandardCell(row, record);
        return;
    }
    if (ElementCount(record) >= 2 && record.dataType != DS_ASCII)
        return;
    const int device = gridDevice();
    const std::string text = ToDevice(StringGrid1->cellText(1, row));
    if (record.dataType != DS_ASCII) {
        try {
            StrToInt(text);
        } catch (const ConvertError&) {
            // The error is shown; the cell goes back to the value it holds.
            StringGrid1->setCellText(1, row, FromDevice(FormatParamValue(record)));
            throw;
        }
    }
    if (device < 0) {
        // No device to send to: the value is only kept.
        if (record.dataType == DS_ASCII)
            StoreTextValue(record, text);
        else
            StoreElement(record, StrToInt(text), 0);
        return;
    }
    commitCell(row, device, text, CommitValue);
}

void TForm1::commitCell(int row, int device, const std::string& text, CellCommit commit)
{
    // The worker commits a copy of the record; the window takes it back afterwards.
    const Uid uid = devices.entries[device].uid;
    const int k = recordIndex(row);
    auto committed = std::make_shared<RDMPARAMDESC>(params.records[k]);
    auto shown = std::make_shared<std::optional<std::string>>();
    const bool readBack = CheckBoxReadBack->isChecked();
    startRun(
        QString(), [this, uid, committed, shown, text, readBack, commit] {
            *shown = commit(engine, uid, *committed, text, readBack);
        },
        [this, k, row, committed, shown] {
            params.records[k] = *committed;
            if (*shown)
                StringGrid1->setCellText(1, row, FromDevice(**shown));
        });
}

void TForm1::StringGrid1Exit() { StringGrid1KeyDown(); }

void TForm1::StringGrid1Click()
{
    StringGrid2->hide();
    UpDown2->hide();
    if (ComboPersonality)
        ComboPersonality->hide();
    const int row = StringGrid1->row();
    const RDMPARAMDESC* found = recordAtRow(row);
    if (!found)
        return;
    const RDMPARAMDESC& record = *found;
    if (record.layout) {
        if (record.pid == rdm::DMX_PERSONALITY)
            showPersonalityEditor(row);
        return;
    }
    const int n = ElementCount(record);
    if (n < 2 || record.dataType == DS_ASCII)
        return;
    StringGrid2->setRowCount(n);
    StringGrid2->resize(145, 21 * n + 2);
    for (int i = 0; i < n; ++i) {
        StringGrid2->setCellText(0, i, QString::number(i));
        if (record.dataType <= DS_SIGNED_DWORD)
            StringGrid2->setCellText(1, i, QString::fromStdString(FormatElement(record, i)));
        else
            StringGrid2->setCellText(1, i, QString());
    }
    const QRect cell = StringGrid1->visualRect(StringGrid1->model()->index(row, 1));
    const QPoint viewport = StringGrid1->viewport()->mapTo(TabSheet1, QPoint(0, 0));
    StringGrid2->move(viewport + cell.topLeft());
    StringGrid2->setCurrentCell(0, 1);
    StringGrid2->show();
    StringGrid2->raise();
    StringGrid2Click();
}

void TForm1::StringGrid2Click()
{
    const QRect cell = StringGrid2->visualRect(StringGrid2->model()->index(StringGrid2->row(), 1));
    const QPoint viewport = StringGrid2->viewport()->mapTo(TabSheet1, QPoint(0, 0));
    UpDown2->move(viewport.x() + cell.right() - UpDown2->width() + 1, viewport.y() + cell.top());
    UpDown2->show();
    UpDown2->raise();
}

void TForm1::storeEditorElements()
{
    RDMPARAMDESC* found = recordAtRow(StringGrid1->row());
    if (!found)
        return;
    RDMPARAMDESC& record = *found;
    StringGrid2->finishEditing();
    for (int i = 0; i < StringGrid2->rowCount(); ++i)
        StoreElement(record, StrToInt(StringGrid2->cellText(1, i).toStdString()), i);
}

void TForm1::StringGrid2KeyDown()
{
    storeEditorElements();
    const int device = gridDevice();
    const RDMPARAMDESC* record = recordAtRow(StringGrid1->row());
    if (!CheckBox12->isChecked() || device < 0 || !record)
        return;
    const Uid uid = devices.entries[device].uid;
    const int k = recordIndex(StringGrid1->row());
    auto refused = std::make_shared<std::optional<RefusedValue>>();
    startRun(
        QString(), [this, uid, k, refused, copy = *record] { *refused = SetRecord(engine, uid, k, copy); },
        [this, refused] {
            if (*refused)
                showRefused(**refused);
        });
}

void TForm1::showRefused(const RefusedValue& refused)
{
    params.records[refused.index] = refused.record;
    StringGrid1->setCellText(1, RowOfRecord(refused.index), FromDevice(refused.text));
    if (StringGrid2->isVisible() && recordIndex(StringGrid1->row()) == refused.index)
        StringGrid1Click();  // the element editor shows the device's values too
}

void TForm1::StringGrid2Exit()
{
    storeEditorElements();
    const int row = StringGrid1->row();
    if (const RDMPARAMDESC* record = recordAtRow(row))
        StringGrid1->setCellText(1, row, FromDevice(FormatParamValue(*record)));
    StringGrid2->hide();
    UpDown2->hide();
    if (ComboPersonality)
        ComboPersonality->hide();
}

void TForm1::UpDown2Click(bool upper)
{
    StringGrid2->finishEditing();
    const int row = StringGrid2->row();
    const int64_t value = int64_t(StrToInt(StringGrid2->cellText(1, row).toStdString())) + (upper ? 1 : -1);
    StringGrid2->setCellText(1, row, QString::number(value));
    StringGrid2KeyDown();
}
