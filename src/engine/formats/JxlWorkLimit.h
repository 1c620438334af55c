#pragma once

#include <jxl/parallel_runner.h>
#include <jxl/resizable_parallel_runner_cxx.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

// libjxl's parallel runner for one decode, on every core, that stops doing the decoder's work once
// the decode has taken more CPU time than it may. libjxl decodes frames its events never report
// (those kept only for later frames, or not to be shown while the file loads), so what its headers
// said cannot bound the work; the time itself can. Past the limit the decoder's tasks are passed
// over, not failed: libjxl stops the whole process on some of its tasks' failures. It then runs
// on without doing the work, its output worthless, and the caller asks exceeded() after each
// call into the decoder. Owns its threads; the decoder that uses it must go first. Run is
// called by one decoder on one thread at a time.
class JxlWorkLimit {
  public:
    // `mostNanos`: the CPU time, in nanoseconds, that the thread that decodes and the runner's
    // threads may take together from now on.
    explicit JxlWorkLimit(std::uint64_t mostNanos);

    void setThreads(std::size_t threads);
    // Whether the decode passed its limit, so that its output is to be thrown away.
    bool exceeded() const { return exceeded_.load(std::memory_order_relaxed); }

    // The JxlParallelRunner, with this object as its opaque pointer.
    static JxlParallelRetCode Run(void* self, void* jpegxlOpaque, JxlParallelRunInit init,
                                  JxlParallelRunFunction func, std::uint32_t start,
                                  std::uint32_t end);

  private:
    static void runTask(void* call, std::uint32_t value, std::size_t thread);
    static int initTasks(void* call, std::size_t threads);

    JxlResizableParallelRunnerPtr runner_;
    std::uint64_t mostNanos_;
    std::thread::id caller_;     // the decoding thread, which makes the decoder's calls
    std::uint64_t callerStart_;  // the decoding thread's CPU time at the start
    std::atomic<std::uint64_t> taskNanos_{0};  // the runner's threads' CPU time in tasks
    std::atomic<bool> exceeded_{false};
};
