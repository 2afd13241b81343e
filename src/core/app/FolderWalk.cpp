#include "app/FolderWalk.h"

#include "app/PlaylistImport.h"
#include "app/RawNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <utility>

std::optional<TListKind> ListKindOfFile(const QString &Path) {
    if (SuitsList(Path, lkWave))
        return lkWave;
    if (SuitsList(Path, lkMpeg))
        return lkMpeg;
    return std::nullopt;
}

namespace {

bool IsAsciiDigit(QChar C) {
    return C.unicode() >= u'0' && C.unicode() <= u'9';
}

// Digit runs at A[I..] and B[J..] by value: leading zeros dropped, then the longer run is
// the larger number, else the first differing digit decides. No number is built, so runs
// of any length compare.
int CompareDigitRuns(const QString &A, qsizetype &I, const QString &B, qsizetype &J) {
    const auto Run = [](const QString &S, qsizetype &At) {
        while (At < S.size() && S[At] == u'0' && At + 1 < S.size() && IsAsciiDigit(S[At + 1]))
            ++At;
        const qsizetype Start = At;
        while (At < S.size() && IsAsciiDigit(S[At]))
            ++At;
        return QStringView(S).mid(Start, At - Start);
    };
    const QStringView RunA = Run(A, I), RunB = Run(B, J);
    if (RunA.size() != RunB.size())
        return RunA.size() < RunB.size() ? -1 : 1;
    const int Order = RunA.compare(RunB);
    return Order < 0 ? -1 : (Order > 0 ? 1 : 0);
}

char32_t Folded(QChar C) {
    return C.toCaseFolded().unicode();
}

int NaturalCompareFolded(const QString &A, const QString &B) {
    qsizetype I = 0, J = 0;
    while (I < A.size() && J < B.size()) {
        if (IsAsciiDigit(A[I]) && IsAsciiDigit(B[J])) {
            if (const int Order = CompareDigitRuns(A, I, B, J))
                return Order;
            continue;
        }
        const char32_t CA = Folded(A[I]), CB = Folded(B[J]);
        if (CA != CB)
            return CA < CB ? -1 : 1;
        ++I;
        ++J;
    }
    if (I < A.size())
        return 1;
    return J < B.size() ? -1 : 0;
}

} // namespace

int NaturalCompare(const QString &A, const QString &B) {
    if (const int Order = NaturalCompareFolded(A, B))
        return Order;
    // "Song.mp3" and "song.mp3", or "01" and "1": still two names, in a fixed order.
    const int Exact = A.compare(B);
    return Exact < 0 ? -1 : (Exact > 0 ? 1 : 0);
}

namespace {

QString ErrnoText(int Error) {
    return QString::fromLocal8Bit(std::strerror(Error));
}

struct TFolderId {
    dev_t Device;
    ino_t Inode;
    bool operator==(const TFolderId &Other) const {
        return Device == Other.Device && Inode == Other.Inode;
    }
};

size_t qHash(const TFolderId &Id, size_t Seed = 0) {
    return ::qHash(std::pair<quint64, quint64>(quint64(Id.Device), quint64(Id.Inode)), Seed);
}

// "/" as the base must not give "//name".
template <typename TText> TText Joined(const TText &Folder, const TText &Name) {
    return Folder.endsWith('/') ? Folder + Name : Folder + '/' + Name;
}

struct TFolderNode;

struct TSubFolder {
    QString Name;
    QString Path;
    QByteArray Bytes; // the path as the file system takes it
    bool IsLink = false;
    TFolderId Id{};
    std::unique_ptr<TFolderNode> Node; // read in advance for real folders, on the spot for links
};

struct TFolderNode {
    std::vector<TWalkedFile> Files;
    std::vector<TSubFolder> SubFolders;
};

// The walk in two steps: the folders reached by their own names are read first, so that
// every one of them is known before any link is followed; then the tree is listed in order,
// and each link to a folder is read when its turn comes, unless its folder was already seen.
class TWalker {
public:
    TWalker(QString Base, const std::atomic<bool> *Abort) : FBase(std::move(Base)), FAbort(Abort) {}

    TWalkResult Run() {
        const QByteArray Bytes = QFile::encodeName(FBase);
        struct stat Info {};
        if (::stat(Bytes.constData(), &Info) != 0) {
            CannotRead(FBase, ErrnoText(errno));
        } else if (!S_ISDIR(Info.st_mode)) {
            CannotRead(FBase, ErrnoText(ENOTDIR));
        } else {
            FSeen.insert({Info.st_dev, Info.st_ino});
            if (std::unique_ptr<TFolderNode> Root = Read(FBase, Bytes))
                List(*Root);
        }
        FResult.Aborted = Aborted();
        return std::move(FResult);
    }

private:
    QString FBase;
    const std::atomic<bool> *FAbort;
    QSet<TFolderId> FSeen;
    TWalkResult FResult;

