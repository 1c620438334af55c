#include "engine/formats/FormatSignatures.h"

#include "engine/formats/ByteReading.h"

bool ClaimsHeif(std::span<const std::uint8_t> head) {
    using namespace bytes;
    if (!startsWith(head, "ftyp", 4, 4)) {
        return false;
    }
    for (const char* brand :
         {"heic", "heix", "heim", "heis", "hevc", "hevx", "mif1", "msf1", "avif", "avis"}) {
        if (startsWith(head, brand, 4, 8)) {
            return true;
        }
    }
    return false;
}

bool ClaimsJxl(std::span<const std::uint8_t> head) {
    using namespace bytes;
    return startsWith(head, "\xFF\x0A", 2) || startsWith(head, "\0\0\0\x0CJXL \r\n\x87\n", 12);
}

bool ClaimsRaw(std::span<const std::uint8_t> head) {
    using namespace bytes;
    return (startsWith(head, "II*\0", 4) && startsWith(head, "CR\2\0", 4, 8)) ||
           startsWith(head, "FUJIFILMCCD-RAW ", 16) || startsWith(head, "IIU\0", 4) ||
           startsWith(head, "IIRO", 4) || startsWith(head, "IIRS", 4) ||
           startsWith(head, "MMOR", 4) ||
           (startsWith(head, "ftyp", 4, 4) && startsWith(head, "crx ", 4, 8));
}
