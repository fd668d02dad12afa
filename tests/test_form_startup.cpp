#include "app/up_down.h"
#include "form_fixture.h"
#include "params/param_grid.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>

TEST(FormStartup, FirstStartWithNothingStored)
{
    FormFixture f;
    TForm1& w = f.start();
    EXPECT_EQ(w.size(), QSize(653, 590));
    EXPECT_EQ(w.PageControl1->currentIndex(), 0);
    EXPECT_EQ(w.TabSheet4->EditTimeout->text(), "10");
    EXPECT_EQ(w.TabSheet4->EditUniverse->text(), "24");
    EXPECT_EQ(w.TabSheet4->EditPeriod->text(), "32");
    EXPECT_EQ(w.TabSheet4->TimerItems->checkedId(), 0);
    EXPECT_EQ(w.TabSheet4->InterfaceItems->checkedId(), 0);
    EXPECT_EQ(w.TabSheet4->ListBoxInterfaces->currentRow(), 0);
    EXPECT_EQ(w.TabSheet1->StringGrid1->rowCount(), 10);
    EXPECT_EQ(w.TabSheet1->StringGrid1->cellText(0, 9), "Software Version Label");
    EXPECT_EQ(w.ListBox1->count(), 0);
    EXPECT_TRUE(f.messages.empty());
    // No RDM message at start-up.
    EXPECT_TRUE(f.line.requests().empty());
    EXPECT_EQ(w.service().engine().transactionNumber(), 0);
}

TEST(FormStartup, LayoutOutsideThePages)
{
    FormFixture f;
    TForm1& w = f.start();
    EXPECT_EQ(w.ListBox1->geometry(), QRect(8, 8, 161, 345));
    EXPECT_EQ(w.Button1->geometry(), QRect(8, 360, 75, 25));
    EXPECT_EQ(w.Button1->text(), "Обнаруж.");
    EXPECT_EQ(w.Button10->geometry(), QRect(94, 360, 75, 25));
    EXPECT_EQ(w.Button10->text(), "Идентиф.");
    EXPECT_EQ(w.PageControl1->geometry(), QRect(176, 8, 457, 385));
    // Where the controls sit in the window, whichever part holds them.
    auto inWindow = [&w](QWidget* c) { return QRect(c->mapTo(&w, QPoint(0, 0)), c->size()); };
    EXPECT_EQ(inWindow(w.LogPanel1->LogMemo), QRect(8, 400, 625, 153));
    EXPECT_EQ(inWindow(w.LogPanel1->CheckBoxLog), QRect(16, 560, 113, 17));
    EXPECT_EQ(w.LogPanel1->CheckBoxLog->text(), "Подробный лог");
    EXPECT_EQ(w.LogPanel1->ButtonCLR->text(), "Очистить");
    EXPECT_EQ(w.ListBox1->toolTip(), "Devices");
    const QStringList tabs = {"RDM", "Расстановка", "DMX-Tx", "Настройки"};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(w.PageControl1->tabText(i), tabs[i]);
    EXPECT_TRUE(w.windowTitle().startsWith("  Vantrell v2.5a ["));
    EXPECT_EQ(w.TabSheet4->EditUniverse->geometry(), QRect(184, 240, 57, 21));
    EXPECT_EQ(w.TabSheet4->UpDownPeriod->geometry(), QRect(240, 264, 16, 20));
}

// Whichever page holds them, the controls go by their names.
TEST(FormStartup, EveryControlIsFoundByItsName)
{
    FormFixture f;
    TForm1& w = f.start();
    for (const char* name :
         {"ListBox1", "Button1", "Button10", "PageControl1", "TabSheet1", "TabSheet2", "TabSheet3", "TabSheet4",
          "TabSheet5", "LogMemo", "CheckBoxLog", "ButtonCLR", "StringGrid1", "StringGrid2", "UpDown2", "Button2",
          "Button3", "CheckBox12", "CheckBoxReadBack", "PaintBox1", "Label28", "Button6", "Button7", "Button8",
          "Button9", "ScrollBar1", "ScrollBar16", "Label12", "Label27", "RadioGroupInterface", "ListBoxInterfaces",
          "ButtonConnect", "RadioGroup1", "EditTimeout", "EditUniverse", "EditPeriod", "UpDownTimeout",
          "UpDownUnivSize", "UpDownPeriod", "CheckBoxFastExchange", "CheckBoxAllParameters", "StatusTable"})
        EXPECT_NE(w.findChild<QWidget*>(name), nullptr) << name;
    EXPECT_NE(w.findChild<QTimer*>("Timer1"), nullptr);
}

