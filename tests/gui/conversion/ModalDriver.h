#pragma once

#include <QApplication>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <ostream>

inline void PrintTo(const QString &Text, std::ostream *Out) {
    *Out << '"' << Text.toStdString() << '"';
}

// Runs Action on the modal window once the event loop of its exec() runs. Should the action
// leave it open, a watchdog closes every modal window after a few seconds, so a faulty test
// fails instead of hanging.
class ModalDriver {
public:
    explicit ModalDriver(std::function<void(QWidget *Modal)> Action) {
        QTimer::singleShot(
            0, [Action = std::move(Action)] { Action(QApplication::activeModalWidget()); });
        FWatchdog.setSingleShot(true);
        QObject::connect(&FWatchdog, &QTimer::timeout, [this] {
            TimedOut = true;
            while (QWidget *Modal = QApplication::activeModalWidget())
                Modal->close();
        });
        FWatchdog.start(5000);
    }

    bool TimedOut = false;

private:
    QTimer FWatchdog;
};
