// The rig as an Art-Net node, asked over loopback as a controller asks a node.
#include "harness.h"
#include "link/artnet_packets.h"
#include "link/udp_socket.h"
#include "rdm/discovery.h"
#include "rdm/health_watch.h"
#include "rdm/message.h"
#include "rig/artnet_node.h"
#include "rig/fixtures.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <mutex>
#include <unistd.h>

using namespace artnet;

namespace {

// A loopback address of this test process's own, so that parallel runs never meet.
uint32_t OwnLoopback(uint32_t offset) { return 0x7F000000u | (uint32_t(getpid()) % 200 + 20) << 8 | offset; }

struct NodeLine : ::testing::Test {
    rig::VirtualLine line{SystemClock::instance()};
    rig::VirtualLine second{SystemClock::instance()};
    // Before the node, which writes its log until it is stopped.
    std::mutex logMutex;
    std::vector<std::string> nodeLog;
    std::unique_ptr<rig::ArtNetNode> node;
    UdpSocket controller;
    uint32_t nodeIp = OwnLoopback(2);

    void SetUp() override
    {
        for (uint32_t i = 1; i <= 5; ++i)
            line.add(MakeUid(0x7FF0, i), rig::LedParModel());
        second.add(MakeUid(0x7FF0, 0x99), rig::DimmerPackModel());
        const std::vector<rig::ArtNetNode::Port> ports{{0x0001, &line}, {0x0002, &second}};
        node = std::make_unique<rig::ArtNetNode>("Rig node", nodeIp, ports);
        std::string error;
        ASSERT_TRUE(controller.open(OwnLoopback(1), 0, error)) << error;
    }

    // How many lines of the node's log begin with `text`.
    int said(const std::string& text)
    {
        std::lock_guard<std::mutex> lock(logMutex);
        return int(std::count_if(nodeLog.begin(), nodeLog.end(),
                                 [&](const std::string& l) { return l.rfind(text, 0) == 0; }));
    }

    void start()
    {
        node->log = [this](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex);
            nodeLog.push_back(line);
        };
        std::string error;
        ASSERT_TRUE(node->start(error, 0)) << error;
    }

    void send(const std::vector<uint8_t>& packet)
    {
        controller.sendTo(nodeIp, node->udpPort(), packet.data(), packet.size());
    }

    // The next packet of `op` within half a second, and who sent it.
    std::vector<uint8_t> next(uint16_t op, uint32_t* from = nullptr)
    {
        uint8_t buffer[1500];
        for (int i = 0; i < 20; ++i) {
            uint32_t ip = 0;
            uint16_t port = 0;
            const long got = controller.receive(buffer, sizeof buffer, ip, port, 25000);
            if (got > 0 && OpCodeOf(buffer, size_t(got)) == op) {
                if (from)
                    *from = ip;
                return {buffer, buffer + got};
            }
        }
        return {};
    }
};

} // namespace

TEST_F(NodeLine, AnswersPollTablesAndRdmForEachPort)
{
    start();
    send(EncodePoll());
    const auto pollReply = next(OpPollReply);
    PollReply reply;
    ASSERT_TRUE(DecodePollReply(pollReply.data(), pollReply.size(), reply));
    EXPECT_EQ(reply.ip, nodeIp);
    ASSERT_EQ(reply.ports.size(), 2u);
    EXPECT_TRUE(reply.ports[1].rdm);
    EXPECT_EQ(reply.ports[1].portAddress, 0x0002);

    send(EncodeTodRequest(0x0001));
    const auto tod = next(OpTodData);
    TodData data;
    ASSERT_TRUE(DecodeTodData(tod.data(), tod.size(), data));
    EXPECT_EQ(data.total, 5);
    EXPECT_EQ(data.uids.size(), 5u);

    // A GET of DEVICE_INFO through ArtRdm, answered by the device on the second port.
    rdm::RdmRequest request(MakeUid(0x7FF0, 0x99), rdm::GET_COMMAND, rdm::DEVICE_INFO);
    request.transaction = 7;
    uint8_t message[rdm::kMaxMessageSize];
    const size_t size = rdm::Encode(request, message);
    uint8_t packet[kMaxPacket];
    const size_t n = EncodeRdm(0x0002, message + 1, size - 1, packet);
    send({packet, packet + n});
    const auto answer = next(OpRdm);
    uint16_t portAddress = 0;
    const uint8_t* carried = nullptr;
    size_t carriedSize = 0;
    ASSERT_TRUE(DecodeRdm(answer.data(), answer.size(), portAddress, carried, carriedSize));
    EXPECT_EQ(portAddress, 0x0002);
    std::vector<uint8_t> withStartCode{0xCC};
    withStartCode.insert(withStartCode.end(), carried, carried + carriedSize);
    rdm::RdmResponse response;
    ASSERT_EQ(rdm::Decode(withStartCode.data(), withStartCode.size(), response), rdm::DecodeError::None);
    EXPECT_EQ(response.source, MakeUid(0x7FF0, 0x99));
    EXPECT_EQ(response.transaction, 7);

    // ArtDmx reaches the port's line as a frame.
    const uint8_t slots[2] = {10, 20};
    const size_t dmx = EncodeDmx(0x0001, 1, slots, 2, packet);
    send({packet, packet + dmx});
    for (int i = 0; i < 50 && line.frameCount() == 0; ++i)
        usleep(10000);
    EXPECT_EQ(line.frameCount(), 1u);
}

