#include "cli/SheetRun.h"

#include "base/FileExists.h"
#include "base/PathBytes.h"
#include "base/RuntimeError.h"
#include "cli/CliOptions.h"
#include "engine/ContactSheet.h"
#include "engine/ConversionEngine.h"
#include "engine/output/JpegWriter.h"
#include "engine/output/PngWriter.h"

#include <sys/stat.h>

#include <cstring>

namespace {

// The largest sheet made: a quarter of a gigapixel, a quarter of a gigabyte of grey.
constexpr long long kMostSheetPixels = 1LL << 28;

BgrxImage cropOf(const BgrxImage& picture, const QRect& part) {
    BgrxImage out(part.width(), part.height());
    for (int y = 0; y < part.height(); ++y) {
        std::memcpy(out.row(y), picture.row(part.y() + y) + 4 * part.x(),
                    static_cast<std::size_t>(part.width()) * 4);
    }
    return out;
}

}  // namespace

int RunSheet(const CliOptions& options, std::FILE* out, std::FILE* err) {
    const QString& path = options.paths.front();
    // The sheet takes its name by a rename, which would put a file where a device, a pipe or a
    // link was.
    struct stat there {};
    const bool something = ::lstat(PathBytes(options.sheet).constData(), &there) == 0;
    if (SameFile(path, options.sheet) || (something && !S_ISREG(there.st_mode))) {
        std::fprintf(err, "tonvaler-cli: the sheet \"%s\" would replace %s\n",
                     PathBytes(options.sheet).constData(),
                     something && !S_ISREG(there.st_mode) ? "something that is not a plain file"
                                                          : "its picture");
        return 2;
    }
    try {
        BgrxImage picture = LoadSourcePicture(path);
        if (options.crop) {
            const QRect& part = *options.crop;
            if (qint64{part.x()} + part.width() > picture.width() ||
                qint64{part.y()} + part.height() > picture.height()) {
                std::fprintf(err, "tonvaler-cli: the crop %dx%d+%d+%d lies outside %s (%d x %d)\n",
                             part.width(), part.height(), part.x(), part.y(),
                             PathBytes(path).constData(), picture.width(), picture.height());
                return 1;
            }
            picture = cropOf(picture, part);
        }
        const ContactSheet sheet(picture.width(), picture.height(), options.sheetValues[0],
                                 options.sheetValues[1], options.sheetValues[2]);
        if (sheet.width() * sheet.height() > kMostSheetPixels) {
            std::fprintf(err,
                         "tonvaler-cli: the sheet would be %lld x %lld pixels; list fewer values "
                         "or show part of the picture (--crop)\n",
                         sheet.width(), sheet.height());
            return 1;
        }
        StagedFile staged = StageOutputFile(options.sheet, EncodeGreyPng(sheet.render(picture)));
        CommitOutputFile(staged);
        std::fprintf(out, "%zu pictures, %d x %d, in a sheet of %lld x %lld pixels: %s\n",
                     sheet.cells().size(), picture.width(), picture.height(), sheet.width(),
                     sheet.height(), PathBytes(options.sheet).constData());
        return std::fflush(out) == 0 && !std::ferror(out) ? 0 : 1;
    } catch (...) {
        // With the system's own reason (or the missing module's) where the description is
        // fixed text.
        const RuntimeError e = RuntimeError::fromCurrentException();
        const std::string cause = e.cause().empty() ? "" : " (" + e.cause() + ")";
        std::fprintf(err, "tonvaler-cli: %s%s\n", e.what(), cause.c_str());
        return 1;
    }
}
