#pragma once

#include "platform/DynamicLibrary.h"
#include "xaudio.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <dlfcn.h>
#include <functional>
#include <ostream>
#include <stdexcept>

// Readable failure messages for texts and lists of texts.
inline void PrintTo(const QString &Text, std::ostream *Out) {
    *Out << '"' << Text.toStdString() << '"';
}

// The fake decoding libraries, built beside the tests (see fake_xaudio.cpp).
inline const QString FakeXaudioPath = QStringLiteral(XAUDIO_FAKE_PATH);
inline const QString FakeXaudioNoIIIIPath = QStringLiteral(XAUDIO_FAKE_NO_IIII_PATH);
inline const QString FakeXaudioApi37Path = QStringLiteral(XAUDIO_FAKE_API37_PATH);

// Whether the process has the library at Path loaded, without loading it.
inline bool IsLoaded(const QString &Path) {
    void *handle = dlopen(Path.toUtf8().constData(), RTLD_NOW | RTLD_NOLOAD);
    if (handle == nullptr)
        return false;
    dlclose(handle);
    return true;
}

// A test's own reference to a fake library and its hooks. Holding it keeps the fake (and
// its call log, which Reset clears) alive between the loads and unloads of the component
// under test.
class FakeXaudio {
public:
    explicit FakeXaudio(const QString &Path = FakeXaudioPath) {
        if (!FLibrary.Load(Path))
            throw std::runtime_error(FLibrary.ErrorText().toStdString());
        Bind(FCalls, "fake_calls");
        Bind(FReset, "fake_reset");
        Bind(FSetPlayerNewResult, "fake_set_player_new_result");
        Bind(FSetSendResult, "fake_set_send_result");
        Bind(FPost, "fake_post");
    }

    QStringList Calls() const {
        return QString::fromUtf8(FCalls()).split(u'\n', Qt::SkipEmptyParts);
    }
    QString LastCall() const {
        const QStringList calls = Calls();
        return calls.isEmpty() ? QString() : calls.last();
    }
    void Reset() { FReset(); }
    void SetPlayerNewResult(int Result) { FSetPlayerNewResult(Result); }
    void SetSendResult(int Result) { FSetSendResult(Result); }
    // Posts through the target of the current player; false when there is none.
    bool Post(const XA_Message &Msg, bool FromThread = false) {
        return FPost(&Msg, FromThread ? 1 : 0) == 0;
    }

private:
    template <typename F> void Bind(F &Function, const char *Name) {
        Function = reinterpret_cast<F>(FLibrary.Symbol(Name));
        if (Function == nullptr)
            throw std::runtime_error(std::string("fake lacks ") + Name);
    }

    DynamicLibrary FLibrary;
    const char *(*FCalls)() = nullptr;
    void (*FReset)() = nullptr;
    void (*FSetPlayerNewResult)(int) = nullptr;
    void (*FSetSendResult)(int) = nullptr;
    int (*FPost)(const XA_Message *, int) = nullptr;
};

// Runs the event loop until Done() holds or TimeoutMs passes; gives Done()'s last value.
inline bool WaitFor(const std::function<bool()> &Done, int TimeoutMs = 10000) {
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (Done())
            loop.quit();
    });
    timeout.start(TimeoutMs);
    poll.start(5);
    if (!Done())
        loop.exec();
    return Done();
}

// Delivers every event already posted.
inline void DeliverPosted() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}
