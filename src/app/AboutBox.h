#pragma once

#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;
class QSpacerItem;

// The about box: fixed size, centred, the application icon on a background
// picture at the left and the credits beside it.
class TfrmAboutBox : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmAboutBox(QWidget* parent = nullptr);
    void setVisible(bool visible) override;

    QFrame* panImage;
    QLabel* imgBackground;
    QLabel* imgIcon;
    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* lblCredits;
    QLabel* lblLicence;
    QPushButton* btnOk;

private:
    void FormCreate();

    QSpacerItem* FVersionGap;
    bool FSized = false;
};
