#include "form_fixture.h"
#include "patch/patch_file.h"
#include "patch/patch_view.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>

namespace {

struct PatchPage : FormFixture {
    PatchPage() { storeRigSettings(1); start(); }

    void rows(std::initializer_list<DeviceEntry> entries)
    {
        form->ListBox1->clear();
        int i = 0;
        for (const DeviceEntry& e : entries) {
            form->devices.entries[i++] = e;
            form->ListBox1->addItem(QString::fromStdString(UidLogText(e.uid)));
        }
    }

    QColor cell(int slot)
    {
        QImage image = form->TabSheet2->PaintBox1->grab().toImage();
        return image.pixelColor(13 * (slot % 32) + 6, 13 * (slot / 32) + 6);
    }

    void drag(int x, int y)
    {
        form->TabSheet2->PaintBox1MouseMove(Qt::LeftButton, x, y);
    }
};

} // namespace

TEST(PatchPage, ColoursByCount)
{
    PatchPage p;
    EXPECT_EQ(p.form->TabSheet2->PaintBox1->geometry(), QRect(8, 8, 417, 225));
    EXPECT_EQ(p.cell(0), QColor(255, 255, 255));
    p.rows({{1, 0, 24}, {2, 20, 10}});
    EXPECT_EQ(p.cell(0), QColor(0, 255, 0));
    EXPECT_EQ(p.cell(21), QColor(128, 0, 128)) << "two unselected devices overlap";
    EXPECT_EQ(p.cell(40), QColor(255, 255, 255));
    p.select(1);
    EXPECT_EQ(p.cell(21), QColor(255, 0, 0)) << "the selected device overlaps another";
    EXPECT_EQ(p.cell(29), QColor(128, 0, 128)) << "the selected device alone";
    EXPECT_EQ(p.form->TabSheet2->Label28->text(), "21");
}

TEST(PatchPage, DragBoundsAndDrop)
{
    PatchPage p;
    p.rows({{1, 0, 24}, {2, 0, 512}, {3, 5, 0}});
    p.select(0);
    p.drag(13 * 8 + 2, 13 * 15 + 2);  // address 489
    EXPECT_EQ(p.form->TabSheet2->mapPosition, 488);
    p.drag(13 * 9 + 2, 13 * 15 + 2);  // too far: stays
    EXPECT_EQ(p.form->TabSheet2->mapPosition, 488);
    p.drag(-3, -20);  // above the map: a very large index
    EXPECT_EQ(p.form->TabSheet2->mapPosition, 488);
    p.drag(416, 0);  // the last pixel column is the next row's first cell
    EXPECT_EQ(p.form->TabSheet2->mapPosition, 32);
    EXPECT_EQ(p.form->TabSheet2->Label28->text(), "33");
    p.form->TabSheet2->PaintBox1MouseUp(Qt::LeftButton, 0, 0);
    EXPECT_EQ(p.form->devices.entries[0].startIndex, 32);

    p.select(1);
    p.drag(13, 0);
    EXPECT_EQ(p.form->TabSheet2->mapPosition, 0) << "a 512-slot device only sits at the start";
    p.select(2);
    EXPECT_EQ(p.form->TabSheet2->mapPosition, 5);
    p.drag(13 * 31, 13 * 15);
    EXPECT_EQ(p.form->TabSheet2->mapPosition, 511);
    // A release without a drag stores the current position all the same.
    p.select(1);
    p.form->TabSheet2->mapPosition = 3;
    p.form->TabSheet2->PaintBox1MouseUp(Qt::RightButton, 0, 0);
    EXPECT_EQ(p.form->devices.entries[1].startIndex, 3);
    // Moves without the left button do nothing.
    p.form->TabSheet2->PaintBox1MouseMove(Qt::NoButton, 100, 100);
    EXPECT_EQ(p.form->TabSheet2->mapPosition, 3);
}

