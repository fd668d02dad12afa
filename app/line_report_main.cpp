// vantrell-line-report: opens one interface, runs one discovery and reads
// DEVICE_INFO from every device found, and prints what happened, for a bug report.
#include "app/line_report.h"
#include "settings/settings_store.h"
#include "link/ftdi_d2xx.h"
#include "link/posix_serial.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftdi.h>
#include <iostream>
#include <sys/utsname.h>

namespace {

void Usage()
{
    std::puts("Usage: vantrell-line-report [--kind vcp|talvern|usbpro|artnet] [--interface ROW|TEXT|PATH|SERIAL] "
              "[--timeout SECONDS] [-v]\n"
              "Runs one discovery on a DMX512 interface and reads DEVICE_INFO from every device found.\n\n"
              "  --kind K        the interface kind; default: the one the window last used\n"
              "  --interface I   a row of that kind's list (its number or text), a device path,\n"
              "                  or an FTDI serial number; default: the row the window last used\n"
              "  --timeout S     discovery time-out in seconds, default the window's (10)\n"
              "  -v              add the request and reply dumps of the detailed log\n"
              "  --version       print the version and exit\n"
              "Prints a report to paste into a bug report. Exit status 1 when the interface\n"
              "could not be found or opened.");
}

} // namespace

int main(int argc, char** argv)
{
    const SettingsRecord stored = SettingsStore().LoadOrDefaults();
    LineReportOptions options;
    options.kind = stored.InterfaceType;
    options.storedRow = stored.InterfaceSelection;
    options.storedName = stored.InterfaceName;
    options.nodeAddresses = stored.NodeAddresses;
    options.nodeWaitMs = uint32_t(stored.NodeWaitMs);
    options.timeoutSeconds = stored.discoTimeout;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "vantrell-line-report: %s needs a value\n", a);
                std::exit(2);
            }
            return argv[++i];
        };
        if (!std::strcmp(a, "--kind")) {
            options.kind = ParseInterfaceKind(value());
            if (options.kind < 0) {
                std::fprintf(stderr, "vantrell-line-report: unknown kind \"%s\"\n", argv[i]);
                return 2;
            }
        } else if (!std::strcmp(a, "--interface")) {
            options.interface = value();
        } else if (!std::strcmp(a, "--timeout")) {
            options.timeoutSeconds = std::atoi(value());
            if (options.timeoutSeconds < SettingsBounds::kTimeoutMin ||
                options.timeoutSeconds > SettingsBounds::kTimeoutMax) {
                std::fprintf(stderr, "vantrell-line-report: the time-out is 1 to 100 seconds\n");
                return 2;
            }
        } else if (!std::strcmp(a, "-v")) {
            options.detailed = true;
        } else if (!std::strcmp(a, "--help") || !std::strcmp(a, "-h")) {
            Usage();
            return 0;
        } else if (!std::strcmp(a, "--version")) {
            std::puts("vantrell-line-report " VANTRELL_VERSION);
            return 0;
        } else {
            std::fprintf(stderr, "vantrell-line-report: unknown option \"%s\"\n", a);
            Usage();
            return 2;
        }
    }

    utsname system{};
    uname(&system);
    const ftdi_version_info ftdi = ftdi_get_library_version();
    std::cout << "Vantrell line report\n"
              << "System: " << system.sysname << ' ' << system.release << ' ' << system.machine << '\n'
              << "libftdi: " << ftdi.version_str << '\n';
    PosixSerial serial;
    FtdiD2xx d2xx;
    InterfacePort port(serial, d2xx);
    return RunLineReport(port, SystemClock::instance(), options, std::cout);
}
