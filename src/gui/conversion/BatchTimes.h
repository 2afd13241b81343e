#pragma once

#include <QList>
#include <QString>

struct TFileParam;

// Seconds of audio in a job's source, as exactly as its listing tells them; 0 when unknown.
double JobSeconds(const TFileParam &Job);

// Elapsed and remaining time and speed of a batch, from the audio seconds done rather than
// the file count: a batch of one long file and many short ones is not nearly done when the
// short ones are. Jobs report the share of their whole work done; a job that ends without
// being converted (failed, skipped, aborted) takes nothing more from the remaining time.
class TBatchTimes {
public:
    // The audio seconds of each job of the batch, in list order. When no job's length is
    // known, every job weighs the same.
    void Start(const QList<double> &Seconds);
    // The job at Index has done Percent (0..100) of its work; never goes backwards.
    void Progress(int Index, int Percent);
    // The job at Index has ended: Converted counts it whole.
    void Ended(int Index, bool Converted);

    double TotalSeconds() const;
    // Audio seconds converted so far, the parts of running jobs included.
    double DoneSeconds() const;
    // Audio seconds still to convert (ended jobs have none).
    double LeftSeconds() const;
    // Share of the batch's audio done, 0..1.
    double Fraction() const;

    // Audio seconds converted per second of Elapsed (seconds); 0 while nothing is done.
    double Speed(double Elapsed) const;
    // Seconds until the end at the speed so far; negative while that cannot be told.
    double Remaining(double Elapsed) const;

    // "Elapsed 0:12   Remaining 0:40   Speed 2.3x real time", with "--" for what is not
    // known yet.
    QString Line(double Elapsed) const;
    // m:ss, or h:mm:ss from an hour on.
    static QString TimeText(double Seconds);

private:
    struct TJob {
        double Seconds = 0;
        double Fraction = 0;
        bool Ended = false;
    };
    QList<TJob> FJobs;
};