TEST(FormStartup, StoredInterfaceIsConnectedAndThePageShown)
{
    FormFixture f;
    f.storeRigSettings(1);
    TForm1& w = f.start();
    EXPECT_EQ(w.PageControl1->currentIndex(), 1);
    EXPECT_EQ(w.TabSheet4->ListBoxInterfaces->currentRow(), f.lineRow);
    EXPECT_EQ(w.TabSheet4->ListBoxInterfaces->item(f.lineRow)->text(), "rig");
    EXPECT_EQ(std::string(w.service().port().devicePath()), f.linePath);
    EXPECT_TRUE(f.log().contains("RDM интерфейс инициализирован"));
}

TEST(FormStartup, SelectionOutsideTheListFallsBackToRowZeroAndMinusOneSelectsNothing)
{
    {
        FormFixture f;
        f.storeSettings("InterfaceSelection=" + std::to_string(f.lineRow + 5) + "\n");
        TForm1& w = f.start();
        EXPECT_EQ(w.TabSheet4->ListBoxInterfaces->currentRow(), 0);
    }
    {
        FormFixture f;
        f.storeSettings("InterfaceSelection=-1\n");
        TForm1& w = f.start();
        EXPECT_EQ(w.TabSheet4->ListBoxInterfaces->selectedItems().size(), 0);
        // The connect used the port's initial, empty path.
        EXPECT_TRUE(f.log().contains("Ошибка при инициализации RDM интерфейса"));
    }
}

TEST(FormStartup, TheStoredInterfaceIsFoundByItsTextAndNoOtherIsOpenedInItsPlace)
{
    {
        // Another line came before it in the list: the row moved, the name did not.
        FormFixture f;
        f.storeSettings("InterfaceType=0\nInterfaceSelection=" + std::to_string(f.lineRow + 3) +
                        "\nInterfaceName=rig\n");
        TForm1& w = f.start();
        EXPECT_EQ(w.TabSheet4->ListBoxInterfaces->currentRow(), f.lineRow);
        EXPECT_EQ(std::string(w.service().port().devicePath()), f.linePath);
        EXPECT_TRUE(f.log().contains("RDM интерфейс инициализирован"));
    }
    {
        // Not attached: nothing is opened, the log says so, nothing is selected.
        FormFixture f;
        f.storeSettings("InterfaceType=0\nInterfaceSelection=" + std::to_string(f.lineRow) +
                        "\nInterfaceName=truss-2\n");
        TForm1& w = f.start();
        EXPECT_EQ(w.TabSheet4->ListBoxInterfaces->selectedItems().size(), 0);
        EXPECT_FALSE(f.log().join("\n").contains("RDM интерфейс"));
        EXPECT_TRUE(f.log().join("\n").contains("Сохранённый интерфейс не подключён: truss-2."));
        // Closing without a choice keeps the interface wanted.
        w.close();
        QSettings ini(QString::fromStdString(f.settingsFile()), QSettings::IniFormat);
        EXPECT_EQ(ini.value("InterfaceName").toString(), "truss-2");
    }
    {
        FormFixture f;
        f.storeRigSettings(0);
        TForm1& w = f.start();
        w.close();
        QSettings ini(QString::fromStdString(f.settingsFile()), QSettings::IniFormat);
        EXPECT_EQ(ini.value("InterfaceName").toString(), "rig") << "the row's text is kept beside its number";
    }
}

TEST(FormStartup, BadSettingsValueShowsTheMessageAndTheOthersStillApplyAndStay)
{
    FormFixture f;
    f.storeSettings("UniverseSize=\nDMXPeriod=500\nTabIndex=3\n");
    TForm1& w = f.start();
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_EQ(f.messages[0], "Invalid data type for 'UniverseSize'");
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(w.PageControl1->currentIndex(), 3);
    EXPECT_EQ(w.TabSheet4->EditPeriod->text(), "500");
    w.close();
    QSettings ini(QString::fromStdString(f.settingsFile()), QSettings::IniFormat);
    EXPECT_EQ(ini.value("DMXPeriod").toInt(), 500) << "no default written over it";
    EXPECT_EQ(ini.value("UniverseSize").toString(), "") << "the unreadable text stays as it was";
}

TEST(FormStartup, ClosingSavesAllSevenValues)
{
    FormFixture f;
    f.storeRigSettings(3);
    TForm1& w = f.start();
    w.close();
    QSettings ini(QString::fromStdString(f.settingsFile()), QSettings::IniFormat);
    for (const SettingField& field : kSettingFields)
        EXPECT_TRUE(ini.contains(field.name)) << field.name;
    EXPECT_EQ(ini.value("InterfaceSelection").toInt(), f.lineRow);
    EXPECT_EQ(ini.value("TabIndex").toInt(), 3);
    EXPECT_EQ(ini.value("UniverseSize").toInt(), 24);
}

