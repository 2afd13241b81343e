#include "inspect/MPGTools.h"

#include "inspect/MP3WavComm.h"
#include "inspect/PositionalFile.h"

#include <QDateTime>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The name after the last folder separator; paths written on Windows split too.
QString NameWithoutPath(const QString &Path) {
    return Path.mid(std::max(Path.lastIndexOf(u'/'), Path.lastIndexOf(u'\\')) + 1);
}

// Modification time in the packed DOS form the record has always held (local time, two-second
// steps). Times outside the form's years are clamped, so every real file gets a non-zero stamp.
int32_t PackedFileDate(time_t ModifiedSecs) {
    QDateTime Modified = QDateTime::fromSecsSinceEpoch(qint64(ModifiedSecs));
    if (!Modified.isValid())
        return 0;
    const QDateTime First(QDate(1980, 1, 1), QTime(0, 0));
    const QDateTime Last(QDate(2107, 12, 31), QTime(23, 59, 58));
    Modified = std::clamp(Modified, First, Last);
    const QDate D = Modified.date();
    const QTime T = Modified.time();
    const uint32_t Packed = uint32_t(D.year() - 1980) << 25 | uint32_t(D.month()) << 21 |
                            uint32_t(D.day()) << 16 | uint32_t(T.hour()) << 11 |
                            uint32_t(T.minute()) << 5 | uint32_t(T.second() / 2);
    return int32_t(Packed);
}

// Cuts off the tag at the end of the file (NewTag null) or puts NewTag in its place (appended
// when there is none). A failed write puts back what was there, so the audio and an old tag
// survive. 0 or the errno of the failure.
int ReplaceTag(const TFileHandle &File, qint64 Size, const std::array<uint8_t, ID3v1Size> *NewTag) {
    uint8_t Old[ID3v1Size];
    bool Tagged = false;
    if (Size > ID3v1Size) {
        const qint64 Got = File.ReadAt(Size - ID3v1Size, Old, ID3v1Size);
        if (Got != ID3v1Size)
            return Got < 0 ? errno : EIO;
        Tagged = std::memcmp(Old, "TAG", 3) == 0;
    }
    const qint64 At = Tagged ? Size - ID3v1Size : Size;
    if (!NewTag)
        return Tagged && ::ftruncate(File.Fd(), off_t(At)) != 0 ? errno : 0;
    if (File.WriteAt(At, NewTag->data(), ID3v1Size))
        return 0;
    const int Error = errno;
    // Best effort: the write failure is what the caller reports either way.
    [[maybe_unused]] const bool Restored =
        Tagged ? File.WriteAt(At, Old, ID3v1Size) : ::ftruncate(File.Fd(), off_t(Size)) == 0;
    return Error;
}

} // namespace

TMPEGAudio::TMPEGAudio() : DefaultArtist("Unknown Artist"), DefaultTitle("Unknown Title") {}

void TMPEGAudio::ResetData() {
    FInfo = TMPEGInfo();
    FDurationUs = 0;
}

void TMPEGAudio::SetFileName(const QString &Value) {
    FInfo.FileName = Value;
    if (AutoLoad)
        LoadData();
}

bool TMPEGAudio::IsValid() const {
    return DescribesMpegAudio(FInfo);
}

bool TMPEGAudio::HasTag() const {
    return FInfo.Header == QStringLiteral("TAG");
}

QString TMPEGAudio::DisplayTitle() const {
    return !HasTag() && !DefaultTitle.IsEmpty() ? DefaultTitle.Text() : FInfo.Title.Text();
}

QString TMPEGAudio::DisplayArtist() const {
    return !HasTag() && !DefaultArtist.IsEmpty() ? DefaultArtist.Text() : FInfo.Artist.Text();
}

QTime TMPEGAudio::DurationTime() const {
    return FInfo.Duration < 86400 ? SecondsToTime(int(FInfo.Duration)) : QTime();
}

void TMPEGAudio::LoadData() {
    const QString Requested = FInfo.FileName;
    ResetData();
    FHeaderPosition = -1;
    FOtherFormat.clear();
    FProblem = TMpegProblem::None;
    FInfo.FileName = Requested.isEmpty() ? Requested : QFileInfo(Requested).absoluteFilePath();
    if (Requested.isEmpty() || !QFileInfo::exists(FInfo.FileName)) {
        FInfo.Title = QStringLiteral("[not found: %1]").arg(NameWithoutPath(Requested));
        return SetProblem(TMpegProblem::Missing);
    }

    // Non-blocking, so that a named pipe cannot stall the open; only plain files are read.
    const TFileHandle File(FInfo.FileName, O_RDONLY | O_NONBLOCK);
    struct stat Status {};
    if (!File.IsOpen() || ::fstat(File.Fd(), &Status) != 0 || !S_ISREG(Status.st_mode))
        return SetProblem(TMpegProblem::Unreadable);
    if (Status.st_size <= 5)
        return SetProblem(TMpegProblem::TooShort);
    FInfo.FileDate = PackedFileDate(Status.st_mtime);
    FInfo.Length = Status.st_size;
    const qint64 Length = FInfo.Length;

    TBufferedReader Reader(File);
    const TFrameRun Run = FindFrameRun(Reader, Length, FInfo);
    if (Run.Problem != TMpegProblem::None) {
        FOtherFormat = Run.OtherFormat;
        return SetProblem(Run.Problem);
    }
    FHeaderPosition = Run.HeaderPosition;

    FInfo.Duration = CbrDuration(Run.AudioEnd - FHeaderPosition, FInfo.BitRate);
    // Bytes * 8 bits over kbit/s is milliseconds, times 1000 microseconds.
    if (FInfo.BitRate > 0)
        FDurationUs = (Run.AudioEnd - FHeaderPosition) * 8000 / FInfo.BitRate;

    uint8_t XingBytes[120];
    const qint64 XingAt = FHeaderPosition + XingOffset(FInfo.Version, FInfo.Mode);
    qint64 Got = Reader.Read(XingAt, XingBytes, sizeof XingBytes);
    if (Got < 0)
        return;
    const TXingHeader Xing = ParseXingHeader(XingBytes, size_t(Got));
    if (Xing.Present) {
        SetVbrFrames(Xing.Frames);
    } else if (!IsInfoHeader(XingBytes, size_t(Got))) {
        // Without a Xing header the first frame's bit rate stands for the whole file only
        // when the frames keep it: a VBRI header or the frames themselves give the count.
        const TVbrCount Count = CountVbrFrames(Reader, Run.AudioEnd);
        if (Count.ReadError)
            return;
        if (Count.Frames > 0)
            SetVbrFrames(Count.Frames);
    }

    if (Length > ID3v1Size) {
        uint8_t Block[ID3v1Size];
        if (Reader.Read(Length - ID3v1Size, Block, ID3v1Size) != ID3v1Size)
            return;
        if (!ReadID3v1(Block, FInfo))
            FInfo.Title = NameWithoutPath(FInfo.FileName);
    }
}

