#include "conversion/AlbumGain.h"

#include "conversion/ConvJob.h"
#include "platform/Mailbox.h"

#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double AbsoluteGate = -70.0; // LUFS
constexpr double RelativeGate = -10.0; // LU below the loudness of the blocks over the absolute gate
constexpr double BinWidth = 0.01;      // LU
constexpr int Bins = 8000;             // up to +10 LUFS; louder blocks share the last bin

double EnergyOf(double Lufs) {
    return std::pow(10.0, (Lufs + 0.691) / 10.0);
}

double LufsOf(double Energy) {
    return Energy > 0 ? -0.691 + 10.0 * std::log10(Energy)
                      : -std::numeric_limits<double>::infinity();
}

int BinOf(double Lufs) {
    return std::clamp(int(std::floor((Lufs - AbsoluteGate) / BinWidth)), 0, Bins - 1);
}

} // namespace

void TLoudnessBlocks::Add(double BlockLufs) {
    if (!(BlockLufs >= AbsoluteGate))
        return;
    if (FCount.empty()) {
        FCount.assign(Bins, 0);
        FEnergy.assign(Bins, 0.0);
    }
    const int bin = BinOf(BlockLufs);
    ++FCount[size_t(bin)];
    FEnergy[size_t(bin)] += EnergyOf(BlockLufs);
    ++FBlocks;
}

void TLoudnessBlocks::Merge(const TLoudnessBlocks &Other) {
    if (Other.FBlocks == 0)
        return;
    if (FCount.empty()) {
        *this = Other;
        return;
    }
    for (size_t i = 0; i < FCount.size(); ++i) {
        FCount[i] += Other.FCount[i];
        FEnergy[i] += Other.FEnergy[i];
    }
    FBlocks += Other.FBlocks;
}

double TLoudnessBlocks::Integrated() const {
    if (FBlocks == 0)
        return -std::numeric_limits<double>::infinity();
    double sum = 0;
    for (const double energy : FEnergy)
        sum += energy;
    const double gateEnergy = sum / double(FBlocks) * std::pow(10.0, RelativeGate / 10.0);
    const int gateBin = BinOf(LufsOf(gateEnergy));
    double kept = 0;
    uint64_t count = 0;
    for (int i = gateBin; i < Bins; ++i) {
        const uint32_t n = FCount[size_t(i)];
        if (n == 0)
            continue;
        // The bin the gate falls into is judged by the mean of its blocks.
        if (i == gateBin && FEnergy[size_t(i)] / n < gateEnergy)
            continue;
        kept += FEnergy[size_t(i)];
        count += n;
    }
    return count > 0 ? LufsOf(kept / double(count)) : -std::numeric_limits<double>::infinity();
}

void TAlbums::Plan(const QList<TFileParam *> &Jobs) {
    FFolderOf.assign(size_t(Jobs.size()), -1);
    FFolders.clear();
    QHash<QString, int> index;
    for (qsizetype i = 0; i < Jobs.size(); ++i) {
        const QString folder = QFileInfo(Jobs.at(i)->SourcePath).absolutePath();
        auto found = index.find(folder);
        if (found == index.end()) {
            found = index.insert(folder, int(FFolders.size()));
            FFolders.push_back({});
            FFolders.back().Path = folder;
        }
        FFolderOf[size_t(i)] = *found;
        ++FFolders[size_t(*found)].Pending;
        ++FFolders[size_t(*found)].Jobs;
    }
}

void TAlbums::Converted(int Job, const QString &Output, TTrackLoudness Track) {
    if (Job < 0 || Job >= int(FFolderOf.size()) || !Track.Measured)
        return;
    TFolder &folder = FFolders[size_t(FFolderOf[size_t(Job)])];
    ++folder.Converted;
    // Silence has no loudness: it takes no album values, as it takes no track values.
    if (Track.Blocks.Count() == 0)
        return;
    folder.Blocks.Merge(Track.Blocks);
    folder.Peak = std::max(folder.Peak, Track.Peak);
    folder.Outputs.append(Output);
}

std::optional<TAlbum> TAlbums::Ended(int Job) {
    if (Job < 0 || Job >= int(FFolderOf.size()))
        return std::nullopt;
    TFolder &folder = FFolders[size_t(FFolderOf[size_t(Job)])];
    if (--folder.Pending != 0)
        return std::nullopt;
    TAlbum album;
    album.Folder = folder.Path;
    album.Outputs = std::move(folder.Outputs);
    album.LastJob = Job;
    album.Whole = folder.Converted == folder.Jobs;
    const double loudness = folder.Blocks.Integrated();
    album.Silent = !std::isfinite(loudness);
    album.Gain = album.Silent ? 0 : ReplayGainReference - loudness;
    album.Peak = folder.Peak;
    folder.Blocks = {};
    return album;
}

TAlbumGainProblems WriteAlbumGain(const TAlbum &Album, TAlbumGainWriter Write,
                                  const std::atomic<bool> &Stop) {
    TAlbumGainProblems problems;
    for (const QString &output : Album.Outputs) {
        if (Stop)
            break;
        QString why;
        if (!Write(output, Album.Gain, Album.Peak, why))
            problems.emplace_back(output,
                                  QStringLiteral("The album gain tags were not written: ") +
                                      (why.isEmpty() ? QStringLiteral("unknown error") : why));
    }
    return problems;
}

TAlbumPasses::TAlbumPasses(TMailbox &Mailbox, const std::atomic<bool> &Stop, TWarn Warn,
                           std::function<void()> Idle)
    : FMailbox(Mailbox), FStop(Stop), FWarn(std::move(Warn)), FIdle(std::move(Idle)) {}

TAlbumPasses::~TAlbumPasses() {
    // The owner has set Stop: the pass ends after the file it is writing.
    if (FWorker.joinable())
        FWorker.join();
}

void TAlbumPasses::Start(const QList<TFileParam *> &Jobs, TAlbumGainWriter Write) {
    FWrite = Write;
    FQueue.clear();
    FAlbums = {};
    if (FWrite)
        FAlbums.Plan(Jobs);
}

void TAlbumPasses::Converted(int Job, const QString &Output, TTrackLoudness Track) {
    if (FWrite)
        FAlbums.Converted(Job, Output, std::move(Track));
}

void TAlbumPasses::Ended(int Job, bool Aborted) {
    if (!FWrite)
        return;
    std::optional<TAlbum> album = FAlbums.Ended(Job);
    if (!album || Aborted || album->Silent)
        return;
    if (!album->Whole) {
        // Values from some of its tracks would misstate the album's loudness.
        FWarn(album->LastJob, album->Folder,
              QStringLiteral("No album gain was written for this folder: not every file of it "
                             "was converted and measured."));
        return;
    }
    FQueue.push_back(std::move(*album));
    Next();
}

void TAlbumPasses::Next() {
    if (FRunning || FQueue.empty())
        return;
    FRunning = true;
    FWorker = std::thread([this, album = std::move(FQueue.front())] {
        TAlbumGainProblems problems = WriteAlbumGain(album, FWrite, FStop);
        FMailbox.Post([this, problems = std::move(problems), job = album.LastJob] {
            FWorker.join();
            FRunning = false;
            for (const auto &[output, why] : problems)
                FWarn(job, output, why);
            Next();
            if (!Busy())
                FIdle();
        });
    });
    FQueue.pop_front();
}