TEST(FormStartup, UnwritableSettingsKeepTheWindowOpen)
{
    FormFixture f;
    TForm1& w = f.start();
    QDir().mkpath(QString::fromStdString(f.settingsFile()));
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    ASSERT_EQ(f.messages.size(), 1u);
    EXPECT_EQ(f.messages[0], "Failed to set data for 'InterfaceType'");
}

TEST(SettingsPage, NumberBoxesClampBeepAndCommit)
{
    FormFixture f;
    f.storeRigSettings(3);
    TForm1& w = f.start();
    w.TabSheet4->EditUniverse->setFocus();
    w.TabSheet4->EditUniverse->clear();
    QTest::keyClicks(w.TabSheet4->EditUniverse, "0");
    QTest::keyClick(w.TabSheet4->EditUniverse, Qt::Key_Return);
    EXPECT_EQ(w.TabSheet4->EditUniverse->text(), "1");
    EXPECT_EQ(w.settings.UniverseSize, 1);
    EXPECT_EQ(f.beeps, 1);

    w.TabSheet4->EditUniverse->clear();
    QTest::keyClicks(w.TabSheet4->EditUniverse, "6a-0.0");  // letters, signs and points never get in
    EXPECT_EQ(w.TabSheet4->EditUniverse->text(), "600");
    w.TabSheet4->EditPeriod->setFocus();  // leaving the box commits it
    QApplication::processEvents();
    EXPECT_EQ(w.TabSheet4->EditUniverse->text(), "512");
    EXPECT_EQ(w.settings.UniverseSize, 512);
    EXPECT_EQ(f.beeps, 2);

    w.TabSheet4->EditPeriod->clear();
    w.TabSheet4->EditTimeout->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(w.TabSheet4->EditPeriod->text(), "1");
    EXPECT_EQ(w.settings.DMXPeriod, 1);
    EXPECT_EQ(f.beeps, 2) << "an emptied box becomes the minimum without a beep";

    w.TabSheet4->EditTimeout->clear();
    QTest::keyClicks(w.TabSheet4->EditTimeout, "150");
    QTest::keyClick(w.TabSheet4->EditTimeout, Qt::Key_Return);
    EXPECT_EQ(w.TabSheet4->EditTimeout->text(), "100");
    EXPECT_EQ(f.beeps, 3);
    w.TabSheet4->UpDownTimeout->press(true);
    EXPECT_EQ(w.TabSheet4->EditTimeout->text(), "100");
    w.TabSheet4->UpDownTimeout->press(false);
    EXPECT_EQ(w.TabSheet4->EditTimeout->text(), "99");
    EXPECT_EQ(w.settings.discoTimeout, 99);

    // Pasted text that is no number: the message, and the field keeps its value.
    f.modalMessages = true;
    w.TabSheet4->EditTimeout->setText("12x");
    QTest::keyClick(w.TabSheet4->EditTimeout, Qt::Key_Return);
    QTest::qWait(100);
    EXPECT_TRUE(f.modalShownFocus);
    ASSERT_EQ(f.messages.size(), 1u) << "the box taking the focus is not a second commit";
    EXPECT_EQ(f.messages[0], "'12x' is not a valid integer value");
    EXPECT_EQ(w.TabSheet4->EditTimeout->text(), "12x");
    EXPECT_EQ(w.settings.discoTimeout, 99);
}

TEST(SettingsPage, LosingActivationIsNoCommit)
{
    FormFixture f;
    f.storeRigSettings(3);
    TForm1& w = f.start();
    w.TabSheet4->EditTimeout->setFocus();
    w.TabSheet4->EditTimeout->clear();
    QTest::keyClicks(w.TabSheet4->EditTimeout, "150");
    QWidget other;
    other.show();
    QApplication::setActiveWindow(&other);
    QApplication::processEvents();
    ASSERT_FALSE(w.isActiveWindow());
    EXPECT_EQ(w.TabSheet4->EditTimeout->text(), "150");
    EXPECT_EQ(f.beeps, 0);
    EXPECT_EQ(w.settings.discoTimeout, 10);

    QApplication::setActiveWindow(&w);
    QApplication::processEvents();
    w.TabSheet4->EditPeriod->setFocus();  // moving on to another control is the commit
    QApplication::processEvents();
    EXPECT_EQ(w.TabSheet4->EditTimeout->text(), "100");
    EXPECT_EQ(w.settings.discoTimeout, 100);
    EXPECT_EQ(f.beeps, 1);
}

