#include "rig/artnet_node.h"

#include "link/clock.h"
#include "rdm/discovery.h"
#include "rdm/transaction.h"
#include "rig/rig_d2xx.h"
#include "rig/rig_serial.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace rig {
namespace {

constexpr uint8_t kRdmStartCode = 0xCC;

} // namespace

// The node's own discoveries are not the controller's to read.
class NodeQuietLog final : public LogSink {
public:
    void appendLine(const std::string&) override {}
    bool detailed() const override { return false; }
};

// One port: its line, reached for discovery as a controller reaches a raw line,
// the table that discovery left, and the work waiting for the port's thread.
struct ArtNetNode::PortState {
    struct Job {
        enum Kind { Flush, Rdm } kind;
        std::vector<uint8_t> packet;  // the RDM request as the line carries it, start code first
        uint32_t ip;
        uint16_t udpPort;
    };

    uint16_t portAddress;
    uint8_t number;     // 1 to 4 among the ports of its bind index
    uint8_t bindIndex;  // which of the node's poll replies lists it, from 1
    VirtualLine& line;
    RigSerial serial;
    RigD2xx d2xx;
    InterfacePort port{serial, d2xx};
    NodeQuietLog quiet;
    RdmEngine engine{port, SystemClock::instance(), quiet};
    mutable std::mutex tableMutex;
    std::vector<uint64_t> table;

    std::mutex workMutex;
    std::condition_variable workReady;
    std::deque<Job> jobs;
    // Frames wait in order; a line busy with discovery for long drops the oldest.
    static constexpr size_t kFramesWaiting = 16;
    std::deque<std::vector<uint8_t>> frames;
    std::thread worker;

    void post(Job job)
    {
        std::lock_guard<std::mutex> lock(workMutex);
        jobs.push_back(std::move(job));
        workReady.notify_one();
    }

    PortState(uint16_t address, uint8_t n, uint8_t bind, VirtualLine& l)
        : portAddress(address), number(n), bindIndex(bind), line(l)
    {
        const std::string path = "/dev/rig-node-port" + std::to_string(bind) + "." + std::to_string(n);
        serial.attach(path, line);
        port.PortInit();
        port.setKind(KindStandardVcp);
        port.setDevicePath(path.c_str());
        port.PortOpen();
        engine.SetupRequestHeader();
        engine.setFastExchange(true);
    }
};

ArtNetNode::ArtNetNode(std::string name, uint32_t ip, std::vector<Port> ports) : name_(std::move(name)), ip_(ip)
{
    // A poll reply lists up to four ports of one net and sub-net; a node of more
    // answers with one reply for each group, told apart by their bind index.
    uint8_t bind = 0, number = 4;
    for (size_t i = 0; i < ports.size() && i < kMaxPorts; ++i) {
        if (number == 4 || (ports[i].portAddress & 0x7FF0) != (ports_.back()->portAddress & 0x7FF0)) {
            ++bind;
            number = 0;
        }
        ports_.push_back(std::make_unique<PortState>(ports[i].portAddress, ++number, bind, *ports[i].line));
    }
}

ArtNetNode::~ArtNetNode() { stop(); }

bool ArtNetNode::start(std::string& error, uint16_t udpPort)
{
    if (!socket_.open(ip_, udpPort, error))
        return false;
    if (foreignIp && !foreign_.open(foreignIp, 0, error))
        return false;
    {
        std::vector<std::thread> discovering;
        for (auto& p : ports_)
            discovering.emplace_back([this, &p] { discover(*p); });
        for (std::thread& t : discovering)
            t.join();
    }
    running_ = true;
    for (auto& p : ports_)
        p->worker = std::thread([this, &p] { work(*p); });
    thread_ = std::thread([this] { run(); });
    return true;
}

void ArtNetNode::stop()
{
    running_ = false;
    if (thread_.joinable())
        thread_.join();
    for (auto& p : ports_) {
        {
            std::lock_guard<std::mutex> lock(p->workMutex);
            p->workReady.notify_all();
        }
        if (p->worker.joinable())
            p->worker.join();
    }
    socket_.close();
    foreign_.close();
}

