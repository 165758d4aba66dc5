#include "config/TrayIcon.h"

#include <QMenu>
#include <QSystemTrayIcon>

TTrayIcon::TTrayIcon(QObject* parent) : QObject(parent), tray_(new QSystemTrayIcon(this))
{
    connect(tray_, &QSystemTrayIcon::activated, this,
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
    images_ = images;
    SetPictureIndex(pictureIndex_);
}

void TTrayIcon::SetPictureIndex(int index)
{
    pictureIndex_ = index;
    if (index >= 0 && index < images_.size())
        tray_->setIcon(images_[index]);
}

void TTrayIcon::SetIcon(const QIcon& icon)
{
    tray_->setIcon(icon);
}

QIcon TTrayIcon::Icon() const
{
    return tray_->icon();
}

void TTrayIcon::SetHint(const QString& hint)
{
    hint_ = hint;
    tray_->setToolTip(hint);
}

void TTrayIcon::SetVisible(bool visible)
{
    visible_ = visible;
    tray_->setVisible(visible);
}

void TTrayIcon::SetPopupMenu(QMenu* menu)
{
    tray_->setContextMenu(menu);
}

void TTrayIcon::ShowBalloon(const QString& title, const QString& text, int timeoutMs)
{
    tray_->showMessage(title, text, QSystemTrayIcon::Information, timeoutMs);
}
