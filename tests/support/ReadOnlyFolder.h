#pragma once

#include <QFileDevice>
#include <QString>

// Makes a folder refuse new files while the object lives, for a user who is not root as for
// root: its write permission is taken away, and root's power to override permissions is put
// aside for this thread and the threads it starts meanwhile (they keep it aside until they end).
// Both come back when the object goes. `left` is what the folder still allows: reading and
// entering by default, nothing at all for a folder that cannot be listed either.
class ReadOnlyFolder {
  public:
    explicit ReadOnlyFolder(const QString& folder,
                            QFileDevice::Permissions left = QFileDevice::ReadOwner |
                                                            QFileDevice::ExeOwner |
                                                            QFileDevice::ReadGroup |
                                                            QFileDevice::ExeGroup |
                                                            QFileDevice::ReadOther |
                                                            QFileDevice::ExeOther);
    ~ReadOnlyFolder();
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

  private:
    QString folder_;
    bool overrideSetAside_ = false;
};
