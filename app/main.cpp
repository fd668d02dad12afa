#include "app/form1.h"
#include "link/ftdi_d2xx.h"
#include "link/posix_serial.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>

int main(int argc, char** argv)
{
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
