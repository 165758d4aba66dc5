#include "desktop/Application.h"
#include "desktop/Dialogs.h"
#include "platform/Exception.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <vector>

namespace {

// Fails in its event handler the way a window's handler would.
class TThrower : public QObject
{
public:
    int kind = 0;
    bool event(QEvent* e) override
    {
        if (e->type() != QEvent::User)
            return QObject::event(e);
        if (kind == 0)
            throw EConvertError("'abc' is not a valid integer value");
        throw std::runtime_error("plain failure");
    }
};

class ErrorBox : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SetMessageAnswerer([this](const TMessageRequest& r) {
            boxes.push_back(r);
            return TModalResult::mrOk;
        });
    }
    void TearDown() override { SetMessageAnswerer({}); }
    std::vector<TMessageRequest> boxes;
};

} // namespace

TEST_F(ErrorBox, ErrorLeavingAHandlerIsShownAndTheProgramGoesOn)
{
    TThrower thrower;
    QEvent ev(QEvent::User);
    EXPECT_TRUE(QCoreApplication::sendEvent(&thrower, &ev));
    thrower.kind = 1;
    EXPECT_TRUE(QCoreApplication::sendEvent(&thrower, &ev));

    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].Caption, "ternbell");
    EXPECT_EQ(boxes[0].Type, TMsgDlgType::mtError);
    EXPECT_EQ(boxes[0].Buttons, unsigned(mbOK));
    EXPECT_EQ(boxes[0].Text, "'abc' is not a valid integer value");
    EXPECT_EQ(boxes[1].Text, "plain failure");
}

TEST_F(ErrorBox, FailingTimerHandlerInTheEventLoop)
{
    int ticks = 0;
    QTimer failing;
    QObject::connect(&failing, &QTimer::timeout, [&] {
        if (++ticks <= 2)
            throw Exception("Invalid data type for 'CheckingTime'");
        failing.stop();
        QCoreApplication::quit();
    });
    failing.start(1);
    QTimer::singleShot(10000, [] { QCoreApplication::exit(1); }); // a hang is a failure
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_EQ(ticks, 3);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].Text, "Invalid data type for 'CheckingTime'");
}

// A check failing every cycle stacked a new modal box on each tick.
TEST_F(ErrorBox, ErrorBoxesDoNotPileUpWhileOneIsOpen)
{
    int ticks = 0;
    QTimer failing;
    QObject::connect(&failing, &QTimer::timeout, [&] {
        ++ticks;
        failing.start(); // as the check timer is switched on again however a tick ends
        throw Exception("Socket Error # 111\nConnection refused.");
    });
    // The box stays open while the timer fails five more times in its loop.
    SetMessageAnswerer([&](const TMessageRequest& r) {
        boxes.push_back(r);
        if (boxes.size() > 1)
            return TModalResult::mrOk; // a box opened over the first one
        const int until = ticks + 5;
        QElapsedTimer waited;
        waited.start();
        while (ticks < until && waited.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        failing.stop();
        QTimer::singleShot(0, [] { QCoreApplication::quit(); });
        return TModalResult::mrOk;
    });
    failing.start(1);
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_GE(ticks, 6);
    EXPECT_EQ(boxes.size(), 1u);

    // Once it is closed, the next error has its box again.
    TThrower thrower;
    QEvent ev(QEvent::User);
    QCoreApplication::sendEvent(&thrower, &ev);
    EXPECT_EQ(boxes.size(), 2u);
}

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TApplication app(argc, argv);
    TApplication::setApplicationName(QStringLiteral("ternbell"));
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
