#include "conversion/ReportQueue.h"

void TReportQueue::Reset(int Jobs) {
    FWaiting.clear();
    FEnded.assign(size_t(Jobs), false);
    FSpoken.assign(size_t(Jobs), false);
    FReleased = 0;
}

void TReportQueue::Add(int Job, TReport::TKind Kind, const QString &Text, const QString &Why) {
    if (Job >= 0 && Job < int(FSpoken.size()))
        FSpoken[size_t(Job)] = true;
    // Said after the job's lines were handed on (its folder's album pass): no need to wait.
    if (Job >= 0 && Job < FReleased) {
        FDeliver(Job, {Kind, Text, Why});
        return;
    }
    FWaiting[Job].push_back({Kind, Text, Why});
}

bool TReportQueue::Spoken(int Job) const {
    return Job >= 0 && Job < int(FSpoken.size()) && FSpoken[size_t(Job)];
}

void TReportQueue::Ended(int Job) {
    if (Job >= 0 && Job < int(FEnded.size()))
        FEnded[size_t(Job)] = true;
    Release(false);
}

void TReportQueue::Release(bool All) {
    const int jobs = int(FEnded.size());
    while (FReleased < jobs && (All || FEnded[size_t(FReleased)])) {
        const int job = FReleased++;
        const auto waiting = FWaiting.find(job);
        if (waiting == FWaiting.end())
            continue;
        // Taken out first: a line handed on may lead to more being said.
        const std::vector<TReport> reports = std::move(waiting->second);
        FWaiting.erase(waiting);
        for (const TReport &report : reports)
            FDeliver(job, report);
    }
}
