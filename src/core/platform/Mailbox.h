#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

// Hands work from any thread to the thread that made the mailbox, which runs it from its
// event loop in the order posted. What a worker hands over travels in the posted function
// under a mutex of ours, so ThreadSanitizer sees every hand-over; the only thing that
// crosses through the event loop is a wake-up on a file descriptor, which carries no data.
// Functions still queued when the mailbox goes are dropped without being run.
class TMailbox {
    struct TQueue;

public:
    // On the thread that is to run the posted functions; it needs an event loop (a
    // QCoreApplication's thread, or a QThread's).
    TMailbox();
    ~TMailbox();
    TMailbox(const TMailbox &) = delete;
    TMailbox &operator=(const TMailbox &) = delete;

    // Any thread. A post that comes while or after the mailbox is destroyed through a
    // TSender is dropped.
    void Post(std::function<void()> Work);

    // Runs everything posted so far, one function at a time, on the owner's thread. A
    // function may post, or run an event loop that drains the mailbox again; the order stays.
    void Drain();

    // A handle that may outlive the mailbox: posts through it after the mailbox has gone are
    // dropped instead of reaching freed memory.
    class TSender {
    public:
        void Post(std::function<void()> Work) const;

    private:
        friend class TMailbox;
        explicit TSender(std::shared_ptr<TQueue> Queue) : FQueue(std::move(Queue)) {}
        std::shared_ptr<TQueue> FQueue;
    };
    TSender Sender() const { return TSender(FQueue); }

private:
    std::shared_ptr<TQueue> FQueue;
    std::unique_ptr<QSocketNotifier> FNotifier;
};
