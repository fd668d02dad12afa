#include "app/up_down.h"
#include "form_fixture.h"
#include "params/param_grid.h"
#include "rdm/text_codec.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>

namespace {

std::vector<uint8_t> Bytes(const rdm::ParamData& data) { return {data.begin(), data.end()}; }

constexpr Uid kHead = 0x7FF000001000ull;
constexpr Uid kPar = 0x7FF000000500ull;

struct RdmPage : FormFixture {
    rig::Responder* head = nullptr;
    rig::Responder* par = nullptr;

    RdmPage()
    {
        head = &add(kHead, rig::MovingHeadModel());
        par = &add(kPar, rig::LedParModel());
        storeRigSettings(0);
        start();
        discover();
    }

    void clickCell(StringGridWidget* grid, int column, int row)
    {
        grid->scrollTo(grid->model()->index(row, column));
        const QRect cell = grid->visualRect(grid->model()->index(row, column));
        QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cell.center());
    }

    // Opens the editor of the grid's current value cell and types a value into it;
    // returns the editor, or nothing when none opened.
    QLineEdit* typeInto(StringGridWidget* grid, const QString& text)
    {
        grid->setFocus();
        grid->editItem(grid->item(grid->row(), 1));
        auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        if (!edit)
            return nullptr;
        edit->selectAll();
        bool ascii = true;
        for (QChar c : text)
            ascii = ascii && c.unicode() < 0x80;
        if (ascii)
            QTest::keyClicks(edit, text);
        else
            edit->insert(text);  // the test library types ASCII only
        return edit;
    }

    // Types a value into the current cell of the grid and presses Enter.
    void typeAndEnter(StringGridWidget* grid, const QString& text)
    {
        QLineEdit* edit = typeInto(grid, text);
        ASSERT_NE(edit, nullptr);
        QTest::keyClick(edit, Qt::Key_Return);
        QApplication::processEvents();  // the editor closes on the next turn of the loop
        settle();
    }

    std::vector<rig::RecordedRequest> sets() const
    {
        std::vector<rig::RecordedRequest> out;
        for (const auto& r : line.requests())
            if (r.decoded.commandClass == rdm::SET_COMMAND)
                out.push_back(r);
        return out;
    }
};

} // namespace

TEST(RdmPage, SelectingADeviceRunsGetAndFillsTheGrid)
{
    RdmPage p;
    TForm1& w = *p.form;
    ASSERT_EQ(w.ListBox1->count(), 2);
    EXPECT_EQ(w.ListBox1->item(0)->text(), "7FF000001000");
    w.ButtonCLRClick();
    p.select(0);
    EXPECT_EQ(p.log().first(), "Получение параметров 0x7FF000001000");
    StringGridWidget* g = w.TabSheet1->StringGrid1;
    EXPECT_EQ(g->cellText(1, 0), "1.0");
    EXPECT_EQ(g->cellText(1, 2), "Moving Head");
    EXPECT_EQ(g->cellText(1, 4), "16");
    EXPECT_EQ(g->cellText(1, 5), "1(3)");
    EXPECT_EQ(g->cellText(1, 9), "2.1.5");
    const int count = int(p.head->model().supportedParameters.size());
    EXPECT_EQ(g->rowCount(), 10 + count) << "all supported parameters, not nine";
    EXPECT_EQ(g->cellText(1, p.rowOf("Pan/Tilt Speed")), "[300, 100]");
    EXPECT_EQ(g->cellText(1, p.rowOf("Tilt Trim")), "-10");
    EXPECT_EQ(g->cellText(1, p.rowOf("Fixture Note")), "FOH left");
    EXPECT_EQ(g->cellText(1, p.rowOf("Lamp Hours")), "n/a");
    EXPECT_EQ(g->cellText(1, p.rowOf("DMX Start Address")), "1");
    EXPECT_EQ(g->cellText(1, p.rowOf("Unknown PID")), "");
    // Manufacturer PIDs are described by the device before their value is read.
    const QStringList lines = p.log();
    EXPECT_TRUE(lines.contains("Get PID 00C0:"));
    EXPECT_TRUE(lines.contains("Get PID 8004:"));
    EXPECT_FALSE(lines.contains("Get PID 8002:")) << "a double word is not read";
}

