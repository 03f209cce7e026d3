#include "confirm/ConfirmQueue.h"

#include <algorithm>

namespace orvel::confirm {

struct ConfirmQueue::Job
{
    Request Asked;
    Settings With;
    std::string Country;
    uint64_t Seq = 0; // the order of submission, in which each country's jobs go
    std::promise<Answer> Promise;
    Answer Result;
    int Tries = 0;
    Clock::time_point Start{};     // of the first try that counted
    Clock::time_point NotBefore{}; // the pause after a transient fault
};

ConfirmQueue::ConfirmQueue(const std::string& journalPath, int threads, PacingPolicy policy) : FPacer(policy)
{
    try {
        FJournal = std::make_unique<Journal>(journalPath);
    } catch (const JournalError& error) {
        FJournalFault = error.what();
    }
    for (int i = 0; i < std::max(1, threads); ++i)
        FAskers.emplace_back([this] { Ask(); });
    FWriter = std::thread([this] { Write(); });
}

ConfirmQueue::~ConfirmQueue()
{
    Close();
}

size_t ConfirmQueue::Close()
{
    if (FClosed)
        return FDone;
    FClosed = true;
    {
        const std::lock_guard lock(FLock);
        FStopping = true;
        CancelWaiting();
    }
    FWork.notify_all();
    for (std::thread& asker : FAskers)
        asker.join();
    {
        const std::lock_guard lock(FLock);
        FAskersGone = true;
    }
    FWritten.notify_all();
    FWriter.join();
    return FDone;
}

std::shared_future<Answer> ConfirmQueue::Submit(Request request, Settings settings)
{
    CheckCompanyType(request);
    auto job = std::make_shared<Job>();
    std::shared_future<Answer> future = job->Promise.get_future().share();
    if (!FJournal) {
        // Nothing is asked that could not be proven.
        job->Promise.set_exception(std::make_exception_ptr(JournalError(FJournalFault)));
        return future;
    }
    job->Country = NormalizeId(request.ForeignId).substr(0, 2);
    std::optional<Answer> given = AnsweredWithoutAsking(request, settings);
    job->Asked = std::move(request);
    job->With = std::move(settings);
    const std::lock_guard lock(FLock);
    if (FStopping) {
        job->Promise.set_exception(std::make_exception_ptr(Cancelled("abgebrochen, nicht gesendet")));
        return future;
    }
    if (given) {
        job->Result = std::move(*given);
        FToWrite.emplace_back(RecordOf(job->Asked, job->Result), job);
        FWritten.notify_one();
        return future;
    }
    job->Seq = FSubmitted++;
    FWaiting[job->Country].push_back(std::move(job));
    FWork.notify_one();
    return future;
}

void ConfirmQueue::Cancel()
{
    const std::lock_guard lock(FLock);
    CancelWaiting();
}

void ConfirmQueue::CancelWaiting()
{
    for (auto& [country, jobs] : FWaiting) {
        for (const std::shared_ptr<Job>& job : jobs)
            job->Promise.set_exception(std::make_exception_ptr(Cancelled("abgebrochen, nicht gesendet")));
        jobs.clear();
    }
}

ConfirmQueue::Progress ConfirmQueue::Snapshot() const
{
    const std::lock_guard lock(FLock);
    Progress progress{FDone, FRefused, {}};
    for (const auto& [country, jobs] : FWaiting) {
        const Pacer::Country state = FPacer.StateOf(country);
        progress.Countries.push_back({country, state.InFlight, state.Limit, jobs.size()});
    }
    return progress;
}

std::shared_ptr<ConfirmQueue::Job> ConfirmQueue::Take(Clock::time_point& wake)
{
    const Clock::time_point now = Clock::now();
    std::deque<std::shared_ptr<Job>>* from = nullptr;
    std::deque<std::shared_ptr<Job>>::iterator best;
    for (auto& [country, jobs] : FWaiting) {
        if (jobs.empty() || !FPacer.MayEnter(country))
            continue;
        for (auto job = jobs.begin(); job != jobs.end(); ++job) {
            if ((*job)->NotBefore > now) {
                wake = std::min(wake, (*job)->NotBefore);
                continue;
            }
            // The oldest row first, whatever its country: the output waits for it.
            if (!from || (*job)->Seq < (*best)->Seq) {
                from = &jobs;
                best = job;
            }
            break;
        }
    }
    if (!from)
        return nullptr;
    std::shared_ptr<Job> job = std::move(*best);
    from->erase(best);
    return job;
}

void ConfirmQueue::Ask()
{
    std::unique_lock lock(FLock);
    for (;;) {
        Clock::time_point wake = Clock::time_point::max();
        const std::shared_ptr<Job> job = Take(wake);
        if (!job) {
            if (FStopping)
                return;
            if (wake == Clock::time_point::max())
                FWork.wait(lock);
            else
                FWork.wait_until(lock, wake);
            continue;
        }
        const int inFlight = FPacer.Enter(job->Country);
        lock.unlock();
        if (job->Tries == 0)
            job->Start = Clock::now();
        Attempt attempt;
        try {
            attempt = AskOnce(job->Asked, job->With, job->Start);
        } catch (const std::exception& error) {
            // Whatever went wrong on the way, this thread goes on serving the others.
            attempt.Result.Via = job->Asked.Via;
            attempt.Result.Message = error.what();
            attempt.Transient = true;
        }
        lock.lock();
        std::deque<std::shared_ptr<Job>>& waiting = FWaiting[job->Country];
        const auto inOrder = [&waiting](const std::shared_ptr<Job>& again) {
            waiting.insert(std::upper_bound(waiting.begin(), waiting.end(), again,
                                            [](const auto& a, const auto& b) { return a->Seq < b->Seq; }),
                           again);
        };
        FWork.notify_all(); // a place is free
        if (attempt.Crowded) {
            ++FRefused;
            // One too many is not the id's failure: it goes again once its country takes one more. Refused alone,
            // it is the member state's busy state, and tried again as any transient fault.
            if (FPacer.Refused(job->Country) && !FStopping) {
                inOrder(job);
                continue;
            }
        } else if (attempt.Transient && job->Asked.Via == Service::Bzst) {
            // The BZSt names no member state's limit and asks not to be pressed when it is busy: fewer at once.
            FPacer.Refused(job->Country);
        } else if (attempt.Transient) {
            FPacer.Failed(job->Country);
        } else {
            FPacer.Answered(job->Country, inFlight);
        }
        job->Result = std::move(attempt.Result);
        job->Result.Tries = ++job->Tries;
        if (attempt.Transient) {
            const auto left = job->With.Retry.Within -
                              std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - job->Start);
            if (job->Tries < std::max(1, job->With.Retry.Tries) && left > std::chrono::milliseconds(0) && !FStopping) {
                job->NotBefore = Clock::now() + RetryPause(job->With.Retry, job->Tries, left);
                inOrder(job);
                continue;
            }
            GiveUp(job->Result);
        }
        FToWrite.emplace_back(RecordOf(job->Asked, job->Result), job);
        FWritten.notify_one();
    }
}

void ConfirmQueue::Write()
{
    std::unique_lock lock(FLock);
    for (;;) {
        if (FToWrite.empty()) {
            if (FAskersGone)
                return;
            FWritten.wait(lock);
            continue;
        }
        auto [record, job] = std::move(FToWrite.front());
        FToWrite.pop_front();
        lock.unlock();
        std::exception_ptr fault;
        try {
            job->Result.JournalId = FJournal->Append(std::move(record));
            job->Result.JournalNotice = FJournal->Notice();
        } catch (const JournalError&) {
            fault = std::current_exception();
        }
        lock.lock();
        ++FDone;
        if (fault)
            job->Promise.set_exception(fault);
        else
            job->Promise.set_value(job->Result);
    }
}

} // namespace orvel::confirm
