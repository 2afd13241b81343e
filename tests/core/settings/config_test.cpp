#include "settings/Config.h"
#include "settings/RegSetEx.h"
#include "support/SettingNames.h"
#include "support/UnreadableFile.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <limits>
#include <memory>
#include <ostream>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>
#include <variant>
#include <vector>

// Readable failure output for QString values.
static void PrintTo(const QString &Text, std::ostream *Out) {
    *Out << '"' << Text.toStdString() << '"';
}

namespace {

// The 27 fields of TConfig in load order.
#define CONFIG_FIELDS(X)                                                                           \
    X(ConvertType)                                                                                 \
    X(SpecifyOutputFolder)                                                                         \
    X(OpenOutputFolder)                                                                            \
    X(OutputFolder)                                                                                \
    X(FavoriteBrowsFolder)                                                                         \
    X(FNormalizeVolume)                                                                            \
    X(NormalizeFactor)                                                                             \
    X(OverwritePrompt)                                                                             \
    X(ShowErrorMessage)                                                                            \
    X(DeleteOriginalFile)                                                                          \
    X(PlaySound)                                                                                   \
    X(PromptCheckOption)                                                                           \
    X(ShowMPEGInfo)                                                                                \
    X(LastOpenFolder)                                                                              \
    X(SampleRate)                                                                                  \
    X(BitRate)                                                                                     \
    X(MaxBitRate)                                                                                  \
    X(Mode)                                                                                        \
    X(Quality)                                                                                     \
    X(VBRQuality)                                                                                  \
    X(VBR)                                                                                         \
    X(WriteVBRHeader)                                                                              \
    X(Copyright)                                                                                   \
    X(CRC)                                                                                         \
    X(Original)                                                                                    \
    X(Private)                                                                                     \
    X(WaveOutputOption)

#define COUNT_FIELD(Field) +1
static_assert(0 CONFIG_FIELDS(COUNT_FIELD) == 27);

const QString Section = QStringLiteral("1.27");

const QStringList &ValueNames = SettingValueNames;

const QStringList BooleanNames = {"SpecifyOutputFolder",
                                  "OpenOutputFolder",
                                  "FNormalizeVolume",
                                  "OverwritePrompt",
                                  "ShowErrorMessage",
                                  "DeleteOriginalFile",
                                  "PlaySound",
                                  "PromptCheckOption",
                                  "ShowMPEGInfo",
                                  "VBR",
                                  "WriteVBRHeader",
                                  "Copyright",
                                  "CRC",
                                  "Original",
                                  "_Private"};

void ExpectSameValues(const TConfigValues &Actual, const TConfigValues &Expected) {
#define EXPECT_FIELD_EQ(Field) EXPECT_EQ(Actual.Field, Expected.Field) << #Field;
    CONFIG_FIELDS(EXPECT_FIELD_EQ)
#undef EXPECT_FIELD_EQ
}

// Every field differs from its default, and no two numbers are equal, so that a value
// stored under the wrong name shows.
TConfigValues NonDefaultValues() {
    TConfigValues V;
    V.ConvertType = 1;
    V.SpecifyOutputFolder = false;
    V.OpenOutputFolder = false;
    V.OutputFolder = QStringLiteral("/srv/out, mixed; \"quoted\" @ C:\\My Music  ");
    V.FavoriteBrowsFolder = QStringLiteral("/home/u/Müsik=neu");
    V.FNormalizeVolume = true;
    V.NormalizeFactor = 77;
    V.OverwritePrompt = false;
    V.ShowErrorMessage = false;
    V.DeleteOriginalFile = true;
    V.PlaySound = false;
    V.PromptCheckOption = true;
    V.ShowMPEGInfo = true;
    V.LastOpenFolder = QStringLiteral("/home/u/last");
    V.SampleRate = 3;
    V.BitRate = 5;
    V.MaxBitRate = 11;
    V.Mode = 2;
    V.Quality = -7;
    V.VBRQuality = 9;
    V.VBR = true;
    V.WriteVBRHeader = true;
    V.Copyright = true;
    V.CRC = false;
    V.Original = true;
    V.Private = true;
    V.WaveOutputOption = 6;
    return V;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Dir.isValid());
        RedirectSettings(Dir.path());
    }

    QString StoreFile() const { return Dir.filePath("user/Brindle Team/Brindle.conf"); }

    // Direct access to the store, beside the code under test.
    std::unique_ptr<QSettings> RawStore() const {
        auto S = std::make_unique<QSettings>(StoreFile(), QSettings::IniFormat);
        S->beginGroup(Section);
        return S;
    }

    void StoreRaw(const QString &Name, const QVariant &Value) {
        RawStore()->setValue(Name, Value); // written when the object goes
    }

    QTemporaryDir Dir;
};

