#include "app/device_list.h"

#include "rdm/rdm_defs.h"
#include "rdm/uid.h"

#include <QListWidget>
#include <QSignalBlocker>

int DeviceList::listed() const { return box_->count() < kCapacity ? box_->count() : kCapacity; }

int DeviceList::selected() const
{
    const int row = box_->currentRow();
    if (row < 0 || row >= box_->count() || !box_->item(row)->isSelected())
        return -1;
    return row < kCapacity ? row : -1;
}

int DeviceList::rowOf(Uid uid) const
{
    if (uid == 0)
        return -1;
    for (int i = 0; i < listed(); ++i)
        if (entries[i].uid == uid)
            return i;
    return -1;
}

void DeviceList::setRows(const std::vector<std::string>& rows)
{
    QSignalBlocker block(box_);
    box_->clear();
    for (const std::string& row : rows)
        box_->addItem(QString::fromStdString(row));
    box_->setCurrentRow(-1);
}

void DeviceList::clearRows()
{
    setRows({});
    deviceCount = 0;
}

void DeviceList::addRow(Uid uid)
{
    if (deviceCount < kCapacity)
        entries[deviceCount++] = {uid, 0, 0};  // nothing read of it yet
    box_->addItem(QString::fromStdString(UidListText(uid)));
}

bool DeviceList::takeRead(Uid uid, uint16_t footprint, uint16_t startIndex)
{
    const int row = rowOf(uid);
    if (row < 0)
        return false;
    entries[row].footprint = footprint;
    entries[row].startIndex = startIndex;
    return true;
}

DeviceList::Notes DeviceList::notes(Uid uid) const
{
    const auto it = notes_.find(uid);
    return it == notes_.end() ? Notes{} : it->second;
}

void DeviceList::noteValue(Uid uid, uint16_t pid, const std::string& value)
{
    if (pid == rdm::DEVICE_LABEL)
        notes_[uid].label = value;
    else if (pid == rdm::DEVICE_MODEL_DESCRIPTION)
        notes_[uid].model = value;
}

void DeviceList::noteModelId(Uid uid, const std::string& modelId)
{
    Notes& n = notes_[uid];
    // A model description, once read, says more than the number.
    if (n.model.empty() || n.model.rfind("0x", 0) == 0)
        n.model = modelId;
}

void DeviceList::updateToolTips(bool shown)
{
    for (int i = 0; i < listed(); ++i) {
        QListWidgetItem* item = box_->item(i);
        const auto it = notes_.find(entries[i].uid);
        if (!item)
            continue;
        if (!shown || it == notes_.end()) {
            item->setToolTip(QString());
            continue;
        }
        item->setToolTip(QString::fromUtf8("Метка: %1\nМодель: %2")
                             .arg(QString::fromStdString(it->second.label), QString::fromStdString(it->second.model)));
    }
}
