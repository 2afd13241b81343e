#include "platform/Mailbox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <thread>
#include <vector>

namespace {

// Runs the event loop until Done() holds or TimeoutMs passes.
bool ProcessUntil(const std::function<bool()> &Done, int TimeoutMs = 10000) {
    QElapsedTimer timer;
    timer.start();
    while (!Done() && timer.elapsed() < TimeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return Done();
}

} // namespace

// Each worker hands over plain, unguarded data; ThreadSanitizer checks that the hand-over
// orders the worker's writes before the owner's reads.
TEST(Mailbox, PostsFromWorkersRunOnTheOwnersThreadInTheirOrder) {
    TMailbox mailbox;
    constexpr int Workers = 4;
    constexpr int PerWorker = 500;
    std::vector<std::vector<int>> received(Workers);
    bool offThread = false;
    int ran = 0;
    std::vector<std::thread> threads;
    for (int w = 0; w < Workers; ++w) {
        threads.emplace_back([&mailbox, &received, &offThread, &ran, w] {
            for (int i = 0; i < PerWorker; ++i) {
                auto data = std::make_shared<std::vector<int>>(3, i); // written here, read there
                mailbox.Post([&received, &offThread, &ran, w, data] {
                    received[size_t(w)].push_back((*data)[2]);
                    offThread |= QThread::currentThread() != qApp->thread();
                    ++ran;
                });
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(ran, 0) << "nothing runs before the owner's event loop does";
    ASSERT_TRUE(ProcessUntil([&] { return ran == Workers * PerWorker; }));
    EXPECT_FALSE(offThread);
    for (int w = 0; w < Workers; ++w) {
        ASSERT_EQ(received[size_t(w)].size(), size_t(PerWorker));
        for (int i = 0; i < PerWorker; ++i)
            ASSERT_EQ(received[size_t(w)][size_t(i)], i) << "worker " << w;
    }
}

// A posted function that runs an event loop (a question's dialog) lets the functions queued
// behind it and those posted meanwhile run inside; each still runs once, in order.
TEST(Mailbox, AFunctionRunningAnEventLoopLetsTheRestRunInOrder) {
    TMailbox mailbox;
    QStringList ran;
    mailbox.Post([&] {
        ran << "first";
        ProcessUntil([&] { return ran.size() == 3; }, 3000);
        ran << QStringLiteral("first saw %1").arg(ran.size() - 1);
        mailbox.Post([&] { ran << "posted by first"; });
        ProcessUntil([&] { return ran.contains("posted by first"); }, 3000);
        ran << "first done";
    });
    mailbox.Post([&] { ran << "second"; });
    mailbox.Post([&] { ran << "third"; });
    ASSERT_TRUE(ProcessUntil([&] { return ran.contains("first done"); }));
    EXPECT_EQ(ran, QStringList({"first", "second", "third", "first saw 2", "posted by first",
                                "first done"}));
}

// A worker that posts without pause must not hold the owner's event loop: one wake-up runs
// what was there when it came.
TEST(Mailbox, OneWakeUpRunsOnlyWhatWasPostedBeforeIt) {
    TMailbox mailbox;
    int runs = 0;
    std::function<void()> again = [&] {
        ++runs;
        mailbox.Post(again);
    };
    mailbox.Post(again);
    mailbox.Post(again);
    mailbox.Drain();
    EXPECT_EQ(runs, 2);
    mailbox.Drain();
    EXPECT_EQ(runs, 4);
}

TEST(Mailbox, DestroyingItDropsWhatIsQueuedEvenFromInsideAFunction) {
    auto mailbox = std::make_unique<TMailbox>();
    auto kept = std::make_shared<int>(0);
    bool laterRan = false;
    mailbox->Post([&] { mailbox.reset(); });
    mailbox->Post([&laterRan, kept] { laterRan = true; });
    ASSERT_TRUE(ProcessUntil([&] { return !mailbox; }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(laterRan);
    EXPECT_EQ(kept.use_count(), 1) << "the dropped function is destroyed with the mailbox";
}

// A worker still running when its owner goes posts into nothing instead of freed memory.
TEST(Mailbox, PostsThroughASenderAfterTheMailboxHasGoneAreDropped) {
    auto mailbox = std::make_unique<TMailbox>();
    const TMailbox::TSender sender = mailbox->Sender();
    bool ran = false;
    sender.Post([&] { ran = true; });
    ASSERT_TRUE(ProcessUntil([&] { return ran; }));

    ran = false;
    std::thread worker([&sender, &ran] {
        for (int i = 0; i < 1000; ++i)
            sender.Post([&ran] { ran = true; });
    });
    mailbox.reset();
    worker.join();
    sender.Post([&] { ran = true; });
    QCoreApplication::processEvents();
    EXPECT_FALSE(ran);
}