void TMPEGAudio::SetVbrFrames(uint32_t Frames) {
    FInfo.BitRate = -1;
    FInfo.Duration = VbrDuration(Frames, FInfo.Version, FInfo.Layer, FInfo.SampleRate);
    if (FInfo.SampleRate > 0)
        FDurationUs = qint64(Frames) * SamplesPerFrame(FInfo.Version, FInfo.Layer) * 1000000 /
                      FInfo.SampleRate;
    if (Frames != 0)
        FInfo.FrameLength = uint16_t(std::min<qint64>(FInfo.Length / Frames, 0xFFFF));
}

TMPEGAudio::TVbrCount TMPEGAudio::CountVbrFrames(TBufferedReader &Reader, qint64 AudioEnd) {
    TVbrCount Result;
    uint8_t Bytes[VbriFixedSize];
    const qint64 Got = Reader.Read(FHeaderPosition + VbriOffset, Bytes, sizeof Bytes);
    if (Got < 0) {
        Result.ReadError = true;
        return Result;
    }
    const TVbriHeader Vbri = ParseVbriHeader(Bytes, size_t(Got));
    if (Vbri.Present && Vbri.Frames != 0) {
        Result.Frames = Vbri.Frames;
        return Result;
    }
    // Free-format frames all have the one length the search measured.
    if (!Vbri.Present && Reader.Read(FHeaderPosition, Bytes, 4) == 4 &&
        BitRateIndex(BigEndian32(Bytes)) == 0)
        return Result;
    if (!Vbri.Present) {
        const TBitRateCheck Check = CheckBitRates(Reader, FHeaderPosition, AudioEnd);
        Result.ReadError = Check == TBitRateCheck::ReadError;
        if (Check != TBitRateCheck::Variable)
            return Result;
    }
    const qint64 Frames = CountFrames(Reader, FHeaderPosition, AudioEnd);
    Result.ReadError = Frames < 0;
    Result.Frames = uint32_t(std::clamp<qint64>(Frames, 0, std::numeric_limits<uint32_t>::max()));
    return Result;
}

void TMPEGAudio::SetProblem(TMpegProblem Problem) {
    FProblem = Problem;
}

QString TMPEGAudio::Problem() const {
    switch (FProblem) {
    case TMpegProblem::None:
        break;
    case TMpegProblem::Missing:
        return QStringLiteral("no such file");
    case TMpegProblem::Unreadable:
        return QStringLiteral("cannot be opened for reading as a plain file");
    case TMpegProblem::TooShort:
        return QStringLiteral("not MPEG audio: too short");
    case TMpegProblem::OtherFormat:
        return QStringLiteral("not MPEG audio: %1").arg(FOtherFormat);
    case TMpegProblem::NoFrameNearStart:
        return QStringLiteral("not MPEG audio: no run of frames within its first %1 MiB")
            .arg(MaxLeadingBytes >> 20);
    case TMpegProblem::NoFrameRun:
        return QStringLiteral("not MPEG audio: no run of frames");
    case TMpegProblem::ReadError:
        return QStringLiteral("read error");
    }
    return QString();
}

int TMPEGAudio::WriteTag() {
    const std::array<uint8_t, ID3v1Size> Block = BuildID3v1(FInfo);
    return ChangeTag(&Block);
}

int TMPEGAudio::RemoveTag() {
    return ChangeTag(nullptr);
}

int TMPEGAudio::ChangeTag(const std::array<uint8_t, ID3v1Size> *NewTag) {
    if (FInfo.FileName.isEmpty() || !QFileInfo::exists(FInfo.FileName))
        return -1;
    int OpenError = 0, IOError = 0;
    {
        const TFileHandle File(FInfo.FileName, O_RDWR | O_NONBLOCK);
        struct stat Status {};
        if (!File.IsOpen())
            OpenError = errno;
        else if (::fstat(File.Fd(), &Status) != 0)
            IOError = errno;
        else
            IOError = ReplaceTag(File, Status.st_size, NewTag);
    }
    LoadData();
    if (IOError != 0)
        throw EInOutError(QStringLiteral("Input/output error on file \"%1\". %2")
                              .arg(FInfo.FileName, qt_error_string(IOError)));
    return OpenError;
}
