// Bytes as a picture file, as an Exif block (and a TIFF file's) and as an XMP packet: making an
// output's capture data from them never fails but with a reason, and an Exif block it makes is a
// TIFF structure whose first directory reads and that holds no JPEG. Built for libFuzzer with
// clang, or, with FuzzReplay.cpp, to replay the seeds.
#include "base/RuntimeError.h"
#include "engine/formats/ExifForOutput.h"
#include "engine/formats/ExifIfd.h"
#include "engine/formats/MakerNotePreviews.h"
#include "engine/formats/PictureFormat.h"
#include "engine/formats/PictureProbe.h"
#include "engine/formats/XmpForOutput.h"

#include "FuzzApplication.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

void check(const std::string& exif) {
    if (exif.empty()) {
        return;
    }
    const std::span<const std::uint8_t> block(reinterpret_cast<const std::uint8_t*>(exif.data()),
                                              exif.size());
    const ExifBytes bytes(block, block[0] == 'I');
    const auto first = block.size() >= 8 ? bytes.directory(bytes.u32(4)) : std::nullopt;
    if (!first) {
        std::abort();
    }
    // The 4 bytes of a value kept in an entry may read as a JPEG's start by chance: the
    // directories written (the first and those its pointers lead to) are not looked at.
    std::vector<bool> entries(block.size());
    std::vector<ExifBytes::Directory> directories{*first};
    for (std::size_t d = 0; d < directories.size() && d < 4; ++d) {
        std::fill(entries.begin() + std::ptrdiff_t(directories[d].at),
                  entries.begin() + std::ptrdiff_t(directories[d].end), true);
        for (const ExifEntry& e : directories[d].entries) {
            if (e.tag == 0x8769 || e.tag == 0x8825 || e.tag == 0xA005) {
                if (const auto sub = bytes.directory(bytes.number(e))) {
                    directories.push_back(*sub);
                }
            }
        }
    }
    for (std::size_t at = 0; at < block.size(); ++at) {
        if (!entries[at] && StartsAJpeg(block, at)) {
            std::abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    StartFuzzApplication();
    const std::span<const std::uint8_t> bytes(data, size);
    const PictureProbe probe = ProbePicture(bytes);
    check(FormatOf(probe.type).captureData(bytes, 40, 30).exif);
    try {
        check(ExifForOutput(bytes, 40, 30));
        // As a file of which the output keeps the first half.
        check(ExifForOutputOfFile(bytes, 40, 30, size / 2).value_or(""));
    } catch (const RuntimeError&) {
    }
    try {
        (void)XmpForOutput({reinterpret_cast<const char*>(data), size}, 40, 30);
    } catch (const RuntimeError&) {
    }
    return 0;
}
