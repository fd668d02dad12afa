#pragma once
// The listed devices: row i of the device list is entry i of the table, and
// what each device's last Get told of it (label, model) is kept by its UID.
#include "rdm/device_table.h"

#include <QString>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QListWidget;

class DeviceList : public DeviceTable {
public:
    explicit DeviceList(QListWidget* box) : box_(box) {}

    int listed() const;    // rows that have a table entry
    int selected() const;  // the selected row, -1 for none
    int rowOf(Uid uid) const;  // -1 when not listed
    void setRows(const std::vector<std::string>& rows);
    void clearRows();
    void addRow(Uid uid);  // a discovered device, its row as the list shows UIDs
    // A device's footprint and start as read from it; false when it is no longer
    // listed (the list changed while it was read).
    bool takeRead(Uid uid, uint16_t footprint, uint16_t startIndex);

    struct Notes {
        std::string label, model;  // UTF-8, from the device's last Get
    };
    Notes notes(Uid uid) const;
    void noteValue(Uid uid, uint16_t pid, const std::string& value);
    void noteModelId(Uid uid, const std::string& modelId);
    // The list's tool tips: label and model, or none when `shown` is off.
    void updateToolTips(bool shown);

    // Footprints or start indices changed: the map paints them anew.
    std::function<void()> changed;
    void notifyChanged() const
    {
        if (changed)
            changed();
    }

private:
    QListWidget* box_;
    std::map<Uid, Notes> notes_;
};
