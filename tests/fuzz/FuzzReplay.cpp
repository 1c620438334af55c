// Runs each file named on the command line (or each file in the folders named) through the
// fuzzer's entry point once: the seeds and every input that once failed stay a test.
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        QStringList files{QString::fromLocal8Bit(argv[i])};
        if (QFileInfo(files.first()).isDir()) {
            const QDir dir(files.first());
            files.clear();
            for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
                if (name != QLatin1String("README")) {
                    files.append(dir.filePath(name));
                }
            }
        }
        for (const QString& path : files) {
            QFile f(path);
            if (!f.open(QIODevice::ReadOnly)) {
                std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
                return 2;
            }
            const QByteArray bytes = f.readAll();
            LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                   static_cast<std::size_t>(bytes.size()));
            ++inputs;
        }
    }
    std::printf("%d inputs replayed\n", inputs);
    return inputs > 0 ? 0 : 2;
}
