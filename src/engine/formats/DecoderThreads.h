#pragma once

// The threads that a decoder may start beside the thread it runs on: as many as it would take
// (kAsTheDecoderWould) for a picture decoded alone, as the preview does; for a job of the
// engine's, only the idle cores that the engine lends each worker, often none, so that -j N
// means N threads of decoding. Set for the calling thread by LentThreads.
inline constexpr int kAsTheDecoderWould = -1;
int ThreadsLentHere();

// For its lifetime, decoders on this thread may start `threads` threads beside it (0: none).
class LentThreads {
  public:
    explicit LentThreads(int threads);
    ~LentThreads();
    LentThreads(const LentThreads&) = delete;
    LentThreads& operator=(const LentThreads&) = delete;

  private:
    int before_;
};
