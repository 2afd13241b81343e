#pragma once

#include <QDialog>

class QLabel;

// The About window: the program's version, credits for the encoder and decoding libraries
// and a link to the product's home page. Created once at start and shown modally.
class TAboutForm : public QDialog {
    Q_OBJECT
public:
    explicit TAboutForm(QWidget *Parent = nullptr);

    // The program's version, "1.0.0"; the settings section keeps its own fixed name.
    static QString VersionText();
    // The encoder library's versions as beVersion reports them.
    static QString EncoderVersionText();

private:
    void lblHomePageLinkActivated(const QString &Link);
};
