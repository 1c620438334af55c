#pragma once

// The parts of the engine that need large libraries (HEIF and AVIF, JPEG XL, camera raw files,
// exiv2, Qt's image readers) are modules of their own, loaded the first time a picture needs one,
// so that a run maps only the libraries of the pictures it meets: a run on one JPEG starts in a
// few milliseconds instead of tens.
//
// A module NAME is the file tonvaler-NAME.so in the program's module folder: lib/<architecture>/
// tonvaler beside bin for an installed program (as the build's install rule lays it out), else
// "modules" beside the executable or beside its folder (a build tree's programs, tests and
// benchmarks). It is built with the programs and resolves the engine's functions from the program
// that loads it, which exports them (so both share one state), else from its own copy of the
// engine. Its one entry, tonvaler_module_entries(name, version), gives its struct of functions
// (ModuleEntries.h), or null when it is another module or was built for another version.

// The struct of module `name`'s functions, loaded on first use and kept for the process's life;
// thread-safe. Raises RuntimeError (InternalError) naming the module and the system's reason when
// it cannot be loaded: the program is installed incompletely.
const void* ProgramModuleEntries(const char* name);

template <class Entries>
const Entries& ModuleEntriesOf(const char* name) {
    return *static_cast<const Entries*>(ProgramModuleEntries(name));
}

// Each module defines its entry with this: `name` its name (a string literal), `entries` a static
// struct of its functions.
#define TONVALER_MODULE_ENTRIES(name, entries)                                                    \
    extern "C" __attribute__((visibility("default"))) const void* tonvaler_module_entries(        \
        const char* asked, const char* version) {                                                 \
        return std::string_view(asked) == (name) && std::string_view(version) == TONVALER_VERSION \
                   ? &(entries)                                                                   \
                   : nullptr;                                                                     \
    }
