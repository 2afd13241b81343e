#pragma once

#include <QString>
#include <QStringList>

// A shared library loaded at run time, released when the object goes. Names are given in
// the program's terms: "name.dll" stands for the platform's libname.so, which is looked
// for beside the running executable first and then on the system's library path; a name
// with a '/' is a path and is used as it is.
class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary() { Unload(); }
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;
    DynamicLibrary(DynamicLibrary &&Other) noexcept;
    DynamicLibrary &operator=(DynamicLibrary &&Other) noexcept;

    // Releases any library held, then loads Name. False when no candidate could be loaded;
    // ErrorText() then says why.
    bool Load(const QString &Name);
    void Unload();
    bool IsLoaded() const { return FHandle != nullptr; }
    // The exported symbol's address, or null when the library lacks it (or none is loaded).
    void *Symbol(const char *Name) const;
    const QString &ErrorText() const { return FErrorText; }

    // "xaudio.dll" -> "libxaudio.so"; any other name is returned unchanged.
    static QString PlatformFileName(const QString &Name);
    // What Load tries, in order: a path as it is; otherwise the platform file name beside
    // the executable, then the bare file name for the loader's own search.
    static QStringList Candidates(const QString &Name);

private:
    void *FHandle = nullptr;
    QString FErrorText;
};
