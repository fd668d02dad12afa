// RDM work on the window's worker: the same lines and results as the blocking
// window, a live event loop meanwhile, locked controls, progress, Stop and close.
#include "form_fixture.h"
#include "patch/patch_view.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QSettings>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>

namespace {

constexpr Uid kHead = 0x7FF0000A0001ull;

// A line of a moving head and `pars` LED pars.
void AddLine(FormFixture& f, int pars)
{
    f.add(kHead, rig::MovingHeadModel());
    for (int i = 0; i < pars; ++i)
        f.add(MakeUid(0x7FF0, 0x00100000u + uint32_t(i) * 0x00011111u), rig::LedParModel()).startAddress =
            uint16_t(1 + 10 * i);
}

// Waits, with the event loop turning, until `done` holds (or gives up).
template <typename F> bool WaitFor(F done, int ms = 20000)
{
    for (int i = 0; i < ms && !done(); ++i)
        QTest::qWait(1);
    return done();
}

// Steps the worker on, one sleep of the clock at a time with the event loop
// turning, until `done` holds; the clock stays held then, the worker waiting at
// its next sleep. However late this thread runs, the work cannot get further.
template <typename F> bool StepUntil(VirtualClock& clock, F done, int steps = 20000)
{
    clock.hold();
    for (int i = 0; i < steps && !done(); ++i) {
        clock.allow(1);
        QTest::qWait(1);
    }
    return done();
}

struct Outcome {
    QStringList log, rows, grid;
    std::vector<std::pair<uint16_t, uint16_t>> table;
    std::vector<uint16_t> addresses;
};

// Discovery, Get, Set with Read Back, patch Read and Write, as a user does them.
Outcome Session(bool threaded)
{
    FormFixture f;
    f.threadedRuns = threaded;
    AddLine(f, 3);
    f.storeRigSettings(0);
    TForm1& w = f.start();
    w.LogPanel1->CheckBoxLog->setChecked(true);
    f.discover();
    const int head = int(std::find_if(w.devices.entries, w.devices.entries + 4,
                                      [](const DeviceEntry& e) { return e.uid == kHead; }) -
                         w.devices.entries);
    f.select(head);
    w.TabSheet1->CheckBoxReadBack->setChecked(true);
    w.TabSheet1->StringGrid1->setCellText(1, f.rowOf("Device Label"), "Truss 3");
    w.TabSheet1->Button3->click();
    f.settle();
    w.PageControl1->setCurrentIndex(1);
    w.TabSheet2->Button6->click();
    f.settle();
    w.devices.entries[0].startIndex = 99;
    w.TabSheet2->Button7->click();
    f.settle();

    Outcome o;
    o.log = f.log();
    for (int i = 0; i < w.ListBox1->count(); ++i)
        o.rows << w.ListBox1->item(i)->text();
    for (int r = 0; r < w.TabSheet1->StringGrid1->rowCount(); ++r)
        o.grid << w.TabSheet1->StringGrid1->cellText(0, r) + "=" + w.TabSheet1->StringGrid1->cellText(1, r);
    for (int i = 0; i < 4; ++i)
        o.table.emplace_back(w.devices.entries[i].startIndex, w.devices.entries[i].footprint);
    for (const auto& r : f.line.responders())
        o.addresses.push_back(r->startAddress);
    return o;
}

} // namespace

TEST(WindowRuns, TheWorkerWritesWhatTheBlockingWindowWrote)
{
    const Outcome blocking = Session(false), live = Session(true);
    ASSERT_GT(blocking.log.size(), 100) << "the detailed log of a whole session";
    EXPECT_EQ(live.log, blocking.log);
    EXPECT_EQ(live.rows, blocking.rows);
    EXPECT_EQ(live.grid, blocking.grid);
    EXPECT_EQ(live.table, blocking.table);
    EXPECT_EQ(live.addresses, blocking.addresses);
    EXPECT_TRUE(live.grid.contains("Device Label=Truss 3"));
}

