#include <QApplication>

#include "form1.h"

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    meterlog::Form1 window(QCoreApplication::applicationDirPath());
    window.Form_Load();
    window.show();
    return app.exec();
}
