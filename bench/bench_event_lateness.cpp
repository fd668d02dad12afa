// How late the window's event thread gets while it discovers 33 devices and then
// reads a device with 30 parameters, over a pseudo-terminal in real time: a 10 ms
// repeating timer on the event thread records how late each of its ticks comes.
#include "app/form1.h"
#include "app/rdm_tab.h"
#include "bench_rig.h"
#include "link/posix_serial.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <fstream>
#include <vector>

namespace {

struct Lateness {
    std::vector<double> ms;
    double last = 0;

    void tick(double now, double period)
    {
        if (last > 0)
            ms.push_back(std::max(0.0, now - last - period));
        last = now;
    }
    double at(double share)
    {
        if (ms.empty())
            return 0;
        std::sort(ms.begin(), ms.end());
        return ms[std::min(ms.size() - 1, size_t(share * double(ms.size())))];
    }
    void print(const char* what, double tookMs)
    {
        std::printf("%-34s %7.0f ms  %5zu ticks  lateness p50 %5.1f  p99 %5.1f  max %5.1f ms\n", what, tookMs,
                    ms.size(), at(0.5), at(0.99), ms.empty() ? 0.0 : *std::max_element(ms.begin(), ms.end()));
    }
};

// Turns the event loop until the window's run is over; returns its duration.
double RunToEnd(TForm1& form, Lateness& lateness, QTimer& timer, const std::function<void()>& start)
{
    lateness = {};
    timer.start();
    const double t0 = NowMs();
    start();
    while (form.running())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    const double took = NowMs() - t0;
    timer.stop();
    return took;
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("XDG_RUNTIME_DIR", (home.path() + "/run").toUtf8());
    QApplication app(argc, argv);

    rig::VirtualLine line{SystemClock::instance()};
    const Uid big = MakeUid(0x7FF0, 0x00FFFFFF);
    line.add(big, ModelWithParameters(30));
    for (uint32_t i = 0; i < 32; ++i)
        line.add(MakeUid(0x7FF0, 0x00010000u + i * 0x00041A2Bu), rig::LedParModel());
    rig::PtyLine pty{line};
    std::string error;
    if (!pty.open("bench", error)) {
        std::fprintf(stderr, "cannot publish the rig line: %s\n", error.c_str());
        return 1;
    }
    pty.start();
    std::vector<InterfaceEntry> system;
    ListSystemSerialDevices(system);
    const std::string settings = home.path().toStdString() + "/Vantrell.conf";
    std::ofstream(settings) << "[General]\nInterfaceType=0\nInterfaceSelection=" << system.size()
                            << "\nTabIndex=0\ndiscoTimeout=100\n";

    PosixSerial serial;
    rig::RigD2xx noFtdiDevices;
    FormServices services;
    services.serial = &serial;
    services.d2xx = &noFtdiDevices;
    services.settingsPath = settings;
    TForm1 form(services);
    form.show();

    Lateness lateness;
    QTimer timer;
    timer.setInterval(10);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] { lateness.tick(NowMs(), 10.0); });

    std::printf("Event thread lateness while the window works, 10 ms timer, pseudo-terminal in real time\n");
    double took = RunToEnd(form, lateness, timer, [&] { form.Button1Click(); });
    lateness.print("discovery of 33 devices", took);
    int branches = 0;
    for (const rig::RecordedRequest& r : line.requests())
        branches += r.decoded.pid == rdm::DISC_UNIQUE_BRANCH;
    std::printf("%-34s %d branch requests\n", "", branches);
    int row = 0;
    while (row < form.ListBox1->count() && form.devices.entries[row].uid != big)
        ++row;
    took = RunToEnd(form, lateness, timer, [&] {
        form.ListBox1->setCurrentRow(row);
        form.ListBox1Click();
    });
    lateness.print("Get of 30 parameters", took);
    std::printf("aim: p99 under 20 ms, max under 50 ms; found %d devices, %d parameter rows\n",
                form.ListBox1->count(), form.TabSheet1->params.count);
    pty.stop();
    return 0;
}
