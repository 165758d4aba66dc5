// The reference for the start-up and memory benchmark: the least a Qt 6
// program in the tray can be (an application object, one tray icon with a
// menu, the event loop). With "--list N" it also shows a window listing N
// rows of three columns, each with a tooltip, as a notifier's message list
// would.
#include <QApplication>
#include <QMenu>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTreeWidget>

#include <memory>

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
    std::unique_ptr<QTreeWidget> list;
    if (argc == 3 && QByteArray(argv[1]) == "--list")
    {
        list = std::make_unique<QTreeWidget>();
        list->setHeaderLabels({QStringLiteral("From"), QStringLiteral("Subject"), QStringLiteral("Size")});
        for (int i = 0; i < QByteArray(argv[2]).toInt(); ++i)
        {
            auto* row = new QTreeWidgetItem(list.get(), {QStringLiteral("Sender %1 <sender%1@example.org>").arg(i),
                                                         QStringLiteral("Report %1 of the week").arg(i),
                                                         QStringLiteral("%1 KB").arg(i + 1)});
            row->setToolTip(1, QStringLiteral("The start of message %1's text").arg(i));
        }
        list->resize(600, 400);
        list->show();
    }
    return app.exec();
}