TEST(WindowRuns, TheWindowStaysLiveAndLockedWhileADiscoveryRuns)
{
    FormFixture f;
    AddLine(f, 8);
    f.storeRigSettings(2, "DMXPeriod=5\ndiscoTimeout=100\n");
    TForm1& w = f.start();
    f.clock.pace(0.02);  // 1 s of the line in 20 ms
    int ticks = 0;
    QTimer beat;
    QObject::connect(&beat, &QTimer::timeout, [&ticks] { ++ticks; });
    beat.start(5);

    w.Button1->click();
    ASSERT_TRUE(w.running());
    ASSERT_TRUE(StepUntil(f.clock, [&] { return w.ListBox1->count() >= 2; }));  // the worker waits at its next sleep
    ASSERT_TRUE(w.running()) << "the run outlasts two devices";
    EXPECT_GT(ticks, 2) << "the event loop turns during the run";
    const int before = ticks;
    QTest::qWait(30);
    EXPECT_GT(ticks, before) << "and keeps turning";
    EXPECT_FALSE(w.TabSheet3->Timer1->isActive()) << "no output while discovering";

    for (QWidget* locked : std::initializer_list<QWidget*>{w.Button1, w.Button10, w.TabSheet1->Button2,
                                                          w.TabSheet1->Button3, w.TabSheet2->Button6,
                                                          w.TabSheet2->Button7, w.TabSheet2->Button8,
                                                          w.TabSheet2->Button9, w.TabSheet4->ButtonConnect,
                                                          w.TabSheet4->ListBoxInterfaces,
                                                          w.TabSheet4->RadioGroupInterface})
        EXPECT_FALSE(locked->isEnabled()) << locked->objectName().toStdString();
    // A click on the list meanwhile is taken, and its Get waits its turn.
    for (QWidget* free : std::initializer_list<QWidget*>{w.ListBox1, w.LogPanel1->ButtonCLR, w.LogPanel1->CheckBoxLog,
                                                        w.TabSheet3->ScrollBar[0], w.PageControl1})
        EXPECT_TRUE(free->isEnabled()) << free->objectName().toStdString();
    EXPECT_TRUE(w.LogPanel1->ButtonStop->isVisible());
    EXPECT_TRUE(w.LogPanel1->RunProgress->isVisible());
    EXPECT_TRUE(w.LogPanel1->RunLabel->text().startsWith("Обнаружение: найдено ")) << w.LogPanel1->RunLabel->text().toStdString();
    EXPECT_EQ(w.TabSheet1->cursor().shape(), Qt::BusyCursor);
    const QRect strip(227, 553, 406, 30);
    for (QWidget* part : std::initializer_list<QWidget*>{w.LogPanel1->ButtonStop, w.LogPanel1->RunProgress,
                                                        w.LogPanel1->RunLabel})
        EXPECT_TRUE(strip.contains(QRect(part->mapTo(&w, QPoint(0, 0)), part->size())));

    // A page change during the run starts no output; the run's end does.
    w.PageControl1->setCurrentIndex(0);
    w.PageControl1->setCurrentIndex(2);
    EXPECT_FALSE(w.TabSheet3->Timer1->isActive());
    // The detailed-log switch takes effect in the middle of the run.
    QTest::mouseClick(w.LogPanel1->CheckBoxLog, Qt::LeftButton, {}, QPoint(6, w.LogPanel1->CheckBoxLog->height() / 2));
    ASSERT_TRUE(w.LogPanel1->CheckBoxLog->isChecked());
    f.clock.release();
    ASSERT_TRUE(WaitFor([&] { return f.log().filter("Запрос:").size() > 0; }));

    f.settle();
    EXPECT_EQ(w.ListBox1->count(), 9);
    EXPECT_TRUE(w.TabSheet3->Timer1->isActive());
    EXPECT_TRUE(w.Button1->isEnabled() && w.ListBox1->isEnabled() && w.TabSheet4->ButtonConnect->isEnabled());
    EXPECT_FALSE(w.LogPanel1->ButtonStop->isVisible());
    EXPECT_FALSE(w.LogPanel1->RunProgress->isVisible());
    EXPECT_EQ(w.TabSheet1->cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(f.log().last().startsWith("Обнаружение завершено за "));
}

// A discovery the time-out cut short says what would help, in the window's words.
TEST(WindowRuns, ADiscoveryCutShortNamesTheSettingsThatHelp)
{
    FormFixture f;
    AddLine(f, 11);
    f.storeRigSettings(0, "discoTimeout=1\n");
    f.start();
    f.discover();
    const QStringList log = f.log();
    ASSERT_GE(log.size(), 3);
    EXPECT_EQ(log[log.size() - 3], "Обнаружение прервано по таймауту: найдены не все устройства.");
    EXPECT_EQ(log[log.size() - 2], "Таймаут обнаружения можно увеличить на странице «Настройки».");
    EXPECT_TRUE(log.last().contains("«Быстрый обмен»")) << "with the fixed waits";
}

TEST(WindowRuns, StopEndsADiscoveryAsItsTimeOutWould)
{
    FormFixture f;
    AddLine(f, 8);
    f.storeRigSettings(2, "DMXPeriod=5\n");
    TForm1& w = f.start();
    f.clock.pace(0.02);
    w.Button1->click();
    ASSERT_TRUE(StepUntil(f.clock, [&] { return w.ListBox1->count() >= 2; }));
    w.LogPanel1->ButtonStop->click();
    f.clock.release();
    f.settle();
    const QStringList log = f.log();
    EXPECT_LT(w.ListBox1->count(), 9);
    EXPECT_EQ(log.count("Остановлено пользователем."), 1);
    ASSERT_GE(log.size(), 2);
    EXPECT_EQ(log[log.size() - 2], "Остановлено пользователем.");
    EXPECT_TRUE(log.last().startsWith("Обнаружение завершено за ")) << "the summary, and no time-out notice";
    EXPECT_TRUE(w.TabSheet3->Timer1->isActive()) << "output resumes as after any discovery";
    EXPECT_TRUE(w.Button1->isEnabled());
}

TEST(WindowRuns, EscapeStopsAGetKeepingItsRows)
{
    FormFixture f;
    AddLine(f, 0);
    f.storeRigSettings(0);
    TForm1& w = f.start();
    f.discover();
    f.clock.pace(0.02);
    QListWidget* list = w.ListBox1;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    ASSERT_TRUE(StepUntil(f.clock, [&] { return w.TabSheet1->params.count >= 3; }));
    ASSERT_TRUE(w.running());
    EXPECT_TRUE(w.LogPanel1->RunLabel->text().startsWith("Параметр ")) << w.LogPanel1->RunLabel->text().toStdString();
    QTest::keyClick(&w, Qt::Key_Escape);
    f.clock.release();
    f.settle();
    const int rows = w.TabSheet1->params.count;
    EXPECT_GE(rows, 3);
    EXPECT_LT(rows, 20) << "a moving head lists more parameters than were read";
    EXPECT_EQ(w.TabSheet1->StringGrid1->rowCount(), RdmTab::RowOfRecord(rows));
    EXPECT_FALSE(w.TabSheet1->StringGrid1->cellText(0, RdmTab::RowOfRecord(rows - 1)).isEmpty());
    EXPECT_EQ(f.log().count("Остановлено пользователем."), 1);
    EXPECT_FALSE(w.running());
}

TEST(WindowRuns, AStoppedWriteLeavesTheRestUntouchedAndSaysHowManyWereWritten)
{
    FormFixture f;
    AddLine(f, 11);
    f.storeRigSettings(1, "discoTimeout=100\n");
    TForm1& w = f.start();
    f.discover();
    for (int i = 0; i < 12; ++i)
        w.devices.entries[i].startIndex = uint16_t(400 + i);
    f.clock.pace(0.1);  // 50 ms of the line in 5 ms
    w.TabSheet2->Button7->click();
    ASSERT_EQ(w.ListBox1->count(), 12);
    auto writtenSoFar = [&] {
        int n = 0;
        for (int i = 0; i < 12; ++i)
            n += f.line.find(w.devices.entries[i].uid)->startAddress == 401 + i;
        return n;
    };
    // The rig belongs to the worker while the run lasts; its progress is the window's.
    auto progress = [&] {
        const QStringList words = w.LogPanel1->RunLabel->text().split(' ');
        return words.size() == 4 && words[0] == "Устройство" ? words[1].toInt() : 0;
    };
    ASSERT_TRUE(StepUntil(f.clock, [&] { return progress() >= 3; }));
    w.LogPanel1->ButtonStop->click();
    f.clock.release();
    f.settle();
    const int written = writtenSoFar();
    EXPECT_GE(written, 3);
    EXPECT_LT(written, 12);
    for (int i = written; i < 12; ++i)
        EXPECT_NE(f.line.find(w.devices.entries[i].uid)->startAddress, 401 + i) << "device " << i;
    EXPECT_EQ(f.log().last(), QString("Записано %1 из 12 устройств.").arg(written));
}

TEST(WindowRuns, ClosingDuringARunWaitsForItsExchangeThenSavesAndCloses)
{
    FormFixture f;
    AddLine(f, 8);
    f.storeRigSettings(0);
    TForm1& w = f.start();
    f.clock.pace(0.02);
    w.Button1->click();
    ASSERT_TRUE(StepUntil(f.clock, [&] { return w.ListBox1->count() >= 1; }));
    EXPECT_FALSE(w.close()) << "the window waits for the run";
    EXPECT_TRUE(w.isVisible());
    f.clock.release();
    ASSERT_TRUE(WaitFor([&] { return !w.isVisible(); }));
    EXPECT_FALSE(w.running());
    EXPECT_EQ(f.log().count("Остановлено пользователем."), 1);
    QSettings ini(QString::fromStdString(f.settingsFile()), QSettings::IniFormat);
    EXPECT_EQ(ini.value("TabIndex").toInt(), 0);
    EXPECT_TRUE(ini.contains("discoTimeout"));
    for (const rig::RecordedRequest& r : f.line.requests())
        EXPECT_TRUE(r.whole) << "no request was cut off";
}

TEST(WindowRuns, AnErrorInARunReachesAMessageAndTheWindowStaysUsable)
{
    FormFixture f;
    AddLine(f, 0);
    f.storeRigSettings(0);
    TForm1& w = f.start();
    f.discover();
    f.select(0);
    w.TabSheet1->StringGrid1->setCurrentCell(f.rowOf("DMX Start Address"), 1);
    const QString stored = w.TabSheet1->StringGrid1->cellText(1, f.rowOf("DMX Start Address"));
    w.TabSheet1->StringGrid1->setCellText(1, f.rowOf("DMX Start Address"), "12x");
    Q_EMIT w.TabSheet1->StringGrid1->enterPressed();
    f.settle();
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_EQ(f.messages[0], "'12x' is not a valid integer value");
    EXPECT_EQ(w.TabSheet1->StringGrid1->cellText(1, f.rowOf("DMX Start Address")), stored) << "the invalid text does not stay";
    EXPECT_FALSE(w.running());
    EXPECT_TRUE(w.Button1->isEnabled());
    f.discover();
    EXPECT_EQ(w.ListBox1->count(), 1);
}

// Edit a start address, then click another device without Enter, with "Записывать
// сразу" ticked (the edit goes, before the other device is read) and unticked (it
// stays unsent, and the log says so); a Set afterwards goes to the new device only.
TEST(WindowRuns, AnEditLeftForAnotherDeviceNeverReachesTheOtherDevice)
{
    for (const bool atOnce : {true, false}) {
        SCOPED_TRACE(atOnce);
        FormFixture f;
        AddLine(f, 1);
        f.storeRigSettings(0);
        TForm1& w = f.start();
        RdmTab& page = *w.TabSheet1;
        f.discover();
        const int head = w.devices.entries[0].uid == kHead ? 0 : 1;
        const Uid par = w.devices.entries[1 - head].uid;
        const uint16_t parAddress = f.line.find(par)->startAddress;
        f.select(head);
        page.CheckBox12->setChecked(atOnce);
        const int row = f.rowOf("DMX Start Address");
        page.StringGrid1->setFocus();
        page.StringGrid1->setCurrentCell(row, 1);
        page.StringGrid1->editItem(page.StringGrid1->item(row, 1));
        auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        ASSERT_NE(edit, nullptr);
        edit->selectAll();
        QTest::keyClicks(edit, "77");
        w.ButtonCLRClick();
        // The press takes the focus from the cell (a commit starts with the box
        // ticked, on the worker, while the line is slow), the release selects.
        f.clock.pace(0.2);
        QListWidget* list = w.ListBox1;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(1 - head)).center());
        f.clock.release();
        f.settle();
        const QStringList log = f.log();
        ASSERT_GE(log.size(), 2);
        const QString get = "Получение параметров " + QString::fromStdString(UidLogText(par));
        if (atOnce) {
            EXPECT_EQ(log[0], "Set PID 00F0:") << "the commit first";
            EXPECT_EQ(log[1], get);
            EXPECT_EQ(f.line.find(kHead)->startAddress, 77);
        } else {
            EXPECT_EQ(log[0], "Не отправлено устройству " + QString::fromStdString(UidLogText(kHead)) +
                                  ": DMX Start Address = 77");
            EXPECT_EQ(log[1], get);
            EXPECT_NE(f.line.find(kHead)->startAddress, 77);
        }
        EXPECT_EQ(list->currentRow(), 1 - head);
        EXPECT_EQ(page.gridUid(), par) << "the list and the grid show the same device";
        EXPECT_EQ(page.StringGrid1->cellText(1, 2), "Fixed Fixture") << "the other device's rows";
        EXPECT_EQ(f.line.find(par)->startAddress, parAddress);

        // Set sends the grid's values to the device they came from, and to no other.
        const size_t before = f.line.requests().size();
        const uint16_t headAddress = f.line.find(kHead)->startAddress;
        page.Button3->click();
        f.settle();
        int toPar = 0;
        const std::vector<rig::RecordedRequest> requests = f.line.requests();  // a copy, taken once
        for (size_t i = before; i < requests.size(); ++i) {
            EXPECT_EQ(requests[i].decoded.destination, par);
            toPar += requests[i].decoded.destination == par;
        }
        EXPECT_GT(toPar, 0);
        EXPECT_EQ(f.line.find(kHead)->startAddress, headAddress);
    }
}

