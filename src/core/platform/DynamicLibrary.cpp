#include "platform/DynamicLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dlfcn.h>
#include <utility>

namespace {

QString ExecutableDir() {
    if (QCoreApplication::instance() != nullptr)
        return QCoreApplication::applicationDirPath();
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    return exe.isEmpty() ? QString() : QFileInfo(exe).absolutePath();
}

} // namespace

DynamicLibrary::DynamicLibrary(DynamicLibrary &&Other) noexcept
    : FHandle(std::exchange(Other.FHandle, nullptr)), FErrorText(std::move(Other.FErrorText)) {}

DynamicLibrary &DynamicLibrary::operator=(DynamicLibrary &&Other) noexcept {
    if (this != &Other) {
        Unload();
        FHandle = std::exchange(Other.FHandle, nullptr);
        FErrorText = std::move(Other.FErrorText);
    }
    return *this;
}

QString DynamicLibrary::PlatformFileName(const QString &Name) {
    if (Name.contains(u'/') || !Name.endsWith(QLatin1String(".dll"), Qt::CaseInsensitive))
        return Name;
    return QStringLiteral("lib") + Name.chopped(4) + QStringLiteral(".so");
}

QStringList DynamicLibrary::Candidates(const QString &Name) {
    if (Name.contains(u'/'))
        return {Name};
    const QString fileName = PlatformFileName(Name);
    QStringList result;
    const QString dir = ExecutableDir();
    if (!dir.isEmpty())
        result << QDir(dir).filePath(fileName);
    result << fileName;
    return result;
}

bool DynamicLibrary::Load(const QString &Name) {
    Unload();
    FErrorText.clear();
    if (Name.isEmpty()) {
        FErrorText = QStringLiteral("no library name given");
        return false;
    }
    const QStringList candidates = Candidates(Name);
    QStringList errors;
    for (const QString &candidate : candidates) {
        // Most installs have no copy beside the executable; the loader's search comes next.
        const bool besideExecutable = candidates.size() > 1 && candidate != candidates.last();
        if (besideExecutable && !QFileInfo::exists(candidate))
            continue;
        FHandle = dlopen(QFile::encodeName(candidate).constData(), RTLD_NOW | RTLD_LOCAL);
        if (FHandle != nullptr)
            return true;
        const char *error = dlerror();
        errors << (error != nullptr ? QString::fromLocal8Bit(error) : candidate);
    }
    FErrorText = errors.join(QStringLiteral("; "));
    return false;
}

void DynamicLibrary::Unload() {
    if (FHandle != nullptr)
        dlclose(std::exchange(FHandle, nullptr));
}

void *DynamicLibrary::Symbol(const char *Name) const {
    return FHandle != nullptr ? dlsym(FHandle, Name) : nullptr;
}
