#include "cli/CliRunner.h"
#include "support/TestMedia.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <functional>
#include <map>

using namespace testmedia;

namespace {

// The records of --json on encode and decode, one JSON object a line, by source.
std::map<QString, QJsonObject> JsonLines(const QString &Out) {
    std::map<QString, QJsonObject> records;
    const QStringList lines = Out.split(u'\n', Qt::SkipEmptyParts);
    for (const QString &line : lines) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_TRUE(doc.isObject()) << line.toStdString();
        records[doc.object()["source"].toString()] = doc.object();
    }
    EXPECT_EQ(records.size(), size_t(lines.size())) << "one record per file";
    return records;
}

QStringList FilesBelow(const QString &Folder) {
    QStringList files;
    const QDir root(Folder);
    std::function<void(const QString &)> walk = [&](const QString &Sub) {
        const QDir dir(root.filePath(Sub));
        for (const QString &name : dir.entryList(QDir::Files | QDir::Hidden, QDir::Name))
            files << (Sub.isEmpty() ? name : Sub + u'/' + name);
        for (const QString &name : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
            walk(Sub.isEmpty() ? name : Sub + u'/' + name);
    };
    walk(QString());
    files.sort();
    return files;
}

} // namespace

TEST_F(CliTest, FilesFromAddsListedNamesByLineByNulAndFromStandardInput) {
    for (const char *name : {"a.wav", "b c.wav", "x.wav", "line\nbreak.wav"})
        WriteSineWav(path(name), 1, 8000, 0.2, 440);
    WriteFile(path("list.txt"), "a.wav\n\nb c.wav\n");
    Result r = Run({"encode", "--files-from", "list.txt", "x.wav"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    for (const char *name : {"a.MP3", "b c.MP3", "x.MP3"})
        EXPECT_TRUE(QFile::exists(path(name))) << name;
    EXPECT_FALSE(QFile::exists(path("line\nbreak.MP3")));

    // NUL-separated from standard input: a name may hold a line break.
    const QByteArray nulList("line\nbreak.wav\0a.wav", 20);
    r = Run({"encode", "-y", "-0", "--files-from", "-"}, &nulList);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(path("line\nbreak.MP3")));

    WriteFile(path("mp3s.txt"), "a.MP3\nx.MP3");
    r = Run({"decode", "--files-from", "mp3s.txt"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(path("a.WAV")));
    EXPECT_TRUE(QFile::exists(path("x.WAV")));

    const QByteArray lines("a.wav\nb c.wav\n");
    r = Run({"info", "--json", "--files-from", "-"}, &lines);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonArray records = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(records.size(), 2) << r.out.toStdString();
    EXPECT_EQ(records[1].toObject()["FileName"].toString(), "b c.wav");

    // A list that cannot be read stops the run before anything is converted.
    QFile::remove(path("a.MP3"));
    r = Run({"encode", "--files-from", "missing.txt", "a.wav"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("missing.txt: cannot read the file list")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(path("a.MP3")));
    // An empty list is no usage error: nothing to do.
    WriteFile(path("empty.txt"), "");
    EXPECT_EQ(Run({"encode", "--files-from", "empty.txt"}).exitCode, 0);
    EXPECT_EQ(Run({"encode"}).exitCode, 2);
}

TEST_F(CliTest, InfoJsonIsOneArrayWrittenAsEachFileIsDescribed) {
    WriteSineWav(path("tone.wav"), 1, 8000, 0.5, 440);
    WriteFile(path("text.wav"), "RIFF....TEXT and more");
    WriteFile(path("empty.txt"), "");

    // The bytes QJsonDocument gives for the whole array, as before it was streamed.
    Result r = Run({"info", "--json", "tone.wav", "text.wav", "tone.wav"});
    EXPECT_EQ(r.exitCode, 1);
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(r.out.toUtf8(), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
    ASSERT_EQ(doc.array().size(), 3);
    EXPECT_EQ(r.out.toUtf8(), doc.toJson(QJsonDocument::Indented));
    r = Run({"info", "--json", "--files-from", "empty.txt"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out.toUtf8(), QJsonDocument(QJsonArray()).toJson(QJsonDocument::Indented));

    // The first record comes out while the list is still open.
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", configHome());
    process.setProcessEnvironment(env);
    process.setWorkingDirectory(dir.path());
    process.start(QStringLiteral(BRINDLE_CLI_PATH), {"info", "--json", "--files-from", "-"});
    ASSERT_TRUE(process.waitForStarted());
    process.write("tone.wav\n");
    QByteArray first;
    while (!first.contains('}') && process.waitForReadyRead(20000))
        first += process.readAllStandardOutput();
    EXPECT_TRUE(first.contains("\"FileName\": \"tone.wav\"")) << first.toStdString();
    EXPECT_FALSE(first.contains(']')) << "the array is closed only at the end";
    process.write("text.wav\n");
    process.closeWriteChannel();
    ASSERT_TRUE(process.waitForFinished(20000));
    const QJsonArray records =
        QJsonDocument::fromJson(first + process.readAllStandardOutput()).array();
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[1].toObject()["Kind"].toString(), "unreadable");
}

TEST_F(CliTest, JsonLinesTellEachFilesEndOnStandardOutput) {
    WriteSineWav(path("good.wav"), 1, 8000, 0.5, 440);
    WriteSineWav(path("kept.wav"), 1, 8000, 0.5, 440);
    WriteFile(path("kept.MP3"), "an earlier output");
    WriteFile(path("bad.wav"), "not audio at all");
    Result r = Run({"encode", "--json", "-j", "2", "good.wav", "bad.wav", "kept.wav"});
    EXPECT_EQ(r.exitCode, 1) << "a failed file fails the run; a skipped one does not";
    std::map<QString, QJsonObject> records = JsonLines(r.out);
    ASSERT_EQ(records.size(), 3u) << r.out.toStdString();
    const QJsonObject good = records["good.wav"];
    EXPECT_EQ(good["state"].toString(), "done");
    EXPECT_EQ(good["destination"].toString(), "good.MP3");
    EXPECT_TRUE(good["seconds"].isDouble());
    EXPECT_GE(good["seconds"].toDouble(), 0);
    EXPECT_EQ(good["error"].toString(), "");
    EXPECT_EQ(records["bad.wav"]["state"].toString(), "error");
    EXPECT_TRUE(records["bad.wav"]["error"].toString().startsWith("bad.wav: not a valid WAV"))
        << records["bad.wav"]["error"].toString().toStdString();
    EXPECT_EQ(records["kept.wav"]["state"].toString(), "skipped");
    EXPECT_EQ(records["kept.wav"]["error"].toString(), "");
    EXPECT_EQ(ReadFile(path("kept.MP3")), "an earlier output");
    // The messages are all on standard error.
    EXPECT_TRUE(r.err.contains("bad.wav: not a valid WAV file")) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("skipped: 'kept.MP3' exists")) << r.err.toStdString();

    // A run whose only other file is skipped succeeds.
    r = Run({"encode", "--json", "kept.wav"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(JsonLines(r.out)["kept.wav"]["state"].toString(), "skipped");

    // Decoding: a file the engine fails on, with its error lines.
    WriteFile(path("noise.mp3"), QByteArray(4000, '\x5a'));
    r = Run({"decode", "--json", "good.MP3", "noise.mp3"});
    EXPECT_EQ(r.exitCode, 1);
    records = JsonLines(r.out);
    ASSERT_EQ(records.size(), 2u) << r.out.toStdString();
    EXPECT_EQ(records["good.MP3"]["state"].toString(), "done");
    EXPECT_EQ(records["good.MP3"]["destination"].toString(), "good.WAV");
    EXPECT_TRUE(QFile::exists(path("good.WAV")));
    EXPECT_EQ(records["noise.mp3"]["state"].toString(), "error");
    EXPECT_TRUE(records["noise.mp3"]["error"].toString().contains("Conversion Error: noise.mp3"))
        << records["noise.mp3"]["error"].toString().toStdString();
    EXPECT_FALSE(r.out.contains("Conversion Error: noise.mp3\n")) << "only records on output";
}

TEST_F(CliTest, RecursiveRunsKeepTheTreeUnderTheOutputFolderOrWriteBesideTheSources) {
    QDir().mkpath(path("music/disc 1/bonus"));
    QDir().mkpath(path("music/live"));
    for (const char *name : {"music/top.wav", "music/disc 1/01.wav", "music/disc 1/bonus/9.wav",
                             "music/disc 1/bonus/10.wav", "music/live/a.wav"})
        WriteSineWav(path(name), 1, 8000, 0.2, 440);
    WriteFile(path("music/notes.txt"), "not audio");

    Result r = Run({"encode", "-r", "--json", "-o", "out", "music"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QStringList mp3s{"disc 1/01.MP3", "disc 1/bonus/10.MP3", "disc 1/bonus/9.MP3",
                           "live/a.MP3", "top.MP3"};
    EXPECT_EQ(FilesBelow(path("out")), mp3s);
    // Named from the argument as given, in natural order within each folder.
    const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 5);
    EXPECT_TRUE(lines[2].contains("\"source\":\"music/disc 1/bonus/9.wav\""))
        << r.out.toStdString();
    EXPECT_TRUE(lines[2].contains("\"destination\":\"out/disc 1/bonus/9.MP3\""));

    // And back, into another tree and beside the sources.
    r = Run({"decode", "-r", "-o", "wav", "out"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(FilesBelow(path("wav")),
              QStringList({"disc 1/01.WAV", "disc 1/bonus/10.WAV", "disc 1/bonus/9.WAV",
                           "live/a.WAV", "top.WAV"}));
    r = Run({"decode", "-r", "out"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(path("out/disc 1/bonus/9.WAV")));
    EXPECT_EQ(FilesBelow(path("out")).size(), 10);

    r = Run({"encode", "-r", path("music")});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(path("music/disc 1/bonus/9.MP3")));
    EXPECT_TRUE(QFile::exists(path("music/top.MP3")));
    EXPECT_EQ(FilesBelow(path("music")).size(), 11) << "five sources, five outputs, the notes";

    r = Run({"info", "-r", "--json", "music/live"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QJsonArray infos = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(infos.size(), 2) << "the WAV and its MP3";
    // An MPEG record names its file by its absolute path, as it always has.
    EXPECT_EQ(infos[0].toObject()["FileName"].toString(), path("music/live/a.MP3"));
    EXPECT_EQ(infos[1].toObject()["FileName"].toString(), "music/live/a.wav");
}

TEST_F(CliTest, AResumedRunSkipsTheOutputsAnEarlierRunWrote) {
    QDir().mkpath(path("music/a"));
    QDir().mkpath(path("music/b"));
    for (const char *name : {"music/a/1.wav", "music/b/2.wav", "music/3.wav"})
        WriteSineWav(path(name), 1, 8000, 0.2, 440);
    ASSERT_EQ(Run({"encode", "-r", "-o", "out", "music"}).exitCode, 0);
    // As if the first run had been stopped before 2.wav, and 1's output is marked.
    QFile::remove(path("out/b/2.MP3"));
    WriteFile(path("out/a/1.MP3"), "kept");

    Result r = Run({"encode", "-r", "--json", "-o", "out", "music"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    std::map<QString, QJsonObject> records = JsonLines(r.out);
    EXPECT_EQ(records["music/a/1.wav"]["state"].toString(), "skipped");
    EXPECT_EQ(records["music/b/2.wav"]["state"].toString(), "done");
    EXPECT_EQ(records["music/3.wav"]["state"].toString(), "skipped");
    EXPECT_EQ(ReadFile(path("out/a/1.MP3")), "kept");
    EXPECT_TRUE(DecodeMpeg(path("out/b/2.MP3")).ok);

    r = Run({"encode", "-r", "-y", "--json", "-o", "out", "music"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(JsonLines(r.out)["music/a/1.wav"]["state"].toString(), "done");
    EXPECT_NE(ReadFile(path("out/a/1.MP3")), "kept");
}

TEST_F(CliTest, AFolderWithoutRecursiveIsRefused) {
    QDir().mkpath(path("music"));
    WriteSineWav(path("music/a.wav"), 1, 8000, 0.2, 440);
    WriteSineWav(path("b.wav"), 1, 8000, 0.2, 440);
    Result r = Run({"encode", "--json", "music", "b.wav"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("music: is a folder; use -r")) << r.err.toStdString();
    EXPECT_EQ(JsonLines(r.out)["music"]["state"].toString(), "error");
    EXPECT_TRUE(QFile::exists(path("b.MP3"))) << "the other files are converted";
    EXPECT_FALSE(QFile::exists(path("music/a.MP3")));

    r = Run({"decode", "music"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("music: is a folder; use -r")) << r.err.toStdString();
    r = Run({"info", "--json", "music"});
    EXPECT_EQ(r.exitCode, 1);
    const QJsonArray records = QJsonDocument::fromJson(r.out.toUtf8()).array();
    ASSERT_EQ(records.size(), 1) << r.out.toStdString();
    EXPECT_EQ(records[0].toObject()["Kind"].toString(), "unreadable");
}
