#pragma once

#include <QDialog>
#include <QString>

// Windows of the program that are created at start but not built yet: the conversion
// window, the tag editor and the WAV info window. Each exists so that start-up
// creates every window in its order; the main window's commands that would show one tell
// the user that the feature is not available yet instead.
class TLaterForm : public QDialog {
public:
    TLaterForm(const QString &Name, const QString &Caption, QWidget *Parent) : QDialog(Parent) {
        setObjectName(Name);
        setWindowTitle(Caption);
    }
};

class TConvForm : public TLaterForm {
public:
    explicit TConvForm(QWidget *Parent = nullptr)
        : TLaterForm(QStringLiteral("ConvForm"), QStringLiteral("Converting"), Parent) {}
};

class TID3TagForm : public TLaterForm {
public:
    explicit TID3TagForm(QWidget *Parent = nullptr)
        : TLaterForm(QStringLiteral("ID3TagForm"), QStringLiteral("ID3 Tag Editor"), Parent) {}
};

class TWaveInfoForm : public TLaterForm {
public:
    explicit TWaveInfoForm(QWidget *Parent = nullptr)
        : TLaterForm(QStringLiteral("WaveInfoForm"), QStringLiteral("Wave File Information"),
                     Parent) {}
};
