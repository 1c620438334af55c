#pragma once

#include <turbojpeg.h>

#include <string>

// One TurboJPEG instance, owned and freed with the object; the boundary where the library's
// failures become RuntimeErrors. An instance serves one thread at a time.
class TurboJpeg {
  public:
    enum class Kind { Compress, Decompress };

    explicit TurboJpeg(Kind kind);
    ~TurboJpeg();
    TurboJpeg(const TurboJpeg&) = delete;
    TurboJpeg& operator=(const TurboJpeg&) = delete;

    tjhandle get() const { return handle_; }
    // The library's message about the last call that failed, and whether it was only a warning.
    std::string lastMessage() const;
    bool lastWasWarning() const;

    // An instance for the calling thread, made on first use and kept for the thread's life.
    static TurboJpeg& forThisThread(Kind kind);

  private:
    tjhandle handle_;
};
