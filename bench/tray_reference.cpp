// The reference for the start-up and memory benchmark: the least a Qt 6
// program in the tray can be (an application object, one tray icon with a
// menu, the event loop).
#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QPixmap picture(16, 16);
    picture.fill(Qt::darkCyan);
    QMenu menu;
    menu.addAction(QStringLiteral("Exit"), &app, &QApplication::quit);
    QSystemTrayIcon icon{QIcon(picture)};
    icon.setContextMenu(&menu);
    icon.show();
    return app.exec();
}
