#include "tageditor/ID3TagForm.h"

#include "platform/UserDialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cstring>

namespace {

// The fixed entries of the genre list: the empty one and the named genres.
constexpr int FixedGenreEntries = 1 + GenreCount;

QLineEdit *NewEdit(const char *Name, QWidget *Parent) {
    auto *Edit = new QLineEdit(Parent);
    Edit->setObjectName(QString::fromLatin1(Name));
    return Edit;
}

QLabel *NewLabel(const QString &Caption, QWidget *Buddy, QWidget *Parent) {
    auto *Label = new QLabel(Caption, Parent);
    Label->setBuddy(Buddy);
    return Label;
}

// "A", "A and B", "A, B and C".
QString ListOfNames(const QStringList &Names) {
    if (Names.size() < 2)
        return Names.join(QString());
    return Names.mid(0, Names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") +
           Names.last();
}

} // namespace

TID3TagForm::TID3TagForm(QWidget *Parent) : QDialog(Parent) {
    setObjectName(QStringLiteral("ID3TagForm"));
    setWindowTitle(QStringLiteral("MPEG File Info & ID3 Tag Editor"));
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);

    edFilePath = NewEdit("edFilePath", this);
    edFilePath->setReadOnly(true);
    // Neither field has a label of its own for a screen reader to name it by.
    edFilePath->setAccessibleName(QStringLiteral("File path"));

    grpID3Tag = new QGroupBox(QStringLiteral("ID3 Tag"), this);
    grpID3Tag->setObjectName(QStringLiteral("grpID3Tag"));
    chkID3V1 = new QCheckBox(QStringLiteral("ID3v1 Tag"), grpID3Tag);
    chkID3V1->setObjectName(QStringLiteral("chkID3V1"));
    // The tags the file has ("ID3v1, ID3v2.3"), beside the box that adds or removes one.
    lblTagKinds = new QLabel(grpID3Tag);
    lblTagKinds->setObjectName(QStringLiteral("lblTagKinds"));
    edTrackNo = NewEdit("edTrackNo", grpID3Tag);
    edTrackNo->setMaxLength(3);
    edTrackNo->installEventFilter(this);
    edTitle = NewEdit("edTitle", grpID3Tag);
    edArtist = NewEdit("edArtist", grpID3Tag);
    edAlbum = NewEdit("edAlbum", grpID3Tag);
    edYear = NewEdit("edYear", grpID3Tag);
    cbGenre = new QComboBox(grpID3Tag);
    cbGenre->setObjectName(QStringLiteral("cbGenre"));
    cbGenre->setEditable(false);
    cbGenre->setMaxVisibleItems(20);
    // Entry n + 1 stands for genre code n; each entry carries its TTagFields::GenreEntry.
    cbGenre->addItem(QString(), 0);
    // The open list is a control of its own to a screen reader, and the blank entry is read.
    cbGenre->view()->setAccessibleName(QStringLiteral("Genre"));
    cbGenre->setItemData(0, QStringLiteral("No genre"), Qt::AccessibleTextRole);
    for (int Code = 0; Code < GenreCount; ++Code)
        cbGenre->addItem(GenreName(Code), Code + 1);
    edComment = NewEdit("edComment", grpID3Tag);

    const QFontMetrics Metrics(font());
    const int CharWidth = Metrics.horizontalAdvance(u'0');
    edTrackNo->setFixedWidth(6 * CharWidth + 12);
    edYear->setFixedWidth(7 * CharWidth + 12);
    edTitle->setMinimumWidth(Metrics.horizontalAdvance(QString(34, u'n')));

    auto *TagLayout = new QGridLayout(grpID3Tag);
    TagLayout->setColumnStretch(1, 1);
    auto *TopRow = new QHBoxLayout;
    TopRow->addWidget(chkID3V1);
    TopRow->addSpacing(8);
    TopRow->addWidget(lblTagKinds);
    TopRow->addStretch();
    TopRow->addWidget(NewLabel(QStringLiteral("Track #"), edTrackNo, grpID3Tag));
    TopRow->addWidget(edTrackNo);
    TagLayout->addLayout(TopRow, 0, 0, 1, 2);
    TagLayout->addWidget(NewLabel(QStringLiteral("Title"), edTitle, grpID3Tag), 1, 0);
    TagLayout->addWidget(edTitle, 1, 1);
    TagLayout->addWidget(NewLabel(QStringLiteral("Artist"), edArtist, grpID3Tag), 2, 0);
    TagLayout->addWidget(edArtist, 2, 1);
    TagLayout->addWidget(NewLabel(QStringLiteral("Album"), edAlbum, grpID3Tag), 3, 0);
    TagLayout->addWidget(edAlbum, 3, 1);
    auto *YearRow = new QHBoxLayout;
    YearRow->addWidget(edYear);
    YearRow->addSpacing(12);
    YearRow->addWidget(NewLabel(QStringLiteral("Genre"), cbGenre, grpID3Tag));
    YearRow->addWidget(cbGenre, 1);
    TagLayout->addWidget(NewLabel(QStringLiteral("Year"), edYear, grpID3Tag), 4, 0);
    TagLayout->addLayout(YearRow, 4, 1);
    TagLayout->addWidget(NewLabel(QStringLiteral("Comment"), edComment, grpID3Tag), 5, 0);
    TagLayout->addWidget(edComment, 5, 1);
    TagLayout->setRowStretch(6, 1);

