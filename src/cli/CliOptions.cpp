#include "cli/CliOptions.h"

#include "base/AppInfo.h"
#include "base/DefaultOutputFolder.h"
#include "base/RuntimeError.h"
#include "base/SettingsStore.h"
#include "engine/MemoryBudget.h"
#include "imagelist/CleanPath.h"

#include <QCommandLineParser>
#include <QRegularExpression>

#include <limits>

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

// A whole number within [minimum, maximum], from text that holds nothing else.
bool whole(const QString& text, qint64 minimum, qint64 maximum, qint64& value) {
    bool ok = false;
    value = text.trimmed().toLongLong(&ok);
    return ok && value >= minimum && value <= maximum;
}

bool whole(const QString& text, int minimum, int maximum, int& value) {
    qint64 v = 0;
    const bool ok = whole(text, qint64{minimum}, qint64{maximum}, v);
    value = ok ? static_cast<int>(v) : 0;
    return ok;
}

QString environment(const char* name) {
    return QString::fromLocal8Bit(qgetenv(name));
}

// The share of a Slurm array task: its place among the array's task IDs, which run from
// SLURM_ARRAY_TASK_MIN in steps of SLURM_ARRAY_TASK_STEP (--array=2-6:2 gives 2, 4, 6).
QString slurmShard(qint64& place, qint64& places) {
    constexpr qint64 most = std::numeric_limits<int>::max();
    qint64 id = 0, count = 0, first = 1, step = 1, last = 0;
    const QString min = environment("SLURM_ARRAY_TASK_MIN");
    const QString stepText = environment("SLURM_ARRAY_TASK_STEP");
    const QString max = environment("SLURM_ARRAY_TASK_MAX");
    if (!whole(environment("SLURM_ARRAY_TASK_ID"), 0, most, id) ||
        !whole(environment("SLURM_ARRAY_TASK_COUNT"), 1, most, count) ||
        (!min.isEmpty() && !whole(min, 0, most, first)) ||
        (!stepText.isEmpty() && !whole(stepText, 1, most, step)) ||
        (!max.isEmpty() && !whole(max, 0, most, last))) {
        return QStringLiteral(
            "SLURM_ARRAY_TASK_ID, _COUNT, _MIN, _MAX and _STEP must be whole "
            "numbers, _COUNT and _STEP 1 or more");
    }
    if (!max.isEmpty() &&
        (last < first || (last - first) % step != 0 || (last - first) / step + 1 != count)) {
        return QStringLiteral(
                   "the array's task IDs are not evenly stepped (%1 tasks from %2 to "
                   "%3 in steps of %4); use --array=A-B or A-B:S, or --shard K/N")
            .arg(count)
            .arg(first)
            .arg(last)
            .arg(step);
    }
    if (id < first || (id - first) % step != 0) {
        return QStringLiteral(
                   "SLURM_ARRAY_TASK_ID %1 is not one of the array's tasks (from %2 "
                   "in steps of %3)")
            .arg(id)
            .arg(first)
            .arg(step);
    }
    place = (id - first) / step + 1;
    places = count;
    return {};
}

// This process's share: K/N from --shard; with --shard auto (or --shard-count), from an array
// job's environment. What is wrong, or "".
QString readShard(const QCommandLineParser& parser, CliOptions& o) {
    const QString given = parser.value(QStringLiteral("shard")).trimmed();
    const bool automatic = given == QLatin1String("auto");
    const bool counted = parser.isSet(QStringLiteral("shard-count"));
    int count = 0;
    if (counted && !whole(parser.value(QStringLiteral("shard-count")), 1,
                          std::numeric_limits<int>::max(), count)) {
        return QStringLiteral("--shard-count must be a whole number of 1 or more");
    }
    if (parser.isSet(QStringLiteral("shard")) && !automatic) {
        const QStringList parts = given.split(QLatin1Char('/'));
        if (parts.size() != 2 ||
            !whole(parts[1], 1, std::numeric_limits<int>::max(), o.shardCount) ||
            !whole(parts[0], 1, o.shardCount, o.shard)) {
            return QStringLiteral("--shard must be K/N with 1 <= K <= N, such as 2/4, or auto");
        }
        if (counted) {
            return QStringLiteral("--shard-count goes with --shard auto, not --shard K/N");
        }
        return {};
    }
    if (!automatic && !counted) {
        return {};  // an array job's environment shards only when asked to
    }
    // The place and the count in 64 bits: the environment's numbers may be anything.
    qint64 place = 0, places = count;
    if (counted) {
        const QString index = environment("JOB_COMPLETION_INDEX");
        if (index.isEmpty()) {
            return QStringLiteral(
                "--shard-count goes with JOB_COMPLETION_INDEX in the environment");
        }
        if (!whole(index, 0, std::numeric_limits<qint64>::max() - 1, place)) {
            return QStringLiteral("JOB_COMPLETION_INDEX must be a whole number of 0 or more");
        }
        ++place;
        o.shardFrom = QStringLiteral("JOB_COMPLETION_INDEX");
    } else if (!environment("SLURM_ARRAY_TASK_ID").isEmpty()) {
        if (const QString problem = slurmShard(place, places); !problem.isEmpty()) {
            return problem;
        }
        o.shardFrom = QStringLiteral("SLURM_ARRAY_TASK_ID");
    } else if (!environment("JOB_COMPLETION_INDEX").isEmpty()) {
        return QStringLiteral("JOB_COMPLETION_INDEX needs --shard-count N");
    } else {
        return QStringLiteral(
            "--shard auto needs an array job's environment: "
            "SLURM_ARRAY_TASK_ID and SLURM_ARRAY_TASK_COUNT, or "
            "JOB_COMPLETION_INDEX with --shard-count");
    }
    if (place > places) {
        return QStringLiteral("%1 gives shard %2 of %3, which does not exist")
            .arg(o.shardFrom)
            .arg(place)
            .arg(places);
    }
    o.shard = static_cast<int>(place);
    o.shardCount = static_cast<int>(places);
    return {};
}

