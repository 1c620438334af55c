#include "cli/CliOptions.h"

#include "base/AppInfo.h"
#include "base/DefaultOutputFolder.h"
#include "base/RuntimeError.h"
#include "base/SettingsStore.h"

#include <QCommandLineParser>
#include <QRegularExpression>

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

// This process's share, from --shard or from an array job's environment; what is wrong, or "".
QString readShard(const QCommandLineParser& parser, CliOptions& o) {
    const auto whole = [](const QString& text, int& value) {
        bool ok = false;
        value = text.trimmed().toInt(&ok);
        return ok;
    };
    const QString given = parser.value(QStringLiteral("shard"));
    int count = 0;
    const bool counted = parser.isSet(QStringLiteral("shard-count"));
    if (counted && (!whole(parser.value(QStringLiteral("shard-count")), count) || count < 1)) {
        return QStringLiteral("--shard-count must be a whole number of 1 or more");
    }
    if (parser.isSet(QStringLiteral("shard"))) {
        const QStringList parts = given.split(QLatin1Char('/'));
        if (parts.size() != 2 || !whole(parts[0], o.shard) || !whole(parts[1], o.shardCount) ||
            o.shardCount < 1 || o.shard < 1 || o.shard > o.shardCount) {
            return QStringLiteral("--shard must be K/N with 1 <= K <= N, such as 2/4");
        }
        return {};
    }
    const QByteArray slurmTask = qgetenv("SLURM_ARRAY_TASK_ID");
    const QByteArray slurmCount = qgetenv("SLURM_ARRAY_TASK_COUNT");
    const QByteArray jobIndex = qgetenv("JOB_COMPLETION_INDEX");
    int task = 0;
    if (!slurmTask.isEmpty() && !slurmCount.isEmpty()) {
        // Tasks are numbered from SLURM_ARRAY_TASK_MIN (--array=1-N or 0-N-1 alike).
        int first = 1;
        const QByteArray min = qgetenv("SLURM_ARRAY_TASK_MIN");
        if (!whole(QString::fromLatin1(slurmTask), task) ||
            !whole(QString::fromLatin1(slurmCount), o.shardCount) ||
            (!min.isEmpty() && !whole(QString::fromLatin1(min), first))) {
            return QStringLiteral("SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT must be numbers");
        }
        o.shard = task - first + 1;
        o.shardFrom = QStringLiteral("SLURM_ARRAY_TASK_ID");
    } else if (!jobIndex.isEmpty() && counted) {
        if (!whole(QString::fromLatin1(jobIndex), task)) {
            return QStringLiteral("JOB_COMPLETION_INDEX must be a number");
        }
        o.shard = task + 1;
        o.shardCount = count;
        o.shardFrom = QStringLiteral("JOB_COMPLETION_INDEX");
    } else if (counted) {
        return QStringLiteral("--shard-count goes with JOB_COMPLETION_INDEX in the environment");
    } else {
        return {};
    }
    if (o.shardCount < 1 || o.shard < 1 || o.shard > o.shardCount) {
        return QStringLiteral("%1 gives shard %2 of %3, which does not exist")
            .arg(o.shardFrom)
            .arg(o.shard)
            .arg(o.shardCount);
    }
    return {};
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
        {"black", "Black Filter, 0 to 80 (default: the window's); with --sheet, a list: 20,40,60.",
         "N"},
        {"gradient", "Gradient Filter, 70 to 200 (default: the window's); a list with --sheet.",
         "N"},
        {"gray", "Gray Filter, 10 to 70 (default: the window's); a list with --sheet.", "N"},
        {"ext", "Walk folders for files with this extension only, as Add All does.", "EXT"},
        {{"j", "jobs"}, "Pictures converted at once (default: one a core).", "N"},
        {"memory",
         "Megabytes the pictures converted at once may take together; a bigger picture waits "
         "for its turn (default: TONVALER_MEMORY_MB, or half the machine's memory).",
         "MB"},
        {"format", "jpeg, or png for a lossless grey NAME-grayscale.png.", "FORMAT", "jpeg"},
        {"dry-run", "Print the paths that would be converted, in order, and stop."},
        {"samples", "Convert the sample pictures that come with the program."},
        {"files-from", "Read input paths from FILE (- for standard input), one a line.", "FILE"},
        {"null", "With --files-from: the paths end in NUL characters (find -print0)."},
        {"shard",
         "Convert only share K of N (1 <= K <= N), chosen by a hash of each path, so that N "
         "processes convert every input once between them (default: from SLURM_ARRAY_TASK_ID "
         "and SLURM_ARRAY_TASK_COUNT, or JOB_COMPLETION_INDEX with --shard-count).",
         "K/N"},
        {"shard-count", "The number of shards when JOB_COMPLETION_INDEX gives this one's index.",
         "N"},
        {"skip-existing", "Leave an input alone when its output exists and is newer than it."},
        {"keep-tree",
         "Write each output in the input's folders below the folder given, made as needed, "
         "so that same-named pictures in different folders stay apart."},
        {"report", "Write one JSON line per input (path, output, status, reason, ms) to FILE.",
         "FILE"},
        {"sheet",
         "Instead of converting, render one PICTURE for every combination of the --black, "
         "--gradient and --gray values listed, side by side and captioned, into one PNG file.",
         "FILE"},
        {"crop", "With --sheet: only this part of the picture, at 100 %.", "WxH+X+Y"},
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
    o.sheet = parser.value(QStringLiteral("sheet"));
    const bool sheet = parser.isSet(QStringLiteral("sheet"));
    int values[4];
    for (int i = 0; i < 4; ++i) {
        const Range& r = ranges[i];
        const QString option = QString::fromUtf8(r.option);
        values[i] = storedOr(settings, r);
        // A sheet takes a list of each threshold; everything else one value.
        const QStringList given = !parser.isSet(option) ? QStringList()
                                  : sheet && i > 0 ? parser.value(option).split(QLatin1Char(','))
                                                   : QStringList{parser.value(option)};
        for (const QString& text : given) {
            bool ok = false;
            values[i] = text.trimmed().toInt(&ok);
            if (!ok || values[i] < r.minimum || values[i] > r.maximum) {
                return usage(QStringLiteral("--%1 must be %2 from %3 to %4")
                                 .arg(option, sheet && i > 0
                                                  ? QStringLiteral("whole numbers, separated "
                                                                   "by commas,")
                                                  : QStringLiteral("a whole number"))
                                 .arg(r.minimum)
                                 .arg(r.maximum));
            }
            if (i > 0) {
                o.sheetValues[i - 1].push_back(values[i]);
            }
        }
        if (i > 0 && given.isEmpty()) {
            o.sheetValues[i - 1].push_back(values[i]);
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
    o.filesFrom = parser.value(QStringLiteral("files-from"));
    o.nullSeparated = parser.isSet(QStringLiteral("null"));
    if (o.nullSeparated && o.filesFrom.isEmpty()) {
        return usage(QStringLiteral("--null goes with --files-from"));
    }
    o.skipExisting = parser.isSet(QStringLiteral("skip-existing"));
    o.keepTree = parser.isSet(QStringLiteral("keep-tree"));
    o.report = parser.value(QStringLiteral("report"));
    if (const QString problem = readShard(parser, o); !problem.isEmpty()) {
        return usage(problem);
    }
    if (o.paths.isEmpty() && !o.samples && o.filesFrom.isEmpty()) {
        return usage(QStringLiteral("no PATH given (or --samples)"));
    }
    if (parser.isSet(QStringLiteral("crop"))) {
        if (!sheet) {
            return usage(QStringLiteral("--crop goes with --sheet"));
        }
        static const QRegularExpression form(QStringLiteral("^(\\d+)x(\\d+)\\+(\\d+)\\+(\\d+)$"));
        const QRegularExpressionMatch m = form.match(parser.value(QStringLiteral("crop")));
        const auto number = [&](int n) { return m.captured(n).toInt(); };
        if (!m.hasMatch() || number(1) < 1 || number(2) < 1 || number(1) > kFilterMaxWidth ||
            number(2) > kFilterMaxHeight) {
            return usage(QStringLiteral("--crop must be WIDTHxHEIGHT+X+Y, such as 400x300+0+0"));
        }
        o.crop = QRect(number(3), number(4), number(1), number(2));
    }
    if (sheet && o.sheet.isEmpty()) {
        return usage(QStringLiteral("--sheet needs a FILE"));
    }
    if (sheet && (o.paths.size() != 1 || o.samples)) {
        return usage(QStringLiteral("--sheet takes one PICTURE"));
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
