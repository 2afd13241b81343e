#include "cli/InfoCommand.h"

#include "app/RawNames.h"
#include "cli/Console.h"
#include "cli/FileList.h"
#include "conversion/Normalize.h"
#include "inspect/InfoTexts.h"
#include "inspect/MP3WavComm.h"
#include "inspect/MPGTools.h"
#include "platform/Exception.h"
#include "sources/SoundFile.h"
#include "tags/TagSet.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <cmath>

namespace cli {
namespace {

// The tags TagLib reads, as far as the file has them; the ID3v1 fields of an MPEG record
// stay where they are.
QJsonObject TagsJson(const TTagSet &T) {
    QJsonObject tags{{"Kinds", QJsonArray::fromStringList(T.Kinds)}};
    const std::pair<const char *, QString> texts[] = {
        {"Title", T.Title},       {"Artist", T.Artist},
        {"Album", T.Album},       {"AlbumArtist", T.AlbumArtist},
        {"Composer", T.Composer}, {"Date", T.Date},
        {"Genre", T.Genre},       {"Comment", T.Comment}};
    for (const auto &[name, value] : texts) {
        if (!value.isEmpty())
            tags[QLatin1String(name)] = value;
    }
    const std::pair<const char *, int> numbers[] = {{"Track", T.Track},
                                                    {"TrackTotal", T.TrackTotal},
                                                    {"Disc", T.Disc},
                                                    {"DiscTotal", T.DiscTotal}};
    for (const auto &[name, value] : numbers) {
        if (value > 0)
            tags[QLatin1String(name)] = value;
    }
    if (T.FrontCover)
        tags["Picture"] = QJsonObject{{"MimeType", T.FrontCover->MimeType},
                                      {"Type", T.FrontCover->Type},
                                      {"Bytes", T.FrontCover->Data.size()}};
    return tags;
}

// Record with a Tags object when the file has tags, and the reason when they could not be
// read.
QJsonObject WithTags(QJsonObject Record, const QString &FileName) {
    const TTagReadResult read = ReadTags(FileName);
    if (!read.Tags.Kinds.isEmpty())
        Record["Tags"] = TagsJson(read.Tags);
    if (!read.Problem.isEmpty())
        Record["TagsProblem"] = read.Problem;
    return Record;
}

void PrintTags(const QString &FileName) {
    const TTagReadResult read = ReadTags(FileName);
    for (const QString &line : TagInfoLines(read.Tags))
        out() << "  " << line << '\n';
    if (!read.Problem.isEmpty())
        out() << "  Tags not read: " << read.Problem << '\n';
}

QJsonObject WaveJson(const QString &FileName, const TWaveFileInfo &Info) {
    const TWaveHeader &h = Info.Header;
    return QJsonObject{
        {"FileName", FileName},
        {"Valid", Info.Valid},
        {"FileSize", double(Info.FileSize)},
        {"Duration", Info.Duration},
        {"FormatTag", h.FormatTag},
        {"Channels", h.Channels},
        {"SampleRate", double(h.SampleRate)},
        {"BytesPerSecond", double(h.BytesPerSecond)},
        {"BlockAlign", h.BlockAlign},
        {"BitsPerSample", h.BitsPerSample},
        {"DataOffset", double(Info.DataOffset)},
        {"DataLength", double(Info.DataLength)},
        {"Truncated", Info.Truncated},
        {"Problem", QString()},
        {"Kind", "wave"},
    };
}

QJsonObject SoundJson(const QString &FileName, const TSoundFileInfo &Info) {
    return QJsonObject{
        {"FileName", FileName},          {"Valid", Info.Valid},
        {"Format", Info.Format},         {"SubFormat", Info.SubFormat},
        {"FormatText", Info.FormatText}, {"SampleRate", Info.SampleRate},
        {"Channels", Info.Channels},     {"Frames", double(Info.Frames)},
        {"Duration", Info.Duration},     {"Bits", Info.Bits},
        {"IsFloat", Info.IsFloat},       {"FileSize", double(Info.FileSize)},
        {"Problem", QString()},          {"Kind", "audio"},
    };
}

// Nothing read from the file's bytes: those of a file that is not usable would pass for
// facts about it.
QJsonObject UnreadableJson(const QString &FileName, const QString &Problem) {
    return QJsonObject{
        {"FileName", FileName},
        {"Valid", false},
        {"Problem", Problem},
        {"Kind", "unreadable"},
    };
}

QJsonObject MpegJson(const TMPEGInfo &I) {
    return QJsonObject{
        {"Kind", "mpeg"},
        {"Header", I.Header.Text()},
        {"Title", I.Title.Text()},
        {"Artist", I.Artist.Text()},
        {"Album", I.Album.Text()},
        {"Year", TagYearText(I.Year)},
        {"Comment", I.Comment.Text()},
        {"Genre", I.Genre},
        {"Track", I.Track},
        {"Duration", double(I.Duration)},
        {"Length", double(I.Length)},
        {"Version", I.Version},
        {"Layer", I.Layer},
        {"SampleRate", I.SampleRate},
        {"BitRate", I.BitRate},
        {"Mode", I.Mode},
        {"Copyright", I.Copyright},
        {"Original", I.Original},
        {"ErrorProt", I.ErrorProt},
        {"Padding", I.Padding},
        {"FrameLength", I.FrameLength},
        {"FileName", I.FileName},
        {"FileDate", I.FileDate},
    };
}

// The program's time text stops short of a day; longer recordings exist.
QString LengthText(int Seconds) {
    try {
        return SecondsToText(Seconds);
    } catch (const EConvertError &) {
        return QStringLiteral("%1 s").arg(Seconds);
    }
}

void PrintMpeg(const QString &FileName, const TMPEGAudio &Audio) {
    const TMPEGInfo &I = Audio.Data();
    out() << FileName << '\n'
          << "  MPEG:         " << MPEGVersionText[I.Version] << " layer " << MPEGLayerText[I.Layer]
          << '\n'
          << "  Bitrate:      "
          << (I.BitRate == -1 ? QStringLiteral("VBR") : QStringLiteral("%1 kbit/s").arg(I.BitRate))
          << '\n'
          << "  Sample rate:  " << I.SampleRate << " Hz\n"
          << "  Mode:         " << MPEGModeText[I.Mode & 3] << '\n'
          << "  CRCs:         " << YesNoText(I.ErrorProt) << '\n'
          << "  Copyrighted:  " << YesNoText(I.Copyright) << '\n'
          << "  Original:     " << YesNoText(I.Original) << '\n'
          << "  Padding:      " << int(I.Padding) << '\n'
          << "  Frame length: " << I.FrameLength << " bytes\n"
          << "  Size:         " << I.Length << " bytes\n"
          << "  Length:       " << LengthText(int(I.Duration)) << '\n';
    if (!Audio.HasTag()) {
        out() << "  ID3v1 tag:    none\n";
        return;
    }
    out() << "  Title:        " << I.Title.Text() << '\n'
          << "  Artist:       " << I.Artist.Text() << '\n'
          << "  Album:        " << I.Album.Text() << '\n'
          << "  Year:         " << TagYearText(I.Year) << '\n'
          << "  Comment:      " << I.Comment.Text() << '\n'
          << "  Track:        " << I.Track << '\n'
          << "  Genre:        "
          << (GenreName(I.Genre).isEmpty() ? QString::number(I.Genre) : GenreName(I.Genre)) << '\n';
}

// " (extensible)", " (RF64)" or both as " (extensible, RF64)"; empty for neither.
QString FormatNotes(const TWaveFileInfo &Info) {
    QStringList notes;
    if (Info.Extensible)
        notes << QStringLiteral("extensible");
    if (Info.Header.Is64Bit())
        notes << QString::fromLatin1(Info.Header.RiffId.data(), 4);
    return notes.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(notes.join(u", "));
}

void PrintWave(const QString &FileName, const TWaveFileInfo &Info) {
    const TWaveHeader &h = Info.Header;
    out() << FileName << '\n'
          << "  Format:      " << WaveFormatName(h.FormatTag) << FormatNotes(Info) << '\n'
          << "  Channels:    " << h.Channels << '\n'
          << "  Sample rate: " << h.SampleRate << " Hz\n"
          << "  Bits:        " << h.BitsPerSample << '\n'
          << "  Byte rate:   " << h.BytesPerSecond << " bytes/s\n"
          << "  Block align: " << h.BlockAlign << '\n'
          << "  Size:        " << Info.FileSize << " bytes\n"
          << "  Length:      " << LengthText(Info.Duration) << '\n'
          << "  Audio data:  " << Info.DataLength << " bytes at offset " << Info.DataOffset << '\n';
    if (Info.Truncated)
        out() << "  Cut short:   the data chunk claims " << Info.ClaimedDataSize
              << " bytes; only what the file holds is read\n";
    else if (Info.Streamed)
        out() << "  Data size:   not recorded by the writer; read to the end of the file\n";
}

void PrintSound(const QString &FileName, const TSoundFileInfo &Info) {
    out() << FileName << '\n'
          << "  Format:      " << Info.FormatText << '\n'
          << "  Channels:    " << Info.Channels << '\n'
          << "  Sample rate: " << Info.SampleRate << " Hz\n";
    if (Info.Bits > 0)
        out() << "  Bits:        " << Info.Bits << (Info.IsFloat ? " (float)" : "") << '\n';
    out() << "  Frames:      " << Info.Frames << '\n'
          << "  Size:        " << Info.FileSize << " bytes\n"
          << "  Length:      " << LengthText(int(Info.Duration))
          << QStringLiteral(" (%1 s)").arg(Info.Duration, 0, 'f', 3) << '\n';
}

// The records of --json as one array, each written as soon as it is known: a run over
// ten thousand files keeps none of them, and a script reads the first at once. The bytes
// are those QJsonDocument gives for the whole array.
class TJsonArrayWriter {
public:
    void Begin() { out() << "[\n"; }