TEST(SettingsPage, ArrowKeysChooseAnInterfaceRowAsAClickDoes)
{
    FormFixture f;
    f.storeRigSettings(3);
    TForm1& w = f.start();
    w.TabSheet4->InterfaceItems->button(2)->click();
    ASSERT_EQ(w.TabSheet4->ListBoxInterfaces->count(), 2);
    EXPECT_EQ(w.service().port().deviceIndex(), 0);
    w.TabSheet4->ListBoxInterfaces->setFocus();
    QTest::keyClick(w.TabSheet4->ListBoxInterfaces, Qt::Key_Down);
    EXPECT_EQ(w.TabSheet4->ListBoxInterfaces->currentRow(), 1);
    EXPECT_EQ(w.service().port().deviceIndex(), 1) << "the row shown is the row connected";
    QTest::keyClick(w.TabSheet4->ListBoxInterfaces, Qt::Key_Home);
    EXPECT_EQ(w.service().port().deviceIndex(), 0);
}

TEST(SettingsPage, InterfaceKindListsAndConnects)
{
    FormFixture f;
    f.storeRigSettings(3);
    TForm1& w = f.start();
    EXPECT_EQ(f.serial.openHandles(), 1);
    w.TabSheet4->InterfaceItems->button(1)->click();
    EXPECT_EQ(f.serial.openHandles(), 0) << "choosing a kind closes the port first";
    ASSERT_EQ(w.TabSheet4->ListBoxInterfaces->count(), 2);
    EXPECT_EQ(w.TabSheet4->ListBoxInterfaces->item(1)->text(), "Device_1 S/N: PRO00002");
    EXPECT_EQ(w.settings.InterfaceType, 1);
    // Connect without clicking a row uses the earlier device number, 0.
    w.TabSheet4->ButtonConnect->click();
    EXPECT_EQ(f.log().last(), "RDM интерфейс инициализирован");
    EXPECT_EQ(w.service().port().deviceIndex(), 0);
    w.TabSheet4->InterfaceItems->button(2)->click();
    QTest::mouseClick(w.TabSheet4->ListBoxInterfaces->viewport(), Qt::LeftButton, {},
                      w.TabSheet4->ListBoxInterfaces->visualItemRect(w.TabSheet4->ListBoxInterfaces->item(1)).center());
    EXPECT_EQ(w.service().port().deviceIndex(), 1);
    w.TabSheet4->ButtonConnect->click();
    EXPECT_EQ(f.log().last(), "RDM интерфейс инициализирован");
    w.TabSheet4->TimerItems->button(1)->click();
    EXPECT_EQ(w.settings.TimerType, 1);
}

TEST(SettingsPage, FastExchangeBoxSwitchesTheExchangeAndIsKept)
{
    FormFixture f;
    f.storeRigSettings(3);
    f.add(0x7FF000000010ull, rig::LedParModel());
    f.line.paced = true;
    {
        TForm1& w = f.start();
        EXPECT_EQ(w.TabSheet4->CheckBoxFastExchange->geometry(), QRect(24, 296, 160, 17));
        EXPECT_EQ(w.TabSheet4->CheckBoxFastExchange->text(), "Быстрый обмен");
        EXPECT_FALSE(w.TabSheet4->CheckBoxFastExchange->isChecked()) << "a file without the key means off";
        EXPECT_FALSE(w.service().engine().fastExchange());
        w.TabSheet4->CheckBoxFastExchange->click();
        EXPECT_TRUE(w.service().engine().fastExchange());
        // A discovery on the fast exchange finds the device as the fixed waits do.
        w.Button1->click();
        f.settle();
        ASSERT_EQ(w.ListBox1->count(), 1);
        EXPECT_EQ(w.ListBox1->item(0)->text(), "7FF000000010");
        w.close();
    }
    QSettings ini(QString::fromStdString(f.settingsFile()), QSettings::IniFormat);
    EXPECT_EQ(ini.value("FastExchange").toInt(), 1);
    FormFixture again;
    again.storeSettings("FastExchange=1\n");
    TForm1& w = again.start();
    EXPECT_TRUE(w.TabSheet4->CheckBoxFastExchange->isChecked());
    EXPECT_TRUE(w.service().engine().fastExchange());
}

TEST(LogPane, LinesAndClearing)
{
    FormFixture f;
    TForm1& w = f.start();
    w.LogPanel1->ButtonCLR->click();
    w.appendLine("one\r\n");
    w.appendLine("two");
    EXPECT_EQ(f.log(), (QStringList{"one", "", "two"}));
    w.LogPanel1->ButtonCLR->click();
    EXPECT_TRUE(f.log().isEmpty());
    w.appendLine("top");
    EXPECT_EQ(f.log(), QStringList{"top"});
}
