#include "support/ReadOnlyFolder.h"

#include <QFile>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <stdexcept>

namespace {

// Turns the permission overrides on or off in this thread's effective capabilities.
void setOverrides(bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0) {
        throw std::runtime_error("capget failed");
    }
    const unsigned overrides = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH);
    data[0].effective =
        on ? data[0].effective | (data[0].permitted & overrides) : data[0].effective & ~overrides;
    if (::syscall(SYS_capset, &header, data) != 0) {
        throw std::runtime_error("capset failed");
    }
}

}  // namespace

ReadOnlyFolder::ReadOnlyFolder(const QString& folder, QFileDevice::Permissions left)
    : folder_(folder) {
    QFile::setPermissions(folder_, left);
    if (::geteuid() == 0) {
        setOverrides(false);
        overrideSetAside_ = true;
    }
}

ReadOnlyFolder::~ReadOnlyFolder() {
    if (overrideSetAside_) {
        setOverrides(true);
    }
    QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                       QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                       QFile::ExeOther);
}
