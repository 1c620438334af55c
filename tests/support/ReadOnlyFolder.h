#pragma once

#include <QString>

// Makes a folder refuse new files while the object lives, for a user who is not root as for
// root: its write permission is taken away, and root's power to override permissions is put
// aside for this thread and the threads it starts meanwhile (they keep it aside until they end).
// Both come back when the object goes.
class ReadOnlyFolder {
  public:
    explicit ReadOnlyFolder(const QString& folder);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

  private:
    QString folder_;
    bool overrideSetAside_ = false;
};
