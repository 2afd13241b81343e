#pragma once

// Album gain: the loudness of a folder's tracks taken as one programme. An album's loudness is
// not the mean of its tracks' loudnesses (the gates see every block of every track), so each
// track's gating blocks are kept until its folder is complete.

#include "app/FileParam.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

class TMailbox;

// The gating blocks of a measurement (400 ms, overlapping by 300 ms) by their loudness: a
// histogram of 0.01 LU bins from the absolute gate up, each with its count and the exact sum
// of its blocks' energies. Its size does not grow with the length of the audio.
class TLoudnessBlocks {
public:
    // One block by its loudness in LUFS; blocks under the absolute gate (-70 LUFS) count
    // for nothing and are not kept.
    void Add(double BlockLufs);
    void Merge(const TLoudnessBlocks &Other);
    // The gated loudness of every block added, in LUFS: -inf when no block passes the gates.
    double Integrated() const;
    uint64_t Count() const { return FBlocks; }

private:
    std::vector<uint32_t> FCount; // allocated at the first block
    std::vector<double> FEnergy;
    uint64_t FBlocks = 0;
};

// What a track's measurement leaves for its album.
struct TTrackLoudness {
    bool Measured = false;
    TLoudnessBlocks Blocks;
    double Peak = 0; // the largest true peak, linear
};

// A folder whose every job has ended: the album values and the outputs that take them.
struct TAlbum {
    QString Folder;
    QStringList Outputs;
    int LastJob = -1;
    // Every job of the folder converted and was measured; otherwise nothing is written.
    bool Whole = false;
    double Gain = 0;     // dB to the ReplayGain reference
    double Peak = 0;     // linear
    bool Silent = false; // no block passed the gates: no album values
};

// The folders of a batch (by the folder of each job's source) and what their converted
// tracks measured.
class TAlbums {
public:
    void Plan(const QList<TFileParam *> &Jobs);
    // Job's output is in place at Output; Track is what its measurement left.
    void Converted(int Job, const QString &Output, TTrackLoudness Track);
    // Job has ended, whatever became of it: the album of its folder when it was the last.
    std::optional<TAlbum> Ended(int Job);

private:
    struct TFolder {
        QString Path;
        int Pending = 0;
        int Converted = 0;
        int Jobs = 0;
        TLoudnessBlocks Blocks;
        double Peak = 0;
        QStringList Outputs;
    };
    std::vector<int> FFolderOf;
    std::vector<TFolder> FFolders;
};

// Writes the album values into every output of Album with Write (one file at a time,
// stopping between files on Stop); returns each output it could not tag, with the reason.
using TAlbumGainWriter = bool (*)(const QString &Path, double Gain, double Peak, QString &Why);
using TAlbumGainProblems = std::vector<std::pair<QString, QString>>;
TAlbumGainProblems WriteAlbumGain(const TAlbum &Album, TAlbumGainWriter Write,
                                  const std::atomic<bool> &Stop);

// The album passes of a batch: when the last job of a folder has ended, the folder's album
// values are written into its outputs on a worker thread, one folder at a time. Everything
// but the worker runs on the runner's thread.
class TAlbumPasses {
public:
    // Warn: a line for the error list about the batch's Job. Idle: the last pass has ended.
    using TWarn = std::function<void(int Job, const QString &Subject, const QString &Why)>;
    TAlbumPasses(TMailbox &Mailbox, const std::atomic<bool> &Stop, TWarn Warn,
                 std::function<void()> Idle);
    ~TAlbumPasses();
    TAlbumPasses(const TAlbumPasses &) = delete;
    TAlbumPasses &operator=(const TAlbumPasses &) = delete;

    // A new batch; Write null: no album gain for it.
    void Start(const QList<TFileParam *> &Jobs, TAlbumGainWriter Write);
    void Converted(int Job, const QString &Output, TTrackLoudness Track);
    // After an abort, folders that become complete get nothing; a pass under way stops
    // between files.
    void Ended(int Job, bool Aborted);
    bool Busy() const { return FRunning || !FQueue.empty(); }

private:
    void Next();

    TMailbox &FMailbox;
    const std::atomic<bool> &FStop;
    TWarn FWarn;
    std::function<void()> FIdle;
    TAlbumGainWriter FWrite = nullptr;
    TAlbums FAlbums;
    std::deque<TAlbum> FQueue;
    std::thread FWorker;
    bool FRunning = false;
};
