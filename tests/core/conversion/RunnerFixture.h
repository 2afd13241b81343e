#pragma once

// The conversion runner's test bench: a scripted IConvQuestions, WAV helpers, a file-size
// limit that acts as a full disk, and the fixture that runs every batch test with one job
// and with several at once.

#include "conversion/ConvRunner.h"
#include "conversion/Normalize.h"
#include "inspect/MP3WavComm.h"
#include "platform/ModalResults.h"
#include "settings/Config.h"
#include "sources/SoundFile.h"
#include "support/FileSizeLimit.h"
#include "support/TestMedia.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <sys/resource.h>
#include <unistd.h>

namespace runnertest {

using namespace testmedia;

// Answers the runner's questions from queues and records what it was told.
class Questions : public IConvQuestions {
public:
    std::deque<int> OverwriteAnswers;
    bool RefusalGoesOn = true;
    QStringList Overwrites, Refusals, Errors, Messages, Notes, Warnings;
    // Called at every progress report above 0, to act in the middle of a job.
    std::function<void()> OnProgress;

    // Questions shown as a modal window would be: their own event loop runs meanwhile.
    bool Modal = false;
    int Depth = 0, MaxDepth = 0;

    void Showing() {
        MaxDepth = std::max(MaxDepth, ++Depth);
        if (Modal) {
            QEventLoop loop;
            QTimer::singleShot(30, &loop, &QEventLoop::quit);
            loop.exec();
        }
        --Depth;
    }

    std::function<void(const QString &)> OnOverwrite;
    std::function<void()> OnRefusal;

    int ConfirmOverwrite(const QString &Dest) override {
        Overwrites << Dest;
        if (OnOverwrite)
            OnOverwrite(Dest);
        Showing();
        if (OverwriteAnswers.empty())
            return mrCancel;
        const int answer = OverwriteAnswers.front();
        OverwriteAnswers.pop_front();
        return answer;
    }
    bool ConfirmRefusal(const QString &Source) override {
        Refusals << Source;
        if (OnRefusal)
            OnRefusal();
        Showing();
        return RefusalGoesOn;
    }
    void ShowError(const QString &Text) override {
        Errors << Text;
        Showing();
    }
    void AddMessage(const QString &Text) override { Messages << Text; }
    void AddNote(const QString &Text) override { Notes << Text; }
    void ClearMessages() override { Messages.clear(); }
    void Warn(const QString &Source, const QString &Why) override {
        Warnings << Source + ": " + Why;
    }
};

inline std::vector<int16_t> WavSamples(const QString &Path) {
    TWaveFileInfo info;
    if (!ReadWaveFileInfo(Path, info))
        return {};
    const QByteArray bytes = ReadFile(Path).mid(int(info.DataOffset), int(info.DataLength));
    std::vector<int16_t> samples(size_t(bytes.size() / 2));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * 2);
    return samples;
}

inline QByteArray SamplesWav(const std::vector<int16_t> &Samples, int Channels = 1) {
    QByteArray data(reinterpret_cast<const char *>(Samples.data()), int(Samples.size() * 2));
    return WavHeader(Channels, 44100, 16, quint32(data.size())) + data;
}

// Every batch test runs file after file and with several files at once: the results must
// be the same.
class ConvRunnerTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        config.OverwritePrompt = true;
        config.FNormalizeVolume = false;
        config.DeleteOriginalFile = false;
        config.ConvertJobs = GetParam();
    }

    QString path(const QString &Name) const { return dir.filePath(Name); }

    // Encodes the listed sources (to make MPEG input for a decode batch), then forgets them.
    void EncodeAndForget() {
        TConvRunner encoder(config, questions);
        Run(encoder);
        records.clear();
    }

    // Aborts the batch at its first progress report and answers the abort question.
    void AbortAtFirstProgress(TConvRunner &Runner, bool DeleteConverted) {
        questions.OnProgress = [&Runner, DeleteConverted] {
            if (Runner.Aborted())
                return;
            Runner.Abort();
            Runner.AnswerAbort(DeleteConverted);
        };
    }

    // A job for Source with its output in the same folder.
    TFileParam &AddJob(const QString &Source, const QString &Ext) {
        auto job = std::make_unique<TFileParam>();
        job->SourcePath = path(Source);
        job->FileName = Source;
        job->DestPath =
            QFileInfo(job->SourcePath).path() + '/' + QFileInfo(Source).completeBaseName() + Ext;
        if (Ext == QLatin1String(".MP3")) {
            ReadWaveFileInfo(job->SourcePath, job->WaveData);
            job->Kind = fkWave;
            // Other PCM sources are listed through libsndfile, as the WAV list does.
            if (!job->WaveData.Valid && IsSoundFileName(Source) &&
                ReadSoundFileInfo(job->SourcePath, job->SoundData))
                job->Kind = fkAudio;
        } else {
            job->Kind = fkMpeg;
        }
        records.push_back(std::move(job));
        return *records.back();
    }

    // Runs the batch to its end (or until the runner is idle after an abort).
    void Run(TConvRunner &Runner) {
        QList<TFileParam *> jobs;
        for (auto &job : records)
            jobs << job.get();
        Runner.SetJobs(jobs);
        QEventLoop loop;
        QObject::connect(&Runner, &TConvRunner::BatchEnded, &loop, &QEventLoop::quit,
                         Qt::QueuedConnection);
        QObject::connect(&Runner, &TConvRunner::Idle, &loop, &QEventLoop::quit,
                         Qt::QueuedConnection);
        QObject::connect(&Runner, &TConvRunner::ProgressChanged, [&](int Percent) {
            if (Percent > 0 && questions.OnProgress)
                questions.OnProgress();
        });
        QTimer::singleShot(60000, &loop, [&] {
            ADD_FAILURE() << "the batch did not end";
            loop.quit();
        });
        QTimer::singleShot(0, &Runner, [&] { Runner.Start(); });
        loop.exec();
    }

    QTemporaryDir dir;
    TConfig config;
    Questions questions;
    std::vector<std::unique_ptr<TFileParam>> records;
};

inline std::vector<int16_t> CopySamples(const QString &Path) {
    return WavSamples(Path);
}

inline int HiddenFiles(const QString &Folder) {
    return int(QDir(Folder).entryList(QDir::Files | QDir::Hidden).filter(".brindle-").size());
}

} // namespace runnertest
