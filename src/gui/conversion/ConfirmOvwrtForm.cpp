#include "conversion/ConfirmOvwrtForm.h"

#include "platform/UserDialogs.h"
#include "settings/Config.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

namespace {

// Every live form, oldest first; the seam asks through the newest.
std::vector<TConfirmOvwrtForm *> &LiveForms() {
    static std::vector<TConfirmOvwrtForm *> Forms;
    return Forms;
}

// A sheet of paper with a folded corner and a question badge: "this file is already there".
QPixmap QuestionPicture(qreal Scale) {
    const int Size = 48;
    QPixmap Picture(QSize(Size, Size) * Scale);
    Picture.setDevicePixelRatio(Scale);
    Picture.fill(Qt::transparent);
    QPainter P(&Picture);
    P.setRenderHint(QPainter::Antialiasing);

    QPainterPath Sheet;
    Sheet.moveTo(6, 3);
    Sheet.lineTo(26, 3);
    Sheet.lineTo(35, 12);
    Sheet.lineTo(35, 42);
    Sheet.lineTo(6, 42);
    Sheet.closeSubpath();
    P.setPen(QPen(QColor(90, 90, 90), 1.5));
    P.setBrush(QColor(250, 250, 250));
    P.drawPath(Sheet);
    P.setBrush(QColor(210, 210, 210));
    P.drawPolygon(QPolygonF({QPointF(26, 3), QPointF(26, 12), QPointF(35, 12)}));
    P.setPen(QPen(QColor(170, 170, 170), 1.5));
    for (int Y = 18; Y <= 36; Y += 6)
        P.drawLine(QPointF(11, Y), QPointF(30, Y));

    P.setPen(QPen(QColor(30, 70, 150), 1.5));
    P.setBrush(QColor(50, 110, 210));
    P.drawEllipse(QRectF(24, 24, 22, 22));
    QFont Font = P.font();
    Font.setBold(true);
    Font.setPixelSize(16);
    P.setFont(Font);
    P.setPen(Qt::white);
    P.drawText(QRectF(24, 24, 22, 22), Qt::AlignCenter, QStringLiteral("?"));
    return Picture;
}

} // namespace

TConfirmOvwrtForm::TConfirmOvwrtForm(TConfig &Config, QWidget *Parent)
    : QDialog(Parent), FConfig(Config) {
    setObjectName(QStringLiteral("ConfirmOvwrtForm"));
    setWindowTitle(QStringLiteral("Confirm overwrite existing file(s)"));
    setModal(true);

    imgQuestion = new QLabel(this);
    imgQuestion->setObjectName(QStringLiteral("imgQuestion"));
    imgQuestion->setPixmap(QuestionPicture(devicePixelRatioF()));
    imgQuestion->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

    lblQuestion = new QLabel(QStringLiteral("Do you wish overwrite this file?"), this);
    lblQuestion->setObjectName(QStringLiteral("lblQuestion"));

    // Paths seldom have spaces, so the text must wrap anywhere to fit its three lines.
    stxtFileName = new QPlainTextEdit(this);
    stxtFileName->setObjectName(QStringLiteral("stxtFileName"));
    stxtFileName->setReadOnly(true);
    stxtFileName->setAccessibleName(QStringLiteral("File to overwrite"));
    stxtFileName->setFrameShape(QFrame::NoFrame);
    stxtFileName->setFocusPolicy(Qt::NoFocus);
    stxtFileName->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    stxtFileName->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    stxtFileName->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    stxtFileName->viewport()->setAutoFillBackground(false);
    stxtFileName->document()->setDocumentMargin(0);
    const int LineHeight = QFontMetrics(stxtFileName->font()).lineSpacing();
    stxtFileName->setFixedHeight(3 * LineHeight + 4);

    auto MakeButton = [this](const char *Name, const char *Caption,
                             void (TConfirmOvwrtForm::*Click)()) {
        auto *Button = new QPushButton(QString::fromUtf8(Caption), this);
        Button->setObjectName(QString::fromUtf8(Name));
        connect(Button, &QPushButton::clicked, this, Click);
        return Button;
    };
    btnYes = MakeButton("btnYes", "&Yes", &TConfirmOvwrtForm::btnYesClick);
    btnYestoAll = MakeButton("btnYestoAll", "Yes to &All", &TConfirmOvwrtForm::btnYestoAllClick);
    btnNo = MakeButton("btnNo", "&Skip", &TConfirmOvwrtForm::btnNoClick);
    btnNotoAll = MakeButton("btnNotoAll", "Sk&ip All", &TConfirmOvwrtForm::btnNotoAllClick);
    btnCancel = MakeButton("btnCancel", "&Cancel", &TConfirmOvwrtForm::btnCancelClick);
    btnYes->setDefault(true);

    chkbAlwaysOverwrite =
        new QCheckBox(QStringLiteral("Always overwrite. Never ask this question again."), this);
    chkbAlwaysOverwrite->setObjectName(QStringLiteral("chkbAlwaysOverwrite"));

    auto *TextColumn = new QVBoxLayout;
    TextColumn->addWidget(lblQuestion);
    TextColumn->addWidget(stxtFileName);
    auto *Top = new QHBoxLayout;
    Top->addWidget(imgQuestion);
    Top->addLayout(TextColumn, 1);
    auto *Buttons = new QHBoxLayout;
    for (QPushButton *Button : {btnYes, btnYestoAll, btnNo, btnNotoAll, btnCancel})
        Buttons->addWidget(Button);
    auto *Main = new QVBoxLayout(this);
    Main->addLayout(Top);
    Main->addLayout(Buttons);
    Main->addWidget(chkbAlwaysOverwrite);
    Main->setSizeConstraint(QLayout::SetFixedSize);
    stxtFileName->setFixedWidth(std::max(360, Buttons->sizeHint().width() - 60));

    LiveForms().push_back(this);
    RegisterOverwriteWindow(this);
}

TConfirmOvwrtForm::~TConfirmOvwrtForm() {
    UnregisterOverwriteWindow(this);
    std::erase(LiveForms(), this);
}

TConfirmOvwrtForm *TConfirmOvwrtForm::Current() {
    return LiveForms().empty() ? nullptr : LiveForms().back();
}

int TConfirmOvwrtForm::ConfirmOverwrite(const QString &Path) {
    stxtFileName->setPlainText(u'"' + Path + u'"');
    const int Answer = exec();
    FConfig.OverwritePrompt = !chkbAlwaysOverwrite->isChecked();
    return Answer;
}

void TConfirmOvwrtForm::reject() {
    done(mrCancel);
}

void TConfirmOvwrtForm::btnYesClick() {
    done(mrYes);
}
void TConfirmOvwrtForm::btnYestoAllClick() {
    done(mrYesToAll);
}
void TConfirmOvwrtForm::btnNoClick() {
    done(mrNo);
}
void TConfirmOvwrtForm::btnNotoAllClick() {
    done(mrNoToAll);
}
void TConfirmOvwrtForm::btnCancelClick() {
    done(mrCancel);
}

void TConfirmOvwrtForm::showEvent(QShowEvent *Event) {
    QDialog::showEvent(Event);
    btnYes->setFocus();
}