// --- TRegSetEx -----------------------------------------------------------------------

TEST(RegSetExDefaultsTest, CompanyIsTheUserInUpperCaseOrFreeware) {
    const QByteArray Saved = qgetenv("USER");
    qputenv("USER", "alice");
    EXPECT_EQ(TRegSetEx().CompanyName(), "ALICE");
    qunsetenv("USER");
    TRegSetEx Anonymous;
    EXPECT_EQ(Anonymous.CompanyName(), "Freeware");
    EXPECT_EQ(Anonymous.ProductName(), "You Product Name");
    EXPECT_EQ(Anonymous.RootKind(), 0);
    EXPECT_TRUE(Anonymous.CreateKeys());
    EXPECT_TRUE(Anonymous.UseCompanyKey());
    EXPECT_EQ(Anonymous.BasePath(), "SOFTWARE\\Freeware\\You Product Name\\");
    qputenv("USER", Saved);
}

TEST(RegSetExDefaultsTest, BasePathFollowsEveryChange) {
    TRegSetEx R;
    R.SetCompanyName("Acme");
    R.SetProductName("Tool");
    EXPECT_EQ(R.BasePath(), "SOFTWARE\\Acme\\Tool\\");
    R.SetUseCompanyKey(false);
    EXPECT_EQ(R.BasePath(), "SOFTWARE\\Tool\\");
}

TEST_F(SettingsTest, ConfigStoreIsTheBrindleTeamFile) {
    const TConfig Config;
    EXPECT_EQ(Config.RegSetEx().BasePath(), "SOFTWARE\\Brindle Team\\Brindle\\");
    EXPECT_EQ(Config.RegSetEx().FileName(), StoreFile());
}

TEST_F(SettingsTest, WithoutTheCompanyTheProductIsTheOrganisation) {
    TRegSetEx R;
    R.SetRootKind(1);
    R.SetCompanyName("Acme");
    R.SetProductName("Tool");
    R.SetUseCompanyKey(false);
    R.WriteInteger("s", "N", 5);
    EXPECT_TRUE(QFile::exists(Dir.filePath("user/Tool/Tool.conf")));
}

TEST_F(SettingsTest, RootKindOtherThanOneIsTheSystemStore) {
    TRegSetEx R;
    R.SetCompanyName("Acme");
    R.SetProductName("Tool");
    for (int Kind : {0, 2}) {
        R.SetRootKind(Kind);
        EXPECT_EQ(R.FileName(), Dir.filePath("system/Acme/Tool.conf")) << Kind;
    }
    R.SetRootKind(1);
    EXPECT_EQ(R.FileName(), Dir.filePath("user/Acme/Tool.conf"));
}

TEST_F(SettingsTest, MissingValueGivesTheDefaultAndCreatesNothing) {
    const TConfig Config;
    const TRegSetEx &R = Config.RegSetEx();
    EXPECT_EQ(R.ReadInteger(Section, "Nothing", -5), -5);
    EXPECT_EQ(R.ReadString(Section, "Nothing", "dflt"), "dflt");
    EXPECT_TRUE(R.ReadBool(Section, "Nothing", true));
    EXPECT_FALSE(QFile::exists(StoreFile()));
}

TEST_F(SettingsTest, NumbersAndTextReadBackFromTheFile) {
    StoreRaw("N", "-42");
    StoreRaw("T", "some text");
    StoreRaw("Digits", "7");
    const TConfig Config;
    EXPECT_EQ(Config.RegSetEx().ReadInteger(Section, "N", 0), -42);
    EXPECT_EQ(Config.RegSetEx().ReadString(Section, "T", ""), "some text");
    EXPECT_EQ(Config.RegSetEx().ReadString(Section, "Digits", ""), "7");
}

TEST_F(SettingsTest, AnyNonZeroNumberReadsAsTrue) {
    StoreRaw("Seven", 7);
    StoreRaw("Minus", -1);
    StoreRaw("Zero", 0);
    const TConfig Config;
    EXPECT_TRUE(Config.RegSetEx().ReadBool(Section, "Seven", false));
    EXPECT_TRUE(Config.RegSetEx().ReadBool(Section, "Minus", false));
    EXPECT_FALSE(Config.RegSetEx().ReadBool(Section, "Zero", true));
}

