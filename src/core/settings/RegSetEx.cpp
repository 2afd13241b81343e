#include "settings/RegSetEx.h"

#include "platform/RegularFile.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <utility>

namespace {

ERegistryError InvalidDataType(const QString &Name) {
    return ERegistryError(QStringLiteral("Invalid data type for '%1'").arg(Name));
}

} // namespace

TRegSetEx::TRegSetEx() {
    const QString User = qEnvironmentVariable("USER");
    FCompanyName = User.isEmpty() ? QStringLiteral("Freeware") : User.toUpper();
    FProductName = QStringLiteral("You Product Name");
    BuildBasePath();
}

void TRegSetEx::SetRootKind(int32_t Kind) {
    FRootKind = Kind;
    BuildBasePath();
}

void TRegSetEx::SetCompanyName(const QString &Name) {
    FCompanyName = Name;
    BuildBasePath();
}

void TRegSetEx::SetProductName(const QString &Name) {
    FProductName = Name;
    BuildBasePath();
}

void TRegSetEx::SetUseCompanyKey(bool Flag) {
    FUseCompanyKey = Flag;
    BuildBasePath();
}

// The root kind takes effect when the store is opened (its scope); the path only names
// the levels below it.
void TRegSetEx::BuildBasePath() {
    FBasePath = QStringLiteral("SOFTWARE\\");
    if (FUseCompanyKey)
        FBasePath += FCompanyName + QLatin1Char('\\');
    FBasePath += FProductName + QLatin1Char('\\');
}

