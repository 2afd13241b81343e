#pragma once

#include <QString>

#include <functional>
#include <map>
#include <vector>

// What the jobs of a batch have to say in the error list, handed on in list order however
// the jobs overlapped: a job's lines wait until every job before it has ended, so the list
// reads as a one-at-a-time run would give it.
class TReportQueue {
public:
    struct TReport {
        enum TKind { Message, Note, Warning, Skip } Kind;
        QString Text;
        QString Why;
    };
    // Receives the lines of one job at a time, in list order.
    using TDeliver = std::function<void(int Job, const TReport &Report)>;

    explicit TReportQueue(TDeliver Deliver) : FDeliver(std::move(Deliver)) {}

    // A new batch of Jobs jobs, nothing said yet.
    void Reset(int Jobs);
    // A line about a job whose lines were already handed on goes at once.
    void Add(int Job, TReport::TKind Kind, const QString &Text, const QString &Why = QString());
    // Whether anything was said about Job in this batch, handed on or not.
    bool Spoken(int Job) const;
    // Job has ended: its lines go once every job before it has ended too.
    void Ended(int Job);
    // Hands on everything still waiting (the batch is over).
    void ReleaseAll() { Release(true); }

private:
    void Release(bool All);

    TDeliver FDeliver;
    std::map<int, std::vector<TReport>> FWaiting;
    std::vector<bool> FEnded;
    std::vector<bool> FSpoken;
    int FReleased = 0;
};