TEST_F(SettingsTest, TextWhereANumberIsExpectedIsADataTypeError) {
    StoreRaw("Word", "abc");
    StoreRaw("Flag", "true");
    StoreRaw("Huge", "4294967296");
    const TConfig Config;
    for (const char *Name : {"Word", "Flag", "Huge"}) {
        try {
            Config.RegSetEx().ReadInteger(Section, Name, 0);
            ADD_FAILURE() << Name << " gave no exception";
        } catch (const ERegistryError &E) {
            EXPECT_EQ(E.message(), QStringLiteral("Invalid data type for '%1'").arg(Name));
        }
        EXPECT_THROW(Config.RegSetEx().ReadBool(Section, Name, false), ERegistryError) << Name;
    }
}

TEST_F(SettingsTest, WriteWithoutCreateKeysNeedsAnExistingSection) {
    TConfig Config;
    TRegSetEx &R = Config.RegSetEx();
    R.SetCreateKeys(false);
    R.WriteInteger(Section, "N", 1);
    EXPECT_FALSE(QFile::exists(StoreFile()));

    StoreRaw("Other", 1);
    R.WriteInteger("another section", "N", 2);
    EXPECT_EQ(R.ReadInteger("another section", "N", -1), -1);
    R.WriteInteger(Section, "N", 3);
    EXPECT_EQ(R.ReadInteger(Section, "N", -1), 3);
}

TEST_F(SettingsTest, UnwritableStoreIsReportedWithTheFileAndTheReason) {
    // A regular file where the store's folder should be: no one, not even root, can
    // create the store below it.
    QFile Blocker(Dir.filePath("blocked"));
    ASSERT_TRUE(Blocker.open(QIODevice::WriteOnly));
    Blocker.close();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, Dir.filePath("blocked"));
    TConfig Config;
    try {
        Config.Save();
        FAIL() << "no exception";
    } catch (const ERegistryError &E) {
        EXPECT_TRUE(E.message().startsWith("The settings could not be saved to '" +
                                           Dir.filePath("blocked/Brindle Team/Brindle.conf")))
            << E.message().toStdString();
        EXPECT_TRUE(E.message().contains("cannot be made")) << E.message().toStdString();
    }
    EXPECT_THROW(Config.RegSetEx().WriteString(Section, "T", "x"), ERegistryError);
    EXPECT_EQ(Config.RegSetEx().ReadString(Section, "T", "none"), "none");
}

TEST_F(SettingsTest, FolderInTheWayOfTheStoreIsReported) {
    ASSERT_TRUE(QDir().mkpath(StoreFile()));
    TConfig Config;
    EXPECT_THROW(Config.Save(), ERegistryError);
    EXPECT_THROW(Config.Load(), ERegistryError);
    EXPECT_TRUE(QFileInfo(StoreFile()).isDir());
}

TEST_F(SettingsTest, ReadOnlyStoreIsReportedAndKeptAsItWas) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes read-only files";
    StoreRaw("BitRate", 13);
    QFile Store(StoreFile());
    ASSERT_TRUE(Store.open(QIODevice::ReadOnly));
    const QByteArray Before = Store.readAll();
    Store.close();
    ASSERT_TRUE(Store.setPermissions(QFileDevice::ReadOwner));
    TConfig Config;
    Config.Load();
    Config.BitRate = 3;
    try {
        Config.Save();
        FAIL() << "no exception";
    } catch (const ERegistryError &E) {
        EXPECT_EQ(E.message(),
                  QStringLiteral("The settings could not be saved to '%1': Permission denied")
                      .arg(StoreFile()));
    }
    ASSERT_TRUE(Store.open(QIODevice::ReadOnly));
    EXPECT_EQ(Store.readAll(), Before);
}

TEST_F(SettingsTest, StoreThatIsAPipeOrADeviceIsRefusedWithoutBlocking) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(StoreFile()).absolutePath()));
    ASSERT_EQ(::mkfifo(QFile::encodeName(StoreFile()).constData(), 0600), 0);
    TConfig Config;
    try {
        Config.Load();
        FAIL() << "no exception";
    } catch (const ERegistryError &E) {
        EXPECT_EQ(
            E.message(),
            QStringLiteral("The settings file '%1' is a named pipe (FIFO), not a regular file")
                .arg(StoreFile()));
    }
    EXPECT_EQ(Config, TConfigValues());
    EXPECT_THROW(Config.Save(), ERegistryError);

    // Through a symbolic link the device is neither read nor replaced by a text file.
    ASSERT_TRUE(QFile::remove(StoreFile()));
    ASSERT_TRUE(QFile::link("/dev/zero", StoreFile()));
    EXPECT_THROW(Config.Load(), ERegistryError);
    EXPECT_THROW(Config.Save(), ERegistryError);
    EXPECT_TRUE(QFileInfo(StoreFile()).isSymLink());
    EXPECT_FALSE(QFileInfo("/dev/zero").isFile());
}