TEST(PatchPage, ReadAndWriteAgainstTheRig)
{
    PatchPage p;
    rig::Responder& a = p.add(0x7FF000000A00ull, rig::DimmerPackModel());
    rig::Responder& b = p.add(0x7FF000000B00ull, rig::FoggerModel());
    a.startAddress = 500;
    b.startAddress = 40;
    p.discover();
    ASSERT_EQ(p.form->ListBox1->count(), 2);
    p.select(0);
    p.form->TabSheet2->Button6->click();
    p.settle();
    EXPECT_EQ(p.form->devices.selected(), -1);
    EXPECT_EQ(p.form->devices.entries[0].startIndex, 39);
    EXPECT_EQ(p.form->devices.entries[0].footprint, 2);
    EXPECT_EQ(p.form->devices.entries[1].startIndex, 499);
    EXPECT_EQ(p.form->devices.entries[1].footprint, 6);
    EXPECT_EQ(p.cell(500), QColor(0, 255, 0));

    p.form->devices.entries[0].startIndex = 99;
    p.form->devices.entries[1].startIndex = 0;
    p.form->TabSheet2->Button7->click();
    p.settle();
    EXPECT_EQ(b.startAddress, 100);
    EXPECT_EQ(a.startAddress, 1);
}

// Consecutive addresses in the present order, asked first; the arrangement before
// kept in a patch file; each address read back.
TEST(PatchPage, AutoAddressingAsksKeepsTheOldArrangementAndReadsBack)
{
    PatchPage p;
    qputenv("XDG_STATE_HOME", (p.folder.path() + "/state").toUtf8());
    rig::Responder& dimmer = p.add(0x7FF000000A00ull, rig::DimmerPackModel());  // 6 slots
    rig::Responder& fogger = p.add(0x7FF000000B00ull, rig::FoggerModel());      // 2 slots
    rig::Responder& par = p.add(0x7FF000000C00ull, rig::LedParModel());         // 7 slots
    dimmer.startAddress = 500;
    fogger.startAddress = 40;
    par.startAddress = 100;
    p.discover();
    ASSERT_EQ(p.form->ListBox1->count(), 3);

    p.confirmAnswer = false;
    p.form->TabSheet2->ButtonAuto->click();
    p.settle();
    ASSERT_EQ(p.questions.size(), 1);
    EXPECT_TRUE(p.questions[0].contains("3 устройствам")) << p.questions[0].toStdString();
    EXPECT_EQ(dimmer.startAddress, 500) << "nothing written without a yes";

    p.confirmAnswer = true;
    p.form->TabSheet2->ButtonAuto->click();
    p.settle();
    EXPECT_EQ(fogger.startAddress, 1);
    EXPECT_EQ(par.startAddress, 3);
    EXPECT_EQ(dimmer.startAddress, 10);
    EXPECT_EQ(p.log().last(), "Автоадресация: 3 из 3 устройств на своих адресах (прочитано обратно).");
    const QStringList kept = QDir(p.folder.path() + "/state/vantrell").entryList({"patch-before-auto-*.pat"});
    ASSERT_EQ(kept.size(), 1);
    std::vector<PatchRecord> before;
    std::string why;
    ASSERT_TRUE(LoadPatchFile((p.folder.path() + "/state/vantrell/" + kept[0]).toStdString(), before, why)) << why;
    ASSERT_EQ(before.size(), 3u);
    for (const PatchRecord& r : before)
        EXPECT_TRUE(r.startIndex == 499 || r.startIndex == 39 || r.startIndex == 99);
    qunsetenv("XDG_STATE_HOME");
}

