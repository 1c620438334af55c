// Converts one picture file as a batch does (decoded, filtered, encoded, staged beside an output
// in FOLDER, never named) and prints what it cost: the most memory it added to the process, in
// bytes, and its CPU time in seconds, then the failure if it failed.
//
//     measure_conversion FILE FOLDER
//
// A process of its own, so that its allocator holds nothing from earlier work that the
// conversion could reuse unseen (the contract test's costly files).
#include "engine/ConversionEngine.h"
#include "engine/MemoryBudget.h"

#include <QGuiApplication>

#include <sys/resource.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

long statusKilobytes(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) {
            return std::stol(line.substr(std::strlen(key)));
        }
    }
    return -1;
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: measure_conversion FILE FOLDER\n");
        return 2;
    }
    PictureJob job;
    job.sourcePath = QString::fromLocal8Bit(argv[1]);
    const std::atomic<bool> abandoned{false};
    MemoryBudget budget(std::uint64_t(1) << 40);
    // The high-water mark starts again from here: what the libraries' loading took is not the
    // conversion's.
    std::ofstream("/proc/self/clear_refs") << "5";
    const long before = statusKilobytes("VmRSS:");
    const double start = cpuSeconds();
    const PictureOutcome outcome =
        ConvertPicture(job, {{}, 85, QString::fromLocal8Bit(argv[2])}, abandoned, budget);
    const double cpu = cpuSeconds() - start;
    const long peak = (statusKilobytes("VmHWM:") - before) * 1024;
    std::printf("%ld %.4f\n%s\n", peak, cpu,
                outcome.failed() ? outcome.failure.description().c_str() : "");
    return 0;
}
