#include "common/stop_signal.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <csignal>

namespace {

void (*HandlerOf(int signal))(int)
{
    struct sigaction current {};
    ::sigaction(signal, nullptr, &current);
    return current.sa_handler;
}

} // namespace

TEST(StopSignal, EachStopSignalBecomesOneStopRequest)
{
    for (const int stop : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(stop);
        CStopSignal stopSignal;
        ASSERT_TRUE(stopSignal.IsWatching());
        QSignalSpy requests(&stopSignal, &CStopSignal::stopRequested);
        stopSignal.Deliver();
        ASSERT_EQ(::raise(stop), 0);
        ASSERT_TRUE(requests.wait(5000));
        QCoreApplication::processEvents();
        EXPECT_EQ(requests.count(), 1);
    }
}

TEST(StopSignal, AStopBeforeDeliveryWaitsForIt)
{
    CStopSignal stopSignal;
    ASSERT_TRUE(stopSignal.IsWatching());
    QSignalSpy requests(&stopSignal, &CStopSignal::stopRequested);
    ASSERT_EQ(::raise(SIGTERM), 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(requests.count(), 0);
    stopSignal.Deliver();
    ASSERT_TRUE(requests.wait(5000));
    EXPECT_EQ(requests.count(), 1);
}

TEST(StopSignal, PutsBackThePreviousHandlersAndAllowsAnotherWatcher)
{
    ::signal(SIGINT, SIG_IGN);
    {
        CStopSignal stopSignal;
        ASSERT_TRUE(stopSignal.IsWatching());
        EXPECT_NE(HandlerOf(SIGTERM), SIG_DFL);
        EXPECT_NE(HandlerOf(SIGINT), SIG_IGN);
        // Only one watcher at a time: the signals have one pipe.
        const CStopSignal second;
        EXPECT_FALSE(second.IsWatching());
    }
    EXPECT_EQ(HandlerOf(SIGTERM), SIG_DFL);
    EXPECT_EQ(HandlerOf(SIGINT), SIG_IGN);
    ::signal(SIGINT, SIG_DFL);

    // The pipe is free again for the next one.
    const CStopSignal next;
    EXPECT_TRUE(next.IsWatching());
}
