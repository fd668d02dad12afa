// The RDM page and the map with every E1.20 parameter shown, and without.
#include "app/popup_combo.h"
#include "form_fixture.h"

#include "patch/patch_map.h"
#include "patch/patch_view.h"

#include <QCheckBox>
#include <QPushButton>
#include <QLineEdit>

namespace {

constexpr Uid kHead = 0x7FF000001000ull;
constexpr Uid kPar = 0x7FF000000500ull;

// A moving head (which also lists IDENTIFY_DEVICE) and an LED par, discovered.
struct AllParameters : FormFixture {
    rig::Responder* head = nullptr;
    rig::Responder* par = nullptr;

    explicit AllParameters(bool on)
    {
        rig::ResponderModel model = rig::MovingHeadModel();
        model.supportedParameters.push_back(rdm::IDENTIFY_DEVICE);
        head = &add(kHead, model);
        par = &add(kPar, rig::LedParModel());
        storeRigSettings(0, on ? "AllParameters=1\n" : "");
        start();
        discover();
    }

    QStringList names() const
    {
        QStringList out;
        for (int r = 0; r < form->TabSheet1->StringGrid1->rowCount(); ++r)
            out << form->TabSheet1->StringGrid1->cellText(0, r);
        return out;
    }
    QString valueOf(const QString& name) const { return form->TabSheet1->StringGrid1->cellText(1, rowOf(name)); }

    size_t requestsFor(uint16_t pid) const
    {
        size_t n = 0;
        for (const auto& r : line.requests())
            n += r.decoded.pid == pid;
        return n;
    }

    void typeIntoCell(const QString& name, const QString& text)
    {
        StringGridWidget* grid = form->TabSheet1->StringGrid1;
        grid->setCurrentCell(rowOf(name), 1);
        grid->setCellText(1, rowOf(name), text);
        Q_EMIT grid->enterPressed();
        settle();
    }
};

} // namespace

TEST(AllParametersBox, OffTheGridIsAsBefore)
{
    AllParameters p(false);
    EXPECT_FALSE(p.form->TabSheet4->CheckBoxAllParameters->isChecked());
    p.select(0);
    const QStringList names = p.names();
    EXPECT_TRUE(names.contains("Unknown PID"));
    EXPECT_FALSE(names.contains("Device Model Description"));
    EXPECT_EQ(p.form->ListBox1->item(0)->toolTip(), QString());
}

TEST(AllParametersBox, OnEveryPidIsNamedAndDecoded)
{
    size_t requestsOff = 0;
    {
        AllParameters off(false);
        const size_t before = off.line.requests().size();
        off.select(0);
        requestsOff = off.line.requests().size() - before;
    }
    AllParameters p(true);
    EXPECT_TRUE(p.form->TabSheet4->CheckBoxAllParameters->isChecked());
    const size_t before = p.line.requests().size();
    p.select(0);
    ASSERT_EQ(p.form->devices.entries[0].uid, kHead);
    const QStringList names = p.names();
    EXPECT_FALSE(names.contains("Unknown PID")) << names.join(", ").toStdString();
    EXPECT_EQ(p.valueOf("Device Model Description"), "Spot 575 moving head");
    EXPECT_EQ(p.valueOf("DMX Personality"), "[personality: 1, personality_count: 3]");
    EXPECT_EQ(p.valueOf("Identify Device"), "off");
    EXPECT_EQ(p.valueOf("DMX Personality Description"), "") << "its GET needs a personality";
    // Manufacturer values the grid keeps no number of are read and shown as
    // vantrell-cli shows them: one GET more each, nothing else.
    EXPECT_EQ(p.valueOf("Lamp Hours"), "1234");
    EXPECT_EQ(p.valueOf("Calibration"), "[10, -20]");
    EXPECT_LE(p.line.requests().size() - before, requestsOff + 2) << "no request beyond the Get's";
    // The built-in rows keep their names, and the list's tool tip tells the device.
    EXPECT_EQ(p.valueOf("DMX Start Address"), "1");
    EXPECT_TRUE(p.form->ListBox1->item(0)->toolTip().contains("Spot 575 moving head"));
}

