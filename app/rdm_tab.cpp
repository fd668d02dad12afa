#include "app/rdm_tab.h"

#include "app/control_layout.h"
#include "app/device_text.h"
#include "app/popup_combo.h"
#include "app/up_down.h"
#include "params/int_parse.h"
#include "params/param_grid.h"
#include "params/standard_param.h"
#include "rdm/device_info.h"
#include "rdm/text_codec.h"
#include "rdm/uid.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QPushButton>
#include <QSignalBlocker>
#include <cstring>

using namespace layout;

namespace {

const char* FixedRowName(int row) { return row < 9 ? kDeviceInfoRowNames[row] : "Software Version Label"; }
const QColor kUnsentColour(255, 236, 170);

} // namespace

RdmTab::RdmTab(PageContext context)
    : context_(std::move(context)), devices_(context_.devices), service_(context_.service)
{
    setObjectName("TabSheet1");
    buildControls();
    auto on = [this](auto* sender, auto signal, std::function<void()> handler) {
        context_.on(this, sender, signal, std::move(handler));
    };
    on(Button2, &QPushButton::clicked, [this] { Button2Click(); });
    on(Button3, &QPushButton::clicked, [this] { Button3Click(); });
    // While the line is busy the grids only scroll and select.
    auto unlocked = [this](std::function<void()> handler) {
        return [this, handler] {
            if (!locked_)
                handler();
        };
    };
    on(StringGrid1, &StringGridWidget::clicked, unlocked([this] { StringGrid1Click(); }));
    on(StringGrid1, &StringGridWidget::enterPressed, unlocked([this] { StringGrid1KeyDown(); }));
    on(StringGrid2, &StringGridWidget::clicked, unlocked([this] { StringGrid2Click(); }));
    on(StringGrid2, &StringGridWidget::enterPressed, unlocked([this] { StringGrid2KeyDown(); }));
    connect(UpDown2, &UpDown::clicked, this,
            [this](bool upper) { context_.handle([this, upper] { UpDown2Click(upper); }); });
    ResetParamGrid();
}

void RdmTab::buildControls()
{
    StringGrid1 = Place(new StringGridWidget(this), 16, 16, 417, 294, "StringGrid1");
    StringGrid1->setColumnCount(2);
    StringGrid1->verticalHeader()->setDefaultSectionSize(20);
    StringGrid1->verticalHeader()->setMinimumSectionSize(20);
    StringGrid1->horizontalHeader()->setDefaultSectionSize(280);
    StringGrid1->setColumnWidth(0, 150);
    // The value column takes what the viewport leaves, so nothing scrolls sideways.
    StringGrid1->setLastColumnFills(true);
    StringGrid1->selectCell = [this](int column, int row) { return StringGrid1SelectCell(column, row); };
    StringGrid1->readOnlyCell = [this](int column, int row) {
        if (column != 1)
            return false;
        if (row < kFixedParamRows)
            return true;
        const RDMPARAMDESC* record = recordAtRow(row);
        return record && !record->writable();
    };

    StringGrid2 = Place(new StringGridWidget(this), 0, 0, 145, 23, "StringGrid2");
    StringGrid2->setColumnCount(2);
    StringGrid2->verticalHeader()->setDefaultSectionSize(21);
    StringGrid2->verticalHeader()->setMinimumSectionSize(20);
    StringGrid2->setColumnWidth(0, 40);
    StringGrid2->setColumnWidth(1, 101);
    StringGrid2->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid2->selectCell = [](int column, int) { return column == 1; };
    StringGrid2->charFilter = [](const QString& typed) -> QString {
        const QChar c = typed.size() == 1 ? typed[0] : QChar();
        if (c == ',')
            return ".";
        if ((c >= '0' && c <= '9') || c == '.' || c == '-')
            return typed;
        return QString();
    };
    StringGrid2->hide();
    UpDown2 = Place(new UpDown(this), 0, 0, 14, 20, "UpDown2");
    UpDown2->setRange(-0x7FFFFFFF, 0x7FFFFFFF);
    UpDown2->hide();

    Button2 = Button(this, "Button2", "Get", 16, 320);
    Button3 = Button(this, "Button3", "Set", 80, 320);
    CheckBox12 = Check(this, "CheckBox12", "Записывать сразу", 152, 316, 145, 17);
    CheckBoxReadBack = Check(this, "CheckBoxReadBack", "Read Back", 152, 338, 97, 17);
}

