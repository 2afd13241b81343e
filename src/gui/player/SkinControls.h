#pragma once

// The player's own controls: skin pictures as buttons, and text that ends in "..." when it
// does not fit.

#include "player/Skins.h"

#include <QAbstractButton>
#include <QLabel>
#include <QPixmap>

// A skin picture that is a button: a hand cursor, a tooltip and an accessible name, a pressed
// look while it is held, and clicked() when released over it. It takes the keyboard focus by
// Tab, shows a focus frame drawn like the skin, and Return or Enter press it; Space and the
// arrows are left to the window, whose keys they are.
class TSkinButton : public QAbstractButton {
public:
    TSkinButton(const char *Name, const QString &Caption, QWidget *Parent);

    // The picture at rest and while pressed (the pressed one may be null).
    void SetPictures(const QPixmap &Normal, const QPixmap &Pressed);
    // The picture shown now.
    const QPixmap &Picture() const;
    void SetFocusTone(TSkinTone Value);
    bool ShowsFocusFrame() const { return hasFocus(); }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *Event) override;
    void keyPressEvent(QKeyEvent *Event) override;
    void keyReleaseEvent(QKeyEvent *Event) override;

private:
    QPixmap FNormal;
    QPixmap FPressed;
    TSkinTone FTone = TSkinTone::Light;
};

// Static text of a fixed size that ends in "…" when it does not fit; text() keeps it whole,
// and so does its tooltip then.
class TStaticText : public QLabel {
public:
    using QLabel::QLabel;
    void SetText(const QString &Text);
    bool Elided() const;

protected:
    void paintEvent(QPaintEvent *Event) override;
    void resizeEvent(QResizeEvent *Event) override;

private:
    void UpdateToolTip();
};
