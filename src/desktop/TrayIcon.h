#pragma once

#include <QIcon>
#include <QList>
#include <QObject>
#include <QString>

class QMenu;
class QSystemTrayIcon;

// A tray icon that remembers what it shows (picture index, hint, visibility),
// so the program and its tests can read the state back whether or not the
// desktop has a tray.
class TTrayIcon : public QObject
{
    Q_OBJECT
public:
    explicit TTrayIcon(QObject* parent = nullptr);
    ~TTrayIcon() override;

    // Pictures to choose from by index (the main icon's image list).
    void SetImages(const QList<QIcon>& images);
    int PictureIndex() const { return FPictureIndex; }
    void SetPictureIndex(int index);
    // A picture of its own (the new-mail icon's file), instead of the list.
    void SetIcon(const QIcon& icon);
    QIcon Icon() const;

    QString Hint() const { return FHint; }
    void SetHint(const QString& hint);

    bool Visible() const { return FVisible; }
    void SetVisible(bool visible);

    void SetPopupMenu(QMenu* menu);
    void ShowBalloon(const QString& title, const QString& text, int timeoutMs);

signals:
    void DblClick();

private:
    QSystemTrayIcon* FTray;
    QList<QIcon> FImages;
    int FPictureIndex = 0;
    QString FHint;
    bool FVisible = false;
};