TEST(AllParametersBox, ASettableFieldIsCheckedBeforeItIsSent)
{
    AllParameters p(true);
    p.select(0);
    const size_t sets = p.requestsFor(rdm::IDENTIFY_DEVICE);
    p.typeIntoCell("Identify Device", "2");
    EXPECT_EQ(p.beeps, 1);
    EXPECT_EQ(p.requestsFor(rdm::IDENTIFY_DEVICE), sets) << "nothing sent";
    EXPECT_EQ(p.valueOf("Identify Device"), "off");
    p.form->TabSheet1->CheckBoxReadBack->setChecked(true);
    p.typeIntoCell("Identify Device", "on");
    EXPECT_TRUE(p.head->identify);
    EXPECT_EQ(p.valueOf("Identify Device"), "on");
    // Read-only rows send nothing.
    const size_t all = p.line.requests().size();
    p.typeIntoCell("Device Model Description", "x");
    EXPECT_EQ(p.line.requests().size(), all);
    EXPECT_EQ(p.beeps, 1);
}

TEST(AllParametersBox, APersonalityIsChosenFromTheDevicesOwnList)
{
    AllParameters p(true);
    p.select(0);
    TForm1& w = *p.form;
    w.TabSheet1->StringGrid1->setCurrentCell(p.rowOf("DMX Personality"), 1);
    w.TabSheet1->StringGrid1Click();
    auto* combo = w.findChild<PopupComboBox*>();
    ASSERT_NE(combo, nullptr);
    EXPECT_TRUE(combo->isVisible());
    EXPECT_EQ(p.requestsFor(rdm::DMX_PERSONALITY_DESCRIPTION), 0u) << "read when the list opens";
    combo->showPopup();
    p.settle();
    EXPECT_EQ(p.requestsFor(rdm::DMX_PERSONALITY_DESCRIPTION), 3u);
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(1), "2: Extended 24ch (24)");
    combo->hidePopup();
    Q_EMIT combo->activated(1);
    p.settle();
    EXPECT_EQ(p.head->personality, 2);
    EXPECT_EQ(w.devices.entries[0].footprint, 24) << "the map follows";
    EXPECT_EQ(p.valueOf("DMX Personality"), "[personality: 2, personality_count: 3]");
    EXPECT_EQ(w.TabSheet1->StringGrid1->cellText(1, 4), "24") << "DEVICE_INFO read back";
}

TEST(AllParametersBox, TheMapShowsLabelsTellsTheDeviceAndAClickSelectsIt)
{
    AllParameters p(true);
    TForm1& w = *p.form;
    p.head->deviceLabel = "Spot L";
    p.par->startAddress = 100;  // apart from the head
    p.select(0);  // a Get: the label is known from here on
    w.PageControl1->setCurrentIndex(1);
    w.TabSheet2->Button6->click();  // Read: where each device sits
    p.settle();
    const DeviceEntry head = w.devices.entries[0], par = w.devices.entries[1];
    auto centre = [](uint16_t index) {
        return QPoint(patch_map::kCell * (index % patch_map::kColumns) + 6, patch_map::kCell * (index / patch_map::kColumns) + 6);
    };
    const QPoint onHead = centre(head.startIndex), onPar = centre(par.startIndex + par.footprint - 1);
    const QString tip = w.TabSheet2->PaintBox1->onToolTip(onHead.x(), onHead.y());
    EXPECT_TRUE(tip.contains("UID: 7FF0:00001000")) << tip.toStdString();
    EXPECT_TRUE(tip.contains("Метка: Spot L"));
    EXPECT_TRUE(tip.contains("Модель: Spot 575 moving head"));
    EXPECT_TRUE(tip.contains("Каналов: 16"));
    EXPECT_EQ(w.TabSheet2->PaintBox1->onToolTip(412, 200), QString()) << "a free slot tells nothing";

    // The head's block carries its label; with the box off the map is bare.
    const QRect label(2, 2, 60, 8);  // the first cells of the head's row
    const QImage labelled = w.TabSheet2->PaintBox1->grab().toImage();
    w.TabSheet4->CheckBoxAllParameters->click();
    w.TabSheet2->PaintBox1->repaint();
    const QImage bare = w.TabSheet2->PaintBox1->grab().toImage();
    w.TabSheet4->CheckBoxAllParameters->click();
    int differing = 0;
    for (int y = label.top(); y <= label.bottom(); ++y)
        for (int x = label.left(); x <= label.right(); ++x)
            differing += labelled.pixel(x, y) != bare.pixel(x, y);
    EXPECT_GT(differing, 40);
    const QImage elsewhere = w.TabSheet2->PaintBox1->grab().toImage();
    EXPECT_EQ(elsewhere.pixel(300, 150), bare.pixel(300, 150));

    QTest::mouseClick(w.TabSheet2->PaintBox1, Qt::LeftButton, {}, onPar);
    p.settle();
    EXPECT_EQ(w.ListBox1->currentRow(), 1) << "the par is selected, as a click on the list does";
    EXPECT_EQ(w.TabSheet2->mapPosition, par.startIndex);
}
