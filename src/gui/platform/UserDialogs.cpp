#include "platform/UserDialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>

#include <vector>

namespace {

// Every live overwrite window, oldest first.
std::vector<IOverwriteWindow *> &OverwriteWindows() {
    static std::vector<IOverwriteWindow *> Windows;
    return Windows;
}

} // namespace

void RegisterOverwriteWindow(IOverwriteWindow *Window) {
    OverwriteWindows().push_back(Window);
}

void UnregisterOverwriteWindow(IOverwriteWindow *Window) {
    std::erase(OverwriteWindows(), Window);
}

namespace {

QMessageBox::Icon QtIcon(TMsgIcon Icon) {
    switch (Icon) {
    case TMsgIcon::None:
        return QMessageBox::NoIcon;
    case TMsgIcon::Information:
        return QMessageBox::Information;
    case TMsgIcon::Exclamation:
    case TMsgIcon::Warning:
        return QMessageBox::Warning;
    case TMsgIcon::Error:
        return QMessageBox::Critical;
    case TMsgIcon::Question:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

// "*.MP3" becomes "*.[mM][pP]3"; a pattern that already has a character set is kept, so a
// set is never nested in another.
QString CaseInsensitivePattern(const QString &Pattern) {
    if (Pattern.contains(u'['))
        return Pattern;
    QString Result;
    for (const QChar C : Pattern) {
        const QChar Lower = C.toLower();
        const QChar Upper = C.toUpper();
        if (Lower == Upper)
            Result += C;
        else
            Result += u'[' + QString(Lower) + QString(Upper) + u']';
    }
    return Result;
}

// Shown text and its Qt filter entry; the patterns are hidden in the dialog by
// HideNameFilterDetails, so the user sees the description as written.
QString FilterEntry(const QString &Description, const QString &Patterns) {
    static const QRegularExpression Separators(QStringLiteral("[;\\s]+"));
    QStringList Converted;
    for (const QString &Pattern : Patterns.split(Separators, Qt::SkipEmptyParts))
        Converted << CaseInsensitivePattern(Pattern);
    if (Converted.isEmpty())
        Converted << QStringLiteral("*");
    const QString Shown = Description.trimmed().isEmpty() ? Patterns.trimmed() : Description;
    return Shown + QStringLiteral(" (") + Converted.join(u' ') + u')';
}

class QtUserDialogs final : public IUserDialogs {
public:
    int MessageBox(QWidget *Parent, const QString &Text, const QString &Caption, TMsgIcon Icon,
                   int Buttons) override {
        QMessageBox::StandardButtons Standard;
        if (Buttons & mbOK)
            Standard |= QMessageBox::Ok;
        if (Buttons & mbYes)
            Standard |= QMessageBox::Yes;
        if (Buttons & mbNo)
            Standard |= QMessageBox::No;
        if (Buttons & mbCancel)
            Standard |= QMessageBox::Cancel;
        if (Standard == QMessageBox::NoButton)
            Standard = QMessageBox::Ok;
        QMessageBox Box(QtIcon(Icon), Caption, Text, Standard, Parent);
        // The first button is the default one, as in the program's message boxes.
        Box.setDefaultButton((Standard & QMessageBox::Ok)    ? QMessageBox::Ok
                             : (Standard & QMessageBox::Yes) ? QMessageBox::Yes
                             : (Standard & QMessageBox::No)  ? QMessageBox::No
                                                             : QMessageBox::Cancel);
        {
            const TFocusReturn Return(Parent);
            Box.exec();
        }
        switch (Box.standardButton(Box.clickedButton())) {
        case QMessageBox::Ok:
            return mrOk;
        case QMessageBox::Yes:
            return mrYes;
        case QMessageBox::No:
            return mrNo;
        default:
            return mrCancel;
        }
    }

    QString ChooseFolder(QWidget *Parent, const QString &Caption, const QString &Start) override {
        const TFocusReturn Return(Parent);
        return QFileDialog::getExistingDirectory(Parent, Caption, Start);
    }

    QStringList OpenFiles(QWidget *Parent, const QString &Caption, const QString &Folder,
                          const QString &Filter) override {
        const TFocusReturn Return(Parent);
        return QFileDialog::getOpenFileNames(Parent, Caption, Folder, CaseInsensitiveFilter(Filter),
                                             nullptr, QFileDialog::HideNameFilterDetails);
    }

    int ConfirmOverwrite(QWidget *Parent, const QString &Path) override {
        const TFocusReturn Return(Parent);
        if (!OverwriteWindows().empty())
            return OverwriteWindows().back()->ConfirmOverwrite(Path);
        return ConfirmWithoutForm(Parent, Path);
    }

private:
    // Only reached when the program has not created its overwrite window: the same
    // question and answers, without the "always" box.
    static int ConfirmWithoutForm(QWidget *Parent, const QString &Path) {
        QMessageBox Box(QMessageBox::Warning, QStringLiteral("Confirm overwrite existing file(s)"),
                        QStringLiteral("Do you wish overwrite this file?\n\"%1\"").arg(Path),
                        QMessageBox::NoButton, Parent);
        const struct {
            const char *Caption;
            QMessageBox::ButtonRole Role;
            int Answer;
        } Buttons[] = {{"&Yes", QMessageBox::YesRole, mrYes},
                       {"Yes to &All", QMessageBox::YesRole, mrYesToAll},
                       {"&Skip", QMessageBox::NoRole, mrNo},
                       {"Sk&ip All", QMessageBox::NoRole, mrNoToAll},
                       {"&Cancel", QMessageBox::RejectRole, mrCancel}};
        QList<QPair<QAbstractButton *, int>> Answers;
        for (const auto &B : Buttons)
            Answers.append({Box.addButton(QString::fromUtf8(B.Caption), B.Role), B.Answer});
        Box.setEscapeButton(Answers.last().first);
        Box.exec();
        for (const auto &[Button, Answer] : Answers)
            if (Box.clickedButton() == Button)
                return Answer;
        return mrCancel;
    }
};

QtUserDialogs QtDialogs;
IUserDialogs *Installed = nullptr;

} // namespace

QString CaseInsensitiveFilter(const QString &Filter) {
    QStringList Entries;
    if (Filter.contains(u'|') && !Filter.contains(QStringLiteral(";;"))) {
        const QStringList Parts = Filter.split(u'|');
        for (qsizetype I = 0; I < Parts.size(); I += 2) {
            if (Parts[I].trimmed().isEmpty() && I + 1 >= Parts.size())
                continue; // a trailing '|'
            Entries << FilterEntry(Parts[I], I + 1 < Parts.size() ? Parts[I + 1] : QString());
        }
        return Entries.join(QStringLiteral(";;"));
    }
    // Qt takes the patterns from the last parenthesised group, or the whole entry.
    static const QRegularExpression Group(QStringLiteral("\\(([^()]*)\\)\\s*$"));
    for (const QString &Entry : Filter.split(QStringLiteral(";;"), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch Match = Group.match(Entry);
        if (Match.hasMatch())
            Entries << FilterEntry(Entry.trimmed(), Match.captured(1));
        else
            Entries << FilterEntry(QString(), Entry);
    }
    return Entries.join(QStringLiteral(";;"));
}

TFocusReturn::TFocusReturn(QWidget *Parent) {
    if (Parent == nullptr)
        return;
    FWindow = Parent->window();
    QWidget *Focus = QApplication::focusWidget();
    // The focus the window had last, also when another window was active when asked.
    if (Focus == nullptr || Focus->window() != FWindow)
        Focus = FWindow->focusWidget();
    FFocus = Focus;
}

TFocusReturn::~TFocusReturn() {
    // A window that went while the question was up, or is hidden now, takes nothing.
    if (FWindow.isNull() || !FWindow->isVisible())
        return;
    FWindow->activateWindow();
    FWindow->raise();
    if (!FFocus.isNull() && FFocus->window() == FWindow && FFocus->isVisible() &&
        FFocus->isEnabled())
        FFocus->setFocus(Qt::ActiveWindowFocusReason);
    else
        FWindow->setFocus(Qt::ActiveWindowFocusReason);
}

IUserDialogs &UserDialogs() {
    return Installed != nullptr ? *Installed : QtDialogs;
}

void SetUserDialogs(IUserDialogs *Dialogs) {
    Installed = Dialogs;
}
