#include "desktop/TrayIcon.h"

#include <QMenu>
#include <QSystemTrayIcon>

TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent), FTray(new QSystemTrayIcon(this))
{
    connect(FTray, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                // A single left click does nothing; the right button opens the
                // context menu by itself.
                if (reason == QSystemTrayIcon::DoubleClick)
                    emit DblClick();
            });
}

TTrayIcon::~TTrayIcon() = default;

void TTrayIcon::SetImages(const QList<QIcon>& images)
{
    FImages = images;
    SetPictureIndex(FPictureIndex);
}

void TTrayIcon::SetPictureIndex(int index)
{
    FPictureIndex = index;
    if (index >= 0 && index < FImages.size())
        FTray->setIcon(FImages[index]);
}

void TTrayIcon::SetIcon(const QIcon& icon)
{
    FTray->setIcon(icon);
}

QIcon TTrayIcon::Icon() const
{
    return FTray->icon();
}

void TTrayIcon::SetHint(const QString& hint)
{
    FHint = hint;
    FTray->setToolTip(hint);
}

void TTrayIcon::SetVisible(bool visible)
{
    FVisible = visible;
    FTray->setVisible(visible);
}

void TTrayIcon::SetPopupMenu(QMenu* menu)
{
    FTray->setContextMenu(menu);
}

void TTrayIcon::ShowBalloon(const QString& title, const QString& text, int timeoutMs)
{
    FTray->showMessage(title, text, QSystemTrayIcon::Information, timeoutMs);
}