std::vector<std::vector<uint64_t>> ArtNetNode::tables() const
{
    std::vector<std::vector<uint64_t>> out;
    for (const auto& p : ports_) {
        std::lock_guard<std::mutex> lock(p->tableMutex);
        out.push_back(p->table);
    }
    return out;
}

void ArtNetNode::say(const std::string& text) const
{
    if (log)
        log(text);
}

void ArtNetNode::run()
{
    uint8_t buffer[1500];
    while (running_) {
        uint32_t fromIp = 0;
        uint16_t fromPort = 0;
        const long got = socket_.receive(buffer, sizeof buffer, fromIp, fromPort, 50000);
        if (got > 0 && size_t(got) <= sizeof buffer && !faults.silent)
            handle(buffer, size_t(got), fromIp, fromPort);
    }
}

void ArtNetNode::work(PortState& p)
{
    std::unique_lock<std::mutex> lock(p.workMutex);
    for (;;) {
        p.workReady.wait(lock, [&] { return !running_ || !p.frames.empty() || !p.jobs.empty(); });
        if (!running_)
            return;
        if (!p.frames.empty()) {
            std::vector<uint8_t> frame = std::move(p.frames.front());
            p.frames.pop_front();
            lock.unlock();
            p.line.transmit(frame.data(), frame.size(), p.line.clock().nowUs(), false);
            lock.lock();
            continue;
        }
        PortState::Job job = std::move(p.jobs.front());
        p.jobs.pop_front();
        lock.unlock();
        if (job.kind == PortState::Job::Flush) {
            discover(p);
            sendTable(p, job.ip, job.udpPort);
        } else {
            carryRdm(p, job.packet, job.ip, job.udpPort);
        }
        lock.lock();
    }
}

ArtNetNode::PortState* ArtNetNode::find(uint16_t portAddress)
{
    for (auto& p : ports_)
        if (p->portAddress == portAddress)
            return p.get();
    return nullptr;
}

void ArtNetNode::reply(const std::vector<uint8_t>& packet, uint32_t ip, uint16_t port)
{
    UdpSocket& from = faults.foreignReplies && foreign_.isOpen() ? foreign_ : socket_;
    from.sendTo(ip, port, packet.data(), packet.size());
}

void ArtNetNode::discover(PortState& p)
{
    std::vector<Uid> found;
    DiscoveryHooks hooks;
    hooks.starting = [] {};
    hooks.ended = [] {};
    hooks.restarted = [] {};
    hooks.found = [](Uid) {};
    hooks.timeoutSeconds = [] { return 10; };
    Discovery discovery(p.engine, found, hooks);
    discovery.Run();
    std::vector<uint64_t> table(found.begin(), found.end());
    std::sort(table.begin(), table.end());
    std::lock_guard<std::mutex> lock(p.tableMutex);
    p.table = std::move(table);
}

void ArtNetNode::sendTable(PortState& p, uint32_t ip, uint16_t port)
{
    std::vector<uint64_t> table;
    {
        std::lock_guard<std::mutex> lock(p.tableMutex);
        table = p.table;
    }
    const size_t blocks = std::max<size_t>(1, (table.size() + artnet::kUidsPerBlock - 1) / artnet::kUidsPerBlock);
    for (size_t b = 0; b < blocks; ++b) {
        if (faults.loseTodBlock && b + 1 == blocks)
            break;
        artnet::TodData d;
        d.portAddress = p.portAddress;
        d.port = p.number;
        d.bindIndex = p.bindIndex;
        d.total = uint16_t(table.size());
        d.block = uint8_t(b);
        const size_t from = b * artnet::kUidsPerBlock;
        d.uids.assign(table.begin() + long(std::min(from, table.size())),
                      table.begin() + long(std::min(from + artnet::kUidsPerBlock, table.size())));
        reply(artnet::EncodeTodData(d), ip, port);
    }
    say("TodData " + artnet::PortAddressText(p.portAddress) + ": " + std::to_string(table.size()) + " device(s)" +
        (faults.loseTodBlock ? ", last block lost" : ""));
}