void RdmTab::setLocked(bool locked)
{
    locked_ = locked;
    // The grids keep the focus they have (leaving one would commit it) but take no edits.
    for (StringGridWidget* grid : {StringGrid1, StringGrid2})
        grid->setEditingAllowed(!locked);
    for (QWidget* w : std::initializer_list<QWidget*>{Button2, Button3, UpDown2})
        w->setEnabled(!locked);
    if (locked)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

// --- rows and what they show ---

int RdmTab::recordIndex(int row) const
{
    const int k = row - kFixedParamRows;
    return k >= 0 && k < params.count ? k : -1;
}

void RdmTab::showValue(int row, const QString& text)
{
    if (row >= int(shown_.size()))
        shown_.resize(size_t(row) + 1);
    shown_[size_t(row)] = text;
    StringGrid1->setCellText(1, row, text);
    markUnsent(row, false);
}

bool RdmTab::typedInto(int row) const
{
    const RDMPARAMDESC* record = recordAtRow(row);
    if (!record || !record->writable())
        return false;
    const QString shown = row < int(shown_.size()) ? shown_[size_t(row)] : QString();
    return StringGrid1->cellText(1, row) != shown;
}

void RdmTab::markUnsent(int row, bool unsent)
{
    QTableWidgetItem* item = StringGrid1->item(row, 1);
    if (unsent)
        unsent_.insert(row);
    else
        unsent_.erase(row);
    if (!item)
        return;
    item->setBackground(unsent ? QBrush(kUnsentColour) : QBrush());
    item->setToolTip(unsent ? QString::fromUtf8("Не отправлено устройству") : QString());
}

void RdmTab::sayUnsent()
{
    StringGrid1->finishEditing();
    for (int row = kFixedParamRows; row < StringGrid1->rowCount(); ++row) {
        const RDMPARAMDESC* record = recordAtRow(row);
        if (!record || !(typedInto(row) || unsent_.count(row)))
            continue;
        context_.log("Не отправлено устройству " + UidLogText(gridUid_) + ": " + Cp1251ToUtf8(record->description) +
                     " = " + StringGrid1->cellText(1, row).toStdString());
    }
    unsent_.clear();
}

void RdmTab::ResetParamGrid()
{
    gridUid_ = 0;
    unsent_.clear();
    shown_.assign(kFixedParamRows, QString());
    StringGrid1->setRowCount(kFixedParamRows);
    for (int row = 0; row < kFixedParamRows; ++row) {
        StringGrid1->setCellText(0, row, FixedRowName(row));
        showValue(row, QString());
    }
    StringGrid1->setVisible(true);
}

void RdmTab::clearForNewList()
{
    if (gridUid_)
        sayUnsent();
    hideEditors();
    params.count = 0;
    ResetParamGrid();
}

void RdmTab::ShowDeviceInfo(const std::array<std::string, 9>* rows)
{
    if (!rows) {
        ResetParamGrid();
        return;
    }
    for (int row = 0; row < 9; ++row)
        showValue(row, QString::fromStdString((*rows)[size_t(row)]));
}

// --- Get and Set ---

void RdmTab::Button2Click()
{
    const int device = devices_.selected();
    hideEditors();
    // What was typed and not sent is said before other values take its place.
    if (gridUid_)
        sayUnsent();
    if (device < 0) {
        ResetParamGrid();
        return;
    }
    const Uid uid = devices_.entries[device].uid;
    if (uid != gridUid_) {
        // The grid holds no device's values until this one's come: a commit still
        // queued goes to the device it was typed for, and shows nothing here.
        params.count = 0;
        ResetParamGrid();
    }
    readingUid_ = uid;
    DeviceReadEvents events;
    events.listed = [this](Uid from, int count) {
        if (from != readingUid_)
            return;
        readRows_ = count;
        params.count = 0;
        ResetParamGrid();
        gridUid_ = from;  // from here on the grid holds this device's values
    };
    events.deviceInfo = [this](Uid from, const std::optional<std::array<std::string, 9>>& info) {
        if (from != readingUid_)
            return;
        ShowDeviceInfo(info ? &*info : nullptr);
        // Without DEVICE_INFO the fixed rows stay empty; the device's own rows still come.
        gridUid_ = from;
        if (info)
            devices_.noteModelId(from, (*info)[1]);
    };
    events.softwareVersionLabel = [this](Uid from, const std::string& label) {
        if (from != readingUid_ || from != gridUid_)
            return;
        showValue(9, FromDevice(label));
        StringGrid1->setRowCount(RowOfRecord(readRows_));
    };
    events.row = [this](Uid from, int k, const RDMPARAMDESC& record, const std::string& value) {
        fillRow(from, k, record, value);
    };
    service_.readDevice(uid, context_.allParameters(), std::move(events), [this, uid] {
        if (uid != readingUid_)
            return;
        devices_.updateToolTips(context_.allParameters());
        // A stopped Get keeps the rows it filled.
        if (StringGrid1->rowCount() > RowOfRecord(params.count))
            StringGrid1->setRowCount(RowOfRecord(params.count));
        StringGrid1->viewport()->update();
    });
}

void RdmTab::fillRow(Uid uid, int k, const RDMPARAMDESC& record, const std::string& value)
{
    if (uid != readingUid_ || uid != gridUid_)
        return;
    params.records[k] = record;
    params.count = k + 1;
    StringGrid1->setCellText(0, RowOfRecord(k), FromDevice(record.description));
    showValue(RowOfRecord(k), FromDevice(value));
    devices_.noteValue(uid, record.pid, Cp1251ToUtf8(value));
}

std::string RdmTab::storedText(const RDMPARAMDESC& record) const
{
    return record.layout ? StandardValueText(record).value_or(std::string()) : FormatParamValue(record);
}

void RdmTab::storeTyped(int row)
{
    RDMPARAMDESC& record = *recordAtRow(row);
    const std::string text = ToDevice(StringGrid1->cellText(1, row));
    if (record.dataType == DS_ASCII && !record.layout)
        return;  // a text row goes as its cell reads
    std::string error;
    try {
        if (record.layout) {
            std::vector<uint8_t> data;
            if (!EncodeStandardValue(record, text, data, error))
                throw ConvertError(error);
            std::memcpy(record.byteValues, data.data(), data.size());
            record.valueLength = uint8_t(data.size());
        } else if (ElementCount(record) < 2) {
            StoreElement(record, StrToInt(text), 0);
        }
    } catch (const ConvertError&) {
        // The error is shown; the cell goes back to the value the record holds.
        showValue(row, FromDevice(storedText(record)));
        throw;
    }
}

void RdmTab::Button3Click()
{
    // The values go to the device they were read from, whichever row is selected.
    const Uid uid = gridUid_;
    auto readBack = [this] {
        if (CheckBoxReadBack->isChecked())
            Button2Click();
    };
    if (!gridDeviceListed()) {
        readBack();
        return;
    }
    StringGrid1->finishEditing();
    for (int row = kFixedParamRows; row < RowOfRecord(params.count); ++row)
        if (typedInto(row) || unsent_.count(row))
            storeTyped(row);
    std::vector<std::string> texts(size_t(params.count));
    for (int k = 0; k < params.count; ++k) {
        const int row = RowOfRecord(k);
        if (params.records[k].dataType == DS_ASCII)
            texts[size_t(k)] = ToDevice(StringGrid1->cellText(1, row));
        showValue(row, StringGrid1->cellText(1, row));  // what is sent is what the cell shows
    }
    service_.sendAll(uid, params, std::move(texts),
                     [this, readBack](Uid sentTo, const std::vector<RefusedValue>& refused, bool stopped) {
                         if (sentTo != gridUid_)
                             return;
                         for (const RefusedValue& r : refused)
                             showRefused(r);
                         if (!stopped)
                             readBack();
                     });
}

// --- one cell ---

bool RdmTab::StringGrid1SelectCell(int column, int row) const
{
    if (column != 1 || row < kFixedParamRows)
        return false;
    const RDMPARAMDESC* record = recordAtRow(row);
    // The personality is chosen from its drop-down.
    return !record || record->writable() || (record->layout && record->pid == rdm::DMX_PERSONALITY);
}

void RdmTab::StringGrid1KeyDown() { commitRow(StringGrid1->row()); }

void RdmTab::commitRow(int row)
{
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
    const std::string text = ToDevice(StringGrid1->cellText(1, row));
    if (record.dataType != DS_ASCII) {
        try {
            StrToInt(text);
        } catch (const ConvertError&) {
            // The error is shown; the cell goes back to the value it holds.
            showValue(row, FromDevice(FormatParamValue(record)));
            throw;
        }
    }
    if (!gridDeviceListed()) {
        // No device to send to: the value is only kept.
        if (record.dataType == DS_ASCII)
            StoreTextValue(record, text);
        else
            StoreElement(record, StrToInt(text), 0);
        showValue(row, StringGrid1->cellText(1, row));
        return;
    }
    commitCell(row, text, CommitValue);
}

void RdmTab::commitCell(int row, const std::string& text, RdmService::CellCommit commit)
{
    const int k = recordIndex(row);
    // Sent once: the cell now counts as showing what the device was given.
    showValue(row, StringGrid1->cellText(1, row));
    service_.commitValue(gridUid_, k, params.records[k], text, CheckBoxReadBack->isChecked(), commit,
                         [this, row](const CommitResult& result) {
                             // A result for a device the grid no longer shows changes nothing.
                             if (result.uid != gridUid_ || result.index >= params.count)
                                 return;
                             params.records[result.index] = result.record;
                             if (result.shown)
                                 showValue(row, FromDevice(*result.shown));
                         });
}

void RdmTab::commitStandardCell(int row, RDMPARAMDESC& record)
{
    const QString stored = FromDevice(StandardValueText(record).value_or(std::string()));
    if (!record.writable()) {
        showValue(row, stored);
        return;
    }
    const std::string text = Utf8ToCp1251(StringGrid1->cellText(1, row).toStdString());
    std::vector<uint8_t> data;
    std::string error;
    if (!EncodeStandardValue(record, text, data, error)) {
        // Outside what the field holds: nothing is sent, the cell keeps the value.
        showValue(row, stored);
        context_.dialogs.beep();
        return;
    }
    if (gridDeviceListed())
        commitCell(row, text, CommitStandardValue);
}

void RdmTab::StringGrid1Exit()
{
    const int row = StringGrid1->row();
    if (!typedInto(row))
        return;  // nothing typed since it was filled or sent
    if (CheckBox12->isChecked()) {
        commitRow(row);
        return;
    }
    // Only Enter or Set sends: the typed text stays, marked as not sent.
    markUnsent(row, true);
}

void RdmTab::showRefused(const RefusedValue& refused)
{
    params.records[refused.index] = refused.record;
    showValue(RowOfRecord(refused.index), FromDevice(refused.text));
    if (StringGrid2->isVisible() && recordIndex(StringGrid1->row()) == refused.index)
        StringGrid1Click();  // the element editor shows the device's values too
}

// --- the element editor ---

void RdmTab::hideEditors()
{
    StringGrid2->hide();
    UpDown2->hide();
    if (ComboPersonality)
        ComboPersonality->hide();
}

void RdmTab::StringGrid1Click()
{
    hideEditors();
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
    const QPoint viewport = StringGrid1->viewport()->mapTo(this, QPoint(0, 0));
    StringGrid2->move(viewport + cell.topLeft());
    StringGrid2->setCurrentCell(0, 1);
    StringGrid2->show();
    StringGrid2->raise();
    StringGrid2Click();
}

void RdmTab::StringGrid2Click()
{
    const QRect cell = StringGrid2->visualRect(StringGrid2->model()->index(StringGrid2->row(), 1));
    const QPoint viewport = StringGrid2->viewport()->mapTo(this, QPoint(0, 0));
    UpDown2->move(viewport.x() + cell.right() - UpDown2->width() + 1, viewport.y() + cell.top());
    UpDown2->show();
    UpDown2->raise();
}

void RdmTab::storeEditorElements()
{
    RDMPARAMDESC* found = recordAtRow(StringGrid1->row());
    if (!found)
        return;
    RDMPARAMDESC& record = *found;
    StringGrid2->finishEditing();
    for (int i = 0; i < StringGrid2->rowCount(); ++i)
        StoreElement(record, StrToInt(StringGrid2->cellText(1, i).toStdString()), i);
}

void RdmTab::StringGrid2KeyDown()
{
    storeEditorElements();
    const RDMPARAMDESC* record = recordAtRow(StringGrid1->row());
    if (!CheckBox12->isChecked() || !gridDeviceListed() || !record)
        return;
    const int k = recordIndex(StringGrid1->row());
    service_.sendRecord(gridUid_, k, *record, [this, uid = gridUid_](const std::optional<RefusedValue>& refused) {
        if (refused && uid == gridUid_)
            showRefused(*refused);
    });
}

void RdmTab::StringGrid2Exit()
{
    storeEditorElements();
    const int row = StringGrid1->row();
    if (const RDMPARAMDESC* record = recordAtRow(row))
        showValue(row, FromDevice(FormatParamValue(*record)));
    hideEditors();
}

void RdmTab::UpDown2Click(bool upper)
{
    StringGrid2->finishEditing();
    const int row = StringGrid2->row();
    const int64_t value = int64_t(StrToInt(StringGrid2->cellText(1, row).toStdString())) + (upper ? 1 : -1);
    StringGrid2->setCellText(1, row, QString::number(value));
    StringGrid2KeyDown();
}

// --- the personality drop-down ---

void RdmTab::showPersonalityEditor(int row)
{
    const RDMPARAMDESC* record = recordAtRow(row);
    if (!record || gridUid_ == 0 || record->valueLength < 2)
        return;
    if (!ComboPersonality) {
        ComboPersonality = new PopupComboBox(StringGrid1->viewport());
        ComboPersonality->setObjectName("ComboPersonality");
        ComboPersonality->beforePopup = [this] { return loadPersonalities(); };
        connect(ComboPersonality, &QComboBox::activated, this,
                [this](int index) { context_.handle([this, index] { choosePersonality(index); }); });
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

bool RdmTab::loadPersonalities()
{
    const Uid uid = gridUid_;
    if (!gridDeviceListed() || service_.busy())
        return false;
    if (personalitiesOf_ == uid)
        return true;
    service_.readPersonalities(uid, ComboPersonality->count(),
                               [this](Uid from, const std::vector<Personality>& read) {
                                   if (from != gridUid_ || !ComboPersonality->isVisible())
                                       return;
                                   QSignalBlocker block(ComboPersonality);
                                   for (const Personality& p : read)
                                       ComboPersonality->setItemText(p.number - 1, FromDevice(PersonalityText(p)));
                                   personalitiesOf_ = from;
                                   ComboPersonality->openPopup();
                               });
    return false;
}

void RdmTab::choosePersonality(int index)
{
    const int k = recordIndex(StringGrid1->row());
    if (!gridDeviceListed() || k < 0 || params.records[k].pid != rdm::DMX_PERSONALITY)
        return;
    service_.choosePersonality(gridUid_, ComboPersonality->itemData(index).toInt(),
                               [this, k](const PersonalityResult& result) {
                                   if (result.info) {
                                       // The device's own word on its footprint, wherever it is shown.
                                       const int listed = devices_.rowOf(result.uid);
                                       if (listed >= 0)
                                           devices_.entries[listed].footprint = result.info->footprint;
                                       devices_.notifyChanged();
                                   }
                                   if (result.uid != gridUid_)
                                       return;
                                   ComboPersonality->hide();
                                   if (!result.info)
                                       return;
                                   const auto texts = DeviceInfoTexts(*result.info);
                                   ShowDeviceInfo(&texts);
                                   RDMPARAMDESC& record = params.records[k];
                                   record.byteValues[0] = result.info->personality;
                                   record.byteValues[1] = result.info->personalityCount;
                                   record.valueLength = 2;
                                   showValue(RowOfRecord(k),
                                             FromDevice(StandardValueText(record).value_or(std::string())));
                               });
}
