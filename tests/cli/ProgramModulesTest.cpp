// The command line loads the libraries of a kind of picture only when it meets one: each kind's
// module converts in the real program, and a run on JPEGs maps none of the large libraries.
#include "support/CameraPictures.h"
#include "support/DngPictures.h"
#include "support/RunTool.h"
#include "support/TestPictures.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>

#include <sys/stat.h>

#include <functional>

#include <gtest/gtest.h>

namespace {

const QString kCli = QStringLiteral(TONVALER_CLI);
const QString kModules = QStringLiteral(TONVALER_MODULES);

BgrxImage picture() {
    return MakePicture(96, 64, [](int x, int y) { return quint32(x * 2654435761u ^ y * 40503u); });
}

QByteArray bmpBytesOf(const BgrxImage& bgrx) {
    QImage image(bgrx.width(), bgrx.height(), QImage::Format_RGB32);
    for (int y = 0; y < bgrx.height(); ++y) {
        std::memcpy(image.scanLine(y), bgrx.row(y), std::size_t(4) * bgrx.width());
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "BMP");
    return bytes;
}

// The program's run on `files` with the dynamic loader telling each library it maps.
ToolRun runTelling(const QString& program, const QStringList& files, const QString& out) {
    qputenv("LD_DEBUG", "files");
    ToolRun run = RunTool(program, QStringList{"-o", out} + files);
    qunsetenv("LD_DEBUG");
    return run;
}

struct Kind {
    const char* file;
    QByteArray (*bytes)();
    const char* loads;  // the library its module brings, or none
};

const Kind kKinds[] = {
    {"a.jpg", [] { return JpegBytesOf(picture()); }, nullptr},
    {"a.heic", [] { return HeifBytesOf(picture(), false); }, "libheif"},
    {"a.avif", [] { return HeifBytesOf(picture(), true); }, "libheif"},
    {"a.jxl", [] { return JxlBytesOf(picture(), false); }, "libjxl"},
    {"a.dng", [] { return DngBytesOf(picture(), 12, 1); }, "libraw"},
    {"a.bmp", [] { return bmpBytesOf(picture()); }, "libQt6Gui"},
};
const char* const kLarge[] = {"libheif", "libjxl", "libraw", "libexiv2", "libQt6Gui"};

TEST(ProgramModules, EachKindConvertsAndBringsOnlyItsOwnLibraries) {
    for (const Kind& kind : kKinds) {
        SCOPED_TRACE(kind.file);
        QTemporaryDir dir;
        const QString source = dir.filePath(kind.file);
        WriteBytes(source, kind.bytes());
        QDir(dir.path()).mkdir("out");
        const ToolRun run = runTelling(kCli, {source}, dir.filePath("out"));
        ASSERT_TRUE(run.succeeded()) << run.err.right(2000).constData();
        EXPECT_TRUE(QFile::exists(dir.filePath("out/a-grayscale.jpg")));
        for (const char* library : kLarge) {
            const bool mapped = run.err.contains(QByteArray("file=") + library);
            const bool expected = kind.loads != nullptr && std::string_view(kind.loads) == library;
            if (library != std::string_view("libexiv2") || kind.loads == nullptr) {
                EXPECT_EQ(mapped, expected) << library;
            }
        }
    }
}

// A program whose module of a kind is missing, cut short, another module or no file at all (an
// install gone wrong) refuses that kind's pictures with the reason and converts the others; a
// cut module is never mapped (the process would die of SIGBUS), a FIFO never waited on.
TEST(ProgramModules, ABrokenModuleFailsItsPicturesAlone) {
    const QString heif = kModules + "/tonvaler-heif.so";
    const struct {
        const char* how;
        std::function<void(const QString&)> make;  // the heif module's path in the copy
        const char* says;
    } kBroken[] = {
        {"absent", [](const QString&) {}, "tonvaler-heif.so is not installed (looked for in "},
        {"empty", [](const QString& at) { WriteBytes(at, {}); }, "tonvaler-heif.so is damaged"},
        {"cut",
         [&](const QString& at) {
             QFile whole(heif);
             ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
             WriteBytes(at, whole.read(20000));
         },
         "tonvaler-heif.so is damaged"},
        {"a FIFO", [](const QString& at) { ASSERT_EQ(::mkfifo(QFile::encodeName(at), 0600), 0); },
         "tonvaler-heif.so is damaged"},
        {"another module",
         [](const QString& at) { ASSERT_TRUE(QFile::copy(kModules + "/tonvaler-jxl.so", at)); },
         "tonvaler-heif.so is not this version's heif module"},
    };
    for (const auto& broken : kBroken) {
        SCOPED_TRACE(broken.how);
        QTemporaryDir dir;
        const QString program = dir.filePath("tonvaler-cli");
        ASSERT_TRUE(QFile::copy(kCli, program));
        QDir(dir.path()).mkdir("modules");
        for (const QString& module : QDir(kModules).entryList({"*.so"})) {
            if (module != "tonvaler-heif.so") {
                ASSERT_TRUE(
                    QFile::link(kModules + "/" + module, dir.filePath("modules/" + module)));
            }
        }
        broken.make(dir.filePath("modules/tonvaler-heif.so"));
        QDir(dir.path()).mkdir("out");
        WriteBytes(dir.filePath("a.heic"), HeifBytesOf(picture(), false));
        WriteBytes(dir.filePath("b.jxl"), JxlBytesOf(picture(), false));
        const ToolRun run = RunTool("timeout", {"60", program, "-o", dir.filePath("out"),
                                                dir.filePath("a.heic"), dir.filePath("b.jxl")});
        EXPECT_EQ(run.exitCode, 1) << run.err.constData();
        EXPECT_TRUE(run.err.contains(broken.says)) << run.err.constData();
        EXPECT_FALSE(QFile::exists(dir.filePath("out/a-grayscale.jpg")));
        EXPECT_TRUE(QFile::exists(dir.filePath("out/b-grayscale.jpg")));
    }
}

}  // namespace
