#include "app/AboutBox.h"

#include "app/CommandLine.h"
#include "i18n/Translate.h"
#include "desktop/WindowTexts.h"
#include "desktop/Artwork.h"
#include "desktop/FormParts.h"

#include <QApplication>
#include <QBoxLayout>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>

TfrmAboutBox::TfrmAboutBox(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAboutBox"));
    setWindowTitle(QStringLiteral("About ..."));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    panImage = Named(new QFrame(this), "panImage");
    panImage->setFrameShape(QFrame::Panel);
    panImage->setFrameShadow(QFrame::Sunken);
    imgBackground = Named(new QLabel(panImage), "imgBackground");
    imgBackground->setScaledContents(true);
    imgBackground->setPixmap(AboutBackground());
    // The picture at its drawn size, stretched only where the texts beside
    // it need a taller box.
    imgBackground->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);
    imgIcon = Named(new QLabel(panImage), "imgIcon");
    imgIcon->setAttribute(Qt::WA_TranslucentBackground);
    auto* image = new QGridLayout(panImage);
    const int frame = panImage->frameWidth();
    image->setContentsMargins(frame, frame, frame, frame);
    image->addWidget(imgBackground, 0, 0);
    // The icon on the picture, near its top.
    auto* icon = new QVBoxLayout;
    icon->setContentsMargins(0, 14, 0, 0);
    icon->addWidget(imgIcon, 0, Qt::AlignHCenter);
    icon->addStretch(1);
    image->addLayout(icon, 0, 0);

    lblTitle = Captioned<QLabel>(this, "lblTitle", "ternbell");
    QFont big = lblTitle->font();
    big.setBold(true);
    big.setPointSize(big.pointSize() + 4);
    lblTitle->setFont(big);
    // The same text as --version gives, so a report names the build it is about.
    lblVersion = Named(new QLabel(QString::fromStdString(VersionText()), this), "lblVersion");
    KeepUntranslated(lblVersion);
    lblCredits = WrappedLabel(this, "lblCredits",
                              "A small mail notifier for the desktop tray.\n"
                              "It checks POP3 and IMAP4 mailboxes and tells "
                              "you when new mail is waiting.");
    lblLicence = WrappedLabel(this, "lblLicence",
                              "Free software under the GNU General Public License, version 3 "
                              "or later (GPL-3.0-or-later), with NO WARRANTY.");
    btnOk = Captioned<QPushButton>(this, "btnOk", "&Ok");
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);

    auto* texts = new QVBoxLayout;
    texts->addWidget(lblTitle);
    texts->addWidget(lblVersion);
    FVersionGap = new QSpacerItem(0, 0, QSizePolicy::Minimum, QSizePolicy::Fixed);
    texts->addSpacerItem(FVersionGap);
    texts->addWidget(lblCredits);
    texts->addWidget(lblLicence);
    texts->addStretch(1);
    texts->addWidget(btnOk, 0, Qt::AlignRight);
    auto* box = new QHBoxLayout(this);
    // A fixed size: the one the texts need.
    box->setSizeConstraint(QLayout::SetFixedSize);
    box->addWidget(panImage);
    box->addLayout(texts, 1);

    FormCreate();
}

void TfrmAboutBox::setVisible(bool visible)
{
    // Measured at the first showing: measuring loads the font system, which
    // a program resting in the tray does without.
    if (visible && !FSized)
    {
        FSized = true;
        // Lines of a comfortable length rather than a narrow column.
        lblCredits->setMinimumWidth(lblCredits->fontMetrics().averageCharWidth() * 45);
        lblLicence->setMinimumWidth(lblCredits->minimumWidth());
        FVersionGap->changeSize(0, lblVersion->fontMetrics().height() / 2, QSizePolicy::Minimum, QSizePolicy::Fixed);
        layout()->invalidate();
        layout()->activate();
        CenterOnScreen(*this);
    }
    QDialog::setVisible(visible);
}

void TfrmAboutBox::FormCreate()
{
    TranslateComponent(this);
    imgIcon->setPixmap(QApplication::windowIcon().pixmap(32, 32));
}
