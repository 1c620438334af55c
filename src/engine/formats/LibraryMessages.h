#pragma once

#include <string>
#include <vector>

// While one lives, what the picture libraries say through Qt's messages on this thread (libpng's
// and libtiff's warnings and errors, Qt's image readers') is kept here instead of reaching stderr
// unattributed, through the progress bar or the window's terminal; the loader names it beside the
// file only when it explains a failure. Messages of other threads, or outside one, go on as
// before. Not copyable; one thread.
class LibraryMessages {
  public:
    LibraryMessages();
    ~LibraryMessages();
    LibraryMessages(const LibraryMessages&) = delete;
    LibraryMessages& operator=(const LibraryMessages&) = delete;

    // What was said, the lines joined by "; " (the first few); "" when nothing was.
    std::string text() const;

    void add(std::string line);

  private:
    std::vector<std::string> lines_;
    LibraryMessages* outer_;
};