    grpMPEGInfo = new QGroupBox(QStringLiteral("MPEG File Info"), this);
    grpMPEGInfo->setObjectName(QStringLiteral("grpMPEGInfo"));
    MPEGInfoMemo = new QPlainTextEdit(grpMPEGInfo);
    MPEGInfoMemo->setObjectName(QStringLiteral("MPEGInfoMemo"));
    MPEGInfoMemo->setReadOnly(true);
    MPEGInfoMemo->setAccessibleName(QStringLiteral("MPEG file info"));
    MPEGInfoMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
    MPEGInfoMemo->setMinimumWidth(
        Metrics.horizontalAdvance(QStringLiteral("Sample rate: 44100Hz, Single Channel")) + 24);
    auto *InfoLayout = new QVBoxLayout(grpMPEGInfo);
    InfoLayout->addWidget(MPEGInfoMemo);

    btnUpdate = new QPushButton(QStringLiteral("&Update"), this);
    btnUpdate->setObjectName(QStringLiteral("btnUpdate"));
    btnUpdate->setDefault(true);
    Button1 = new QPushButton(QStringLiteral("&Undo Change"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    // Only Update answers Enter, wherever the focus is.
    Button1->setAutoDefault(false);
    btnCancel->setAutoDefault(false);

    auto *Groups = new QHBoxLayout;
    Groups->addWidget(grpID3Tag, 1);
    Groups->addWidget(grpMPEGInfo);
    auto *Buttons = new QHBoxLayout;
    Buttons->addStretch();
    Buttons->addWidget(btnUpdate);
    Buttons->addWidget(Button1);
    Buttons->addWidget(btnCancel);
    auto *Layout = new QVBoxLayout(this);
    Layout->addWidget(edFilePath);
    Layout->addLayout(Groups);
    Layout->addLayout(Buttons);
    Layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(chkID3V1, &QCheckBox::toggled, this, &TID3TagForm::chkID3V1Click);
    connect(btnUpdate, &QPushButton::clicked, this, &TID3TagForm::btnUpdateClick);
    connect(Button1, &QPushButton::clicked, this, &TID3TagForm::Button1Click);
    connect(btnCancel, &QPushButton::clicked, this, &TID3TagForm::btnCancelClick);

    FillControls(FCurrent);
}

void TID3TagForm::ShowFile(const TMPEGFileInfo &Pair) {
    FCurrent = Pair;
    FUndo = Pair;
    FId3v2 = ReadId3v2Fields(Pair.Info.FileName);
    FillControls(FCurrent);
}

void TID3TagForm::FillControls(const TMPEGFileInfo &Pair) {
    MPEGInfoMemo->clear();
    edFilePath->setText(Pair.Info.FileName);
    edFilePath->setCursorPosition(0);
    edFilePath->setToolTip(Pair.Info.FileName);

    const TTagFields Tag = TagFieldsFromTags(Pair.Info, FId3v2);
    lblTagKinds->setText(TagKindsText(Tag.HasTag, FId3v2.Version));
    chkID3V1->setChecked(Tag.HasTag);
    edTrackNo->setText(Tag.Track);
    edTitle->setText(Tag.Title);
    edArtist->setText(Tag.Artist);
    edAlbum->setText(Tag.Album);
    edYear->setText(Tag.Year);
    edComment->setText(Tag.Comment);
    SelectGenreEntry(Tag.GenreEntry);
    for (QLineEdit *Edit : {edTrackNo, edTitle, edArtist, edAlbum, edYear, edComment})
        Edit->setCursorPosition(0);

    MPEGInfoMemo->setPlainText(MPEGInfoLines(Pair).join(u'\n'));
    // Also when the box kept its state, so the controls always match it.
    chkID3V1Click();
}

void TID3TagForm::SelectGenreEntry(int Entry) {
    // A code without a name (other taggers write them) is offered as its number, so that
    // saving the other fields keeps it.
    while (cbGenre->count() > FixedGenreEntries)
        cbGenre->removeItem(cbGenre->count() - 1);
    if (Entry >= FixedGenreEntries) {
        cbGenre->addItem(QString::number(Entry - 1), Entry);
        cbGenre->setCurrentIndex(FixedGenreEntries);
    } else {
        cbGenre->setCurrentIndex(std::max(Entry, 0));
    }
}

TTagFields TID3TagForm::Fields() const {
    TTagFields Tag;
    Tag.HasTag = chkID3V1->isChecked();
    Tag.Track = edTrackNo->text();
    Tag.Title = edTitle->text();
    Tag.Artist = edArtist->text();
    Tag.Album = edAlbum->text();
    Tag.Year = edYear->text();
    Tag.Comment = edComment->text();
    Tag.GenreEntry = cbGenre->currentIndex() < 0 ? 0 : cbGenre->currentData().toInt();
    return Tag;
}

void TID3TagForm::chkID3V1Click() {
    // With an ID3v2 tag the fields stay editable without the ID3v1 tag: they go into the
    // ID3v2 tag.
    const bool On = chkID3V1->isChecked() || FId3v2.Version != 0;
    const QPalette &Normal = QApplication::palette(this);
    const QColor Background =
        Normal.color(QPalette::Active, On ? QPalette::Base : QPalette::Button);
    for (QWidget *Control : std::initializer_list<QWidget *>{edTrackNo, edTitle, edArtist, edAlbum,
                                                             edYear, cbGenre, edComment}) {
        Control->setEnabled(On);
        QPalette Colours = Control->palette();
        Colours.setColor(QPalette::All, QPalette::Base, Background);
        if (Control == cbGenre) // a drop-down list paints its face in the button colour
            Colours.setColor(QPalette::All, QPalette::Button, Background);
        Control->setPalette(Colours);
    }
}

bool TID3TagForm::eventFilter(QObject *Watched, QEvent *Event) {
    if (Watched == edTrackNo && Event->type() == QEvent::KeyPress) {
        const auto *Key = static_cast<const QKeyEvent *>(Event);
        // Typed characters other than digits are dropped, backspace among them; Delete,
        // the arrows, Enter and the shortcuts (paste) pass.
        if (Key->key() == Qt::Key_Backspace)
            return true;
        const QString Text = Key->text();
        const bool Typed = Text.size() == 1 && Text.at(0).isPrint() &&
                           !(Key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier));
        if (Typed && !(Text.at(0) >= u'0' && Text.at(0) <= u'9'))
            return true;
    }
    return QDialog::eventFilter(Watched, Event);
}

bool TID3TagForm::AcceptUnstorableFields(const TTagFields &Fields) {
    const QStringList Labels = UnstorableFields(Fields);
    // An ID3v2 tag keeps every character, so nothing the user typed is lost.
    if (!Fields.HasTag || Labels.isEmpty() || FId3v2.Version != 0)
        return true;
    const QString Text =
        QStringLiteral("%1 cannot be stored as typed: an ID3v1 tag holds ISO-8859-1 "
                       "characters only, and the others would be written as \"?\".\n\n"
                       "Write the tag anyway?")
            .arg(ListOfNames(Labels));
    return UserDialogs().MessageBox(this, Text, QStringLiteral("Confirmation"), TMsgIcon::Question,
                                    mbYes | mbNo) == mrYes;
}

void TID3TagForm::btnUpdateClick() {
    const TTagFields Tag = Fields();
    if (!AcceptUnstorableFields(Tag))
        return;
    TTagUpdate Update;
    try {
        Update = UpdateTag(FCurrent.Info.FileName, Tag);
    } catch (const Exception &Error) {
        // The file is as it was; the user may try again or cancel.
        UserDialogs().MessageBox(this, Error.message(), QStringLiteral("Error"), TMsgIcon::Error,
                                 mbOK);
        return;
    }
    ReportUnchanged(Update);
    accept();
}

void TID3TagForm::ReportUnchanged(const TTagUpdate &Update) {
    const QString &Name = FCurrent.Info.FileName;
    QString Why;
    switch (Update.Result) {
    case TTagUpdateResult::Written:
        return;
    case TTagUpdateResult::NoSuchFile:
        if (Name.isEmpty()) // the editor was opened without a file
            return;
        Why = QStringLiteral("the file no longer exists.");
        break;
    case TTagUpdateResult::NotMpeg:
        Why = QStringLiteral("the file is no longer MPEG audio.");
        break;
    case TTagUpdateResult::Refused:
        Why = QStringLiteral("the file cannot be opened for writing (%1).")
                  .arg(QString::fromLocal8Bit(std::strerror(Update.ErrorCode)));
        break;
    }
    UserDialogs().MessageBox(this,
                             QStringLiteral("The tag of \"%1\" was not changed: %2").arg(Name, Why),
                             QStringLiteral("Warning"), TMsgIcon::Warning, mbOK);
}

void TID3TagForm::Button1Click() {
    FillControls(FUndo);
}

void TID3TagForm::btnCancelClick() {
    reject();
}

void TID3TagForm::showEvent(QShowEvent *Event) {
    QDialog::showEvent(Event);
    if (edTitle->isEnabled())
        edTitle->setFocus();
    else
        chkID3V1->setFocus();
}
