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

// Whether the file is a regular one that holds every byte its segments say it has: the loader
// maps a cut file all the same, and the process dies of SIGBUS where it touches a page past its
// end; and the open of a FIFO would wait for a writer for ever (O_NONBLOCK).
bool whole(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat status {};
    ElfW(Ehdr) header{};
    bool ok = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
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
    std::once_flag once;
    const void* entries = nullptr;
    std::string failure;
};

// The entries of module `name`, or null with `failure` the reason.
const void* load(const std::string& name, std::string& failure) {
    const std::string file = "tonvaler-" + name + ".so";
    const std::string folder = programFolder();
    std::string tried;
    for (const char* place : {TONVALER_MODULES_FROM_BIN, "modules", "../modules"}) {
        const std::string path = folder + "/" + place + "/" + file;
        tried += (tried.empty() ? "" : ", ") + folder + "/" + place;
        if (::access(path.c_str(), F_OK) != 0) {
            continue;
        }
        if (!whole(path)) {
            failure = path + " is damaged";
            return nullptr;
        }
        // RTLD_NOW: a module that lacks one of the program's functions fails here, whole, and
        // never halfway through a picture.
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) {
            const char* why = ::dlerror();
            failure = why != nullptr ? why : path;
            return nullptr;
        }
        // Another module under this one's name, or one of another version, would be taken
        // for what it is not.
        using Entry = const void* (*)(const char*, const char*);
        const auto entry = reinterpret_cast<Entry>(::dlsym(module, "tonvaler_module_entries"));
        const void* entries = entry != nullptr ? entry(name.c_str(), TONVALER_VERSION) : nullptr;
        if (entries == nullptr) {
            failure = path + " is not this version's " + name + " module";
        }
        return entries;
    }
    failure = file + " is not installed (looked for in " + tried + ")";
    return nullptr;
}

}  // namespace

const void* ProgramModuleEntries(const char* name) {
    // One load at a time for each module; a module that takes long to load (or to be refused)
    // holds up no other.
    static std::mutex mutex;
    static std::map<std::string, Loaded> modules;
    Loaded* module = nullptr;
    {
        const std::lock_guard lock(mutex);
        module = &modules[name];
    }
    std::call_once(module->once, [&] { module->entries = load(name, module->failure); });
    if (module->entries == nullptr) {
        throw RuntimeError(ErrorNumber::InternalError, "the program's " + std::string(name) +
                                                           " module cannot be loaded (" +
                                                           module->failure + ")");
    }
    return module->entries;
}
