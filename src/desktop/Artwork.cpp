#include "desktop/Artwork.h"

#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <algorithm>

namespace
{
// Our pictures are PNGs compiled into the program: the built-in reader reads
// them alone. Left to guess, the reader loads every image plug-in there is
// to ask each whether it knows the format, and they stay mapped for good.
QPixmap ArtworkPixmap(const QString& path)
{
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

QIcon IndexedIcon(const char* stem, int index, int count)
{
    if (index < 0 || index >= count)
        return {};
    return QIcon(ArtworkPixmap(QStringLiteral(":/artwork/%1-%2.png").arg(QLatin1String(stem)).arg(index)));
}
}

QIcon TrayPicture(int index)
{
    return IndexedIcon("tray", index, 3);
}

QIcon QuietTrayPicture()
{
    // The idle picture with a crescent moon in its lower right corner.
    QPixmap picture = ArtworkPixmap(QStringLiteral(":/artwork/tray-0.png"));
    if (picture.isNull())
        return {};
    const qreal side = picture.width() * 0.55;
    const QRectF moon(picture.width() - side, picture.height() - side, side, side);
    QPainterPath crescent;
    crescent.addEllipse(moon);
    QPainterPath bite;
    bite.addEllipse(moon.translated(side * 0.35, -side * 0.25));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, std::max<qreal>(1.0, side / 8)));
    painter.setBrush(QColor(40, 60, 140));
    painter.drawPath(crescent.subtracted(bite));
    return QIcon(picture);
}

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128})
        icon.addPixmap(ArtworkPixmap(QStringLiteral(":/artwork/app-%1.png").arg(size)));
    return icon;
}

QPixmap AboutBackground()
{
    return ArtworkPixmap(QStringLiteral(":/artwork/about-background.png"));
}

QIcon MessageListIcon(int index)
{
    return IndexedIcon("list", index, 3);
}
