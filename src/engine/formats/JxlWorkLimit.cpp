#include "engine/formats/JxlWorkLimit.h"

#include <ctime>
#include <new>

namespace {

std::uint64_t threadNanos() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return std::uint64_t(t.tv_sec) * 1'000'000'000u + std::uint64_t(t.tv_nsec);
}

// One call of the decoder's, as the runner's threads see it.
struct Call {
    JxlWorkLimit* limit;
    void* opaque;
    JxlParallelRunInit init;
    JxlParallelRunFunction func;
    std::uint64_t callerNanos;  // the decoding thread's, which waits during the call
};

}  // namespace

JxlWorkLimit::JxlWorkLimit(std::uint64_t mostNanos)
    : runner_(JxlResizableParallelRunnerMake(nullptr)),
      mostNanos_(mostNanos),
      caller_(std::this_thread::get_id()),
      callerStart_(threadNanos()) {
    if (!runner_) {
        throw std::bad_alloc();
    }
}

void JxlWorkLimit::setThreads(std::size_t threads) {
    JxlResizableParallelRunnerSetThreads(runner_.get(), threads);
}

int JxlWorkLimit::initTasks(void* call, std::size_t threads) {
    const Call& c = *static_cast<const Call*>(call);
    return c.init(c.opaque, threads);
}

void JxlWorkLimit::runTask(void* call, std::uint32_t value, std::size_t thread) {
    const Call& c = *static_cast<const Call*>(call);
    JxlWorkLimit& limit = *c.limit;
    if (limit.exceeded()) {
        return;
    }
    // Tasks the decoding thread runs itself are in its own time already.
    const bool elsewhere = std::this_thread::get_id() != limit.caller_;
    const std::uint64_t start = elsewhere ? threadNanos() : 0;
    c.func(c.opaque, value, thread);
    const std::uint64_t tasks =
        elsewhere ? limit.taskNanos_.fetch_add(threadNanos() - start, std::memory_order_relaxed)
                  : limit.taskNanos_.load(std::memory_order_relaxed);
    // One call may hold all of a frame's work.
    if (c.callerNanos + tasks > limit.mostNanos_) {
        limit.exceeded_.store(true, std::memory_order_relaxed);
    }
}

JxlParallelRetCode JxlWorkLimit::Run(void* self, void* jpegxlOpaque, JxlParallelRunInit init,
                                     JxlParallelRunFunction func, std::uint32_t start,
                                     std::uint32_t end) {
    auto& limit = *static_cast<JxlWorkLimit*>(self);
    // Tasks run on the runner's threads while this one waits, so their times add up.
    const std::uint64_t caller = threadNanos() - limit.callerStart_;
    if (caller + limit.taskNanos_.load(std::memory_order_relaxed) > limit.mostNanos_) {
        limit.exceeded_.store(true, std::memory_order_relaxed);
    }
    if (limit.exceeded()) {
        return 0;  // passed over (see the class's comment)
    }
    Call call{&limit, jpegxlOpaque, init, func, caller};
    return JxlResizableParallelRunner(limit.runner_.get(), &call, &initTasks, &runTask, start, end);
}
