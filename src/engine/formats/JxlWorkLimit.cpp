#include "engine/formats/JxlWorkLimit.h"

#include <algorithm>
#include <new>

JxlWorkLimit::JxlWorkLimit(std::uint64_t frameTasks, std::uint64_t mostTasks)
    : runner_(JxlResizableParallelRunnerMake(nullptr)),
      frameTasks_(frameTasks),
      mostTasks_(mostTasks) {
    if (!runner_) {
        throw std::bad_alloc();
    }
}

void JxlWorkLimit::setThreads(std::size_t threads) {
    threads_ = threads;
    if (threads > 1) {
        JxlResizableParallelRunnerSetThreads(runner_.get(), threads);
    }
}

JxlParallelRetCode JxlWorkLimit::Run(void* self, void* jpegxlOpaque, JxlParallelRunInit init,
                                     JxlParallelRunFunction func, std::uint32_t start,
                                     std::uint32_t end) {
    auto& limit = *static_cast<JxlWorkLimit*>(self);
    if (limit.frameStart_ == nullptr) {
        limit.frameStart_ = func;
    }
    const bool frameStarts = func == limit.frameStart_;
    limit.tasks_ += (end - start) + (frameStarts ? limit.frameTasks_ : 0);
    if (limit.tasks_ > limit.mostTasks_) {
        limit.exceeded_ = true;
    }
    if (!limit.exceeded_ && limit.threads_ > 1) {
        return JxlResizableParallelRunner(limit.runner_.get(), jpegxlOpaque, init, func, start,
                                          end);
    }
    if (!limit.exceeded_) {
        // One thread: the decoder's own, with no thread of the runner's started.
        if (init(jpegxlOpaque, 1) != 0) {
            return JXL_PARALLEL_RET_RUNNER_ERROR;
        }
        for (std::uint32_t task = start; task < end; ++task) {
            func(jpegxlOpaque, task, 0);
        }
        return 0;  // success
    }
    if (frameStarts) {
        return JXL_PARALLEL_RET_RUNNER_ERROR;
    }
    // As a runner of one thread that did no task: what the call prepares is there.
    return init(jpegxlOpaque, 1);
}

std::uint64_t JxlFrameTasks(std::uint64_t width, std::uint64_t height) {
    const std::uint64_t groups = (width + 255) / 256 * ((height + 255) / 256);
    return 8 * std::max(width, height) + 4 * groups + 16;
}
