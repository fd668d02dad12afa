// Art-Net through the rig's node on loopback: the time to gather the tables of
// devices of 4 ports of 33 devices each, asked at once from four controllers,
// against one port alone, as the node keeps them and with the node discovering
// its lines afresh (flush); a GET's round trip through the node (paced line
// behind it); and the rate ArtDmx frames reach the node's line at a 23 ms period.
#include "bench_rig.h"
#include "link/artnet_driver.h"
#include "rig/artnet_node.h"

#include <atomic>
#include <random>
#include <thread>

namespace {

// A port's table of devices, as a discovery asks for it.
size_t Table(BenchClient& c, bool flush)
{
    // Opened afresh: a controller asks a port's table again only after a while,
    // and that wait is not what is timed.
    c.port.PortClose();
    c.port.PortOpen();
    std::vector<Uid> uids;
    std::string note;
    c.engine.nodeTable(flush, uids, note);
    return uids.size();
}

// The time one port's table takes, and four ports' asked at once; every table whole.
void TimeTables(std::vector<std::unique_ptr<BenchClient>>& controllers, bool flush, int rounds, const char* what)
{
    size_t whole = 0;
    double t0 = NowMs();
    for (int r = 0; r < rounds; ++r)
        whole += Table(*controllers[0], flush) == 33;
    const double alone = (NowMs() - t0) / rounds;
    t0 = NowMs();
    for (int r = 0; r < rounds; ++r) {
        std::vector<std::thread> asking;
        std::atomic<size_t> wholeTogether{0};
        for (auto& c : controllers)
            asking.emplace_back([&c, flush, &wholeTogether] { wholeTogether += Table(*c, flush) == 33; });
        for (auto& t : asking)
            t.join();
        whole += wholeTogether;
    }
    const double together = (NowMs() - t0) / rounds;
    std::printf("  tables %s: one port %.2f ms, four ports at once %.2f ms (x%.2f); %zu of %d whole\n", what, alone,
                together, together / alone, whole, rounds * 5);
}

} // namespace

int main()
{
    constexpr uint32_t kIp = 0x7F00FE02;  // 127.0.254.2
    std::vector<std::unique_ptr<rig::VirtualLine>> lines;
    std::vector<rig::ArtNetNode::Port> ports;
    std::mt19937 random{33u};
    for (uint16_t p = 0; p < 4; ++p) {
        lines.push_back(std::make_unique<rig::VirtualLine>(SystemClock::instance()));
        lines.back()->paced = true;
        for (int i = 0; i < 33; ++i)
            lines.back()->add(MakeUid(0x7FF0, uint32_t(random())), rig::LedParModel());
        ports.push_back({uint16_t(p + 1), lines.back().get()});
    }
    rig::ArtNetNode node("bench", kIp, ports);
    std::string error;
    if (!node.start(error, 0)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("Art-Net through the rig's node on loopback, 4 ports of 33 devices, paced lines\n");
    std::vector<std::unique_ptr<BenchClient>> controllers;
    for (uint16_t p = 1; p <= 4; ++p)
        controllers.push_back(std::make_unique<BenchClient>(ArtNetPortPath(kIp, node.udpPort(), p), KindArtNet));

    TimeTables(controllers, false, 20, "kept by the node");
    TimeTables(controllers, true, 5, "discovered afresh");

    const Uid uid = lines[0]->responders()[0]->uid();
    constexpr int kGets = 100;
    double t0 = NowMs();
    int answered = 0;
    for (int i = 0; i < kGets; ++i)
        answered += Transact(controllers[0]->engine, uid, rdm::GET_COMMAND, rdm::DEVICE_INFO) == TxAck;
    std::printf("  GET DEVICE_INFO round trip: %.2f ms (%d of %d answered)\n", (NowMs() - t0) / kGets, answered, kGets);

    uint8_t frame[513] = {};
    const uint64_t framesBefore = lines[1]->frameCount();
    t0 = NowMs();
    int sent = 0;
    while (NowMs() - t0 < 3000) {
        sent += controllers[1]->port.SendDmxFrame(frame, 513) > 0;
        SystemClock::instance().sleepUs(23000);
    }
    const double seconds = (NowMs() - t0) / 1000;
    std::printf("  ArtDmx at a 23 ms period: %.1f frames/s sent, %.1f frames/s reached the line, %llu dropped there\n",
                sent / seconds, double(lines[1]->frameCount() - framesBefore) / seconds,
                static_cast<unsigned long long>(lines[1]->framesDropped()));
    node.stop();
    return 0;
}