TEST(RdmPage, SelectionVetoAndReadOnlyCells)
{
    RdmPage p;
    TForm1& w = *p.form;
    p.select(0);
    StringGridWidget* g = w.TabSheet1->StringGrid1;
    const int start = p.rowOf("DMX Start Address");
    const int hours = p.rowOf("Lamp Hours");
    p.clickCell(g, 1, 2);
    EXPECT_NE(g->row(), 2) << "fixed rows cannot be selected";
    p.clickCell(g, 1, start);
    EXPECT_EQ(g->row(), start);
    p.clickCell(g, 1, hours);
    EXPECT_EQ(g->row(), start) << "a read-only parameter cannot be selected";
    EXPECT_TRUE(g->readOnlyCell(1, hours));
    EXPECT_TRUE(g->readOnlyCell(1, 3));
    EXPECT_FALSE(g->readOnlyCell(1, start));
}

TEST(RdmPage, EnterOnAWordSendsAndReadsBack)
{
    RdmPage p;
    TForm1& w = *p.form;
    p.select(0);
    w.TabSheet1->CheckBoxReadBack->setChecked(true);
    const int row = p.rowOf("DMX Start Address");
    p.clickCell(w.TabSheet1->StringGrid1, 1, row);
    w.ButtonCLRClick();
    p.typeAndEnter(w.TabSheet1->StringGrid1, "300");
    EXPECT_EQ(p.head->startAddress, 300);
    EXPECT_EQ(p.log(), (QStringList{"Set PID 00F0:", "Get PID 00F0:"}));
    EXPECT_EQ(w.TabSheet1->StringGrid1->cellText(1, row), "300");

    // Without read-back, what was typed stays, even when the stored byte differs.
    w.TabSheet1->CheckBoxReadBack->setChecked(false);
    const int trim = p.rowOf("Pan Invert");
    p.clickCell(w.TabSheet1->StringGrid1, 1, trim);
    p.typeAndEnter(w.TabSheet1->StringGrid1, "257");
    EXPECT_EQ(w.TabSheet1->StringGrid1->cellText(1, trim), "257");
    EXPECT_EQ(Bytes(p.sets().back().decoded.data), std::vector<uint8_t>{1});
}

TEST(RdmPage, ASetGoesOnlyToTheDeviceWhoseValuesTheGridHolds)
{
    RdmPage p;
    TForm1& w = *p.form;
    // The list's row differs from the device the grid was read from, as when a
    // click was taken while a commit ran: the highlight moved, no Get followed.
    const int par = w.ListBox1->row(w.ListBox1->findItems("7FF000000500", Qt::MatchExactly).value(0));
    const int head = 1 - par;
    p.select(head);
    {
        QSignalBlocker quiet(w.ListBox1);
        w.ListBox1->setCurrentRow(par);
    }
    const uint16_t parAddress = p.par->startAddress;
    const int label = p.rowOf("Device Label");
    p.clickCell(w.TabSheet1->StringGrid1, 1, label);
    p.typeAndEnter(w.TabSheet1->StringGrid1, "Spot");
    w.ButtonCLRClick();
    w.TabSheet1->Button3->click();
    p.settle();
    ASSERT_FALSE(p.sets().empty());
    for (const auto& r : p.sets())
        EXPECT_EQ(r.decoded.destination, kHead) << "no SET reaches the other device";
    EXPECT_EQ(p.par->startAddress, parAddress);
    EXPECT_EQ(p.head->deviceLabel, "Spot");
    EXPECT_EQ(p.log().value(0), "Установка параметров 0x7FF000001000");
}

