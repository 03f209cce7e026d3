#pragma once
// Work that takes milliseconds of CPU, a password's PBKDF2 above all, is kept off the server's network threads: there
// a few clients sending wrong passwords would hold up every other client. Such work calls LeaveNetworkThread first.
// On a network thread that throws Deferred; the server then parks the connection, runs the whole request again on
// its SlowWork thread and answers from there. The computation itself runs at the lowest priority (AtLowestPriority),
// so that the network threads, and the rest of the machine, come first.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace orvel::service {

// Not a std::exception, so that a handler's own error handling lets it pass.
struct Deferred
{
};

// Throws Deferred on a network thread; elsewhere returns at once.
void LeaveNetworkThread();

// Runs the computation on the idle-priority thread of the slow work and waits for it, when called on the slow work's
// thread; elsewhere runs it at once. It must take no lock: a thread of the lowest priority that holds one keeps the
// threads of every priority waiting for it until the machine is idle.
void AtLowestPriority(const std::function<void()>& computation);

// Marks the calling thread a network thread while it lives.
class NetworkThread
{
public:
    NetworkThread();
    ~NetworkThread();
    NetworkThread(const NetworkThread&) = delete;
    NetworkThread& operator=(const NetworkThread&) = delete;
};

// One thread that runs jobs in order, and one of the lowest priority (SCHED_IDLE) for their computations, started by
// the first job. A bounded queue: a flood of slow work waits in the queue's memory only up to its size, and is
// refused beyond.
class SlowWork
{
public:
    // job(true) does the work; job(false) says it will not be done, as the server is stopping.
    using Job = std::function<void(bool)>;

    explicit SlowWork(size_t maxWaiting) : MaxWaiting(maxWaiting) {}
    ~SlowWork() { Stop(); }
    SlowWork(const SlowWork&) = delete;
    SlowWork& operator=(const SlowWork&) = delete;

    // Queues the job unless maxWaiting jobs wait already or the work has stopped; accepted() runs first, under the
    // queue's lock, so that nothing of the job can run before it. Whether the job was queued.
    bool Post(Job job, const std::function<void()>& accepted);
    // Those waiting are called with false, the job running ends. Later posts are refused.
    void Stop();

private:
    friend void AtLowestPriority(const std::function<void()>& computation);
    void Run();
    void RunIdle();
    void Compute(const std::function<void()>& computation);

    const size_t MaxWaiting;
    std::mutex Lock;
    std::condition_variable Wake;
    std::deque<Job> Waiting;
    bool Stopped = false;
    std::thread Worker;
    // The computation handed to the idle thread, and how it ended.
    std::mutex IdleLock;
    std::condition_variable IdleWake;
    const std::function<void()>* Computation = nullptr;
    std::exception_ptr Failure;
    bool IdleStopped = false;
    std::thread Idle;
};

} // namespace orvel::service