namespace {

QSettings::Scope ScopeOf(const TRegSetEx &Store) {
    return Store.RootKind() == 1 ? QSettings::UserScope : QSettings::SystemScope;
}

QString OrganizationOf(const TRegSetEx &Store) {
    return Store.UseCompanyKey() ? Store.CompanyName() : Store.ProductName();
}

// QSettings reads its file as soon as it is made, so the store's own file must be known
// (and checked) before: a store of names that exist nowhere gives the folder and extension.
QString StoreFileOf(const TRegSetEx &Store) {
    const QString Organization = QStringLiteral("brindle-store-probe-organization");
    const QString Product = QStringLiteral("brindle-store-probe-product");
    QString Name = QSettings(Store.Format(), ScopeOf(Store), Organization, Product).fileName();
    const qsizetype At = Name.lastIndexOf(Organization);
    if (At < 0)
        return Name;
    Name.replace(At, Organization.size(), OrganizationOf(Store));
    return Name.replace(Name.lastIndexOf(Product), Product.size(), Store.ProductName());
}

// Why the file at Path cannot be read, from what an open for reading says; empty when it
// can be, or when there is no such file.
QString OpenForReadingProblem(const QString &Path) {
    const int Fd = ::open(QFile::encodeName(Path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (Fd >= 0) {
        ::close(Fd);
        return QString();
    }
    return errno == ENOENT || errno == ENOTDIR ? QString()
                                               : QString::fromLocal8Bit(std::strerror(errno));
}

// Why the store file cannot be written, from what an open for writing says.
QString WriteProblem(const QString &Path) {
    if (!QFileInfo::exists(Path)) {
        const QString Folder = QFileInfo(Path).absolutePath();
        return QFileInfo(Folder).isDir()
                   ? QStringLiteral("the folder '%1' cannot be written").arg(Folder)
                   : QStringLiteral("the folder '%1' cannot be made").arg(Folder);
    }
    // Writing rewrites the whole file, so one that cannot be read is not replaced.
    if (const QString Why = OpenForReadingProblem(Path); !Why.isEmpty())
        return QStringLiteral("the file cannot be read (%1)").arg(Why);
    const int Fd = ::open(QFile::encodeName(Path).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (Fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    ::close(Fd);
    return QStringLiteral("the file or its folder cannot be written");
}

} // namespace

QString TRegSetEx::FileName() const {
    return StoreFileOf(*this);
}

void TRegSetEx::CheckStore() const {
    const QString Path = FileName();
    if (const QString Kind = NonRegularKindAt(Path); !Kind.isEmpty())
        throw ERegistryError(
            QStringLiteral("The settings file '%1' is %2, not a regular file").arg(Path, Kind));
}

QString TRegSetEx::ReadProblem() const {
    return OpenForReadingProblem(FileName());
}

std::unique_ptr<QSettings> TRegSetEx::OpenStore() const {
    // A named pipe would block the read, a device feed it without end.
    CheckStore();
    auto Settings =
        std::make_unique<QSettings>(Format(), ScopeOf(*this), OrganizationOf(*this), ProductName());
    // Only this one store counts: no fall-back to system-wide or organisation-wide files.
    Settings->setFallbacksEnabled(false);
    return Settings;
}

QSettings &TRegSetEx::Access(std::unique_ptr<QSettings> &Own) const {
    if (FUpdate)
        return *FUpdate;
    Own = OpenStore();
    return *Own;
}

void TRegSetEx::BeginUpdate() {
    FUpdate = OpenStore();
    FUpdateChanged = false;
}

void TRegSetEx::EndUpdate() {
    const std::unique_ptr<QSettings> Settings = std::move(FUpdate);
    if (Settings && std::exchange(FUpdateChanged, false))
        Sync(*Settings);
}

QVariant TRegSetEx::ReadValue(const QString &Section, const QString &Name) const {
    std::unique_ptr<QSettings> Own;
    QSettings &Settings = Access(Own);
    Settings.beginGroup(Section);
    const QVariant Value = Settings.value(Name);
    Settings.endGroup();
    return Value;
}

QString TRegSetEx::ReadString(const QString &Section, const QString &Name,
                              const QString &Default) const {
    const QVariant Value = ReadValue(Section, Name);
    if (!Value.isValid())
        return Default;
    // Anything else (a list from unquoted commas, a registry number) is not text.
    if (Value.typeId() != QMetaType::QString)
        throw InvalidDataType(Name);
    return Value.toString();
}

int32_t TRegSetEx::ReadInteger(const QString &Section, const QString &Name, int32_t Default) const {
    const QVariant Value = ReadValue(Section, Name);
    switch (Value.typeId()) {
    case QMetaType::UnknownType:
        return Default;
    // A number as written in this process, or a registry DWORD.
    case QMetaType::Int:
        return Value.toInt();
    case QMetaType::UInt:
        return int32_t(Value.toUInt());
    // Text files keep numbers as text: it must be a whole 32-bit decimal number.
    case QMetaType::QString: {
        bool Ok = false;
        const int32_t Number = Value.toString().toInt(&Ok, 10);
        if (!Ok)
            throw InvalidDataType(Name);
        return Number;
    }
    default:
        throw InvalidDataType(Name);
    }
}

QStringList TRegSetEx::ValueNames(const QString &Section) const {
    std::unique_ptr<QSettings> Own;
    QSettings &Settings = Access(Own);
    Settings.beginGroup(Section);
    const QStringList Names = Settings.childKeys();
    Settings.endGroup();
    return Names;
}

bool TRegSetEx::ReadBool(const QString &Section, const QString &Name, bool Default) const {
    return ReadInteger(Section, Name, Default ? 1 : 0) != 0;
}

void TRegSetEx::Sync(QSettings &Settings) {
    // QSettings writes a new file and renames it over the old one.
    Settings.sync();
    if (Settings.status() != QSettings::NoError) {
        const QString Path = Settings.fileName();
        throw ERegistryError(QStringLiteral("The settings could not be saved to '%1': %2")
                                 .arg(Path, WriteProblem(Path)));
    }
}

void TRegSetEx::WriteValue(const QString &Section, const QString &Name, const QVariant &Value) {
    std::unique_ptr<QSettings> Own;
    QSettings &Settings = Access(Own);
    Settings.beginGroup(Section);
    // A section exists once it holds something; a text store has no empty sections.
    const bool Exists = !Settings.childKeys().isEmpty() || !Settings.childGroups().isEmpty();
    if (FCreateKeys || Exists)
        Settings.setValue(Name, Value);
    Settings.endGroup();
    if (!FCreateKeys && !Exists)
        return;
    if (FUpdate)
        FUpdateChanged = true;
    else
        Sync(Settings);
}

void TRegSetEx::WriteString(const QString &Section, const QString &Name, const QString &Value) {
    WriteValue(Section, Name, Value);
}

void TRegSetEx::WriteInteger(const QString &Section, const QString &Name, int32_t Value) {
    WriteValue(Section, Name, int(Value));
}

void TRegSetEx::WriteBool(const QString &Section, const QString &Name, bool Value) {
    WriteValue(Section, Name, Value ? 1 : 0);
}
