#include "app/form1.h"
#include "link/ftdi_d2xx.h"
#include "link/posix_serial.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstring>
#include <exception>

int main(int argc, char** argv)
{
    // Answered before any window exists, so they work without a display.
    if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::puts("Usage: vantrell [Qt options]\n"
                  "An RDM (ANSI E1.20) controller for a DMX512 line through one USB-to-DMX interface:\n"
                  "it discovers the devices on the line, reads and writes their parameters, shows\n"
                  "their footprints on a 512-slot map where they can be moved, keeps patch files\n"
                  "and sends DMX frames from sixteen faders.\n\n"
                  "  -h, --help     print this help and exit\n"
                  "  --version      print the version and exit\n\n"
                  "Settings are kept in ~/.config/Vantrell/Vantrell.conf. With no interface at\n"
                  "hand, vantrell-rig provides a virtual line to try it on.");
        return 0;
    }
    if (argc == 2 && !std::strcmp(argv[1], "--version")) {
        std::puts("vantrell " VANTRELL_VERSION);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vantrell");
    QApplication::setOrganizationName("Vantrell");
    try {
        PosixSerial serial;
        FtdiD2xx d2xx;
        FormServices services;
        services.serial = &serial;
        services.d2xx = &d2xx;
        TForm1 form(services);
        form.show();
        return app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Vantrell", QString::fromUtf8(e.what()));
        return 1;
    }
}
