#include "service/SlowWork.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <system_error>

namespace orvel::service {
namespace {

thread_local bool OnNetworkThread = false;
// The slow work whose thread this is.
thread_local SlowWork* OnSlowWork = nullptr;

} // namespace

void LeaveNetworkThread()
{
    if (OnNetworkThread)
        throw Deferred{};
}

void AtLowestPriority(const std::function<void()>& computation)
{
    if (OnSlowWork)
        OnSlowWork->Compute(computation);
    else
        computation();
}

NetworkThread::NetworkThread()
{
    OnNetworkThread = true;
}

NetworkThread::~NetworkThread()
{
    OnNetworkThread = false;
}

bool SlowWork::Post(Job job, const std::function<void()>& accepted)
{
    const std::lock_guard guard(Lock);
    if (Stopped || Waiting.size() >= MaxWaiting)
        return false;
    // Before anything is accepted: a thread the system refuses is a refusal, not an exception in the library's call.
    try {
        if (!Idle.joinable())
            Idle = std::thread([this] { RunIdle(); });
        if (!Worker.joinable())
            Worker = std::thread([this] { Run(); });
    } catch (const std::system_error&) {
        return false;
    }
    accepted();
    Waiting.push_back(std::move(job));
    Wake.notify_one();
    return true;
}

void SlowWork::Stop()
{
    std::deque<Job> cancelled;
    {
        const std::lock_guard guard(Lock);
        Stopped = true;
        cancelled.swap(Waiting);
    }
    // Those waiting hear it at once, not after the job running.
    for (Job& job : cancelled)
        job(false);
    Wake.notify_one();
    if (Worker.joinable())
        Worker.join();
    {
        const std::lock_guard guard(IdleLock);
        IdleStopped = true;
    }
    IdleWake.notify_all();
    if (Idle.joinable())
        Idle.join();
}

void SlowWork::Run()
{
    OnSlowWork = this;
    std::unique_lock guard(Lock);
    for (;;) {
        Wake.wait(guard, [this] { return Stopped || !Waiting.empty(); });
        if (Stopped)
            return;
        Job job = std::move(Waiting.front());
        Waiting.pop_front();
        guard.unlock();
        job(true);
        guard.lock();
    }
}

void SlowWork::Compute(const std::function<void()>& computation)
{
    std::unique_lock guard(IdleLock);
    Computation = &computation;
    Failure = nullptr;
    IdleWake.notify_all();
    IdleWake.wait(guard, [this] { return Computation == nullptr; });
    if (Failure)
        std::rethrow_exception(Failure);
}

void SlowWork::RunIdle()
{
    // Only what no other thread of the machine wants: the network threads answer first, whatever waits here.
    const sched_param none{};
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &none) != 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
    std::unique_lock guard(IdleLock);
    for (;;) {
        IdleWake.wait(guard, [this] { return IdleStopped || Computation; });
        if (!Computation)
            return;
        // Without the lock: the waiting thread only sleeps meanwhile.
        guard.unlock();
        std::exception_ptr failure;
        try {
            (*Computation)();
        } catch (...) {
            failure = std::current_exception();
        }
        guard.lock();
        Failure = failure;
        Computation = nullptr;
        IdleWake.notify_all();
    }
}

} // namespace orvel::service
