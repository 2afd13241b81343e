#include "platform/Mailbox.h"

#include <QObject>
#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <deque>
#include <mutex>
#include <system_error>

struct TMailbox::TQueue {
    std::mutex Mutex;
    std::deque<std::function<void()>> Pending;
    bool Closed = false;
    // Readable while a wake-up is due; written after every post. It stays open as long as
    // a sender may still write to it.
    int Wake = -1;

    TQueue() : Wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
        if (Wake < 0)
            throw std::system_error(errno, std::generic_category(), "eventfd");
    }
    ~TQueue() { ::close(Wake); }
    TQueue(const TQueue &) = delete;
    TQueue &operator=(const TQueue &) = delete;

    void Post(std::function<void()> Work) {
        {
            const std::lock_guard lock(Mutex);
            if (Closed)
                return;
            Pending.push_back(std::move(Work));
        }
        SetWake();
    }

    // A counter that cannot overflow in practice; the owner resets it when it wakes.
    void SetWake() {
        const uint64_t one = 1;
        while (::write(Wake, &one, sizeof one) < 0 && errno == EINTR) {
        }
    }

    void ClearWake() {
        uint64_t count = 0;
        while (::read(Wake, &count, sizeof count) < 0 && errno == EINTR) {
        }
    }
};

TMailbox::TMailbox() : FQueue(std::make_shared<TQueue>()) {
    FNotifier = std::make_unique<QSocketNotifier>(FQueue->Wake, QSocketNotifier::Read);
    QObject::connect(FNotifier.get(), &QSocketNotifier::activated, FNotifier.get(),
                     [this] { Drain(); });
}

TMailbox::~TMailbox() {
    std::deque<std::function<void()>> dropped;
    {
        const std::lock_guard lock(FQueue->Mutex);
        FQueue->Closed = true;
        dropped.swap(FQueue->Pending);
    }
    // The dropped functions are destroyed here, outside the lock, in case one of them owns
    // something whose destructor posts.
}

void TMailbox::Post(std::function<void()> Work) {
    FQueue->Post(std::move(Work));
}

void TMailbox::TSender::Post(std::function<void()> Work) const {
    FQueue->Post(std::move(Work));
}

void TMailbox::Drain() {
    // A function may destroy the mailbox; from then on only this reference is touched.
    const std::shared_ptr<TQueue> queue = FQueue;
    // Cleared first, so that a post from here on wakes the loop again.
    queue->ClearWake();
    size_t due = 0;
    {
        const std::lock_guard lock(queue->Mutex);
        due = queue->Pending.size();
    }
    // Only what was there on waking: a worker posting without pause must not keep the
    // event loop from everything else.
    for (; due > 0; --due) {
        std::function<void()> next;
        bool more = false;
        {
            const std::lock_guard lock(queue->Mutex);
            if (queue->Closed || queue->Pending.empty())
                return;
            next = std::move(queue->Pending.front());
            queue->Pending.pop_front();
            more = !queue->Pending.empty();
        }
        // Should this function run an event loop (a question), what waits behind it still
        // gets there, as posted events would.
        if (more)
            queue->SetWake();
        next();
    }
}
