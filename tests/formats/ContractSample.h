#pragma once

#include "engine/formats/PictureProbe.h"

#include <QByteArray>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Whole picture files made for the contract that every format module keeps, each with what its
// structure says, so that damage can be made where it matters: the points where a box, chunk,
// marker, tile, strip or frame begins or ends, the header fields that state a size, count or
// offset, and the bytes that hold samples stored plain (where any content is some picture).

// A header field, and how to make it state more and less.
struct FieldEdit {
    std::string what;  // "ispe width", "TileOffsets[3]"
    // The whole file with the field made larger (`direction` 1) or smaller (-1); nothing when the
    // field cannot be made so (a zero that cannot be halved, a field of a fixed width that would
    // overflow).
    std::function<std::optional<QByteArray>(const QByteArray& whole, int direction)> apply;
    // Why a file with the field changed is still a valid file of its kind, when it is (an
    // arithmetic-coded JPEG scan may end early by design): it may then decode at the size its
    // header states. Empty for a field whose change the file's other parts contradict.
    std::string staysValid = {};
};

// A whole-number field of `width` bytes at `at`, made larger and smaller: a size or an offset
// doubled and halved, a count one more and one fewer.
enum class FieldKind { Size, Offset, Count };
FieldEdit IntegerField(std::string what, qsizetype at, int width, bool bigEndian,
                       FieldKind kind = FieldKind::Size);

struct ContractSample {
    std::string name;  // "HEIC 10-bit, 2 x 2 grid"
    QByteArray bytes;
    // Offsets within `bytes` where a unit of the file's structure begins or ends.
    std::vector<qsizetype> boundaries = {};
    std::vector<FieldEdit> fields = {};
    // Byte ranges [first, second) of samples stored as they are: damage confined to them makes
    // another picture that nothing can tell from a whole one.
    std::vector<std::pair<qsizetype, qsizetype>> plainSamples = {};
    // Byte ranges of coded data that its format carries no check on (a lossy WebP's partitions,
    // which its decoder reads only as far as its blocks need): damage confined to them decodes
    // as another picture, as for plain samples.
    std::vector<std::pair<qsizetype, qsizetype>> uncheckedData = {};
};

// A small file whose conversion is costly for its size (a grid, many frames, many tiles, a big
// stated picture): its decode's peak memory and time are held to what the module charges.
struct CostlySample {
    std::string name;
    QByteArray bytes;
};

// The samples of one kind of file, for the modules of `types` (several modules may share a maker,
// as every Qt-read kind does).
struct FormatSamples {
    std::vector<PictureType> types;
    std::function<std::vector<ContractSample>()> whole;
    std::function<std::vector<CostlySample>()> costly;
    // Files of the kind are refused whole, and so must everything made of them be.
    bool refused = false;
};

// Every maker; the contract test fails for a module that none covers.
const std::vector<FormatSamples>& AllFormatSamples();
