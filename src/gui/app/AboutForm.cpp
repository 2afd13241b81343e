#include "app/AboutForm.h"

#include "BrindleVersion.h"
#include "app/Icons.h"
#include "app/WebPages.h"
#include "encoder/Lame_dll.h"
#include <QDesktopServices>

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <cstring>

TAboutForm::TAboutForm(QWidget *Parent) : QDialog(Parent) {
    setObjectName(QStringLiteral("AboutForm"));
    setWindowTitle(QStringLiteral("About Brindle"));

    auto *Picture = new QLabel(this);
    Picture->setObjectName(QStringLiteral("imgProgramIcon"));
    Picture->setPixmap(QPixmap::fromImage(AppIconImage(64)));
    Picture->setAlignment(Qt::AlignTop);

    auto *Title = new QLabel(QStringLiteral("Brindle"), this);
    Title->setObjectName(QStringLiteral("lblProductName"));
    QFont TitleFont = Title->font();
    TitleFont.setBold(true);
    TitleFont.setPointSizeF(TitleFont.pointSizeF() * 1.8);
    Title->setFont(TitleFont);

    auto *Version = new QLabel(QStringLiteral("Version %1").arg(VersionText()), this);
    Version->setObjectName(QStringLiteral("lblVersion"));

    auto *Purpose = new QLabel(
        QStringLiteral("Converts PCM WAV files to MP3 and MPEG audio (MP3, MP2, MP1) to WAV."),
        this);
    Purpose->setWordWrap(true);

    auto *Encoder = new QLabel(
        QStringLiteral("MP3 encoding: LAME encoder library, %1").arg(EncoderVersionText()), this);
    Encoder->setObjectName(QStringLiteral("lblEncoderCredit"));
    Encoder->setWordWrap(true);

    auto *Decoder = new QLabel(
        QStringLiteral("MPEG audio decoding and playback: the Brindle decoding library, built on "
                       "libmpg123 and SDL2."),
        this);
    Decoder->setObjectName(QStringLiteral("lblDecoderCredit"));
    Decoder->setWordWrap(true);

    auto *HomePage =
        new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(HomePageUrl.toHtmlEscaped()), this);
    HomePage->setObjectName(QStringLiteral("lblHomePage"));
    HomePage->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    HomePage->setOpenExternalLinks(false);
    connect(HomePage, &QLabel::linkActivated, this, &TAboutForm::lblHomePageLinkActivated);

    auto *Buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    Buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("btnOK"));
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

    auto *Texts = new QVBoxLayout;
    Texts->addWidget(Title);
    Texts->addWidget(Version);
    Texts->addSpacing(6);
    Texts->addWidget(Purpose);
    Texts->addSpacing(6);
    Texts->addWidget(Encoder);
    Texts->addWidget(Decoder);
    Texts->addSpacing(6);
    Texts->addWidget(HomePage);

    auto *Top = new QHBoxLayout;
    Top->addWidget(Picture);
    Top->addSpacing(12);
    Top->addLayout(Texts, 1);

    auto *Layout = new QVBoxLayout(this);
    Layout->addLayout(Top);
    Layout->addStretch();
    Layout->addWidget(Buttons);
    setMinimumWidth(420);
}

QString TAboutForm::VersionText() {
    return QStringLiteral(BRINDLE_VERSION);
}

QString TAboutForm::EncoderVersionText() {
    BE_VERSION Version{};
    beVersion(&Version);
    const QString Engine = QString::fromLatin1(
        Version.zEngineVersion,
        qsizetype(strnlen(Version.zEngineVersion, sizeof Version.zEngineVersion)));
    return QStringLiteral("engine %1 (interface %2.%3)")
        .arg(Engine.isEmpty()
                 ? QStringLiteral("%1.%2").arg(Version.byMajorVersion).arg(Version.byMinorVersion)
                 : Engine)
        .arg(Version.byDLLMajorVersion)
        .arg(Version.byDLLMinorVersion);
}

void TAboutForm::lblHomePageLinkActivated(const QString &Link) {
    QDesktopServices::openUrl(QUrl(Link));
}