TEST_F(SettingsTest, StoreBehindASymbolicLinkToAFileIsSavedThere) {
    const QString Target = Dir.filePath("dotfiles/brindle.conf");
    ASSERT_TRUE(QDir().mkpath(QFileInfo(Target).absolutePath()));
    ASSERT_TRUE(QDir().mkpath(QFileInfo(StoreFile()).absolutePath()));
    ASSERT_TRUE(QFile::link(Target, StoreFile()));
    TConfig Saved;
    static_cast<TConfigValues &>(Saved) = NonDefaultValues();
    Saved.Save();
    EXPECT_TRUE(QFileInfo(StoreFile()).isSymLink());
    TConfig Loaded;
    Loaded.Load();
    ExpectSameValues(Loaded, NonDefaultValues());
}

TEST_F(SettingsTest, OnlyTheUsersOwnStoreIsRead) {
    // QSettings would otherwise fall back to the system-wide and organisation-wide files.
    for (const char *Other : {"system/Brindle Team/Brindle.conf", "user/Brindle Team.conf"}) {
        QSettings Settings(Dir.filePath(Other), QSettings::IniFormat);
        Settings.setValue("1.27/NormalizeFactor", 50);
    }
    TConfig Config;
    Config.Load();
    EXPECT_EQ(Config.NormalizeFactor, 98);
}

// --- TConfig -------------------------------------------------------------------------

TEST_F(SettingsTest, DefaultsAreTheSpecTable) {
    const TConfig C;
    const QString Music = TConfigValues::DefaultMusicFolder();
    EXPECT_FALSE(Music.isEmpty());
    EXPECT_EQ(C.ConvertType, 0);
    EXPECT_TRUE(C.SpecifyOutputFolder);
    EXPECT_TRUE(C.OpenOutputFolder);
    EXPECT_EQ(C.OutputFolder, Music);
    EXPECT_EQ(C.FavoriteBrowsFolder, Music);
    EXPECT_FALSE(C.FNormalizeVolume);
    EXPECT_EQ(C.NormalizeFactor, 98);
    EXPECT_TRUE(C.OverwritePrompt);
    EXPECT_TRUE(C.ShowErrorMessage);
    EXPECT_FALSE(C.DeleteOriginalFile);
    EXPECT_TRUE(C.PlaySound);
    EXPECT_FALSE(C.PromptCheckOption);
    EXPECT_FALSE(C.ShowMPEGInfo);
    EXPECT_EQ(C.LastOpenFolder, "");
    EXPECT_EQ(C.SampleRate, 1);
    EXPECT_EQ(C.BitRate, 8);
    EXPECT_EQ(C.MaxBitRate, 13);
    EXPECT_EQ(C.Mode, 0);
    EXPECT_EQ(C.Quality, 0);
    EXPECT_EQ(C.VBRQuality, 4);
    EXPECT_FALSE(C.VBR);
    EXPECT_FALSE(C.WriteVBRHeader);
    EXPECT_FALSE(C.Copyright);
    EXPECT_TRUE(C.CRC);
    EXPECT_FALSE(C.Original);
    EXPECT_FALSE(C.Private);
    EXPECT_EQ(C.WaveOutputOption, 0);
}

TEST_F(SettingsTest, EmptyStoreLoadsTheDefaults) {
    TConfig Config;
    EXPECT_TRUE(Config.Load());
    ExpectSameValues(Config, TConfig());
    EXPECT_FALSE(QFile::exists(StoreFile()));
}

TEST_F(SettingsTest, SaveThenLoadRoundTripsEveryValue) {
    TConfig Saved;
    static_cast<TConfigValues &>(Saved) = NonDefaultValues();
    EXPECT_TRUE(Saved.Save());

    TConfig Loaded;
    EXPECT_TRUE(Loaded.Load());
    ExpectSameValues(Loaded, NonDefaultValues());
}

