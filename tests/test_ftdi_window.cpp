// The window on both FTDI kinds through the real D2XX layer over the fake
// libftdi, and pulling the interface on every kind.
#include "fake_ftdi/fake_libftdi.h"
#include "fake_ftdi/ftdi_fixture.h"
#include "form_fixture.h"
#include "params/param_grid.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>

namespace {

constexpr Uid kHead = 0x7FF000000101ull;
constexpr Uid kDimmer = 0x7FF000000202ull;
constexpr Uid kPar = 0x7FF000000303ull;

struct FtdiWindow : FormFixture {
    FakeFtdiBus fake{clock};
    FtdiD2xx ftdi{clock};
    fakeftdi::Chip* raw = nullptr;
    fakeftdi::Chip* widget = nullptr;
    rig::Responder* head = nullptr;

    // Both FTDI interfaces on the bus, or only the one of `onlyKind`.
    explicit FtdiWindow(int onlyKind = -1)
    {
        ftdiDevices = &ftdi;
        if (onlyKind == -1 || onlyKind == KindTalvern)
            raw = &fake.bus.add(line, rig::FtdiMode::Raw, "TLV00001");
        if (onlyKind == -1 || onlyKind == KindEnttecUsbPro)
            widget = &fake.bus.add(line, rig::FtdiMode::Widget, "PRO00002");
        head = &add(kHead, rig::MovingHeadModel());
        add(kDimmer, rig::DimmerPackModel()).startAddress = 100;
        add(kPar, rig::LedParModel()).startAddress = 200;
    }

    // Starts the window connected to `kind`'s interface: the rig line's row of
    // the serial list, or the row of the kind's chip.
    TForm1& startOn(int kind, const std::string& more = "")
    {
        const int row = kind == KindStandardVcp ? lineRow : (kind == KindTalvern || !raw ? 0 : 1);
        storeSettings("InterfaceType=" + std::to_string(kind) + "\nInterfaceSelection=" + std::to_string(row) +
                      "\nTabIndex=0\n" + more);
        return start();
    }

    fakeftdi::Chip& chipOf(int kind) { return kind == KindTalvern ? *raw : *widget; }

    void unplug(int kind)
    {
        if (kind == KindStandardVcp)
            serial.unplug(linePath);
        else
            fake.bus.unplug(chipOf(kind));
    }

    void replug(int kind)
    {
        if (kind == KindStandardVcp)
            serial.replug(linePath);
        else
            fake.bus.replug(chipOf(kind));
    }

    int count(const QString& line) const { return int(log().count(line)); }
};

const char* KindName(int kind) { return kind == KindTalvern ? "Talvern" : "Enttec USB Pro"; }

} // namespace

TEST(FtdiWindow, EveryPageWorksEndToEndOnBothFtdiKinds)
{
    for (int kind : {KindTalvern, KindEnttecUsbPro}) {
        SCOPED_TRACE(KindName(kind));
        FtdiWindow f;
        TForm1& w = f.startOn(kind);
        ASSERT_EQ(w.TabSheet4->ListBoxInterfaces->count(), 2);
        EXPECT_EQ(w.TabSheet4->ListBoxInterfaces->item(0)->text(), "Device_0 S/N: TLV00001");
        EXPECT_EQ(w.TabSheet4->ListBoxInterfaces->item(1)->text(), "Device_1 S/N: PRO00002");
        EXPECT_EQ(f.count("RDM интерфейс инициализирован"), 1);
        EXPECT_NE(f.chipOf(kind).openBy, nullptr);

        // Discovery.
        f.discover();
        ASSERT_EQ(w.ListBox1->count(), 3);
        EXPECT_TRUE(f.log().last().startsWith("Обнаружение завершено за"));

        // Get: the grid shows the head's parameters.
        int row = 0;
        for (; row < 3; ++row)
            if (w.devices.entries[row].uid == kHead)
                break;
        ASSERT_LT(row, 3);
        f.select(row);
        EXPECT_EQ(w.TabSheet1->StringGrid1->cellText(1, 2), "Moving Head");
        const int labelRow = f.rowOf("Device Label");
        ASSERT_GE(labelRow, 10);

        // Set: a changed label goes to the device.
        w.TabSheet1->StringGrid1->setCellText(1, labelRow, "Truss 2 left");
        w.TabSheet1->Button3->click();
        f.settle();
        EXPECT_EQ(f.head->deviceLabel, "Truss 2 left");

        // Patch Read and Write.
        w.TabSheet2->Button6->click();
        f.settle();
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(w.devices.entries[i].startIndex + 1, f.line.find(w.devices.entries[i].uid)->startAddress);
        w.devices.entries[row].startIndex = 299;
        w.TabSheet2->Button7->click();
        f.settle();
        EXPECT_EQ(f.head->startAddress, 300);

        // DMX output from the faders.
        w.TabSheet3->ScrollBar[0]->setValue(55);
        f.line.clearRecords();
        w.PageControl1->setCurrentIndex(2);
        ASSERT_TRUE(w.TabSheet3->Timer1->isActive());
        w.TabSheet3->Timer1Timer();
        w.TabSheet3->Timer1Timer();
        const auto frames = f.line.frames();
        ASSERT_GE(frames.size(), 2u);
        EXPECT_EQ(frames.back().startCode, 0);
        EXPECT_EQ(frames.back().levels[0], 200);
        EXPECT_EQ(f.count("Ошибка при инициализации RDM интерфейса"), 0);
    }
}

