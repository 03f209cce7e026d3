#pragma once
// Many confirmations at once, as a batch asks for them: paced per member state (Pacer; with the BZSt, which gives no
// such refusal, each of its transient faults counts as one), transient faults tried again by each request's
// RetryPolicy without holding a place, and every record appended by one writer thread, which owns the journal, in
// the order the answers came.

#include "confirm/Confirm.h"
#include "confirm/Journal.h"
#include "confirm/Pacer.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace orvel::confirm {

// A confirmation dropped by Cancel before it was sent.
class Cancelled : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class ConfirmQueue
{
public:
    struct Progress
    {
        size_t Done = 0;    // answers journaled
        size_t Refused = 0; // requests a member state refused as one too many
        struct Country
        {
            std::string Code;
            int InFlight = 0;
            int Limit = 0;
            size_t Waiting = 0;
        };
        std::vector<Country> Countries;
    };

    // Threads: how many requests may be on their way at once in all. A journal that cannot be opened fails every
    // confirmation with its JournalError, nothing sent.
    ConfirmQueue(const std::string& journalPath, int threads, PacingPolicy policy = {});
    // Close() unless closed.
    ~ConfirmQueue();
    ConfirmQueue(const ConfirmQueue&) = delete;
    ConfirmQueue& operator=(const ConfirmQueue&) = delete;

    // The answer, journaled, when it comes; its exception a JournalError or Cancelled. Throws RequestRefused at once
    // for a request that cannot be right.
    std::shared_future<Answer> Submit(Request request, Settings settings);
    // Drops every confirmation not on its way; those on their way are answered and journaled.
    void Cancel();
    Progress Snapshot() const;
    // Drops what was not sent yet, waits for the requests on their way and their records; returns how many records
    // were written in all. Nothing can be submitted after.
    size_t Close();

private:
    struct Job;
    using Clock = std::chrono::steady_clock;

    void Ask();
    void CancelWaiting(); // FLock held
    void Write();
    // The next job whose country may take it and whose pause is over; null when none is.
    std::shared_ptr<Job> Take(Clock::time_point& wake);

    std::unique_ptr<Journal> FJournal;
    std::string FJournalFault;
    mutable std::mutex FLock;
    std::condition_variable FWork, FWritten;
    std::map<std::string, std::deque<std::shared_ptr<Job>>> FWaiting; // per country, oldest first
    std::deque<std::pair<Record, std::shared_ptr<Job>>> FToWrite;
    Pacer FPacer;
    size_t FDone = 0, FRefused = 0;
    uint64_t FSubmitted = 0;
    bool FStopping = false, FAskersGone = false, FClosed = false;
    std::vector<std::thread> FAskers;
    std::thread FWriter;
};

} // namespace orvel::confirm