TEST_F(NodeLine, FaultsLoseABlockAnswerFromElsewhereOrNotAtAll)
{
    node->faults.loseTodBlock = true;
    node->foreignIp = OwnLoopback(3);
    node->faults.foreignReplies = true;
    start();
    send(EncodeTodRequest(0x0001));
    EXPECT_TRUE(next(OpTodData).empty()) << "its only block lost";
    node->faults.loseTodBlock = false;
    uint32_t from = 0;
    send(EncodeTodRequest(0x0001));
    EXPECT_FALSE(next(OpTodData, &from).empty());
    EXPECT_EQ(from, OwnLoopback(3)) << "a reply from another node's address";
    node->faults.silent = true;
    send(EncodePoll());
    EXPECT_TRUE(next(OpPollReply).empty());
}

// A controller on port 1 of the node, as the programs open one.
struct NodeController : NodeLine {
    PosixSerial serial;
    rig::RigD2xx d2xx;
    InterfacePort port{serial, d2xx};
    RecordingLog log;
    RdmEngine engine{port, SystemClock::instance(), log};

    void open(uint16_t portAddress = 0x0001)
    {
        start();
        port.PortInit();
        port.setKind(KindArtNet);
        port.setNodeLocalPort(0);
        port.setDevicePath(ArtNetPortPath(nodeIp, node->udpPort(), portAddress).c_str());
        ASSERT_EQ(port.PortOpen(), 1);
        engine.SetupRequestHeader();
    }

    size_t discoveryRequests() const
    {
        const auto requests = line.requests();
        return size_t(std::count_if(requests.begin(), requests.end(), [](const rig::RecordedRequest& r) {
            return r.whole && r.decoded.commandClass == rdm::DISCOVERY_COMMAND;
        }));
    }
};

TEST_F(NodeController, CarriesDiscoveryRequestsAndFrames)
{
    open();

    std::vector<Uid> found;
    DiscoveryHooks hooks{[] {}, [] {}, [] {}, [](Uid) {}, [] { return 5; }};
    Discovery discovery(engine, found, hooks);
    EXPECT_TRUE(discovery.Run().complete());
    EXPECT_EQ(found.size(), 5u);
    // Asked to discover afresh twice in a row, the node is flushed once; polls
    // asked again at once are answered from the last.
    discovery.fullNodeDiscovery = true;
    for (int i = 0; i < 2; ++i)
        EXPECT_TRUE(discovery.Run().complete());
    discovery.fullNodeDiscovery = false;
    std::vector<InterfaceEntry> rows;
    port.setListAddresses(Ipv4Text(nodeIp) + ":" + std::to_string(node->udpPort()));
    for (int i = 0; i < 2; ++i) {
        port.ListInterfaces(rows);
        EXPECT_EQ(rows.size(), 2u);
    }
    EXPECT_EQ(said("TodControl flush"), 1);
    EXPECT_EQ(said("ArtPoll from"), 1);

    rdm::RdmResponse reply;
    for (const bool fast : {false, true}) {
        engine.setFastExchange(fast);
        EXPECT_EQ(Transact(engine, MakeUid(0x7FF0, 3), rdm::GET_COMMAND, rdm::DEVICE_INFO), TxAck);
        EXPECT_EQ(LastReply().source, MakeUid(0x7FF0, 3));
    }
    EXPECT_EQ(Transact(engine, MakeUid(0x7FF0, 0x99), rdm::GET_COMMAND, rdm::DEVICE_INFO), TxNoResponse)
        << "a device behind another port of the node";

    const uint8_t frame[4] = {0, 1, 2, 3};
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(port.SendDmxFrame(frame, 4), 4);
    for (int i = 0; i < 50 && line.frameCount() < 3; ++i)
        usleep(10000);
    EXPECT_EQ(line.frameCount(), 3u);

    // A port the node does not have: no table, said as such.
    port.PortClose();
    port.setDevicePath(ArtNetPortPath(nodeIp, node->udpPort(), 0x0007).c_str());
    ASSERT_EQ(port.PortOpen(), 1);
    const DiscoveryVerdict none = discovery.Run();
    EXPECT_TRUE(none.cutShort);
    EXPECT_NE(none.incompleteTable.find("sent no table of devices"), std::string::npos) << none.incompleteTable;
    EXPECT_EQ(log.count("Таблица устройств узла неполная, найдены не все устройства: " + none.incompleteTable), 1);
}

TEST_F(NodeController, AWatchAsksDevicesWithGetsAndNoDiscoveryMessageLeavesTheController)
{
    open();
    const size_t nodesOwn = discoveryRequests();
    HealthWatch watch(engine);
    size_t fresh = 0;
    for (const HealthChange& c : watch.round())
        fresh += c.kind == HealthChange::Kind::New;
    EXPECT_EQ(fresh, 5u);
    line.setPowered(*line.responders()[2], false);
    std::vector<HealthChange> later;
    for (int round = 0; round < 2; ++round)
        for (const HealthChange& c : watch.round())
            later.push_back(c);
    ASSERT_EQ(later.size(), 1u) << "each device once, however often the node's table lists it";
    EXPECT_EQ(later[0].kind, HealthChange::Kind::Offline);
    EXPECT_EQ(later[0].uid, MakeUid(0x7FF0, 3));
    EXPECT_EQ(watch.devices().size(), 5u);
    EXPECT_EQ(discoveryRequests(), nodesOwn) << "DISC_MUTE and the like are the node's own";
}