TEST(RdmPage, ControlCharactersOfALabelAreShownAsSymbolsAndGoBackAsTheyCame)
{
    RdmPage p;
    TForm1& w = *p.form;
    p.head->deviceLabel = "Spot\x1B[2J\x07";
    p.select(0);
    const int label = p.rowOf("Device Label");
    EXPECT_EQ(w.TabSheet1->StringGrid1->cellText(1, label), QString::fromUtf8("Spot\u241B[2J\u2407"));
    w.TabSheet1->Button3->click();
    p.settle();
    EXPECT_EQ(p.head->deviceLabel, "Spot\x1B[2J\x07") << "Set sends the label as it came";
}

TEST(RdmPage, EnterOnATextRowStoresOnlyAndSetSendsInTableOrder)
{
    RdmPage p;
    TForm1& w = *p.form;
    p.select(0);
    const int label = p.rowOf("Device Label");
    p.clickCell(w.TabSheet1->StringGrid1, 1, label);
    const size_t before = p.line.requests().size();
    p.typeAndEnter(w.TabSheet1->StringGrid1, "Прожектор");
    EXPECT_EQ(p.line.requests().size(), before);
    w.ButtonCLRClick();
    w.TabSheet1->Button3->click();
    p.settle();
    const QStringList lines = p.log();
    ASSERT_FALSE(lines.isEmpty());
    EXPECT_EQ(lines[0], "Установка параметров 0x7FF000001000");
    EXPECT_EQ(p.head->deviceLabel, Utf8ToCp1251("Прожектор"));
    // Set lines follow the table order; read-only rows send nothing.
    QStringList setLines;
    for (const QString& l : lines)
        if (l.startsWith("Set PID "))
            setLines << l;
    EXPECT_EQ(setLines.first(), "Set PID 0082:");
    EXPECT_FALSE(setLines.contains("Set PID 8002:"));
    EXPECT_FALSE(setLines.contains("Set PID 0081:"));
    EXPECT_TRUE(setLines.contains("Set PID 00F0:"));
    EXPECT_TRUE(setLines.contains("Set PID 8004:"));
}

TEST(RdmPage, NotAnIntegerShowsTheMessageAndSendsNothing)
{
    RdmPage p;
    TForm1& w = *p.form;
    p.select(0);
    p.clickCell(w.TabSheet1->StringGrid1, 1, p.rowOf("DMX Start Address"));
    const size_t before = p.sets().size();
    p.modalMessages = true;
    p.typeAndEnter(w.TabSheet1->StringGrid1, "1x");
    QTest::qWait(100);
    EXPECT_TRUE(p.modalShownFocus);
    ASSERT_EQ(p.messages.size(), 1u) << "the box taking the focus is not a second commit";
    EXPECT_EQ(p.messages[0], "'1x' is not a valid integer value");
    EXPECT_EQ(p.sets().size(), before);
}

TEST(RdmPage, ColumnsFitTheGridWithoutSidewaysScrolling)
{
    RdmPage p;
    TForm1& w = *p.form;
    StringGridWidget* g = w.TabSheet1->StringGrid1;
    auto fits = [g] {
        QTest::qWait(20);  // the grid lays itself out, then shows its scroll bar, on later turns
        return g->columnWidth(0) + g->columnWidth(1) == g->viewport()->width();
    };
    EXPECT_TRUE(fits()) << "ten rows, no scroll bar";
    p.select(0);
    ASSERT_TRUE(fits());
    ASSERT_TRUE(g->verticalScrollBar()->isVisible()) << "a moving head fills more than the grid";
    EXPECT_EQ(g->columnWidth(0), 150);
    p.clickCell(g, 1, p.rowOf("DMX Start Address"));
    EXPECT_EQ(g->horizontalScrollBar()->value(), 0);
    EXPECT_EQ(g->horizontalScrollBar()->maximum(), 0);
}

