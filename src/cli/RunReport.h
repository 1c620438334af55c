#pragma once

#include <QString>

#include <cstdio>
#include <memory>

// --report FILE: one JSON object a line per input, written and flushed as the run goes, so that
// what collects the results can read a run that was stopped:
//   {"path":"a.jpg","output":"out/a-grayscale.jpg","status":"converted","reason":"","ms":12.5}
// status is converted, failed or skipped. A converted picture whose capture data was not carried
// whole says why in a field of its own, "captureData". Without a file, it writes nothing.
class RunReport {
  public:
    // Raises RuntimeError when the file cannot be made.
    explicit RunReport(const QString& file);

    // A line that cannot be written is not raised: the conversions go on, and finish() tells.
    void add(const QString& path, const QString& output, const char* status, const QString& reason,
             double milliseconds, const QString& captureData = {});

    // Closes the file. Answers "" when every line reached it, else the system's reason for the
    // first that did not ("No space left on device").
    QString finish();

  private:
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file_;
    int error_ = 0;  // errno of the first write that failed
};