TEST(PatchPage, SaveAndLoadThroughTheButtons)
{
    PatchPage p;
    p.rows({{MakeUid(0x1234, 0x56), 0, 24}, {MakeUid(0x12, 1), 100, 8}});
    p.savePath = p.folder.path() + "/show.pat";
    p.form->TabSheet2->Button8->click();
    p.rows({{99, 1, 1}});
    p.openPath = p.savePath;
    p.form->TabSheet2->Button9->click();
    ASSERT_EQ(p.form->ListBox1->count(), 2);
    EXPECT_EQ(p.form->ListBox1->item(0)->text(), "0x123400000056");
    EXPECT_EQ(p.form->ListBox1->item(1)->text(), "0x1200000001");
    EXPECT_EQ(p.form->devices.entries[1].startIndex, 100);
    EXPECT_EQ(p.form->devices.selected(), -1);

    // A refused file leaves the list and the table as they were.
    QFile bad(p.folder.path() + "/bad.pat");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray("\x02\x00\x00\x00\x01", 5));
    bad.close();
    p.openPath = bad.fileName();
    p.form->ButtonCLRClick();
    p.form->TabSheet2->Button9->click();
    EXPECT_EQ(p.form->ListBox1->count(), 2);
    EXPECT_EQ(p.form->devices.entries[0].uid, MakeUid(0x1234, 0x56));
    ASSERT_EQ(p.log().size(), 1);
    EXPECT_TRUE(p.log()[0].startsWith("Файл расстановки не загружен: "));
    // Cancelled dialogs change nothing.
    p.openPath.clear();
    p.form->TabSheet2->Button9->click();
    EXPECT_EQ(p.form->ListBox1->count(), 2);
}

TEST(PatchPage, FileDialogsShowTheFilterByItsName)
{
    FormFixture f;
    f.realFileDialogs = true;
    f.storeRigSettings(1);
    TForm1& w = f.start();
    for (QPushButton* button : {w.TabSheet2->Button8, w.TabSheet2->Button9}) {
        QString shown;
        QTimer::singleShot(50, [&shown] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            if (auto* filter = dialog->findChild<QComboBox*>("fileTypeCombo"))
                shown = filter->currentText();
            dialog->reject();
        });
        button->click();
        EXPECT_EQ(shown, "Patchfile") << button->text().toStdString();
    }
    EXPECT_TRUE(f.messages.empty());
}

TEST(PatchPage, BackupAndRestoreThroughTheServiceAskBeforeWriting)
{
    PatchPage p;
    rig::Responder& head = p.add(0x7FF000000D00ull, rig::MovingHeadModel());
    p.add(0x7FF000000A00ull, rig::DimmerPackModel());
    p.discover();
    ASSERT_EQ(p.form->ListBox1->count(), 2);
    p.savePath = p.folder.path() + "/truss.json";
    p.form->TabSheet2->ButtonBackup->click();
    p.settle();
    EXPECT_EQ(p.log().last(), "Настройки 2 из 2 устройств сохранены в " + p.savePath + ".");
    EXPECT_TRUE(p.log().filter("Spot 575 moving head").size() == 1) << p.log().join("\n").toStdString();

    head.startAddress = 300;
    head.settings[2].value = 1;  // TILT_INVERT
    p.openPath = p.savePath;
    p.confirmAnswer = false;
    p.form->TabSheet2->ButtonRestore->click();
    p.settle();
    ASSERT_EQ(p.questions.size(), 1u);
    EXPECT_TRUE(p.questions[0].contains("в 2 устройств")) << p.questions[0].toStdString();
    EXPECT_EQ(head.startAddress, 300) << "nothing written without a yes";

    p.confirmAnswer = true;
    p.form->TabSheet2->ButtonRestore->click();
    p.settle();
    EXPECT_EQ(head.startAddress, 1);
    EXPECT_EQ(head.settings[2].value, 0);
    EXPECT_TRUE(p.log().last().startsWith("Восстановление: совпадает ")) << p.log().last().toStdString();
    EXPECT_TRUE(p.log().last().endsWith(" (прочитано обратно).")) << p.log().last().toStdString();
    EXPECT_EQ(p.log().filter(QRegularExpression("TILT_INVERT .* on .* restored$")).size(), 1);

    // A file that is not a whole backup is refused before anything is asked or sent.
    QFile bad(p.folder.path() + "/bad.json");
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write(R"({"format":"vantrell-backup","version":9})");
    bad.close();
    p.openPath = bad.fileName();
    p.form->TabSheet2->ButtonRestore->click();
    p.settle();
    EXPECT_EQ(p.questions.size(), 2u);
    EXPECT_TRUE(p.log().last().contains("written by a newer version")) << p.log().last().toStdString();
}
