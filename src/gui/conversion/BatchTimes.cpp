#include "conversion/BatchTimes.h"

#include "app/FileParam.h"

#include <algorithm>
#include <cmath>

double JobSeconds(const TFileParam &Job) {
    switch (Job.Kind) {
    case fkWave:
        if (Job.WaveData.Header.SampleRate > 0 && Job.WaveData.Frames() > 0)
            return double(Job.WaveData.Frames()) / Job.WaveData.Header.SampleRate;
        break;
    case fkAudio:
        if (Job.SoundData.Duration > 0)
            return Job.SoundData.Duration;
        break;
    default:
        break;
    }
    return std::max(0, Job.Duration);
}

void TBatchTimes::Start(const QList<double> &Seconds) {
    FJobs.clear();
    const bool known = std::any_of(Seconds.begin(), Seconds.end(), [](double S) { return S > 0; });
    for (double s : Seconds)
        FJobs.append({known ? std::max(0.0, s) : 1.0, 0, false});
}

void TBatchTimes::Progress(int Index, int Percent) {
    if (Index < 0 || Index >= FJobs.size() || FJobs[Index].Ended)
        return;
    TJob &job = FJobs[Index];
    job.Fraction = std::max(job.Fraction, std::clamp(Percent, 0, 100) / 100.0);
}

void TBatchTimes::Ended(int Index, bool Converted) {
    if (Index < 0 || Index >= FJobs.size())
        return;
    FJobs[Index].Ended = true;
    if (Converted)
        FJobs[Index].Fraction = 1;
}

double TBatchTimes::TotalSeconds() const {
    double total = 0;
    for (const TJob &job : FJobs)
        total += job.Seconds;
    return total;
}

double TBatchTimes::DoneSeconds() const {
    double done = 0;
    for (const TJob &job : FJobs)
        done += job.Seconds * job.Fraction;
    return done;
}

double TBatchTimes::LeftSeconds() const {
    double left = 0;
    for (const TJob &job : FJobs)
        if (!job.Ended)
            left += job.Seconds * (1 - job.Fraction);
    return left;
}

double TBatchTimes::Fraction() const {
    const double left = LeftSeconds();
    const double done = DoneSeconds();
    // What ended unconverted is out of the batch: the rest decides how far it has come.
    return done + left > 0 ? done / (done + left) : (FJobs.isEmpty() ? 0 : 1);
}

double TBatchTimes::Speed(double Elapsed) const {
    return Elapsed > 0 ? DoneSeconds() / Elapsed : 0;
}

double TBatchTimes::Remaining(double Elapsed) const {
    const double left = LeftSeconds();
    if (left <= 0)
        return 0;
    const double speed = Speed(Elapsed);
    return speed > 0 ? left / speed : -1;
}

QString TBatchTimes::TimeText(double Seconds) {
    const qint64 s = qint64(std::llround(std::max(0.0, Seconds)));
    if (s >= 3600)
        return QStringLiteral("%1:%2:%3")
            .arg(s / 3600)
            .arg(s / 60 % 60, 2, 10, QLatin1Char('0'))
            .arg(s % 60, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QString TBatchTimes::Line(double Elapsed) const {
    const QString unknown = QStringLiteral("--");
    const double remaining = Remaining(Elapsed);
    const double speed = Speed(Elapsed);
    return QStringLiteral("Elapsed %1   Remaining %2   Speed %3")
        .arg(TimeText(Elapsed), remaining >= 0 ? TimeText(remaining) : unknown,
             speed > 0 ? QStringLiteral("%1x real time").arg(speed, 0, 'f', 1) : unknown);
}
