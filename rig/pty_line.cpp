#include "rig/pty_line.h"

#include "link/clock.h"
#include "rdm/rdm_defs.h"
#include "rig/ftdi_device_model.h"
#include "rig/rx_queue.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace rig {

namespace {

uint64_t NowUs() { return MonotonicUs(); }

} // namespace

std::vector<std::vector<uint8_t>> PtyLine::Splitter::feed(const uint8_t* bytes, size_t count)
{
    std::vector<std::vector<uint8_t>> packets;
    // A frame being gathered ends where a read brings the head of an RDM request:
    // the controller writes every packet in one call, so a request that follows a
    // frame closely still starts a read of its own.
    const bool frameGathering = !buffer_.empty() && buffer_[0] != rdm::kStartCode;
    if (frameGathering && count >= 3 && bytes[0] == rdm::kStartCode && bytes[1] == rdm::kSubStartCode &&
        bytes[2] >= rdm::kHeaderSize)
        packets.push_back(idle());
    buffer_.insert(buffer_.end(), bytes, bytes + count);
    // A slow reader can get the end of a frame and the request written after it
    // in one read. A whole, correctly summed RDM message inside a frame being
    // gathered is that request: the frame ends where it starts.
    if (!buffer_.empty() && buffer_[0] != rdm::kStartCode) {
        for (size_t i = 1; i + 3 <= buffer_.size(); ++i) {
            if (buffer_[i] != rdm::kStartCode || buffer_[i + 1] != rdm::kSubStartCode)
                continue;
            const size_t length = size_t(buffer_[i + 2]) + 2;
            Request request;
            if (buffer_[i + 2] < rdm::kHeaderSize || i + length > buffer_.size() ||
                !DecodeRequest(buffer_.data() + i, length, request))
                continue;
            packets.emplace_back(buffer_.begin(), buffer_.begin() + long(i));
            buffer_.erase(buffer_.begin(), buffer_.begin() + long(i));
            break;
        }
    }
    // Whole RDM requests can be cut out as soon as their length byte is known.
    while (buffer_.size() >= 3 && buffer_[0] == rdm::kStartCode && buffer_[2] >= rdm::kHeaderSize) {
        size_t length = size_t(buffer_[2]) + 2;
        if (buffer_.size() < length)
            break;
        packets.emplace_back(buffer_.begin(), buffer_.begin() + long(length));
        buffer_.erase(buffer_.begin(), buffer_.begin() + long(length));
    }
    return packets;
}

std::vector<uint8_t> PtyLine::Splitter::idle()
{
    std::vector<uint8_t> packet;
    packet.swap(buffer_);
    return packet;
}

PtyLine::~PtyLine() { stop(); }

bool PtyLine::open(const std::string& name, std::string& error)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = std::string("pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    slavePath_ = ptsname(master_);
    // Holding the slave open keeps the master readable between the app's sessions.
    slaveKeeper_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slaveKeeper_ >= 0) {
        termios tio{};
        tcgetattr(slaveKeeper_, &tio);
        cfmakeraw(&tio);
        tcsetattr(slaveKeeper_, TCSANOW, &tio);
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    return name.empty() || publication_.publish(name, slavePath_, error);
}

void PtyLine::start()
{
    running_.store(true);
    thread_ = std::thread([this] { serve(); });
}

void PtyLine::stop()
{
    running_.store(false);
    if (thread_.joinable())
        thread_.join();
    publication_.withdraw();
    if (slaveKeeper_ >= 0)
        ::close(slaveKeeper_);
    if (master_ >= 0)
        ::close(master_);
    slaveKeeper_ = master_ = -1;
}

void PtyLine::serve()
{
    // A real line does not wait for the scheduler; where the system allows it, this
    // thread does not either (refused without the privilege, and then it runs as any).
    if (realTime) {
        sched_param param{};
        param.sched_priority = sched_get_priority_min(SCHED_FIFO);
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    }

    Splitter splitter;
    RxQueue outgoing;  // reply bytes, each with the moment it reaches the controller's UART
    uint64_t lastByteUs = 0;
    uint64_t packetStartUs = 0;  // when the first byte of the packet being gathered came
    uint8_t buffer[4096];
    const uint32_t tick = latencyUs;
    // The moment a byte that arrived at `at` is handed over to the reader.
    auto handedOver = [tick](uint64_t at) { return tick ? (at + tick - 1) / tick * tick : at; };

    auto handle = [&](const std::vector<uint8_t>& packet) {
        for (Transmission& t : line_.transmit(packet.data(), packet.size(), packetStartUs, breakBytes))
            outgoing.add(t, line_.paced ? kByteTimeUs : 0);
    };
    // In widget mode the widget model frames both ways and its messages are what
    // reaches the reader.
    FtdiDeviceModel widgetModel(line_, FtdiMode::Widget);
    widgetModel.listenUs = widgetWaitUs;
    RxQueue& toReader = widget ? widgetModel.rx() : outgoing;

    while (running_.load()) {
        uint64_t now = NowUs();
        int64_t waitUs = 20000;
        if (splitter.pending())
            waitUs = std::min<int64_t>(waitUs, int64_t(lastByteUs + kFrameGapUs) - int64_t(now));
        uint64_t next = 0;
        if (toReader.nextArrival(next))
            waitUs = std::min<int64_t>(waitUs, int64_t(handedOver(next)) - int64_t(now));
        if (waitUs < 0)
            waitUs = 0;
        pollfd p{master_, POLLIN, 0};
        timespec ts{time_t(waitUs / 1000000), long(waitUs % 1000000) * 1000};
        int r = ppoll(&p, 1, &ts, nullptr);
        now = NowUs();
        if (r > 0 && (p.revents & POLLIN)) {
            ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n > 0 && widget) {
                widgetModel.write(buffer, size_t(n));
            } else if (n > 0) {
                if (!splitter.pending())
                    packetStartUs = now;
                lastByteUs = now;
                for (auto& packet : splitter.feed(buffer, size_t(n))) {
                    handle(packet);
                    packetStartUs = now;
                }
            }
        } else if (r > 0 && (p.revents & (POLLHUP | POLLERR))) {
            usleep(2000);
        }
        if (splitter.pending() && now >= lastByteUs + kFrameGapUs)
            handle(splitter.idle());
        // Everything the UART holds by the last tick of the latency timer.
        const uint64_t by = tick ? now / tick * tick : now;
        size_t ready = toReader.available(by);
        while (ready > 0) {
            uint8_t chunk[512];
            uint64_t end = 0;
            const size_t n = toReader.read(chunk, std::min(ready, sizeof chunk), by, by, 0, end);
            if (n == 0)
                break;
            ready -= n;
            size_t done = 0;
            while (done < n) {
                ssize_t w = ::write(master_, chunk + done, n - done);
                if (w <= 0)
                    break;
                done += size_t(w);
            }
        }
    }
}

} // namespace rig