// The four values, from the options or the settings; with --sheet, the thresholds' lists.
QString readValues(const QCommandLineParser& parser, SettingsStore& settings, bool sheet,
                   CliOptions& o) {
    const Range ranges[] = {
        {"quality", &SettingKey::Slider1, 1, 100, 85},
        {"black", &SettingKey::Slider2, 0, 80, 60},
        {"gradient", &SettingKey::Slider3, 70, 200, 180},
        {"gray", &SettingKey::Slider4, 10, 70, 50},
    };
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
            if (!whole(text, r.minimum, r.maximum, values[i])) {
                return QStringLiteral("--%1 must be %2 from %3 to %4")
                    .arg(option, sheet && i > 0 ? QStringLiteral("whole numbers, separated "
                                                                 "by commas,")
                                                : QStringLiteral("a whole number"))
                    .arg(r.minimum)
                    .arg(r.maximum);
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
    return {};
}

// How the work is done: jobs, memory, format.
QString readWork(const QCommandLineParser& parser, int cores, CliOptions& o) {
    o.jobs = cores;
    if (parser.isSet(QStringLiteral("jobs")) &&
        !whole(parser.value(QStringLiteral("jobs")), 1, 256, o.jobs)) {
        return QStringLiteral("--jobs must be a whole number from 1 to 256");
    }
    if (parser.isSet(QStringLiteral("memory")) &&
        !whole(parser.value(QStringLiteral("memory")), 16, 1 << 24, o.memoryMegabytes)) {
        return QStringLiteral("--memory must be a whole number from 16 to 16777216");
    }
    const QString format = parser.value(QStringLiteral("format")).toLower();
    if (format == QLatin1String("png")) {
        o.format = PictureJob::Format::Png;
    } else if (format != QLatin1String("jpeg") && format != QLatin1String("jpg")) {
        return QStringLiteral("--format must be jpeg or png");
    }
    return {};
}

// What is converted and what is said about it.
QString readInputs(const QCommandLineParser& parser, CliOptions& o) {
    // An option given an empty value (a variable that was not set) names nothing.
    for (const char* name : {"output", "ext", "files-from", "report", "sheet"}) {
        if (parser.isSet(QString::fromLatin1(name)) &&
            parser.value(QString::fromLatin1(name)).isEmpty()) {
            return QStringLiteral("--%1 needs a value").arg(QString::fromLatin1(name));
        }
    }
    o.extension = parser.value(QStringLiteral("ext"));
    if (o.extension.startsWith(QLatin1Char('.'))) {
        o.extension.remove(0, 1);  // --ext .jpg as --ext jpg
    }
    o.dryRun = parser.isSet(QStringLiteral("dry-run"));
    o.samples = parser.isSet(QStringLiteral("samples"));
    o.paths = parser.positionalArguments();
    o.filesFrom = parser.value(QStringLiteral("files-from"));
    o.nullSeparated = parser.isSet(QStringLiteral("null"));
    if (o.nullSeparated && o.filesFrom.isEmpty()) {
        return QStringLiteral("--null goes with --files-from");
    }
    o.skipExisting = parser.isSet(QStringLiteral("skip-existing"));
    o.keepTime = parser.isSet(QStringLiteral("keep-time"));
    o.keepTree = parser.isSet(QStringLiteral("keep-tree"));
    o.stripMetadata = parser.isSet(QStringLiteral("strip-metadata"));
    o.report = parser.value(QStringLiteral("report"));
    const bool progress = parser.isSet(QStringLiteral("progress"));
    if (progress && parser.isSet(QStringLiteral("no-progress"))) {
        return QStringLiteral("--progress and --no-progress do not go together");
    }
    o.progress = progress                                      ? CliOptions::Progress::Always
                 : parser.isSet(QStringLiteral("no-progress")) ? CliOptions::Progress::Never
                                                               : CliOptions::Progress::OnTerminal;
    if (o.paths.isEmpty() && !o.samples && o.filesFrom.isEmpty()) {
        return QStringLiteral("no PATH given (or --samples)");
    }
    return {};
}

// --sheet and --crop. The crop is checked against the largest picture here, so that the numbers
// that follow cannot overflow.
QString readSheet(const QCommandLineParser& parser, CliOptions& o) {
    const bool sheet = parser.isSet(QStringLiteral("sheet"));
    o.sheet = parser.value(QStringLiteral("sheet"));
    // What only a conversion does: said, rather than let pass unseen.
    for (const char* name : {"output", "ext", "format", "dry-run", "samples", "files-from", "null",
                             "shard", "shard-count", "skip-existing", "keep-time", "keep-tree",
                             "report", "strip-metadata", "progress"}) {
        if (sheet && parser.isSet(QString::fromLatin1(name))) {
            return QStringLiteral("--%1 does not go with --sheet").arg(QString::fromLatin1(name));
        }
    }
    if (parser.isSet(QStringLiteral("crop"))) {
        if (!sheet) {
            return QStringLiteral("--crop goes with --sheet");
        }
        static const QRegularExpression form(
            QStringLiteral("^([0-9]+)x([0-9]+)\\+([0-9]+)\\+([0-9]+)$"));
        const QRegularExpressionMatch m = form.match(parser.value(QStringLiteral("crop")));
        int width = 0, height = 0, x = 0, y = 0;
        if (!m.hasMatch() || !whole(m.captured(1), 1, kFilterMaxWidth, width) ||
            !whole(m.captured(2), 1, kFilterMaxHeight, height) ||
            !whole(m.captured(3), 0, kFilterMaxWidth - width, x) ||
            !whole(m.captured(4), 0, kFilterMaxHeight - height, y)) {
            return QStringLiteral(
                       "--crop must be WIDTHxHEIGHT+X+Y within %1 x %2 pixels, such "
                       "as 400x300+0+0")
                .arg(kFilterMaxWidth)
                .arg(kFilterMaxHeight);
        }
        o.crop = QRect(x, y, width, height);
    }
    if (sheet && (o.paths.size() != 1 || o.samples)) {
        return QStringLiteral("--sheet takes one PICTURE");
    }
    return {};
}

// The output folder: given, or the window's, or where the window would start.
void readOutput(const QCommandLineParser& parser, SettingsStore& settings, CliOptions& o) {
    o.outputFolder = parser.isSet(QStringLiteral("output"))
                         ? parser.value(QStringLiteral("output"))
                         : settings.read(SettingKey::OutputFolder, QString());
    if (o.outputFolder.isEmpty()) {
        try {
            o.outputFolder = DefaultOutputFolder();  // what the window starts with
        } catch (const RuntimeError&) {
        }
    }
    if (!o.outputFolder.isEmpty()) {
        o.outputFolder = NormalisedFolder(o.outputFolder);
    }
}

// The options; the machine's memory, which takes reading the control groups, is told only in the
// help (`forHelp`).
QCommandLineParser& describe(QCommandLineParser& parser, bool forHelp = false) {
    const MemoryBudget::Default memory =
        forHelp ? MemoryBudget::defaultMemory() : MemoryBudget::Default{};
    parser.setApplicationDescription(QStringLiteral(
        "Converts pictures into black-and-white line art, NAME-grayscale.jpg in the output "
        "folder. A folder stands for every file below it, in every folder that can be read, "
        "except hidden ones (names that begin with .) and files whose names begin with ~. "
        "Pictures read, told by their content: JPEG, PNG, BMP, GIF, ICO, TIFF, WebP, X bitmaps "
        "(XBM), Netpbm (PBM, PGM, PPM), HEIC and HEIF, AVIF, JPEG XL, and camera raw files (DNG, "
        "CR2, CR3, NEF, ARW, RAF, ORF, RW2)."));
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
         QStringLiteral("Megabytes the pictures converted at once may take together; a bigger "
                        "picture waits for its turn (default: TONVALER_MEMORY_MB, or half the "
                        "machine's memory or of its control groups' least limit; here %1 MB, %2).")
             .arg(memory.bytes >> 20)
             .arg(memory.from),
         "MB"},
        {"format", "jpeg, or png for a lossless grey NAME-grayscale.png.", "FORMAT", "jpeg"},
        {"dry-run",
         "Print the paths that would be converted, in order, and what would not be and why, "
         "and stop."},
        {"samples", "Convert the sample pictures that come with the program."},
        {"files-from", "Read input paths from FILE (- for standard input), one a line.", "FILE"},
        {"null", "With --files-from: the paths end in NUL characters (find -print0)."},
        {"shard",
         "Convert only share K of N (1 <= K <= N), chosen by a hash of each path, so that N "
         "processes convert every input once between them; auto: this array task's share, from "
         "SLURM_ARRAY_TASK_ID (with _COUNT, _MIN, _STEP), or JOB_COMPLETION_INDEX with "
         "--shard-count.",
         "K/N|auto"},
        {"shard-count",
         "The number of shards when JOB_COMPLETION_INDEX gives this one's index (implies "
         "--shard auto).",
         "N"},
        {"skip-existing",
         "Leave an input alone when its output exists and is newer than it (with --keep-time: "
         "has its modification time, as its file system keeps it)."},
        {"keep-time",
         "Give each output its source's modification time, so that outputs sorted by date keep "
         "the order the pictures were taken in."},
        {"keep-tree",
         "Write each output in the input's folders below the folder given, made as needed, "
         "so that same-named pictures in different folders stay apart."},
        {"strip-metadata",
         "Write no capture data: by default each output carries its source's Exif (date, "
         "camera, lens, exposure, place) and XMP."},
        {"progress",
         "Show the progress line also where standard error is not a terminal: a line a second "
         "(on a terminal it is one line kept up to date: done, pictures a second, time left, "
         "failures)."},
        {"no-progress", "Show no progress line, on a terminal either."},
        {"report", "Write one JSON line per input (path, output, status, reason, ms) to FILE.",
         "FILE"},
        {"sheet",
         "Instead of converting, render one PICTURE for every combination of the --black, "
         "--gradient and --gray values listed, side by side and captioned, into one PNG file.",
         "FILE"},
        {"crop", "With --sheet: only this part of the picture, at 100 %.", "WxH+X+Y"},
    });
    return parser;
}

}  // namespace

