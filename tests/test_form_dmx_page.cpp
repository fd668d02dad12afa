#include "form_fixture.h"

#include <QButtonGroup>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScrollBar>
#include <QTabWidget>
#include <QTimer>

TEST(DmxPage, FadersWriteSlotsUpsideDown)
{
    FormFixture f;
    f.storeRigSettings(2);
    TForm1& w = f.start();
    EXPECT_EQ(w.TabSheet3->FaderLabel[0]->text(), "000");
    EXPECT_EQ(w.TabSheet3->ScrollBar[3]->geometry(), QRect(16 + 24 * 3, 40, 17, 200));
    w.TabSheet3->ScrollBar[0]->setValue(0);
    EXPECT_EQ(w.TabSheet3->dmx.Slot(1), 255);
    EXPECT_EQ(w.TabSheet3->FaderLabel[0]->text(), "255");
    w.TabSheet3->ScrollBar[0]->setValue(255);
    EXPECT_EQ(w.TabSheet3->dmx.Slot(1), 0);
    EXPECT_EQ(w.TabSheet3->FaderLabel[0]->text(), "0");
    w.TabSheet3->ScrollBar[15]->setValue(100);
    EXPECT_EQ(w.TabSheet3->dmx.Slot(16), 155);
}

TEST(DmxPage, AClickInTheTroughMovesAFaderOneStep)
{
    FormFixture f;
    f.storeRigSettings(2);
    TForm1& w = f.start();
    QScrollBar* fader = w.TabSheet3->ScrollBar[4];
    QTest::mouseClick(fader, Qt::LeftButton, {}, QPoint(fader->width() / 2, 30));
    EXPECT_EQ(fader->value(), 254);
    EXPECT_EQ(w.TabSheet3->dmx.Slot(5), 1);
    EXPECT_EQ(w.TabSheet3->FaderLabel[4]->text(), "1");
}

TEST(DmxPage, StoredPageStartsOutputAndLeavingStopsIt)
{
    FormFixture f;
    f.storeRigSettings(2, "DMXPeriod=5\nUniverseSize=12\n");
    TForm1& w = f.start();
    EXPECT_TRUE(w.TabSheet3->Timer1->isActive());
    EXPECT_EQ(w.TabSheet3->Timer1->interval(), 5);
    w.TabSheet3->ScrollBar[15]->setValue(0);
    QTest::qWait(60);
    auto frames = f.line.frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().slotCount, 12) << "slot 16 is set but not sent";
    w.TabSheet3->ScrollBar[0]->setValue(55);
    QTest::qWait(30);
    EXPECT_EQ(f.line.frames().back().levels[0], 200) << "a fader move reaches the next frame";
    w.PageControl1->setCurrentIndex(0);
    EXPECT_FALSE(w.TabSheet3->Timer1->isActive());
    EXPECT_EQ(w.settings.TabIndex, 0);

    // The kind and period are read at each start.
    w.settings.TimerType = 1;
    w.TabSheet4->EditPeriod->setText("3");
    w.PageControl1->setCurrentIndex(2);
    EXPECT_FALSE(w.TabSheet3->Timer1->isActive());
    EXPECT_NE(w.TabSheet3->dmx.dmxTimerId(), 0u);
    w.PageControl1->setCurrentIndex(3);
    EXPECT_EQ(w.TabSheet3->dmx.dmxTimerId(), 0u);
}

TEST(DmxPage, UnknownStoredTimerKindRunsTheStandardTimer)
{
    FormFixture f;
    f.storeRigSettings(2, "TimerType=5\nDMXPeriod=5\n");
    TForm1& w = f.start();
    EXPECT_EQ(w.TabSheet4->TimerItems->checkedId(), 0);
    EXPECT_EQ(w.settings.TimerType, 0);
    EXPECT_TRUE(w.TabSheet3->Timer1->isActive()) << "the shown kind is the one that runs";
}

TEST(DmxPage, MissingInterfaceCostsOneLinePerKind)
{
    FormFixture f;
    f.storeSettings("InterfaceSelection=-1\nTabIndex=2\nDMXPeriod=2\n");
    TForm1& w = f.start();
    QTest::qWait(40);
    EXPECT_EQ(f.log().count("Ошибка при инициализации RDM интерфейса"), 2) << "connect, then one frame";
    EXPECT_FALSE(w.TabSheet3->Timer1->isActive());

    w.settings.TimerType = 1;
    w.PageControl1->setCurrentIndex(0);
    w.PageControl1->setCurrentIndex(2);
    QTest::qWait(40);
    QApplication::processEvents();
    EXPECT_EQ(f.log().count("no Talvern widget found"), 1);
    EXPECT_EQ(w.TabSheet3->dmx.dmxTimerId(), 0u);
}

TEST(DmxPage, DiscoveryStopsOutputAndResumesIt)
{
    FormFixture f;
    f.add(0x7FF000000001ull, rig::ScannerModel());
    f.storeRigSettings(2, "DMXPeriod=5\n");
    TForm1& w = f.start();
    EXPECT_TRUE(w.TabSheet3->Timer1->isActive());
    w.Button1Click();
    f.settle();
    EXPECT_TRUE(w.TabSheet3->Timer1->isActive());
    EXPECT_EQ(w.ListBox1->count(), 1);
    // With the interface gone the output stays stopped after the failed un-mute.
    w.service().port().PortClose();
    w.Button1Click();
    f.settle();
    EXPECT_FALSE(w.TabSheet3->Timer1->isActive());
}

TEST(DmxPage, APeriodShorterThanAFrameIsSaidOnceWhenOutputStarts)
{
    FormFixture f;
    f.storeRigSettings(2, "DMXPeriod=1\nUniverseSize=512\n");
    TForm1& w = f.start();
    const QString said = "Период 1 мс короче кадра DMX из 512 каналов (23 мс на линии): кадры идут подряд, не чаще.";
    EXPECT_EQ(f.log().count(said), 1) << f.log().join("\n").toStdString();
    w.PageControl1->setCurrentIndex(0);
    EXPECT_EQ(f.log().count(said), 1) << "leaving the page says nothing";
    w.PageControl1->setCurrentIndex(2);
    EXPECT_EQ(f.log().count(said), 2) << "once each time output starts";
    w.PageControl1->setCurrentIndex(0);
}