TEST_F(SettingsTest, SaveWritesExactlyTheTableValuesBooleansAsZeroOrOne) {
    TConfig Config;
    static_cast<TConfigValues &>(Config) = NonDefaultValues();
    Config.Save();

    // The file's own text, not what QSettings may still hold in memory.
    QFile File(StoreFile());
    ASSERT_TRUE(File.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList Lines = QString::fromUtf8(File.readAll()).split('\n', Qt::SkipEmptyParts);
    ASSERT_FALSE(Lines.isEmpty());
    EXPECT_EQ(Lines.first(), "[1.27]");
    QMap<QString, QString> Stored;
    for (const QString &Line : Lines.mid(1))
        Stored.insert(Line.section('=', 0, 0), Line.section('=', 1));
    const QStringList Names = ValueNames + AddedSettingNames;
    EXPECT_EQ(Stored.size(), Names.size());
    EXPECT_EQ(QSet<QString>(Stored.keyBegin(), Stored.keyEnd()),
              QSet<QString>(Names.begin(), Names.end()));
    for (const QString &Name : BooleanNames)
        EXPECT_TRUE(Stored[Name] == "0" || Stored[Name] == "1")
            << Name.toStdString() << "=" << Stored[Name].toStdString();
    EXPECT_EQ(Stored["_Private"], "1");
    EXPECT_EQ(Stored["CRC"], "0");
    EXPECT_EQ(Stored["NormalizeFactor"], "77");
}

TEST_F(SettingsTest, NonZeroNumberLoadsAsTrue) {
    StoreRaw("VBR", "7");
    TConfig Config;
    Config.Load();
    EXPECT_TRUE(Config.VBR);
}

TEST_F(SettingsTest, ValueNamedPrivateIsIgnored) {
    StoreRaw("Private", 1);
    TConfig Config;
    Config.Load();
    EXPECT_FALSE(Config.Private);
    StoreRaw("_Private", 1);
    Config.Load();
    EXPECT_TRUE(Config.Private);
}

TEST_F(SettingsTest, DataTypeErrorGivesOnlyThatValueItsDefault) {
    TConfig Saved;
    static_cast<TConfigValues &>(Saved) = NonDefaultValues();
    Saved.Save();
    StoreRaw("NormalizeFactor", "9O");
    StoreRaw("Mode", "three");

    TConfig Loaded;
    try {
        Loaded.Load();
        FAIL() << "no exception";
    } catch (const ERegistryError &E) {
        EXPECT_EQ(E.message(),
                  "Invalid data type for 'NormalizeFactor'\nInvalid data type for 'Mode'");
    }
    TConfigValues Expected = NonDefaultValues();
    Expected.NormalizeFactor = TConfigValues().NormalizeFactor;
    Expected.Mode = TConfigValues().Mode;
    ExpectSameValues(Loaded, Expected);

    // Saved back on exit, the good values stay as they were.
    Loaded.Save();
    TConfig Again;
    Again.Load();
    ExpectSameValues(Again, Expected);
}

TEST_F(SettingsTest, AssignCopiesEveryField) {
    TConfig Source;
    static_cast<TConfigValues &>(Source) = NonDefaultValues();
    TConfig Target;
    Target.Assign(Source);
    ExpectSameValues(Target, NonDefaultValues());

    // Restoring from a defaults copy, as a cancelled options dialog does.
    Target.Assign(TConfig());
    ExpectSameValues(Target, TConfig());
}

// A file format that records which keys the store held at each write of the file, and
// counts the reads of the file.
std::vector<QStringList> RecordedKeys;
int RecordedReads = 0;

bool ReadRecorded(QIODevice &Device, QSettings::SettingsMap &Map) {
    ++RecordedReads;
    if (Device.atEnd())
        return true;
    QDataStream Stream(&Device);
    Stream >> Map;
    return Stream.status() == QDataStream::Ok;
}

bool WriteRecorded(QIODevice &Device, const QSettings::SettingsMap &Map) {
    RecordedKeys.push_back(Map.keys());
    QDataStream Stream(&Device);
    Stream << Map;
    return Stream.status() == QDataStream::Ok;
}

QSettings::Format RecordingFormat() {
    static const QSettings::Format Format =
        QSettings::registerFormat("rec", ReadRecorded, WriteRecorded);
    return Format;
}

TEST_F(SettingsTest, SaveWritesTheStoreOnceWithEveryValue) {
    ASSERT_NE(RecordingFormat(), QSettings::InvalidFormat);
    QSettings::setPath(RecordingFormat(), QSettings::UserScope, Dir.filePath("recorded"));
    RecordedKeys.clear();
    RecordedReads = 0;

    TConfig Config;
    Config.RegSetEx().SetFormat(RecordingFormat());
    Config.Save();

    // One write holding the table's values and the job count.
    ASSERT_EQ(RecordedKeys.size(), 1u) << "one write of the file per save";
    QStringList Expected;
    for (const QString &Name : ValueNames + AddedSettingNames)
        Expected << Section + '/' + Name;
    Expected.sort();
    QStringList Written = RecordedKeys[0];
    Written.sort();
    EXPECT_EQ(Written, Expected);

    // Loading through the same format reads the file at most once (QSettings may keep what
    // it read) and gives the values back.
    RecordedReads = 0;
    TConfig Loaded;
    Loaded.RegSetEx().SetFormat(RecordingFormat());
    Loaded.Load();
    ExpectSameValues(Loaded, Config);
    EXPECT_LE(RecordedReads, 1);
    EXPECT_EQ(RecordedKeys.size(), 1u) << "a load writes nothing";
}

TEST_F(SettingsTest, LargeStoreIsReadOnceAndWrittenOnceOnSaveKeepingWhatElseItHolds) {
    ASSERT_NE(RecordingFormat(), QSettings::InvalidFormat);
    QSettings::setPath(RecordingFormat(), QSettings::UserScope, Dir.filePath("recorded"));
    TConfig Config;
    Config.RegSetEx().SetFormat(RecordingFormat());
    {
        // Some 4 MB of other values beside ours, as other versions or tools may leave.
        QSettings Big(Config.RegSetEx().FileName(), RecordingFormat());
        const QString Filler(1000, u'x');
        for (int I = 0; I < 4000; ++I)
            Big.setValue(QStringLiteral("other/Value%1").arg(I), Filler);
        Big.setValue(Section + "/BitRate", 10);
    }
    RecordedKeys.clear();
    RecordedReads = 0;
    Config.Load();
    EXPECT_EQ(Config.BitRate, 10);
    Config.Mode = 3;
    Config.Save();
    EXPECT_EQ(RecordedKeys.size(), 1u) << "one write of the file per save";
    EXPECT_LE(RecordedReads, 2) << "one read for the load, at most one for the save";

    QSettings After(Config.RegSetEx().FileName(), RecordingFormat());
    EXPECT_EQ(After.value("other/Value3999").toString().size(), 1000);
    EXPECT_EQ(After.value(Section + "/Mode").toInt(), 3);
    EXPECT_EQ(After.value(Section + "/BitRate").toInt(), 10);
}

TEST_F(SettingsTest, SavedFileIsTheTextThatValueByValueWritesGave) {
    // What saving wrote when every value was a write of its own: the same names, types and
    // text, so that stored files and the program's own agree.
    TConfig Config;
    static_cast<TConfigValues &>(Config) = NonDefaultValues();
    Config.ConvertJobs = 3;
    Config.CopyTags = false;
    Config.KeepFolderStructure = false;
    Config.NormalizeMode = 1;
    Config.LoudnessTarget = -23;
    Config.TruePeakCeiling = -20;
    Config.WriteReplayGain = true;
    Config.AlbumGainPerFolder = true;
    TRegSetEx &R = Config.RegSetEx();
    for (const TSetting &S : ConfigSettings()) {
        const QString Name = QLatin1StringView(S.Name);
        std::visit(
            [&](const auto &Value) {
                const auto &Field = Config.*(Value.Field);
                using T = std::decay_t<decltype(Field)>;
                if constexpr (std::is_same_v<T, QString>)
                    R.WriteString(Section, Name, Field);
                else if constexpr (std::is_same_v<T, bool>)
                    R.WriteBool(Section, Name, Field);
                else
                    R.WriteInteger(Section, Name, Field);
            },
            S.Value);
    }
    R.WriteInteger(Section, "ConvertJobs", 3);
    R.WriteBool(Section, "CopyTags", false);
    R.WriteBool(Section, "KeepFolderStructure", false);
    R.WriteInteger(Section, "NormalizeMode", 1);
    R.WriteInteger(Section, "LoudnessTarget", -23);
    R.WriteInteger(Section, "TruePeakCeiling", -20);
    R.WriteBool(Section, "WriteReplayGain", true);
    R.WriteBool(Section, "AlbumGainPerFolder", true);
    QFile File(StoreFile());
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    const QByteArray ValueByValue = File.readAll();
    File.close();
    ASSERT_TRUE(File.remove());

    Config.Save();
    ASSERT_TRUE(File.open(QIODevice::ReadOnly));
    EXPECT_EQ(File.readAll(), ValueByValue);

    TConfig Loaded;
    Loaded.Load();
    ExpectSameValues(Loaded, NonDefaultValues());
    EXPECT_EQ(Loaded.ConvertJobs, 3);
    EXPECT_FALSE(Loaded.CopyTags);
    EXPECT_FALSE(Loaded.KeepFolderStructure);
    EXPECT_EQ(Loaded.NormalizeMode, 1);
    EXPECT_EQ(Loaded.LoudnessTarget, -23);
    EXPECT_EQ(Loaded.TruePeakCeiling, -20);
    EXPECT_TRUE(Loaded.WriteReplayGain);
    EXPECT_TRUE(Loaded.AlbumGainPerFolder);
}

TEST_F(SettingsTest, LoudnessSettingsDefaultToPeakModeAndOutOfRangeValuesAreReported) {
    TConfig Fresh;
    EXPECT_EQ(Fresh.NormalizeMode, 0) << "peak normalisation as before";
    EXPECT_EQ(Fresh.LoudnessTarget, -16);
    EXPECT_EQ(Fresh.TruePeakCeiling, -10);
    {
        QSettings Settings(StoreFile(), QSettings::IniFormat);
        Settings.setValue("1.27/NormalizeMode", 2);
        Settings.setValue("1.27/LoudnessTarget", -4);
        Settings.setValue("1.27/TruePeakCeiling", "x");
        Settings.setValue("1.27/NormalizeFactor", 50);
    }
    TConfig Bad;
    try {
        Bad.Load();
        ADD_FAILURE() << "bad loudness values are reported";
    } catch (const ERegistryError &E) {
        for (const char *Name : {"NormalizeMode", "LoudnessTarget", "TruePeakCeiling"})
            EXPECT_TRUE(E.message().contains(Name)) << E.message().toStdString();
    }
    EXPECT_EQ(Bad.NormalizeMode, 0);
    EXPECT_EQ(Bad.LoudnessTarget, -16);
    EXPECT_EQ(Bad.TruePeakCeiling, -10);
    EXPECT_EQ(Bad.NormalizeFactor, 50) << "the other values still load";
    {
        QSettings Settings(StoreFile(), QSettings::IniFormat);
        Settings.setValue("1.27/NormalizeMode", 1);
        Settings.setValue("1.27/LoudnessTarget", -31);
        Settings.setValue("1.27/TruePeakCeiling", -90);
    }
    TConfig Edge;
    Edge.Load();
    EXPECT_EQ(Edge.NormalizeMode, 1);
    EXPECT_EQ(Edge.LoudnessTarget, -31);
    EXPECT_EQ(Edge.TruePeakCeiling, -90);
    TConfig Copy;
    Copy.Assign(Edge);
    EXPECT_EQ(Copy.LoudnessTarget, -31);
}

TEST_F(SettingsTest, UnreadableStoreIsReportedTheDefaultsUsedAndTheFileKept) {
    StoreRaw("BitRate", 10);
    StoreRaw("Mode", 3);
    QFile Store(StoreFile());
    ASSERT_TRUE(Store.open(QIODevice::ReadOnly));
    const QByteArray Before = Store.readAll();
    Store.close();
    {
        UnreadableFile Guard(StoreFile());
        if (!Guard.Works)
            GTEST_SKIP() << "the file stays readable here";
        TConfig Config;
        try {
            Config.Load();
            FAIL() << "no exception";
        } catch (const ERegistryError &E) {
            EXPECT_EQ(E.message(),
                      QStringLiteral("The settings file '%1' cannot be read: Permission denied. "
                                     "The default settings are used, and the file is not "
                                     "replaced.")
                          .arg(StoreFile()));
        }
        EXPECT_EQ(Config, TConfigValues());
        EXPECT_EQ(Config.ConvertJobs, 0);

        Config.BitRate = 2;
        try {
            Config.Save();
            FAIL() << "no exception";
        } catch (const ERegistryError &E) {
            EXPECT_EQ(E.message(), QStringLiteral("The settings could not be saved to '%1': the "
                                                  "file cannot be read (Permission denied) and "
                                                  "is kept as it is")
                                       .arg(StoreFile()));
        }
        // One value at a time neither: the whole file would be written over.
        EXPECT_THROW(Config.RegSetEx().WriteInteger(Section, "BitRate", 2), ERegistryError);
    }
    ASSERT_TRUE(Store.open(QIODevice::ReadOnly));
    EXPECT_EQ(Store.readAll(), Before);
}

TEST(ConfigSettingsTest, TableHoldsEveryValueOnceWithItsStoredType) {
    const auto Table = ConfigSettings();
    QStringList Names;
    QSet<QString> Fields; // each field's offset, as text
    TConfigValues Probe;
    const auto *Base = reinterpret_cast<const char *>(&Probe);
    for (const TSetting &S : Table) {
        const QString Name = QString::fromLatin1(S.Name);
        Names << Name;
        const TSettingType Expected = BooleanNames.contains(Name) ? TSettingType::Switch
                                      : Name.endsWith("Folder")   ? TSettingType::Text
                                                                  : TSettingType::Integer;
        EXPECT_EQ(S.Type(), Expected) << S.Name;
        EXPECT_EQ(S.SavedLast, Name == "LastOpenFolder") << S.Name;
        std::visit(
            [&](const auto &V) {
                Fields << QString::number(reinterpret_cast<const char *>(&(Probe.*V.Field)) - Base);
            },
            S.Value);
    }
    EXPECT_EQ(Names, ValueNames);
    EXPECT_EQ(Fields.size(), 27) << "two settings share a field";
}

// --- Bitrate table -------------------------------------------------------------------

TEST(BitrateTest, DefaultIndicesGive128And320) {
    EXPECT_EQ(BitrateFromIndex(TConfig().BitRate), 128);
    EXPECT_EQ(BitrateFromIndex(TConfig().MaxBitRate), 320);
    EXPECT_EQ(BitrateFromIndex(0), 32);
}

TEST(BitrateTest, OutOfRangeIndicesAreClampedToTheNearestEntry) {
    EXPECT_EQ(BitrateFromIndex(-1), 32);
    EXPECT_EQ(BitrateFromIndex(-100000), 32);
    EXPECT_EQ(BitrateFromIndex(14), 320);
    EXPECT_EQ(BitrateFromIndex(std::numeric_limits<int>::max()), 320);
}

} // namespace