    bool Aborted() const { return FAbort && FAbort->load(std::memory_order_relaxed); }

    void CannotRead(const QString &Path, const QString &Reason) {
        FResult.Problems
            << QStringLiteral("Cannot read folder %1: %2").arg(EscapedName(Path), Reason);
    }

    void SkipSeen(const QString &Path) {
        FResult.Problems << QStringLiteral("Skipped folder %1: it was already walked (a loop or a "
                                           "second way to it through symbolic links)")
                                .arg(EscapedName(Path));
    }

    // One folder's entries, then its real sub-folders, recursively. Null when the folder
    // cannot be opened.
    std::unique_ptr<TFolderNode> Read(const QString &Path, const QByteArray &Bytes) {
        DIR *Folder = ::opendir(Bytes.constData());
        if (!Folder) {
            CannotRead(Path, ErrnoText(errno));
            return nullptr;
        }
        auto Node = std::make_unique<TFolderNode>();
        const int Fd = ::dirfd(Folder);
        while (!Aborted()) {
            errno = 0;
            const dirent *Entry = ::readdir(Folder);
            if (!Entry) {
                if (errno != 0)
                    CannotRead(Path, ErrnoText(errno));
                break;
            }
            const QByteArray RawName(Entry->d_name);
            // Also "." and "..".
            if (RawName.startsWith('.'))
                continue;
            const QString Name = DecodeRawName(RawName);
            const QString EntryPath = Joined(Path, Name);
            struct stat Own {
            }, Target{};
            if (::fstatat(Fd, Entry->d_name, &Own, AT_SYMLINK_NOFOLLOW) != 0)
                continue; // gone since the listing
            const bool IsLink = S_ISLNK(Own.st_mode);
            if (IsLink && ::fstatat(Fd, Entry->d_name, &Target, 0) != 0) {
                if (ListKindOfFile(Name))
                    FResult.Problems << QStringLiteral("Cannot read file %1: %2")
                                            .arg(EscapedName(EntryPath), ErrnoText(errno));
                continue;
            }
            const struct stat &Info = IsLink ? Target : Own;
            if (S_ISDIR(Info.st_mode)) {
                TSubFolder Sub;
                Sub.Name = Name;
                Sub.Path = EntryPath;
                Sub.Bytes = Joined(Bytes, RawName);
                Sub.IsLink = IsLink;
                Sub.Id = {Info.st_dev, Info.st_ino};
                Node->SubFolders.push_back(std::move(Sub));
            } else if (S_ISREG(Info.st_mode)) {
                if (const std::optional<TListKind> Kind = ListKindOfFile(Name))
                    Node->Files.push_back({EntryPath, FBase, *Kind});
            }
        }
        ::closedir(Folder);
        std::sort(Node->Files.begin(), Node->Files.end(), [](const auto &A, const auto &B) {
            return NaturalCompare(ExtractFileName(A.Path), ExtractFileName(B.Path)) < 0;
        });
        std::sort(Node->SubFolders.begin(), Node->SubFolders.end(),
                  [](const auto &A, const auto &B) { return NaturalCompare(A.Name, B.Name) < 0; });
        for (TSubFolder &Sub : Node->SubFolders) {
            if (Sub.IsLink || Aborted())
                continue;
            // A folder mounted twice (bind mounts) is walked once.
            if (FSeen.contains(Sub.Id)) {
                SkipSeen(Sub.Path);
                continue;
            }
            FSeen.insert(Sub.Id);
            Sub.Node = Read(Sub.Path, Sub.Bytes);
        }
        return Node;
    }

    void List(TFolderNode &Node) {
        for (TWalkedFile &File : Node.Files)
            FResult.Files.push_back(std::move(File));
        for (TSubFolder &Sub : Node.SubFolders) {
            if (Aborted())
                return;
            if (Sub.IsLink) {
                if (FSeen.contains(Sub.Id)) {
                    SkipSeen(Sub.Path);
                    continue;
                }
                FSeen.insert(Sub.Id);
                Sub.Node = Read(Sub.Path, Sub.Bytes);
            }
            if (Sub.Node)
                List(*Sub.Node);
        }
    }
};

} // namespace

TWalkResult WalkFolder(const QString &Folder, const std::atomic<bool> *Abort) {
    try {
        const QString Base = QDir::cleanPath(QFileInfo(Folder).absoluteFilePath());
        return TWalker(Base, Abort).Run();
    } catch (const std::exception &Error) {
        // Only allocation can throw here.
        TWalkResult Result;
        Result.Problems << QStringLiteral("Cannot read folder %1: %2")
                               .arg(EscapedName(Folder), QString::fromLocal8Bit(Error.what()));
        return Result;
    }
}
