#pragma once
// A main window on the in-process rig and a virtual clock, with its settings in a
// temporary folder and the virtual line published where the app lists it.
#include "app/dmx_tab.h"
#include "app/form1.h"
#include "app/log_pane.h"
#include "app/log_panel.h"
#include "app/patch_tab.h"
#include "app/rdm_tab.h"
#include "app/settings_tab.h"
#include "app/status_tab.h"
#include "link/lines_folder.h"
#include "params/param_grid.h"
#include "rig/fixtures.h"
#include "rig/rig_d2xx.h"
#include "rig/rig_serial.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

struct FormFixture {
    QTemporaryDir folder;
    VirtualClock clock{1000000};
    rig::VirtualLine line{clock};
    rig::RigSerial serial;
    rig::RigD2xx d2xx;
    D2xx* ftdiDevices = nullptr;  // when set, the window's FTDI devices instead of `d2xx`
    // Messages also come up in a real modal box, which takes the focus as the
    // window's own would, and which closes itself after a moment.
    bool modalMessages = false;
    bool realFileDialogs = false;  // the window's own file dialogs instead of savePath/openPath
    // RDM work on the window's worker thread; otherwise it blocks, as the original's did.
    bool threadedRuns = true;
    std::unique_ptr<TForm1> form;
    std::vector<QString> messages;
    bool modalShownFocus = false;  // the last modal box had the focus while it was up
    int beeps = 0;
    QString savePath, openPath;
    bool confirmAnswer = true;   // what the user answers a question before a write
    QStringList questions;       // the questions asked
    LinePublication linePublication;  // the rig line's entry, served by the in-process line below
    std::string linePath;
    int lineRow = 0;  // the rig line's row in the "Стандартный VCP" list

    FormFixture()
    {
        qputenv("XDG_RUNTIME_DIR", (folder.path() + "/run").toUtf8());
        QDir().mkpath(folder.path() + "/run");
        std::string error;
        EXPECT_TRUE(linePublication.publish("rig", "/dev/null", error)) << error;
        linePath = linePublication.path();
        serial.attach(linePath, line);
        d2xx.addDevice(line, rig::FtdiMode::Raw, "RAW00001");
        d2xx.addDevice(line, rig::FtdiMode::Widget, "PRO00002");
        std::vector<InterfaceEntry> system;
        ListSystemSerialDevices(system);
        lineRow = int(system.size());
    }

    std::string settingsFile() const { return folder.path().toStdString() + "/Vantrell/Vantrell.conf"; }

    void storeSettings(const std::string& text)
    {
        QDir().mkpath(folder.path() + "/Vantrell");
        std::ofstream(settingsFile()) << "[General]\n" << text;
    }

    // Settings that connect to the rig line on the given page.
    void storeRigSettings(int tab = 0, const std::string& more = "")
    {
        storeSettings("InterfaceType=0\nInterfaceSelection=" + std::to_string(lineRow) +
                      "\nTabIndex=" + std::to_string(tab) + "\n" + more);
    }

    TForm1& start()
    {
        FormServices services;
        services.serial = &serial;
        services.d2xx = ftdiDevices ? ftdiDevices : &d2xx;
        services.clock = &clock;
        services.settingsPath = settingsFile();
        services.blockingRuns = !threadedRuns;
        FormDialogs dialogs;
        dialogs.showMessage = [this](const QString& text) {
            messages.push_back(text);
            if (!modalMessages)
                return;
            QMessageBox box(QMessageBox::Critical, "Vantrell", text, QMessageBox::Ok, form.get());
            // Closed once it has taken the focus, however long that takes here.
            QTimer poll;
            int waitedMs = 0;
            QObject::connect(&poll, &QTimer::timeout, &box, [this, &box, &waitedMs] {
                waitedMs += 5;
                const bool focused = QApplication::focusWidget() && QApplication::focusWidget()->window() == &box;
                if (focused || waitedMs > 5000) {
                    modalShownFocus = focused;
                    box.accept();
                }
            });
            poll.start(5);
            box.exec();
        };
        dialogs.beep = [this] { ++beeps; };
        dialogs.confirm = [this](const QString& question) {
            questions.push_back(question);
            return confirmAnswer;
        };
        if (!realFileDialogs) {
            dialogs.askSavePatch = [this] { return savePath; };
            dialogs.askOpenPatch = [this] { return openPath; };
            dialogs.askSaveBackup = [this] { return savePath; };
            dialogs.askOpenBackup = [this] { return openPath; };
        }
        form = std::make_unique<TForm1>(services, dialogs);
        form->show();
        form->activateWindow();
        QApplication::setActiveWindow(form.get());
        QApplication::processEvents();
        return *form;
    }

    QStringList log() const { return form->LogPanel1->LogMemo->lines(); }

    rig::Responder& add(Uid uid, rig::ResponderModel model) { return line.add(uid, std::move(model)); }

    // Clicks a row of the device list, as the user selects a device.
    void select(int row)
    {
        QListWidget* list = form->ListBox1;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
        settle();
    }

    // The parameter grid's row named `name`, or -1.
    int rowOf(const QString& name) const
    {
        for (int r = 0; r < form->TabSheet1->StringGrid1->rowCount(); ++r)
            if (form->TabSheet1->StringGrid1->cellText(0, r) == name)
                return r;
        return -1;
    }

    void discover()
    {
        form->Button1Click();
        settle();
    }

    // Waits until the window's RDM work is done and its results are shown.
    void settle()
    {
        for (int i = 0; i < 60000 && !form->idle(); ++i)
            QTest::qWait(1);
        QApplication::processEvents();
    }
};
