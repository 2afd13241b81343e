#pragma once

#include <QDialog>
#include <QString>

// A window of the program that is created at start but not built yet: the player. It
// exists so that start-up creates every window in its order; the Play command tells the
// user that the feature is not available yet instead.
class TLaterForm : public QDialog {
public:
    TLaterForm(const QString &Name, const QString &Caption, QWidget *Parent) : QDialog(Parent) {
        setObjectName(Name);
        setWindowTitle(Caption);
    }
};

class TPlayerForm : public TLaterForm {
public:
    explicit TPlayerForm(QWidget *Parent = nullptr)
        : TLaterForm(QStringLiteral("PlayerForm"), QString(), Parent) {}
};