TEST(FtdiWindow, PullingTheInterfaceOnEveryKindEndsTheRunAndReconnectWorks)
{
    for (int kind : {KindStandardVcp, KindTalvern, KindEnttecUsbPro}) {
        SCOPED_TRACE(kind);
        FtdiWindow f(kind);
        for (uint32_t i = 0; i < 4; ++i)
            f.add(0x7FF000001000ull + i * 0x10101, rig::ScannerModel());
        TForm1& w = f.startOn(kind, "discoTimeout=3\n");
        ASSERT_EQ(f.count("RDM интерфейс инициализирован"), 1);

        // Pulled in the middle of a discovery.
        int requests = 0;
        f.line.onRequest = [&](const rig::RecordedRequest&) {
            if (++requests == 8)
                f.unplug(kind);
        };
        const uint64_t started = f.clock.nowUs();
        f.discover();
        f.line.onRequest = nullptr;
        EXPECT_LE(f.clock.nowUs() - started, uint64_t(3 + 1) * 1000000u) << "within the time-out and a second";
        EXPECT_GE(f.count("Ошибка при отправке RDM сообщения"), 1);
        // After the first failed write: the interface stopped, then the summary.
        const QStringList lines = f.log();
        ASSERT_GE(lines.size(), 2);
        EXPECT_TRUE(lines.end()[-2].startsWith("Интерфейс перестал принимать запросы"));
        EXPECT_TRUE(lines.last().startsWith("Обнаружение завершено за"));
        EXPECT_EQ(f.count("Ошибка при отправке RDM сообщения"), 1) << "no flood of send errors";
        EXPECT_LT(w.ListBox1->count(), 7);

        // DMX output stops with its one line and stays stopped.
        w.PageControl1->setCurrentIndex(2);
        ASSERT_TRUE(w.TabSheet3->Timer1->isActive());
        w.TabSheet3->Timer1Timer();
        EXPECT_FALSE(w.TabSheet3->Timer1->isActive());
        QTest::qWait(30);
        EXPECT_EQ(f.count("Ошибка при инициализации RDM интерфейса"), 1);

        // Connecting while it is out fails; once it is back, it works again.
        w.PageControl1->setCurrentIndex(3);
        w.TabSheet4->ButtonConnect->click();
        EXPECT_EQ(f.count("Ошибка при инициализации RDM интерфейса"), 2);
        f.replug(kind);
        w.TabSheet4->ButtonConnect->click();
        EXPECT_EQ(f.count("RDM интерфейс инициализирован"), 2);
        w.service().setDiscoveryTimeout(60);
        f.discover();
        EXPECT_EQ(w.ListBox1->count(), 7) << "every device, found again";
    }
}