    void Add(const QJsonObject &Record) {
        if (FCount++ > 0)
            out() << ",\n";
        QByteArray text = QJsonDocument(Record).toJson(QJsonDocument::Indented);
        text.chop(1); // the document's final line break; the separator or "]" follows
        text.replace("\n", "\n    ");
        out() << "    " << QString::fromUtf8(text) << Qt::flush;
    }

    void End() {
        if (FCount > 0)
            out() << '\n';
        out() << "]\n";
    }

private:
    qint64 FCount = 0;
};

// The loudness of a PCM file, or why it could not be measured.
struct TLoudnessReport {
    TLoudness Value;
    QString Problem;
};

TLoudnessReport MeasureFile(const QString &FileName) {
    TLoudnessReport report;
    const std::atomic<bool> never{false};
    try {
        if (!MeasureLoudness(FileName, true, report.Value, never))
            report.Problem = QStringLiteral("its rate or channels cannot be measured");
    } catch (const Exception &e) {
        report.Problem = e.message();
    }
    return report;
}

// -inf (silence, or too short to gate) has no JSON number: it is null.
QJsonValue Finite(double Value) {
    return std::isfinite(Value) ? QJsonValue(std::round(Value * 100) / 100) : QJsonValue();
}

QJsonObject WithLoudness(QJsonObject Record, const QString &FileName) {
    const TLoudnessReport r = MeasureFile(FileName);
    if (!r.Problem.isEmpty())
        Record["Loudness"] = QJsonObject{{"Problem", r.Problem}};
    else
        Record["Loudness"] = QJsonObject{{"IntegratedLUFS", Finite(r.Value.Integrated)},
                                         {"RangeLU", Finite(r.Value.Range)},
                                         {"TruePeakDBTP", Finite(r.Value.TruePeak)}};
    return Record;
}

QString Decibels(double Value, const char *Unit) {
    return std::isfinite(Value) ? QString::number(Value, 'f', 1) + ' ' + QLatin1String(Unit)
                                : QStringLiteral("-inf ") + QLatin1String(Unit);
}

void PrintLoudness(const QString &FileName) {
    const TLoudnessReport r = MeasureFile(FileName);
    if (!r.Problem.isEmpty()) {
        out() << "  Loudness:    cannot be measured: " << r.Problem << '\n';
        return;
    }
    out() << "  Loudness:    " << Decibels(r.Value.Integrated, "LUFS") << " integrated, "
          << Decibels(r.Value.Range, "LU") << " range, " << Decibels(r.Value.TruePeak, "dBTP")
          << " true peak\n";
}

// Describes one file, as text or as a record, with the loudness of PCM audio when Loudness.
// False when it is not a file info reads.
bool DescribeFile(const QString &file, bool json, bool loudness, TJsonArrayWriter &records,
                  TMPEGAudio &audio) {
    if (HasRawBytes(file)) {
        Fail(EscapedName(file), RawNameReason());
        if (json)
            records.Add(UnreadableJson(EscapedName(file), RawNameReason()));
        return false;
    }
    // The contents decide the kind, not the name: a WAV header first, then what libsndfile
    // reads (for the names it serves), then a run of MPEG audio frames.
    TWaveFileInfo wave;
    try {
        ReadWaveFileInfo(file, wave);
    } catch (const Exception &e) {
        Fail(file, e.message());
        if (json)
            records.Add(UnreadableJson(file, e.message()));
        return false;
    }
    if (wave.Valid) {
        if (json) {
            const QJsonObject record = WithTags(WaveJson(file, wave), file);
            records.Add(loudness ? WithLoudness(record, file) : record);
        } else {
            PrintWave(file, wave);
            if (loudness)
                PrintLoudness(file);
            PrintTags(file);
        }
        return true;
    }
    // Other PCM formats as libsndfile reads them; a RIFF/WAVE header is our reader's.
    QString soundProblem;
    if (!wave.Header.IsRiffWave() && (IsSoundFileName(file) || IsWaveFile(file))) {
        TSoundFileInfo sound;
        try {
            ReadSoundFileInfo(file, sound);
        } catch (const Exception &) {
            // Opened a moment ago: what follows reports the file as it is now.
        }
        if (sound.Valid) {
            if (json) {
                const QJsonObject record = WithTags(SoundJson(file, sound), file);
                records.Add(loudness ? WithLoudness(record, file) : record);
            } else {
                PrintSound(file, sound);
                if (loudness)
                    PrintLoudness(file);
                PrintTags(file);
            }
            return true;
        }
        if (IsSoundFileName(file))
            soundProblem = sound.Problem;
    }
    if (wave.Header.IsRiffWave()) {
        Fail(file, QStringLiteral("not a usable WAV file: ") + WaveFileProblem(wave));
        if (json)
            records.Add(UnreadableJson(file, WaveFileProblem(wave)));
        return false;
    }
    audio.ResetData();
    audio.SetFileName(file);
    if (audio.IsValid()) {
        if (json) {
            records.Add(WithTags(MpegJson(audio.Data()), file));
        } else {
            PrintMpeg(file, audio);
            PrintTags(file);
        }
        return true;
    }
    // Say what the file is when its first bytes tell, or why the search gave up early.
    const bool known = audio.ProblemKind() == TMpegProblem::OtherFormat ||
                       audio.ProblemKind() == TMpegProblem::NoFrameNearStart;
    // A name of a libsndfile format gets libsndfile's reason, unless the first bytes
    // tell what the file is.
    const QString problem = known ? audio.Problem()
                            : !soundProblem.isEmpty()
                                ? soundProblem
                                : QStringLiteral("neither a WAV file nor MPEG audio");
    Fail(file, problem);
    if (json)
        records.Add(UnreadableJson(file, problem));
    return false;
}

int InfoUsageError(const QString &Message) {
    err() << "brindle-cli info: " << Message << '\n';
    return ExitUsage;
}

} // namespace

int RunInfo(const QStringList &Args) {
    // Options come first; after "--" every argument is a file, also one named "-x".
    bool json = false;
    bool loudness = false;
    bool nul = false;
    bool recursive = false;
    bool optionsEnded = false;
    QStringList files;
    QStringList lists;
    for (qsizetype i = 0; i < Args.size(); ++i) {
        const QString &arg = Args.at(i);
        if (optionsEnded || !arg.startsWith(u'-') || arg == u"-") {
            files << arg;
        } else if (arg == u"--") {
            optionsEnded = true;
        } else if (arg == u"--json") {
            json = true;
        } else if (arg == u"--loudness") {
            loudness = true;
        } else if (arg == u"-r" || arg == u"--recursive") {
            recursive = true;
        } else if (arg == u"-0" || arg == u"--null") {
            nul = true;
        } else if (arg == u"--files-from") {
            if (++i == Args.size())
                return InfoUsageError(QStringLiteral("--files-from needs a FILE (- for "
                                                     "standard input)"));
            lists << Args.at(i);
        } else if (arg.startsWith(u"--files-from=")) {
            lists << arg.mid(13);
        } else {
            return InfoUsageError(QStringLiteral("unknown option '%1' (put -- before file names "
                                                 "that begin with '-')")
                                      .arg(arg));
        }
    }
    if (files.isEmpty() && lists.isEmpty())
        return InfoUsageError(QStringLiteral("no input files"));

    int failed = 0;
    TJsonArrayWriter records;
    TMPEGAudio audio;
    if (json)
        records.Begin();
    const TProblemSink problem = [&](const QString &What, const QString &Why, bool Failure) {
        Fail(What, Why);
        if (!Failure)
            return;
        ++failed;
        if (json)
            records.Add(UnreadableJson(What, Why));
    };
    const auto describe = [&](const QString &arg) {
        for (const TSourceFile &file : ExpandArgument(arg, recursive, std::nullopt, problem))
            if (!DescribeFile(file.Path, json, loudness, records, audio))
                ++failed;
    };
    for (const QString &file : files)
        describe(file);
    // A list's names are described as they come, so a pipe from find is followed at once.
    bool listsRead = true;
    for (const QString &list : lists) {
        TNameReader reader;
        QString error;
        if (reader.Open(list, nul, error)) {
            QString file;
            while (reader.Next(file, error))
                describe(file);
        }
        if (!error.isEmpty()) {
            Fail(EscapedName(list), QStringLiteral("cannot read the file list: ") + error);
            listsRead = false;
            break;
        }
    }
    if (json)
        records.End();
    out().flush();
    return failed == 0 && listsRead ? ExitOk : ExitFailed;
}

} // namespace cli
