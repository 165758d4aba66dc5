#include "desktop/Dialogs.h"
#include "platform/Registry.h"
#include "support/TestHelpers.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

TEST(Dialogs, QtFileFilter)
{
    struct Case
    {
        const char* filter;
        const char* expected;
    };
    const Case cases[] = {
        {"Wave Sound Files (*.wav)|*.WAV", "Wave Sound Files (*.WAV *.wav)"},
        {"Icons|*.ico", "Icons (*.ico *.ICO)"},
        {"Programs|*.exe;*.sh|All files|*.*", "Programs (*.exe *.EXE *.sh *.SH);;All files (*.*)"},
        {"|*.avi", "*.avi *.AVI (*.avi *.AVI)"},
        {"Everything", "Everything (*)"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(QtFileFilter(c.filter), c.expected) << c.filter;
}

namespace {

// Runs `act` on the modal widget of type T as soon as it is up.
template <typename T>
void WhenModal(std::function<void(T*)> act)
{
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget()))
        {
            timer->stop();
            timer->deleteLater();
            act(w);
        }
    });
    timer->start(10);
}

QAbstractButton* ButtonWithText(QMessageBox* box, const QString& text)
{
    for (QAbstractButton* b : box->buttons())
        if (b->text() == text)
            return b;
    return nullptr;
}

} // namespace

TEST(Dialogs, RealMessageBoxHasTheButtonsAsked)
{
    QString title, text;
    QStringList buttons;
    WhenModal<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        text = box->text();
        for (QAbstractButton* b : box->buttons())
            buttons << b->text();
        ButtonWithText(box, "&No")->click();
    });
    const TMessageRequest req{"", "Caf\xc3\xa9?", TMsgDlgType::mtConfirmation, mbYes | mbNo};
    EXPECT_EQ(MessageDlg(nullptr, req), TModalResult::mrNo);
    EXPECT_EQ(title, QApplication::applicationDisplayName());
    EXPECT_EQ(text, QString::fromUtf8("Caf\xc3\xa9?"));
    buttons.sort();
    EXPECT_EQ(buttons, QStringList({"&No", "&Yes"}));

    WhenModal<QMessageBox>([](QMessageBox* box) { ButtonWithText(box, "&Yes")->click(); });
    EXPECT_EQ(MessageDlg(nullptr, req), TModalResult::mrYes);

    // Closing the box, or leaving it any other way, counts as the last button.
    WhenModal<QMessageBox>([](QMessageBox* box) { box->close(); });
    EXPECT_EQ(MessageDlg(nullptr, req), TModalResult::mrNo);
    WhenModal<QMessageBox>([](QMessageBox* box) { box->reject(); });
    EXPECT_EQ(MessageDlg(nullptr, TMessageRequest{"", "?", TMsgDlgType::mtWarning, mbOK | mbCancel}),
              TModalResult::mrCancel);

    WhenModal<QMessageBox>([&](QMessageBox* box) {
        title = box->windowTitle();
        box->buttons().front()->click();
    });
    EXPECT_EQ(MessageDlg(nullptr, TMessageRequest{"Oops", "x", TMsgDlgType::mtError, mbOK}), TModalResult::mrOk);
    EXPECT_EQ(title, "Oops");
}

// An error box may quote a server: "-ERR <h1>..." must read as it came.
TEST(Dialogs, MessageBoxShowsServerTextAsPlainText)
{
    for (const char* text : {"-ERR <h1><font color=red>x</font></h1>", "<img src=file:///etc/passwd>"})
    {
        Qt::TextFormat format = Qt::AutoText;
        QString shown;
        WhenModal<QMessageBox>([&](QMessageBox* box) {
            format = box->textFormat();
            if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
                shown = label->textFormat() == Qt::PlainText ? label->text() : QString();
            box->buttons().front()->click();
        });
        MessageDlg(nullptr, TMessageRequest{"", text, TMsgDlgType::mtError, mbOK});
        EXPECT_EQ(format, Qt::PlainText) << text;
        EXPECT_EQ(shown, QString::fromLatin1(text));
    }
}

TEST(Dialogs, RealFileDialogReturnsTheChosenFile)
{
    const TempFolder folder("dlg");
    const std::string dir = folder.Path();
    WriteFile(dir + "/bell.WAV", "x");

    QStringList filters;
    WhenModal<QFileDialog>([&](QFileDialog* d) {
        filters = d->nameFilters();
        d->selectFile(QString::fromStdString(dir + "/bell.WAV"));
        static_cast<QDialog*>(d)->accept(); // QFileDialog hides it
    });
    const auto chosen = OpenFileDlg(nullptr, TFileRequest{"Wave Sound Files (*.wav)|*.WAV", dir});
    EXPECT_EQ(chosen, std::optional<std::string>(dir + "/bell.WAV"));
    EXPECT_EQ(filters, QStringList({"Wave Sound Files (*.WAV *.wav)"}));

    WhenModal<QFileDialog>([](QFileDialog* d) { d->reject(); });
    EXPECT_EQ(OpenFileDlg(nullptr, TFileRequest{"Wave|*.wav", dir}), std::nullopt);
}

TEST(Dialogs, HiveProblemsGoToTheErrorBox)
{
    std::vector<TMessageRequest> boxes;
    SetMessageAnswerer([&boxes](const TMessageRequest& r) {
        boxes.push_back(r);
        return TModalResult::mrOk;
    });
    TempFolder root("hivebox");
    ScopedEnvironment env;
    env.Set("XDG_CONFIG_HOME", root.Path());
    WriteFile(root.File("ternbell/user.reg"), "not a hive");
    ReportHiveProblemsInErrorBox();
    {
        TRegistry reg;
        EXPECT_FALSE(reg.KeyExists("Software\\ternbell"));
    }
    SetHiveProblemReporter({});
    SetMessageAnswerer({});
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Type, TMsgDlgType::mtError);
    EXPECT_NE(boxes[0].Text.find("user.reg.bad"), std::string::npos);
}
