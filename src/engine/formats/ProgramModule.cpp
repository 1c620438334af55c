#include "engine/formats/ProgramModule.h"

#include "base/RuntimeError.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <link.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

namespace {

// The executable's folder: /proc/self/exe, or where a system without /proc mounted was asked to
// start it (the path given to execve, made absolute; the program never changes its folder).
std::string programFolder() {
    std::string path(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", path.data(), path.size());
    if (length > 0 && std::size_t(length) < path.size()) {
        path.resize(std::size_t(length));
    } else {
        const auto* started = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
        char* absolute = started != nullptr ? ::realpath(started, nullptr) : nullptr;
        path = absolute != nullptr ? absolute : "";
        std::free(absolute);
    }
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// Whether the file holds every byte its segments say it has: the loader maps a cut file all the
// same, and the process dies of SIGBUS where it touches a page past its end.
bool whole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat status {};
    ElfW(Ehdr) header{};
    bool ok = ::fstat(fd, &status) == 0 &&
              ::pread(fd, &header, sizeof header, 0) == ssize_t(sizeof header) &&
              header.e_phentsize == sizeof(ElfW(Phdr));
    for (int i = 0; ok && i < header.e_phnum; ++i) {
        ElfW(Phdr) segment{};
        ok = ::pread(fd, &segment, sizeof segment, off_t(header.e_phoff + i * sizeof segment)) ==
                 ssize_t(sizeof segment) &&
             segment.p_offset + segment.p_filesz >= segment.p_offset &&
             segment.p_offset + segment.p_filesz <= std::uint64_t(status.st_size);
    }
    ::close(fd);
    return ok;
}

struct Loaded {
    const void* entries = nullptr;
    std::string failure;
};

Loaded load(const std::string& name) {
    const std::string file = "tonvaler-" + name + ".so";
    const std::string folder = programFolder();
    std::string tried;
    for (const char* place : {TONVALER_MODULES_FROM_BIN, "modules", "../modules"}) {
        const std::string path = folder + "/" + place + "/" + file;
        if (::access(path.c_str(), F_OK) != 0) {
            continue;
        }
        if (!whole(path)) {
            return {nullptr, path + " is damaged"};
        }
        // RTLD_NOW: a module that lacks one of the program's functions fails here, whole, and
        // never halfway through a picture.
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            const char* why = ::dlerror();
            return {nullptr, why != nullptr ? why : path};
        }
        using Entry = const void* (*)(const char*);
        const auto entry = reinterpret_cast<Entry>(::dlsym(module, "tonvaler_module_entries"));
        const void* entries = entry != nullptr ? entry(TONVALER_VERSION) : nullptr;
        if (entries == nullptr) {
            return {nullptr, path + " is not this version's module"};
        }
        return {entries, {}};
    }
    return {nullptr, file + " is not installed in " + folder + "/" + TONVALER_MODULES_FROM_BIN};
}

}  // namespace

const void* ProgramModuleEntries(const char* name) {
    static std::mutex mutex;
    static std::map<std::string, Loaded> modules;
    const std::lock_guard lock(mutex);
    auto found = modules.find(name);
    if (found == modules.end()) {
        found = modules.emplace(name, load(name)).first;
    }
    if (found->second.entries == nullptr) {
        throw RuntimeError(ErrorNumber::InternalError, "the program's " + std::string(name) +
                                                           " module cannot be loaded (" +
                                                           found->second.failure + ")");
    }
    return found->second.entries;
}
