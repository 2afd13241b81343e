#include "settings/RegSetEx.h"

#include <memory>

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

std::unique_ptr<QSettings> OpenStore(const TRegSetEx &Store) {
    const QSettings::Scope Scope =
        Store.RootKind() == 1 ? QSettings::UserScope : QSettings::SystemScope;
    const QString Organization = Store.UseCompanyKey() ? Store.CompanyName() : Store.ProductName();
    auto Settings =
        std::make_unique<QSettings>(Store.Format(), Scope, Organization, Store.ProductName());
    // Only this one store counts: no fall-back to system-wide or organisation-wide files.
    Settings->setFallbacksEnabled(false);
    return Settings;
}

} // namespace

QString TRegSetEx::FileName() const {
    return OpenStore(*this)->fileName();
}

QVariant TRegSetEx::ReadValue(const QString &Section, const QString &Name) const {
    const auto Settings = OpenStore(*this);
    Settings->beginGroup(Section);
    return Settings->value(Name);
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

bool TRegSetEx::ReadBool(const QString &Section, const QString &Name, bool Default) const {
    return ReadInteger(Section, Name, Default ? 1 : 0) != 0;
}

void TRegSetEx::WriteValue(const QString &Section, const QString &Name, const QVariant &Value) {
    const auto Settings = OpenStore(*this);
    Settings->beginGroup(Section);
    // A section exists once it holds something; a text store has no empty sections.
    if (!FCreateKeys && Settings->childKeys().isEmpty() && Settings->childGroups().isEmpty())
        return;
    Settings->setValue(Name, Value);
    // A store that cannot be written sets an error status here, which nobody reports.
    Settings->sync();
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
