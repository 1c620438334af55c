#include "engine/formats/ProgramModule.h"

#include "base/RuntimeError.h"

#include <dlfcn.h>
#include <limits.h>
#include <sys/auxv.h>
#include <unistd.h>

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