// The map and the status table paint from the window's own tables while a
// discovery and then a health round run on the worker (a race for ThreadSanitizer
// to find, if the worker wrote what they read).
TEST(WindowRuns, PaintingWhileTheLineIsBusyReadsOnlyTheWindowsTables)
{
    FormFixture f;
    AddLine(f, 6);
    f.storeRigSettings(1, "AllParameters=1\n");
    TForm1& w = f.start();
    f.discover();
    f.clock.pace(0.05);
    const auto paintWhileBusy = [&](int page) {
        for (int i = 0; i < 200 && w.running(); ++i) {
            if (page == 1)
                w.TabSheet2->PaintBox1->repaint();
            else
                w.TabSheet5->StatusTable->repaint();
            QTest::qWait(1);
        }
    };
    w.Button1->click();
    ASSERT_TRUE(w.running());
    paintWhileBusy(1);
    f.clock.release();
    f.settle();
    EXPECT_EQ(w.ListBox1->count(), 7);
    f.clock.pace(0.05);
    w.PageControl1->setCurrentIndex(4);  // a health round starts
    ASSERT_TRUE(WaitFor([&] { return w.running(); }));
    paintWhileBusy(4);
    f.clock.release();
    f.settle();
    EXPECT_EQ(w.TabSheet5->StatusTable->rowCount(), 7);
    w.PageControl1->setCurrentIndex(0);
}
