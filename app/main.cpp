#include "app/form1.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName("Vantrell");
    QApplication::setOrganizationName("Vantrell");
    try {
        TForm1 form;
        form.show();
        return app.exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Vantrell", QString::fromUtf8(e.what()));
        return 1;
    }
}
