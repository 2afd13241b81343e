#include "conversion/QuestionGate.h"

void TQuestionGate::WhenNoQuestion(std::function<void()> Then) {
    if (FAsking > 0)
        FDeferred.push_back(std::move(Then));
    else
        Then();
}

void TQuestionGate::Answered() {
    // Not at once: the answer's caller finishes its own step first.
    if (--FAsking == 0 && !FDeferred.empty())
        QMetaObject::invokeMethod(
            &FContext, [this] { RunDeferred(); }, Qt::QueuedConnection);
}

void TQuestionGate::RunDeferred() {
    while (FAsking == 0 && !FDeferred.empty()) {
        auto next = std::move(FDeferred.front());
        FDeferred.erase(FDeferred.begin());
        next();
    }
}
