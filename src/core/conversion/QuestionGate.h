#pragma once

#include <QObject>

#include <functional>
#include <utility>
#include <vector>

// Questions of a batch one at a time. A question's window runs its own event loop, in
// which other jobs go on; what they would ask or decide when they end waits until the
// answer is in, so that questions never stack and decisions keep their order.
class TQuestionGate {
public:
    // Deferred work runs on Context's thread, from its event loop.
    explicit TQuestionGate(QObject &Context) : FContext(Context) {}

    // Asks Question (a callable that shows it) and returns its answer.
    template <typename TQuestion> auto Ask(TQuestion &&Question) {
        ++FAsking;
        struct TAnswered {
            TQuestionGate &Gate;
            ~TAnswered() { Gate.Answered(); }
        } answered{*this};
        return std::forward<TQuestion>(Question)();
    }

    // Runs Then now, or once the open question has been answered.
    void WhenNoQuestion(std::function<void()> Then);

private:
    void Answered();
    void RunDeferred();

    QObject &FContext;
    int FAsking = 0;
    std::vector<std::function<void()>> FDeferred;
};
