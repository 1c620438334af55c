#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// What decoding a JPEG XL file counts against its budget of decoder tasks (JxlWorkLimit): for
// measurements and tests, which hold the count to the same on any number of threads.
struct JxlDecodeWork {
    std::uint64_t tasks = 0;   // the decoder's tasks counted, those passed over among them
    std::uint64_t budget = 0;  // what the file's probe allows
    std::string failure;       // why the file was refused or failed; empty when it decoded
};

// Probes and decodes `bytes` as the loader does, on `threads` threads (0: as many as libjxl
// suggests for the picture's size). Never throws for a file that fails.
JxlDecodeWork MeasureJxlDecodeWork(std::span<const std::uint8_t> bytes, std::size_t threads);
