#include "conversion/DispForm.h"

#include "platform/WindowLayout.h"
#include "settings/Config.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

TDispForm::TDispForm(TConfig &Config, QWidget *Parent) : QDialog(Parent), FConfig(Config) {
    setObjectName(QStringLiteral("DispForm"));
    setModal(true);
    resize(640, 320);

    lblErrorMsg = new QLabel(QStringLiteral("Error Messages:"), this);
    lblErrorMsg->setObjectName(QStringLiteral("lblErrorMsg"));

    // Long paths stay on one line each, so the lines keep their one-error-per-line shape.
    MessageMemo = new QPlainTextEdit(this);
    MessageMemo->setObjectName(QStringLiteral("MessageMemo"));
    MessageMemo->setReadOnly(true);
    MessageMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    MessageMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MessageMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    MessageMemo->setAccessibleName(QStringLiteral("Error messages"));
    lblErrorMsg->setBuddy(MessageMemo);

    btnCopy = new QPushButton(QStringLiteral("&Copy"), this);
    btnCopy->setObjectName(QStringLiteral("btnCopy"));
    btnCopy->setAutoDefault(false);
    btnCopy->setToolTip(QStringLiteral("Copy all lines to the clipboard"));
    connect(btnCopy, &QPushButton::clicked, this, &TDispForm::CopyLines);

    btnOK = new QPushButton(QStringLiteral("OK"), this);
    btnOK->setObjectName(QStringLiteral("btnOK"));
    btnOK->setDefault(true);
    connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);

    chkPromptOption =
        new QCheckBox(QStringLiteral("Don't show this error message dialog again"), this);
    chkPromptOption->setObjectName(QStringLiteral("chkPromptOption"));
    chkPromptOption->setVisible(false);

    auto *Bottom = new QHBoxLayout;
    Bottom->addWidget(chkPromptOption);
    Bottom->addStretch(1);
    Bottom->addWidget(btnCopy);
    Bottom->addWidget(btnOK);
    auto *Main = new QVBoxLayout(this);
    Main->addWidget(lblErrorMsg);
    Main->addWidget(MessageMemo, 1);
    Main->addLayout(Bottom);
}

void TDispForm::AddMessage(const QString &Text) {
    ++FErrorCount;
    AddNote(Text);
}

void TDispForm::AddNote(const QString &Text) {
    // An empty document takes the first appended text into its one empty block, so the
    // first line is set rather than appended; empty messages still take a line of their own.
    if (FLines.isEmpty())
        MessageMemo->setPlainText(Text);
    else
        MessageMemo->appendPlainText(Text);
    FLines << Text;
}

void TDispForm::CopyLines() {
    QGuiApplication::clipboard()->setText(FLines.join(QLatin1Char('\n')));
}

void TDispForm::ClearMessages() {
    FErrorCount = 0;
    FLines.clear();
    MessageMemo->clear();
}

void TDispForm::done(int Result) {
    FConfig.ShowErrorMessage = !chkPromptOption->isChecked();
    TWindowLayout::SaveSize(this, QStringLiteral("DispForm"), FConfig.Layout);
    QDialog::done(Result);
}

void TDispForm::showEvent(QShowEvent *Event) {
    chkPromptOption->setChecked(false);
    TWindowLayout::RestoreSize(this, QStringLiteral("DispForm"), FConfig.Layout);
    setWindowTitle(
        QStringLiteral("%1 Error(s) occured during conversion session.").arg(FErrorCount));
    QDialog::showEvent(Event);
    btnOK->setFocus();
}