TEST_F(SettingsTest, TheJobCountFollowsTheCoresUntilChosenAndSurvivesABadValue) {
    TConfig Config;
    EXPECT_EQ(Config.ConvertJobs, 0);
    EXPECT_EQ(Config.ConvertJobCount(), std::max(1, QThread::idealThreadCount()));
    Config.ConvertJobs = 3;
    Config.Save();
    TConfig Loaded;
    Loaded.Load();
    EXPECT_EQ(Loaded.ConvertJobs, 3);
    TConfig Copy;
    Copy.Assign(Loaded);
    EXPECT_EQ(Copy.ConvertJobCount(), 3);
    Copy.ConvertJobs = 1000;
    EXPECT_EQ(Copy.ConvertJobCount(), TConfig::MaxConvertJobs);

    {
        QSettings Settings(StoreFile(), QSettings::IniFormat);
        Settings.setValue("1.27/ConvertJobs", "many");
        Settings.setValue("1.27/NormalizeFactor", 50);
    }
    TConfig Bad;
    EXPECT_THROW(Bad.Load(), ERegistryError);
    EXPECT_EQ(Bad.ConvertJobs, 0);
    EXPECT_EQ(Bad.NormalizeFactor, 50) << "the other values still load";
}

TEST_F(SettingsTest, CopyTagsIsOnUntilTurnedOffAndABadValueIsReportedAndDefaulted) {
    TConfig Config;
    EXPECT_TRUE(Config.CopyTags);
    Config.CopyTags = false;
    Config.Save();
    {
        QSettings Settings(StoreFile(), QSettings::IniFormat);
        EXPECT_EQ(Settings.value("1.27/CopyTags").toString(), "0");
    }
    TConfig Loaded;
    Loaded.Load();
    EXPECT_FALSE(Loaded.CopyTags);
    TConfig Copy;
    Copy.Assign(Loaded);
    EXPECT_FALSE(Copy.CopyTags);

    {
        QSettings Settings(StoreFile(), QSettings::IniFormat);
        Settings.setValue("1.27/CopyTags", "sometimes");
        Settings.setValue("1.27/NormalizeFactor", 50);
    }
    TConfig Bad;
    Bad.CopyTags = false;
    try {
        Bad.Load();
        FAIL() << "no exception";
    } catch (const ERegistryError &E) {
        EXPECT_TRUE(E.message().contains("CopyTags")) << E.message().toStdString();
    }
    EXPECT_TRUE(Bad.CopyTags) << "the default";
    EXPECT_EQ(Bad.NormalizeFactor, 50) << "the other values still load";
}

