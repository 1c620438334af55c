#include "cli/CliOptions.h"

#include "base/AppInfo.h"
#include "base/DefaultOutputFolder.h"
#include "base/RuntimeError.h"
#include "base/SettingsStore.h"

#include <QCommandLineParser>

namespace {

struct Range {
    const char* option;
    const QString* key;
    int minimum, maximum, byDefault;
};

CliParse usage(const QString& message) {
    return {std::nullopt,
            QStringLiteral("tonvaler-cli: ") + message +
                QStringLiteral("\nTry 'tonvaler-cli --help' for more information."),
            2};
}

// The stored value when it is a number within the slider's range, else the slider's default.
int storedOr(SettingsStore& settings, const Range& r) {
    bool ok = false;
    const int v = settings.read(*r.key, QString::number(r.byDefault)).trimmed().toInt(&ok);
    return ok && v >= r.minimum && v <= r.maximum ? v : r.byDefault;
}

}  // namespace

CliParse ParseCliOptions(const QStringList& arguments, SettingsStore& settings, int cores) {
    const Range ranges[] = {
        {"quality", &SettingKey::Slider1, 1, 100, 85},
        {"black", &SettingKey::Slider2, 0, 80, 60},
        {"gradient", &SettingKey::Slider3, 70, 200, 180},
        {"gray", &SettingKey::Slider4, 10, 70, 50},
    };
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Converts pictures into black-and-white line art, NAME-grayscale.jpg in the output "
        "folder. A folder stands for every file below it."));
    parser.addPositionalArgument(QStringLiteral("PATH"), QStringLiteral("Pictures and folders."),
                                 QStringLiteral("PATH..."));
    parser.addOptions({
        {{"o", "output"}, "The output folder (default: the one the window uses).", "DIR"},
        {{"q", "quality"}, "JPEG quality, 1 to 100 (default: the window's).", "N"},
        {"black", "Black Filter, 0 to 80 (default: the window's).", "N"},
        {"gradient", "Gradient Filter, 70 to 200 (default: the window's).", "N"},
        {"gray", "Gray Filter, 10 to 70 (default: the window's).", "N"},
        {"ext", "Walk folders for files with this extension only, as Add All does.", "EXT"},
        {{"j", "jobs"}, "Pictures converted at once (default: one a core).", "N"},
        {"memory",
         "Megabytes the pictures converted at once may take together; a bigger picture waits "
         "for its turn (default: TONVALER_MEMORY_MB, or half the machine's memory).",
         "MB"},
        {"format", "jpeg, or png for a lossless grey NAME-grayscale.png.", "FORMAT", "jpeg"},
        {"dry-run", "Print the paths that would be converted, in order, and stop."},
        {"samples", "Convert the sample pictures that come with the program."},
    });
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    if (!parser.parse(QStringList{QStringLiteral("tonvaler-cli")} + arguments)) {
        return usage(parser.errorText());
    }
    if (parser.isSet(help)) {
        return {std::nullopt, parser.helpText(), 0};
    }
    if (parser.isSet(version)) {
        return {std::nullopt, QStringLiteral("tonvaler-cli ") + QString::fromUtf8(AppInfo::Version),
                0};
    }

    CliOptions o;
    int values[4];
    for (int i = 0; i < 4; ++i) {
        const Range& r = ranges[i];
        values[i] = storedOr(settings, r);
        if (parser.isSet(QString::fromUtf8(r.option))) {
            bool ok = false;
            values[i] = parser.value(QString::fromUtf8(r.option)).toInt(&ok);
            if (!ok || values[i] < r.minimum || values[i] > r.maximum) {
                return usage(QStringLiteral("--%1 must be a whole number from %2 to %3")
                                 .arg(QString::fromUtf8(r.option))
                                 .arg(r.minimum)
                                 .arg(r.maximum));
            }
        }
    }
    o.quality = values[0];
    o.thresholds = {static_cast<std::int16_t>(values[1]), static_cast<std::int16_t>(values[2]),
                    static_cast<std::int16_t>(values[3])};
    o.jobs = cores;
    if (parser.isSet(QStringLiteral("jobs"))) {
        bool ok = false;
        o.jobs = parser.value(QStringLiteral("jobs")).toInt(&ok);
        if (!ok || o.jobs < 1 || o.jobs > 256) {
            return usage(QStringLiteral("--jobs must be a whole number from 1 to 256"));
        }
    }
    if (parser.isSet(QStringLiteral("memory"))) {
        bool ok = false;
        o.memoryMegabytes = parser.value(QStringLiteral("memory")).toInt(&ok);
        if (!ok || o.memoryMegabytes < 16 || o.memoryMegabytes > (1 << 24)) {
            return usage(QStringLiteral("--memory must be a whole number from 16 to 16777216"));
        }
    }
    const QString format = parser.value(QStringLiteral("format")).toLower();
    if (format == QLatin1String("png")) {
        o.format = PictureJob::Format::Png;
    } else if (format != QLatin1String("jpeg") && format != QLatin1String("jpg")) {
        return usage(QStringLiteral("--format must be jpeg or png"));
    }
    o.extension = parser.value(QStringLiteral("ext"));
    o.dryRun = parser.isSet(QStringLiteral("dry-run"));
    o.samples = parser.isSet(QStringLiteral("samples"));
    o.paths = parser.positionalArguments();
    if (o.paths.isEmpty() && !o.samples) {
        return usage(QStringLiteral("no PATH given (or --samples)"));
    }
    o.outputFolder = parser.isSet(QStringLiteral("output"))
                         ? parser.value(QStringLiteral("output"))
                         : settings.read(SettingKey::OutputFolder, QString());
    if (o.outputFolder.isEmpty()) {
        try {
            o.outputFolder = DefaultOutputFolder();  // what the window starts with
        } catch (const RuntimeError&) {
        }
    }
    return {o, QString(), 0};
}
