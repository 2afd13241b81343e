#include "app/FileParam.h"

#include "platform/FilePaths.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

const std::array<QString, 8> StateText{QStringLiteral("Error"),
                                       QString(),
                                       QStringLiteral("Processing"),
                                       QStringLiteral("Done"),
                                       QStringLiteral("Abort"),
                                       QStringLiteral("Abort"),
                                       QString(),
                                       QStringLiteral("Delete Abort")};

const QString InitialSelectedText = QStringLiteral("Selected 0 file(s), 0 seconds(00:00:00)");
const QString InitialTotalText = QStringLiteral("Total 0 file(s), 0 secends(00:00:00) ");

QString StateColumnText(int32_t State) {
    return State >= 0 && State < int32_t(StateText.size()) ? StateText[State] : QString();
}

QString FilePathKey(const QString &Path) {
    return QDir::cleanPath(Path);
}

bool SameFilePath(const QString &A, const QString &B) {
    return A == B || FilePathKey(A) == FilePathKey(B);
}

QString DurationColumnText(int64_t Seconds) {
    Seconds = std::max<int64_t>(Seconds, 0);
    if (Seconds < 3600)
        return QString::asprintf("%.2d:%.2d", int(Seconds / 60), int(Seconds % 60));
    return QString::asprintf("%.2lld:%.2d:%.2d", (long long)(Seconds / 3600),
                             int(Seconds / 60 % 60), int(Seconds % 60));
}

QString SizeColumnText(qint64 Bytes, const QLocale &Locale) {
    QLocale locale = Locale;
    // Group separators would turn 1234.56 into "1,234.56"; the column shows plain digits.
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(double(Bytes) / 1024.0 / 1024.0, 'f', 2) + QStringLiteral("MB");
}

static char16_t FoldAscii(char16_t C) {
    return C >= u'a' && C <= u'z' ? C - u'a' + u'A' : C;
}

int CompareListTexts(const QString &A, const QString &B) {
    const qsizetype n = std::min(A.size(), B.size());
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t a = FoldAscii(A[i].unicode()), b = FoldAscii(B[i].unicode());
        if (a != b)
            return a < b ? -1 : 1;
    }
    return A.size() == B.size() ? 0 : (A.size() < B.size() ? -1 : 1);
}

qint64 PlayMicroseconds(const TFileParam &Record) {
    return Record.DurationUs > 0 ? Record.DurationUs : qint64(Record.Duration) * 1000000;
}

QString RowStateText(const TFileParam &Record) {
    if (Record.Kind != fkUnreadable)
        return StateColumnText(Record.State);
    return Record.Problem.isEmpty() ? QStringLiteral("Unreadable")
                                    : QStringLiteral("Unreadable: ") + Record.Problem;
}

void TListSummary::AddRow(const TFileParam *Record, bool IsSelected) {
    ++Rows;
    if (IsSelected)
        ++Selected;
    if (Record && Record->IsReadable()) {
        const qint64 Us = PlayMicroseconds(*Record);
        TotalMicroseconds += Us;
        TotalSeconds = TotalMicroseconds / 1000000;
        if (IsSelected) {
            SelectedMicroseconds += Us;
            SelectedSeconds = SelectedMicroseconds / 1000000;
        }
    }
}

// Hours are not wrapped at a day: 90000 seconds read 25:00:00.
static QString SummaryText(const char *Format, int Files, qint64 Seconds) {
    return QString::asprintf(Format, Files, qlonglong(Seconds), int(Seconds / 3600),
                             int(Seconds / 60 % 60), int(Seconds % 60));
}

QString TListSummary::SelectedText() const {
    return SummaryText("selected %d file(s), %lld seconds(%.2d:%.2d:%.2d)", Selected,
                       SelectedSeconds);
}

QString TListSummary::TotalText() const {
    return SummaryText("Total %d file(s), %lld seconds(%.2d:%.2d:%.2d)", Rows, TotalSeconds);
}

QString SourceFolderBelowBase(const QString &SourcePath, const QString &BaseFolder) {
    if (BaseFolder.isEmpty())
        return QString();
    const QString folder = QDir::cleanPath(QFileInfo(SourcePath).absolutePath());
    const QString base = QDir::cleanPath(BaseFolder);
    const QString prefix = base.endsWith(u'/') ? base : base + u'/';
    return folder.startsWith(prefix) ? folder.mid(prefix.size()) : QString();
}

QString ConversionDestPath(const TFileParam &Record, bool SpecifyOutputFolder,
                           const QString &OutputFolder, const QString &Ext,
                           bool KeepFolderStructure) {
    if (!SpecifyOutputFolder)
        return ExtractFilePath(Record.SourcePath) + ChangeFileExt(Record.FileName, Ext);
    QString folder = WithTrailingSeparator(OutputFolder);
    if (KeepFolderStructure) {
        if (const QString below = SourceFolderBelowBase(Record.SourcePath, Record.BaseFolder);
            !below.isEmpty())
            folder = WithTrailingSeparator(folder + below);
    }
    return folder + ChangeFileExt(Record.FileName, Ext);
}
