#pragma once

#include <QFile>
#include <QString>

// The hidden partial files this process is writing, so that SIGINT, SIGTERM and SIGHUP
// remove them before the process ends. The registry is a fixed table of byte paths that
// the signal handler reads without allocating or locking; a file is registered once it is
// created and locked, and unregistered only after it has been renamed into place or
// removed, so that the handler never unlinks anything but our own hidden names.

// Installs the handlers: each removes every registered file and then ends the process by
// the same signal, with its default action. A signal that is ignored (nohup) stays ignored.
void InstallPartialFileCleanup();

// Adds Path; returns its slot, or -1 when the path does not fit or the table is full (the
// file is then left to the sweep of a later run, as after SIGKILL).
int RegisterPartialFile(const char *Path);

// Drops the slot returned by RegisterPartialFile; -1 is ignored. A handler already
// removing that file finishes with it undisturbed.
void UnregisterPartialFile(int Slot);

// Files registered now.
int RegisteredPartialFileCount();

// A file opened on a duplicate of a descriptor of ours (or by name, as any QFile), whose
// messages still name the file: a partial file is written only through its descriptor,
// never opened again by name.
class TDescriptorFile : public QFile {
public:
    explicit TDescriptorFile(const QString &Name) : QFile(Name), FName(Name) {}
    QString fileName() const override { return FName; }
    // Opens a duplicate of Handle (a file open for writing) for writing, from its start and
    // emptied. False, with errno set, when it cannot.
    bool OpenForWriting(int Handle);

private:
    QString FName;
};
