#include "app/AboutBox.h"

#include "app/CommandLine.h"
#include "i18n/Translate.h"
#include "i18n/WindowTexts.h"
#include "desktop/Artwork.h"
#include "desktop/FormParts.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

TfrmAboutBox::TfrmAboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAboutBox"));
    setWindowTitle(QStringLiteral("About ..."));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(360, 200);

    panImage = Named(new QFrame(this), "panImage");
    panImage->setFrameShape(QFrame::Panel);
    panImage->setFrameShadow(QFrame::Sunken);
    panImage->setGeometry(8, 8, 120, 184);
    imgBackground = Named(new QLabel(panImage), "imgBackground");
    imgBackground->setScaledContents(true);
    imgBackground->setPixmap(AboutBackground());
    imgBackground->setGeometry(2, 2, 116, 180);
    imgIcon = Named(new QLabel(panImage), "imgIcon");
    imgIcon->setGeometry(44, 16, 32, 32);
    imgIcon->setAttribute(Qt::WA_TranslucentBackground);

    lblTitle = Captioned<QLabel>(this, "lblTitle", "ternbell");
    QFont big = lblTitle->font();
    big.setBold(true);
    big.setPointSize(big.pointSize() + 4);
    lblTitle->setFont(big);
    lblTitle->setGeometry(140, 12, 210, 28);
    // The same text as --version gives, so a report names the build it is about.
    lblVersion = Named(new QLabel(QString::fromStdString(VersionText()), this), "lblVersion");
    lblVersion->setGeometry(140, 40, 210, 18);
    KeepUntranslated(lblVersion);
    lblCredits = WrappedLabel(this, "lblCredits",
                              "A small mail notifier for the desktop tray.\n"
                              "It checks POP3 and IMAP4 mailboxes and tells "
                              "you when new mail is waiting.");
    lblCredits->setGeometry(140, 62, 210, 90);
    btnOk = Captioned<QPushButton>(this, "btnOk", "&Ok");
    btnOk->setDefault(true);
    btnOk->setGeometry(275, 163, 75, 25);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);

    CenterOnScreen(*this);

    FormCreate();
}

void TfrmAboutBox::FormCreate()
{
    TranslateComponent(this);
    imgIcon->setPixmap(QApplication::windowIcon().pixmap(32, 32));
}