TEST_F(SettingsTest, KeepFolderStructureIsOnUntilTurnedOffAndABadValueIsReportedAndDefaulted) {
    TConfig Config;
    EXPECT_TRUE(Config.KeepFolderStructure);
    Config.KeepFolderStructure = false;
    Config.Save();
    {
        QSettings Settings(StoreFile(), QSettings::IniFormat);
        EXPECT_EQ(Settings.value("1.27/KeepFolderStructure").toString(), "0");
    }
    TConfig Loaded;
    Loaded.Load();
    EXPECT_FALSE(Loaded.KeepFolderStructure);
    TConfig Copy;
    Copy.Assign(Loaded);
    EXPECT_FALSE(Copy.KeepFolderStructure);

    {
        QSettings Settings(StoreFile(), QSettings::IniFormat);
        Settings.setValue("1.27/KeepFolderStructure", "maybe");
        Settings.setValue("1.27/CopyTags", "0");
    }
    TConfig Bad;
    Bad.KeepFolderStructure = false;
    try {
        Bad.Load();
        FAIL() << "no exception";
    } catch (const ERegistryError &E) {
        EXPECT_TRUE(E.message().contains("KeepFolderStructure")) << E.message().toStdString();
        EXPECT_FALSE(E.message().contains("CopyTags")) << E.message().toStdString();
    }
    EXPECT_TRUE(Bad.KeepFolderStructure) << "the default";
    EXPECT_FALSE(Bad.CopyTags) << "the other values still load";
}
