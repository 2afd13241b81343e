#include "conversion/QuestionGate.h"
#include "conversion/ReportQueue.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

using TReport = TReportQueue::TReport;

} // namespace

TEST(ReportQueue, LinesWaitForEveryEarlierJobAndComeInListOrder) {
    QStringList delivered;
    TReportQueue queue([&](int Job, const TReport &R) {
        delivered << QStringLiteral("%1:%2").arg(Job).arg(R.Text);
    });
    queue.Reset(3);
    queue.Add(2, TReport::Message, "late failure");
    queue.Add(1, TReport::Message, "failure");
    queue.Add(1, TReport::Note, "  why");
    queue.Ended(2);
    queue.Ended(1);
    EXPECT_TRUE(delivered.isEmpty()) << "job 0 is still running";
    queue.Ended(0);
    EXPECT_EQ(delivered, (QStringList{"1:failure", "1:  why", "2:late failure"}));
    EXPECT_TRUE(queue.Spoken(1));
    EXPECT_FALSE(queue.Spoken(0));

    // A new batch forgets the old one; what is left goes at the end.
    delivered.clear();
    queue.Reset(2);
    EXPECT_FALSE(queue.Spoken(1));
    queue.Add(1, TReport::Warning, "warned");
    queue.ReleaseAll();
    EXPECT_EQ(delivered, QStringList{"1:warned"});
}

TEST(QuestionGate, WorkThatEndsDuringAQuestionWaitsForTheAnswer) {
    QObject context;
    TQuestionGate gate(context);
    QStringList order;
    const int answer = gate.Ask([&] {
        // As a modal window would: other work ends while the question is open.
        gate.WhenNoQuestion([&] { order << "ended meanwhile"; });
        order << "asked";
        return 7;
    });
    order << "answered";
    EXPECT_EQ(answer, 7);
    EXPECT_EQ(order, (QStringList{"asked", "answered"}));
    QEventLoop loop;
    QTimer::singleShot(0, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(order, (QStringList{"asked", "answered", "ended meanwhile"}));
    gate.WhenNoQuestion([&] { order << "at once"; });
    EXPECT_EQ(order.last(), "at once");
}