TEST(RdmPage, ElementEditorRowsFilterSteppingAndWriteAtOnce)
{
    RdmPage p;
    TForm1& w = *p.form;
    p.select(0);
    const int row = p.rowOf("Colour Wheel Offsets");
    p.clickCell(w.TabSheet1->StringGrid1, 1, row);
    StringGridWidget* e = w.TabSheet1->StringGrid2;
    ASSERT_TRUE(e->isVisible());
    EXPECT_EQ(e->rowCount(), 3);
    EXPECT_EQ(e->height(), 65);
    EXPECT_EQ(e->width(), 145);
    EXPECT_EQ(e->cellText(0, 2), "2");
    EXPECT_EQ(e->cellText(1, 2), "255");
    EXPECT_TRUE(w.TabSheet1->UpDown2->isVisible());

    // Letters are dropped, a comma becomes a full stop.
    e->setCurrentCell(0, 1);
    e->setFocus();
    e->editItem(e->item(0, 1));
    auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    ASSERT_NE(edit, nullptr);
    edit->clear();
    QTest::keyClicks(edit, "1a,5");
    EXPECT_EQ(edit->text(), "1.5");
    edit->clear();
    QTest::keyClicks(edit, "7");
    QTest::keyClick(edit, Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(w.TabSheet1->params.records[row - 10].byteValues[0], 7);

    // Stepping 255 up writes 256, stores 0 and, with "Записывать сразу", sends all.
    w.TabSheet1->CheckBox12->setChecked(true);
    e->setCurrentCell(2, 1);
    w.TabSheet1->StringGrid2Click();
    const size_t before = p.sets().size();
    w.TabSheet1->UpDown2->press(true);
    p.settle();
    EXPECT_EQ(e->cellText(1, 2), "256");
    EXPECT_EQ(w.TabSheet1->params.records[row - 10].byteValues[2], 0);
    ASSERT_EQ(p.sets().size(), before + 1);
    EXPECT_EQ(Bytes(p.sets().back().decoded.data), (std::vector<uint8_t>{7, 2, 0}));
    EXPECT_EQ(p.head->findParam(0x8006)->value, (std::vector<uint8_t>{7, 2, 0}));

    // Leaving the editor closes it and shows the stored value.
    w.TabSheet1->Button2->setFocus();
    QApplication::processEvents();
    EXPECT_FALSE(e->isVisible());
    EXPECT_EQ(w.TabSheet1->StringGrid1->cellText(1, row), "[7, 2, 0]");
}

TEST(RdmPage, IdentifyIsKeptPerDevice)
{
    RdmPage p;
    TForm1& w = *p.form;
    p.select(0);
    w.Button10->click();
    p.settle();
    EXPECT_TRUE(p.head->identify);
    p.select(1);
    w.Button10->click();
    p.settle();
    EXPECT_TRUE(p.par->identify) << "another device is switched on, not off";
    p.select(0);
    w.Button10->click();
    p.settle();
    EXPECT_FALSE(p.head->identify);
    EXPECT_TRUE(p.par->identify);
}

TEST(RdmPage, GetWithoutSelectionAndADeviceThatAnswersLater)
{
    RdmPage p;
    TForm1& w = *p.form;
    p.select(0);
    w.ListBox1->clearSelection();
    w.TabSheet1->CheckBoxReadBack->setChecked(true);
    w.TabSheet1->Button3->click();
    p.settle();
    EXPECT_EQ(w.TabSheet1->StringGrid1->rowCount(), 10);
    EXPECT_EQ(w.TabSheet1->StringGrid1->cellText(1, 0), "");
    // A device that answers ACK_TIMER shows its values once they are ready.
    p.par->faults.ackTimer = true;
    p.select(1);
    EXPECT_GT(w.TabSheet1->StringGrid1->rowCount(), 10);
    EXPECT_EQ(w.TabSheet1->StringGrid1->cellText(0, 0), "RDM Protocol Version");
    EXPECT_EQ(w.TabSheet1->StringGrid1->cellText(1, 0), "1.0");
    EXPECT_EQ(w.TabSheet1->StringGrid1->cellText(1, p.rowOf("DMX Start Address")), QString::number(p.par->startAddress))
        << p.log().join("\n").toStdString();
}

// Leaving an edited cell sends it only with "Записывать сразу" ticked; unticked, the
// text stays, marked as not sent, until Enter sends it, once.
TEST(RdmPage, LeavingAnEditedCellSendsOnlyWhenWritingAtOnce)
{
    for (const bool atOnce : {true, false}) {
        SCOPED_TRACE(atOnce);
        RdmPage p;
        TForm1& w = *p.form;
        RdmTab& page = *w.TabSheet1;
        page.CheckBox12->setChecked(atOnce);
        p.select(0);
        const std::vector<uint8_t> before = p.head->findParam(0x8005)->value;
        const int row = p.rowOf("Tilt Trim");
        p.clickCell(page.StringGrid1, 1, row);
        ASSERT_NE(p.typeInto(page.StringGrid1, "-300"), nullptr);
        w.ButtonCLRClick();
        page.Button2->setFocus();  // the focus moves to a button
        QApplication::processEvents();
        p.settle();
        const std::vector<uint8_t> sent{0xFE, 0xD4};
        if (atOnce) {
            EXPECT_EQ(p.log(), QStringList{"Set PID 8005:"});
            EXPECT_EQ(p.head->findParam(0x8005)->value, sent);
            EXPECT_TRUE(page.unsentRows().empty());
            continue;
        }
        EXPECT_TRUE(p.log().isEmpty()) << p.log().join("\n").toStdString();
        EXPECT_EQ(p.head->findParam(0x8005)->value, before);
        EXPECT_EQ(page.StringGrid1->cellText(1, row), "-300") << "the text stays";
        EXPECT_EQ(page.unsentRows(), std::set<int>{row});
        // Enter sends it once; leaving the cell again sends nothing more.
        p.clickCell(page.StringGrid1, 1, row);
        QTest::keyClick(page.StringGrid1, Qt::Key_Return);
        p.settle();
        page.Button2->setFocus();
        QApplication::processEvents();
        p.settle();
        EXPECT_EQ(p.log(), QStringList{"Set PID 8005:"});
        EXPECT_EQ(p.head->findParam(0x8005)->value, sent);
        EXPECT_TRUE(page.unsentRows().empty());
    }
}

TEST(RdmPage, ARefusedValueIsLoggedByNameAndTheCellShowsTheDevicesValue)
{
    RdmPage p;
    TForm1& w = *p.form;
    p.select(0);  // the moving head, highest UID first
    ASSERT_EQ(w.devices.entries[0].uid, kHead);
    const int row = p.rowOf("DMX Start Address");
    const int address = p.head->startAddress;
    w.TabSheet1->CheckBoxReadBack->setChecked(false);
    w.TabSheet1->StringGrid1->setCurrentCell(row, 1);
    p.typeAndEnter(w.TabSheet1->StringGrid1, "600");
    EXPECT_EQ(p.head->startAddress, address);
    EXPECT_EQ(w.TabSheet1->StringGrid1->cellText(1, row), QString::number(address)) << "the refused value does not stay";
    EXPECT_TRUE(p.log().contains(
        "Устройство 0x7FF000001000 отклонило \"DMX Start Address\": NACK DATA_OUT_OF_RANGE"))
        << p.log().join("\n").toStdString();

    // A later Set sends the device's value, not the refused one.
    const size_t before = p.sets().size();
    w.TabSheet1->Button3->click();
    p.settle();
    bool sent = false;
    const auto sets = p.sets();
    for (size_t i = before; i < sets.size(); ++i)
        if (const auto& s = sets[i]; s.decoded.pid == rdm::DMX_START_ADDRESS) {
            EXPECT_EQ(Bytes(s.decoded.data), (std::vector<uint8_t>{uint8_t(address >> 8), uint8_t(address)}));
            sent = true;
        }
    EXPECT_TRUE(sent);

    // A Set nobody answers names the device.
    p.head->faults.silent = true;
    w.TabSheet1->Button3->click();
    p.settle();
    EXPECT_TRUE(p.log().contains("Устройство 0x7FF000001000 не ответило на установку \"DMX Start Address\""));
}
