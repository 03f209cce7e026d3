#include "service/SlowWork.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace orvel::service {
namespace {

thread_local bool OnNetworkThread = false;

} // namespace

void LeaveNetworkThread()
{
    if (OnNetworkThread)
        throw Deferred{};
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
    accepted();
    Waiting.push_back(std::move(job));
    if (!Worker.joinable())
        Worker = std::thread([this] { Run(); });
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
}

void SlowWork::Run()
{
    // Only what no other thread of the machine wants: the network threads answer first, whatever waits here.
    const sched_param none{};
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &none) != 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 19);
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

} // namespace orvel::service
