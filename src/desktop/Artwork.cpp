#include "desktop/Artwork.h"

#include <QString>

namespace
{
QIcon IndexedIcon(const char* stem, int index, int count)
{
    if (index < 0 || index >= count)
        return {};
    return QIcon(QStringLiteral(":/artwork/%1-%2.png").arg(QLatin1String(stem)).arg(index));
}
}

QIcon TrayPicture(int index)
{
    return IndexedIcon("tray", index, 3);
}

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addFile(QStringLiteral(":/artwork/app-%1.png").arg(size), QSize(size, size));
    return icon;
}

QPixmap AboutBackground()
{
    return QPixmap(QStringLiteral(":/artwork/about-background.png"));
}

QIcon MessageListIcon(int index)
{
    return IndexedIcon("list", index, 3);
}
