// The window on the ports of the rig's Art-Net node, on a loopback address of this
// test's own: the node is polled at the address the settings name, the stored port
// is found by its node and Port-Address, and discovery, the grid's GET and the
// faders go through the node.
#include "form_fixture.h"
#include "link/artnet_driver.h"
#include "rig/artnet_node.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLineEdit>
#include <QScrollBar>
#include <QSettings>

namespace {

struct NodeWindow : FormFixture {
    rig::VirtualLine first{SystemClock::instance()}, second{SystemClock::instance()};
    std::unique_ptr<rig::ArtNetNode> node;
    std::string nodeAddress;  // ADDRESS:UDP_PORT
    uint32_t ip = 0x7F000000u | (uint32_t(getpid()) % 200 + 20) << 8 | 0x77;  // a loopback address of its own

    NodeWindow()
    {
        first.add(MakeUid(0x7FF0, 0x101), rig::LedParModel());
        for (uint32_t i = 1; i <= 3; ++i)
            second.add(MakeUid(0x7FF0, 0x200 + i), rig::DimmerPackModel());
        node = std::make_unique<rig::ArtNetNode>("Truss", ip,
                                                 std::vector<rig::ArtNetNode::Port>{{1, &first}, {2, &second}});
        std::string error;
        EXPECT_TRUE(node->start(error, 0)) << error;
        nodeAddress = Ipv4Text(ip) + ":" + std::to_string(node->udpPort());
    }

    // Settings that name the node to poll (or `polled`) and one of its ports as the interface.
    void storeNodeSettings(int universe, const std::string& polled = "")
    {
        storeSettings("InterfaceType=3\nInterfaceSelection=0\nInterfaceName=" + nodeAddress + "/" +
                      std::to_string(universe) + "\nArtNetNodes=" + (polled.empty() ? nodeAddress : polled) +
                      "\nDMXPeriod=25\nUniverseSize=16\n");
    }
};

} // namespace

TEST(ArtNetWindow, TheStoredPortIsFoundByItsIdentityAndCarriesDiscoveryGetAndFaders)
{
    NodeWindow f;
    f.storeNodeSettings(2);
    TForm1& w = f.start();
    SettingsTab& page = *w.TabSheet4;
    EXPECT_EQ(page.InterfaceItems->checkedId(), 3);
    EXPECT_EQ(page.InterfaceItems->button(3)->text(), "Art-Net");
    const std::string ip = f.nodeAddress.substr(0, f.nodeAddress.find(':'));
    ASSERT_EQ(page.ListBoxInterfaces->count(), 2);
    EXPECT_EQ(page.ListBoxInterfaces->item(0)->text().toStdString(), "Truss " + ip + " · universe 1");
    EXPECT_EQ(page.ListBoxInterfaces->currentRow(), 1) << "the port, not the row it was in";
    EXPECT_TRUE(f.log().contains(status_text::kInterfaceReady));

    // The node's table of the port's line, then a device's values read through it.
    f.discover();
    ASSERT_EQ(w.ListBox1->count(), 3);
    EXPECT_EQ(w.ListBox1->item(0)->text(), "7FF000000201");
    f.select(0);
    EXPECT_EQ(w.TabSheet1->StringGrid1->cellText(1, 4), "6") << "the dimmer pack's footprint";

    // The faders' frames reach the port's line, and only that one.
    w.PageControl1->setCurrentIndex(2);
    w.TabSheet3->ScrollBar[0]->setValue(0);
    for (int i = 0; i < 1000 && (f.second.frames().empty() || f.second.frames().back().levels[0] != 255); ++i)
        QTest::qWait(5);
    ASSERT_FALSE(f.second.frames().empty());
    EXPECT_EQ(f.second.frames().back().levels[0], 255);
    EXPECT_EQ(f.first.frameCount(), 0u);
    w.PageControl1->setCurrentIndex(3);

    // Kept by its node and Port-Address, whichever row it was.
    ASSERT_TRUE(w.FormCloseQuery());
    QSettings stored(QString::fromStdString(f.settingsFile()), QSettings::IniFormat);
    EXPECT_EQ(stored.value("InterfaceName").toString().toStdString(), f.nodeAddress + "/2");
    EXPECT_EQ(stored.value("ArtNetNodes").toString().toStdString(), f.nodeAddress);
}

TEST(ArtNetWindow, AStoredPortTheNodeDoesNotHaveIsNotOpenedInItsPlace)
{
    NodeWindow f;
    f.storeNodeSettings(9);
    TForm1& w = f.start();
    EXPECT_EQ(w.TabSheet4->ListBoxInterfaces->count(), 2);
    EXPECT_EQ(w.TabSheet4->ListBoxInterfaces->currentRow(), -1);
    EXPECT_TRUE(f.log().join("\n").contains("Сохранённый интерфейс не подключён: " +
                                            QString::fromStdString(f.nodeAddress) + "/9"));
    EXPECT_FALSE(f.log().contains(status_text::kInterfaceReady));
}

TEST(ArtNetWindow, TheNodesTypedBesideConnectArePolledAndKept)
{
    NodeWindow f;
    const std::string nobody = Ipv4Text(f.ip + 1) + ":" + std::to_string(f.node->udpPort());  // nobody listens there
    f.storeNodeSettings(1, nobody);
    TForm1& w = f.start();
    SettingsTab& page = *w.TabSheet4;
    w.PageControl1->setCurrentIndex(3);
    ASSERT_TRUE(page.EditNodes->isVisible());
    EXPECT_EQ(page.EditNodes->text().toStdString(), nobody);
    EXPECT_EQ(page.ListBoxInterfaces->count(), 0);
    EXPECT_TRUE(f.log().join("\n").contains("Ни один узел не ответил на опрос"));

    page.EditNodes->setFocus();
    page.EditNodes->selectAll();
    QTest::keyClicks(page.EditNodes, QString::fromStdString(f.nodeAddress));
    QTest::keyClick(page.EditNodes, Qt::Key_Return);
    EXPECT_EQ(page.ListBoxInterfaces->count(), 2);
    ASSERT_TRUE(w.FormCloseQuery());
    QSettings stored(QString::fromStdString(f.settingsFile()), QSettings::IniFormat);
    EXPECT_EQ(stored.value("ArtNetNodes").toString().toStdString(), f.nodeAddress);

    // The USB kinds have no nodes to name.
    page.InterfaceItems->button(0)->click();
    EXPECT_FALSE(page.EditNodes->isVisible());
}
