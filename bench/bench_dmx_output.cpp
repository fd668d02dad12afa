// DMX output pacing: the high-resolution thread and the standard window timer
// driving frames to a rig over a pseudo-terminal. For each period: mean period,
// its error, jitter percentiles, and the CPU the output used.
#include "bench_rig.h"
#include "dmx/dmx_output.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <mutex>
#include <vector>

namespace {

// Stamps every frame as the port writes it, then hands it on.
class StampingSerial : public PosixSerial {
public:
    long write(int handle, const uint8_t* bytes, size_t count) override
    {
        stamps.push_back(SystemClock::instance().nowUs());
        return PosixSerial::write(handle, bytes, count);
    }
    std::vector<uint64_t> stamps;
};

double ProcessCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

void Report(const char* kind, int period, const std::vector<uint64_t>& stamps, double cpuMsPerSecond)
{
    std::vector<double> gaps;
    for (size_t i = 1; i < stamps.size(); ++i)
        gaps.push_back((stamps[i] - stamps[i - 1]) / 1000.0);
    if (gaps.empty())
        return;
    double mean = (stamps.back() - stamps.front()) / 1000.0 / double(gaps.size());
    std::vector<double> jitter;
    for (double g : gaps)
        jitter.push_back(std::fabs(g - period));
    std::sort(jitter.begin(), jitter.end());
    auto pct = [&](double p) { return jitter[std::min(jitter.size() - 1, size_t(p * double(jitter.size())))]; };
    std::printf("%-20s %4d ms  %5zu frames  mean %8.3f ms  error %+7.3f %%  jitter p50 %6.3f  p99 %6.3f  max %6.3f ms"
                "  cpu %5.2f %% of a core\n",
                kind, period, stamps.size(), mean, (mean - period) / period * 100.0, pct(0.5), pct(0.99),
                jitter.back(), cpuMsPerSecond / 10.0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    rig::VirtualLine line(SystemClock::instance());
    rig::PtyLine pty(line);
    std::string error;
    if (!pty.open("", error))
        return 1;
    pty.start();
    StampingSerial serial;
    rig::RigD2xx noD2xx;
    InterfacePort port(serial, noD2xx);
    port.PortInit();
    port.setDevicePath(pty.slavePath().c_str());
    if (port.PortOpen() != 1)
        return 1;
    uint16_t size = 512;
    DmxOutput dmx(port, size);
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    std::printf("DMX output over a pseudo-terminal, %.1f s per run, 512 slots (24 at 1 and 5 ms)\n", seconds);

    for (int period : {1, 5, 23, 32}) {
        size = period < 23 ? 24 : 512;
        serial.stamps.clear();
        serial.stamps.reserve(size_t(seconds * 1000 / period) + 16);
        dmx.DmxTimerStart(period);
        usleep(useconds_t(seconds * 1e6));
        dmx.DmxTimerStop();
        const double cpu = dmx.timer().threadCpuUs() / 1000.0 / seconds;
        Report(dmx.timer().realtime() ? "high-res (real-time)" : "high-res", period, serial.stamps, cpu);
    }
    for (int period : {1, 5, 23, 32}) {
        size = period < 23 ? 24 : 512;
        serial.stamps.clear();
        QTimer timer;
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(period);
        QObject::connect(&timer, &QTimer::timeout, [&] { dmx.SendFrame(); });
        const double cpu0 = ProcessCpuMs();
        timer.start();
        QTimer::singleShot(int(seconds * 1000), &app, &QCoreApplication::quit);
        app.exec();
        timer.stop();
        Report("standard (QTimer)", period, serial.stamps, (ProcessCpuMs() - cpu0) / seconds);
    }
    port.PortClose();
    pty.stop();
    return 0;
}