void ArtNetNode::carryRdm(PortState& p, const std::vector<uint8_t>& packet, uint32_t ip, uint16_t port)
{
    Clock& clock = p.line.clock();
    const uint64_t now = clock.nowUs();
    std::vector<uint8_t> answer;
    uint64_t end = now;
    for (const Transmission& t : p.line.transmit(packet.data(), packet.size(), now, false)) {
        if (t.noise || !answer.empty())
            continue;
        answer = t.bytes;
        end = t.startUs + t.bytes.size() * 44;
    }
    // The node hands the reply on once its line has carried all of it.
    if (end > now)
        clock.sleepUs(end - now);
    if (faults.rdmLateMs)
        clock.sleepMs(faults.rdmLateMs);
    if (answer.size() > 1 && answer[0] == kRdmStartCode) {
        uint8_t out[artnet::kMaxPacket];
        const size_t n = artnet::EncodeRdm(p.portAddress, answer.data() + 1, answer.size() - 1, out);
        if (n)
            reply({out, out + n}, ip, port);
    }
}

void ArtNetNode::handle(const uint8_t* bytes, size_t size, uint32_t fromIp, uint16_t fromPort)
{
    switch (artnet::OpCodeOf(bytes, size)) {
    case artnet::OpPoll: {
        for (size_t first = 0; first < ports_.size();) {
            artnet::PollReply r;
            r.ip = ip_;
            r.shortName = name_;
            r.longName = name_ + " (vantrell-rig)";
            r.esta = 0x7FF0;
            r.bindIndex = ports_[first]->bindIndex;
            for (; first < ports_.size() && ports_[first]->bindIndex == r.bindIndex; ++first)
                r.ports.push_back({ports_[first]->portAddress, true, true});
            reply(artnet::EncodePollReply(r), fromIp, fromPort);
        }
        say("ArtPoll from " + Ipv4Text(fromIp) + ": replied");
        break;
    }
    case artnet::OpTodRequest: {
        std::vector<uint16_t> asked;
        if (!artnet::DecodeTodRequest(bytes, size, asked))
            break;
        for (const uint16_t a : asked)
            if (PortState* p = find(a))
                sendTable(*p, fromIp, fromPort);
        break;
    }
    case artnet::OpTodControl: {
        uint16_t a = 0;
        uint8_t command = 0;
        PortState* p = artnet::DecodeTodControl(bytes, size, a, command) ? find(a) : nullptr;
        if (!p)
            break;
        if (command != artnet::kAtcFlush) {
            sendTable(*p, fromIp, fromPort);
            break;
        }
        say("TodControl flush " + artnet::PortAddressText(a) + ": discovering");
        p->post({PortState::Job::Flush, {}, fromIp, fromPort});
        break;
    }
    case artnet::OpRdm: {
        uint16_t a = 0;
        const uint8_t* message = nullptr;
        size_t messageSize = 0;
        PortState* p = artnet::DecodeRdm(bytes, size, a, message, messageSize) ? find(a) : nullptr;
        if (!p)
            break;
        std::vector<uint8_t> packet{kRdmStartCode};
        packet.insert(packet.end(), message, message + messageSize);
        // Discovery is the node's own business: ArtRdm carries no discovery message.
        Request request;
        if (DecodeRequest(packet.data(), packet.size(), request) && request.commandClass == rdm::DISCOVERY_COMMAND) {
            say("ArtRdm with a discovery message for " + artnet::PortAddressText(a) + ": not carried");
            break;
        }
        p->post({PortState::Job::Rdm, std::move(packet), fromIp, fromPort});
        break;
    }
    case artnet::OpDmx: {
        uint16_t a = 0;
        uint8_t sequence = 0;
        const uint8_t* slots = nullptr;
        size_t count = 0;
        if (!artnet::DecodeDmx(bytes, size, a, sequence, slots, count))
            break;
        if (PortState* p = find(a)) {
            std::lock_guard<std::mutex> lock(p->workMutex);
            if (p->frames.size() == PortState::kFramesWaiting)
                p->frames.pop_front();
            std::vector<uint8_t>& frame = p->frames.emplace_back(count + 1, 0);
            std::copy(slots, slots + count, frame.begin() + 1);
            p->workReady.notify_one();
        }
        break;
    }
    default:
        break;  // not Art-Net, or nothing a node of this kind answers
    }
}

} // namespace rig
