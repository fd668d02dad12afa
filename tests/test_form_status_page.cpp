// The page "Состояние": the listed devices' health, refreshed while it is shown.
#include "form_fixture.h"

#include <QHeaderView>
#include <QTableWidget>
#include <QTimer>

namespace {

constexpr Uid kSpot = 0x7FF000000301ull;
constexpr Uid kWash = 0x7FF000000302ull;

struct StatusPage : FormFixture {
    rig::Responder* spot = nullptr;
    rig::Responder* wash = nullptr;

    explicit StatusPage(int tab = 0)
    {
        spot = &add(kSpot, rig::SpotModel());
        wash = &add(kWash, rig::WashModel());
        storeRigSettings(tab);
        start();
    }
    // The next round at once, as its timer would start it.
    void nextRound()
    {
        form->TabSheet5->StatusTimer->start(0);
        QTest::qWait(5);
        settle();
    }
    QString cell(Uid uid, int column) const
    {
        QTableWidget* t = form->TabSheet5->StatusTable;
        for (int r = 0; r < t->rowCount(); ++r)
            if (t->item(r, 0) && t->item(r, 0)->text().toStdString() == UidColonText(uid))
                return t->item(r, column)->text();
        return "(no row)";
    }
};

} // namespace

TEST(StatusPageTest, ShowsEachListedDeviceAndMarksOneThatGoesOffline)
{
    StatusPage p;
    TForm1& w = *p.form;
    p.discover();
    w.PageControl1->setCurrentIndex(4);
    p.nextRound();
    EXPECT_EQ(w.TabSheet5->StatusTable->rowCount(), 2);
    EXPECT_EQ(p.cell(kSpot, 4), "есть");
    EXPECT_TRUE(p.cell(kSpot, 6).contains("Lamp housing 62 °C")) << p.cell(kSpot, 6).toStdString();
    EXPECT_EQ(p.cell(kSpot, 7), "310");
    EXPECT_TRUE(p.cell(kSpot, 6).endsWith("лампа 310 ч")) << "the hours follow the sensors";
    // Status and sensors are seen without scrolling sideways; the model is in the tool tip.
    QTableWidget* t = w.TabSheet5->StatusTable;
    EXPECT_LE(t->horizontalHeader()->length(), t->viewport()->width());
    EXPECT_TRUE(t->item(0, 1)->toolTip().startsWith("Модель: ")) << t->item(0, 1)->toolTip().toStdString();
    EXPECT_FALSE(w.TabSheet3->Timer1->isActive()) << "the DMX output is the DMX page's";

    p.spot->statusQueue.push_back({0, rdm::STATUS_ERROR, 0x0042, 0, 0});
    p.line.setPowered(*p.wash, false);
    p.nextRound();
    EXPECT_EQ(p.cell(kWash, 4), "есть") << "one unanswered poll is no proof";
    p.nextRound();
    EXPECT_EQ(p.cell(kWash, 4), "нет связи") << "marked, not removed";
    EXPECT_EQ(p.cell(kSpot, 5), "ошибка");
    EXPECT_EQ(w.TabSheet5->StatusTable->item(0, 0)->background().color() == QColor(255, 255, 255), false);

    // Leaving the page ends the rounds.
    w.PageControl1->setCurrentIndex(0);
    EXPECT_FALSE(w.TabSheet5->StatusTimer->isActive());

    // Another discovery lists one device less: the table follows the list.
    p.discover();
    w.PageControl1->setCurrentIndex(4);
    p.nextRound();
    EXPECT_EQ(w.TabSheet5->StatusTable->rowCount(), 1);
    EXPECT_EQ(p.cell(kWash, 0), "(no row)");
}

TEST(StatusPageTest, TheStoredPageIncludesTheNewOneAndOlderFilesKeepTheirs)
{
    {
        StatusPage p(4);
        EXPECT_EQ(p.form->PageControl1->currentIndex(), 4);
        EXPECT_EQ(p.form->PageControl1->tabText(4), "Состояние");
    }
    {
        StatusPage p(3);
        EXPECT_EQ(p.form->PageControl1->currentIndex(), 3) << "the settings page, as before";
    }
}
