#include "app/Application.h"

#include <QApplication>

int RunTernbell(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ternbell"));
    QApplication::setQuitOnLastWindowClosed(false);
    return app.exec();
}
