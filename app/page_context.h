#pragma once
// What every page of the window works with: the line (through the one RDM
// service), the listed devices, the settings and the user's dialogs.
#include "app/device_list.h"
#include "app/rdm_service.h"
#include "settings/settings.h"

#include <QObject>
#include <QString>
#include <functional>

// What the window asks of the user outside its own controls.
struct FormDialogs {
    std::function<void(const QString&)> showMessage;
    std::function<void()> beep;
    std::function<QString()> askSavePatch;
    std::function<QString()> askOpenPatch;
    std::function<QString()> askSaveBackup;
    std::function<QString()> askOpenBackup;
    // A yes-or-no question before something is written to the devices.
    std::function<bool(const QString&)> confirm;
};

struct PageContext {
    RdmService& service;
    DeviceList& devices;
    SettingsRecord& settings;
    FormDialogs& dialogs;
    // Runs a handler, turning what it throws into a message.
    std::function<void(const std::function<void()>&)> handle;
    // Selects a row of the device list as a click on it does; -1 clears the selection.
    std::function<void(int row)> selectRow;

    void log(const std::string& text) const { service.appendLine(text); }
    // Runs `handler` on `signal` of `sender`, as `handle` runs handlers, while `page` lives.
    template <typename Sender, typename Signal>
    void on(QObject* page, Sender* sender, Signal signal, std::function<void()> handler) const
    {
        QObject::connect(sender, signal, page, [run = handle, handler = std::move(handler)] { run(handler); });
    }
    bool allParameters() const { return settings.AllParameters != 0; }
};
