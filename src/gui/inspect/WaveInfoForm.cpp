#include "inspect/WaveInfoForm.h"

#include "inspect/InfoTexts.h"
#include "tags/TagSet.h"

#include <QFontMetrics>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TWaveInfoForm::TWaveInfoForm(QWidget *Parent) : QDialog(Parent) {
    setObjectName(QStringLiteral("WaveInfoForm"));
    setWindowTitle(QStringLiteral("WAV file info"));
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);

    edFilePath = new QLineEdit(this);
    edFilePath->setObjectName(QStringLiteral("edFilePath"));
    edFilePath->setReadOnly(true);
    // Neither field has a label of its own for a screen reader to name it by.
    edFilePath->setAccessibleName(QStringLiteral("File path"));

    grpWavFormat = new QGroupBox(QStringLiteral("WAV Format"), this);
    grpWavFormat->setObjectName(QStringLiteral("grpWavFormat"));
    WaveInfoMemo = new QPlainTextEdit(grpWavFormat);
    WaveInfoMemo->setObjectName(QStringLiteral("WaveInfoMemo"));
    WaveInfoMemo->setReadOnly(true);
    WaveInfoMemo->setAccessibleName(QStringLiteral("WAV format"));
    WaveInfoMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    const QFontMetrics Metrics(WaveInfoMemo->font());
    // Eight lines and a little air, so that no scroll bar is needed.
    WaveInfoMemo->setFixedHeight(9 * Metrics.lineSpacing() + 2 * WaveInfoMemo->frameWidth() + 8);
    auto *GroupLayout = new QVBoxLayout(grpWavFormat);
    GroupLayout->addWidget(WaveInfoMemo);

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

    auto *Buttons = new QHBoxLayout;
    Buttons->addStretch();
    Buttons->addWidget(btnOK);
    Buttons->addStretch();
    auto *Layout = new QVBoxLayout(this);
    Layout->addWidget(edFilePath);
    Layout->addWidget(grpWavFormat);
    Layout->addLayout(Buttons);
    Layout->setSizeConstraint(QLayout::SetFixedSize);
    edFilePath->setFixedWidth(std::max(360, Metrics.horizontalAdvance(QString(48, u'x'))));
}

void TWaveInfoForm::ShowWaveInfo(const TFileParam &Item) {
    FItem = Item;
    WaveInfoMemo->clear();
    edFilePath->setText(FItem.SourcePath);
    edFilePath->setCursorPosition(0);
    edFilePath->setToolTip(FItem.SourcePath);
    const QStringList Lines = FItem.Kind == fkWave ? WaveInfoLines(FItem.WaveData, FItem.Duration)
                              : FItem.Kind == fkAudio
                                  ? SoundInfoLines(FItem.SoundData, FItem.Duration)
                                  : QStringList{QStringLiteral("Unknow")};
    // The tags are read now: the list keeps none of a PCM source's, and a cover would weigh
    // on a list of thousands.
    QStringList Tags;
    if (FItem.IsReadable())
        Tags = TagInfoLines(ReadTags(FItem.SourcePath).Tags);
    WaveInfoMemo->setPlainText(
        (Tags.isEmpty() ? Lines : Lines + QStringList{QString()} + Tags).join(u'\n'));
}
