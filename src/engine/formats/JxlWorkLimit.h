#pragma once

#include <jxl/parallel_runner.h>
#include <jxl/resizable_parallel_runner_cxx.h>

#include <cstddef>
#include <cstdint>

// libjxl's parallel runner for one decode, on every core, that counts the decoder's work and
// stops doing it past a budget. libjxl decodes frames its events never report (those kept only
// for later frames, the averages of their blocks, or not to be shown while the file loads), so
// what the headers said cannot bound the work; what the decoder asks its runner for can.
//
// The count is in tasks, as the decoder's own thread hands them over before any runs, so that a
// file counts the same on any machine, at any load and on any number of threads: each call's
// tasks (a group of pixels, a row, a channel's rows), and for each frame as much as a whole frame
// over the canvas asks for in the costliest coding (`frameTasks`). Each frame's work starts with a
// call of the same function, over its groups of block averages (libjxl 0.7 makes no call before
// it): the first call of the decode names it, and its calls are the frames. A frame's own tasks
// tell little of its work (the whole of a frame of one group is decoded on the decoder's thread,
// and a group may be 128 or 1024 pixels wide); the frames decoded bound it when each is no larger
// than the canvas.
//
// Past the budget the decoder's calls are passed over, not failed: libjxl stops the whole process
// on some calls' failures. The call that starts a frame is failed, as libjxl takes it as a
// damaged frame, so that the decode stops there. The caller asks exceeded() after each call into
// the decoder and throws the output away. Owns its threads; the decoder that uses it must go
// first. Run is called by one decoder on one thread at a time.
class JxlWorkLimit {
  public:
    // `frameTasks` and `mostTasks` in tasks, as above.
    JxlWorkLimit(std::uint64_t frameTasks, std::uint64_t mostTasks);

    // 1 runs the tasks on the decoder's thread, more on the runner's threads.
    void setThreads(std::size_t threads);
    // Whether the decode passed its budget, so that its output is to be thrown away.
    bool exceeded() const { return exceeded_; }
    // What was counted so far, those passed over among them.
    std::uint64_t tasks() const { return tasks_; }

    // The JxlParallelRunner, with this object as its opaque pointer.
    static JxlParallelRetCode Run(void* self, void* jpegxlOpaque, JxlParallelRunInit init,
                                  JxlParallelRunFunction func, std::uint32_t start,
                                  std::uint32_t end);

  private:
    JxlResizableParallelRunnerPtr runner_;
    std::uint64_t frameTasks_;
    std::uint64_t mostTasks_;
    std::uint64_t tasks_ = 0;
    std::size_t threads_ = 1;
    JxlParallelRunFunction frameStart_ = nullptr;
    bool exceeded_ = false;
};

// The tasks libjxl 0.7 hands its runner for a frame of `width` × `height` pixels in the costliest
// coding its encoder makes (measured: about 5 for each row at 16 bits without loss, where each
// channel is made floats row by row, and 2 for each group of 256 × 256), with room.
std::uint64_t JxlFrameTasks(std::uint64_t width, std::uint64_t height);
