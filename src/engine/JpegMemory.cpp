// libjpeg takes its big blocks (a progressive file's coefficients, 2 bytes a sample, and the rows
// of its work buffers) from its system-dependent memory module, whose two functions below a
// program may supply in place of the library's own. Ours take them from PixelMemory, so that a
// worker's next picture reuses the blocks of its last one, within the cap that PixelMemory keeps,
// instead of having the system fault in and clear fresh pages: a tenth of a progressive
// picture's time. Linked into every program that links the engine (see src/CMakeLists.txt).
#include "filter/PixelMemory.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE
#include <cstring>

#include <jpeglib.h>

namespace {

// Each block begins with its capacity, in a header that keeps PixelMemory's 64-byte alignment.
constexpr std::size_t kHeader = 64;

}  // namespace

extern "C" void* jpeg_get_large(j_common_ptr, std::size_t bytes) {
    try {
        std::size_t capacity = 0;
        std::uint8_t* block = PixelMemory::acquire(bytes + kHeader, capacity);
        std::memcpy(block, &capacity, sizeof capacity);
        return block + kHeader;
    } catch (...) {
        return nullptr;  // libjpeg fails the picture as out of memory
    }
}

extern "C" void jpeg_free_large(j_common_ptr, void* object, std::size_t) {
    if (object == nullptr) {
        return;
    }
    std::uint8_t* block = static_cast<std::uint8_t*>(object) - kHeader;
    std::size_t capacity = 0;
    std::memcpy(&capacity, block, sizeof capacity);
    PixelMemory::release(block, capacity);
}
