#pragma once

#include "platform/Exception.h"

#include <QSettings>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>

// A stored value whose type is not the one asked for.
class ERegistryError : public Exception {
public:
    using Exception::Exception;
};

// Maps (section, value name) pairs onto a per-product settings store: QSettings in native
// format, organisation = company name (product name when the use-company flag is off),
// application = product name, group = section. On Linux that is the file
// $XDG_CONFIG_HOME/<company>/<product>.conf; on Windows the registry key BasePath + section.
// Every read and write opens the store, accesses one value and closes it again, unless an
// update keeps it open (BeginUpdate).
class TRegSetEx {
public:
    TRegSetEx();

    // 1 = the current user (QSettings::UserScope); any other value = the whole system.
    int32_t RootKind() const { return FRootKind; }
    void SetRootKind(int32_t Kind);
    QString CompanyName() const { return FCompanyName; }
    void SetCompanyName(const QString &Name);
    QString ProductName() const { return FProductName; }
    void SetProductName(const QString &Name);
    // Writes may create a store file or section that does not exist yet.
    bool CreateKeys() const { return FCreateKeys; }
    void SetCreateKeys(bool Flag) { FCreateKeys = Flag; }
    bool UseCompanyKey() const { return FUseCompanyKey; }
    void SetUseCompanyKey(bool Flag);
    // The identifying key path, "SOFTWARE\<company>\<product>\" with the trailing backslash.
    QString BasePath() const { return FBasePath; }

    // NativeFormat unless a caller picks another, such as a format registered by a test.
    QSettings::Format Format() const { return FFormat; }
    void SetFormat(QSettings::Format Format) { FFormat = Format; }
    // The file (or registry path) that holds the values.
    QString FileName() const;

    // The stored value, or Default when the store or the value does not exist. A value of
    // another type throws ERegistryError "Invalid data type for '<Name>'".
    QString ReadString(const QString &Section, const QString &Name, const QString &Default) const;
    int32_t ReadInteger(const QString &Section, const QString &Name, int32_t Default) const;
    // Reads a number: any non-zero number is true.
    bool ReadBool(const QString &Section, const QString &Name, bool Default) const;
    // The names of the values stored in Section; none when it does not exist.
    QStringList ValueNames(const QString &Section) const;

    // Throws ERegistryError when the store's file exists but is not a regular file (a named
    // pipe, a device, a folder, also behind a symbolic link); every read and write checks
    // (in an update, BeginUpdate does).
    void CheckStore() const;

    // Why the store's file cannot be read ("Permission denied"); empty when it can, or when
    // there is no file yet.
    QString ReadProblem() const;

    // Keeps one store open until EndUpdate: the reads and writes in between read the file
    // once, and EndUpdate writes it once (a new file renamed over the old one), throwing
    // ERegistryError as a write would. Every value then costs one pass over the file in all
    // rather than one each.
    void BeginUpdate();
    void EndUpdate();

    // Store the value (booleans as 0 or 1). A store that cannot be written throws
    // ERegistryError naming the file and the reason.
    void WriteString(const QString &Section, const QString &Name, const QString &Value);
    void WriteInteger(const QString &Section, const QString &Name, int32_t Value);
    void WriteBool(const QString &Section, const QString &Name, bool Value);

private:
    void BuildBasePath();
    std::unique_ptr<QSettings> OpenStore() const;
    // The store of the update in progress, or one opened for this access only (kept in Own).
    QSettings &Access(std::unique_ptr<QSettings> &Own) const;
    static void Sync(QSettings &Settings);
    QVariant ReadValue(const QString &Section, const QString &Name) const;
    void WriteValue(const QString &Section, const QString &Name, const QVariant &Value);

    int32_t FRootKind = 0;
    QString FCompanyName;
    QString FProductName;
    bool FCreateKeys = true;
    bool FUseCompanyKey = true;
    QString FBasePath;
    QSettings::Format FFormat = QSettings::NativeFormat;
    std::unique_ptr<QSettings> FUpdate;
    bool FUpdateChanged = false;
};