std::optional<CliNamedInputs> NamedInputsOf(const QStringList& arguments) {
    QCommandLineParser parser;
    describe(parser);
    parser.addHelpOption();
    parser.addVersionOption();
    if (!parser.parse(QStringList{QStringLiteral("tonvaler-cli")} + arguments)) {
        return std::nullopt;
    }
    return CliNamedInputs{parser.positionalArguments(), parser.value(QStringLiteral("files-from"))};
}

CliParse ParseCliOptions(const QStringList& arguments, SettingsStore& settings, int cores) {
    QCommandLineParser parser;
    describe(parser);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // 1. The words, and the answers that need nothing more.
    if (!parser.parse(QStringList{QStringLiteral("tonvaler-cli")} + arguments)) {
        return usage(parser.errorText());
    }
    if (parser.isSet(help)) {
        QCommandLineParser described;
        describe(described, true);
        described.addHelpOption();
        described.addVersionOption();
        return {std::nullopt, described.helpText(), 0};
    }
    if (parser.isSet(version)) {
        return {std::nullopt, QStringLiteral("tonvaler-cli ") + QString::fromUtf8(AppInfo::Version),
                0};
    }
    for (const QString& name : parser.optionNames()) {  // the last value would win unseen
        if (parser.values(name).size() > 1) {
            return usage(QStringLiteral("%1%2 is given more than once")
                             .arg(name.size() == 1 ? "-" : "--", name));
        }
    }
    // 2. Each group of options in turn; the first problem is the answer.
    CliOptions o;
    const bool sheet = parser.isSet(QStringLiteral("sheet"));
    for (const QString& problem :
         {readValues(parser, settings, sheet, o), readWork(parser, cores, o), readInputs(parser, o),
          readShard(parser, o), readSheet(parser, o)}) {
        if (!problem.isEmpty()) {
            return usage(problem);
        }
    }
    // 3. Where the outputs go.
    readOutput(parser, settings, o);
    return {o, QString(), 0};
}
