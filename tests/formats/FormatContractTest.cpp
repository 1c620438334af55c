// The contract every format module keeps, checked on files damaged in every way that matters:
// a file that cannot be read whole is refused with a reason, or gives exactly the whole file's
// picture; and a small costly file's conversion stays within the memory and time its module
// charges. Two kinds of damage cannot be told from a picture, and are held only to a picture of
// the size the file states: samples stored plain (any bytes are some picture), and bits flipped
// in coded data that decodes all the same.
#include "base/RuntimeError.h"
#include "engine/PictureLoader.h"
#include "engine/formats/PictureFormat.h"
#include "formats/ContractSample.h"
#include "support/RunTool.h"
#include "support/TestPictures.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

namespace {

// The kinds of damage, each with its rule.
enum class Damage { Cut, ZeroedTail, Spliced, FieldLarger, FieldSmaller, Flipped };
constexpr Damage kDamages[] = {Damage::Cut,         Damage::ZeroedTail,   Damage::Spliced,
                               Damage::FieldLarger, Damage::FieldSmaller, Damage::Flipped};

const char* nameOf(Damage d) {
    switch (d) {
        case Damage::Cut:
            return "cut";
        case Damage::ZeroedTail:
            return "last 10 % zeroed";
        case Damage::Spliced:
            return "second half another's";
        case Damage::FieldLarger:
            return "field larger";
        case Damage::FieldSmaller:
            return "field smaller";
        case Damage::Flipped:
            return "bits flipped";
    }
    return "";
}

struct Derived {
    Damage damage;
    std::string what;
    QByteArray bytes;
    // The damage touches only samples stored plain: any picture of the whole one's size is right.
    bool plainOnly = false;
    // The changed file is still valid (FieldEdit::staysValid): a picture of its stated size is
    // right.
    bool staysValid = false;
};

// Whether bytes [first, end) lie within samples stored plain or unchecked coded data.
bool within(const ContractSample& s, qsizetype first, qsizetype end) {
    const auto inside = [&](const auto& range) {
        return range.first <= first && end <= range.second;
    };
    return std::any_of(s.plainSamples.begin(), s.plainSamples.end(), inside) ||
           std::any_of(s.uncheckedData.begin(), s.uncheckedData.end(), inside);
}

// Every file the contract derives from `s` (and `other`, a whole file of the same kind), with a
// fixed seed: cuts at every boundary and at 20 points besides, the last byte missing; the last
// tenth zeroed; the second half another file's; each field larger and smaller; bits flipped.
std::vector<Derived> derive(const ContractSample& s, const ContractSample& other) {
    const QByteArray& b = s.bytes;
    const qsizetype n = b.size();
    std::vector<Derived> out;
    std::mt19937 random(std::hash<std::string>{}(s.name) & 0xFFFFFFFF);
    std::set<qsizetype> cuts;
    for (const qsizetype at : s.boundaries) {
        if (at > 0 && at < n) {
            cuts.insert(at);
        }
    }
    for (int k = 1; k <= 20; ++k) {
        cuts.insert(std::clamp<qsizetype>(n * k / 21 + qsizetype(random() % 7) - 3, 1, n - 1));
    }
    cuts.insert(n - 1);
    for (const qsizetype at : cuts) {
        out.push_back(
            {Damage::Cut, "cut at " + std::to_string(at) + " of " + std::to_string(n), b.left(at)});
    }
    QByteArray zeroed = b;
    const qsizetype tail = n - n / 10;
    std::fill(zeroed.begin() + tail, zeroed.end(), '\0');
    if (zeroed != b) {
        out.push_back(
            {Damage::ZeroedTail, "from " + std::to_string(tail), zeroed, within(s, tail, n)});
    }
    if (&other != &s && other.bytes.size() > 1) {
        const QByteArray spliced = b.left(n / 2) + other.bytes.mid(other.bytes.size() / 2);
        out.push_back({Damage::Spliced, "with " + other.name, spliced, within(s, n / 2, n)});
    }
    for (const FieldEdit& field : s.fields) {
        for (const int direction : {1, -1}) {
            if (auto edited = field.apply(b, direction); edited && *edited != b) {
                out.push_back({direction > 0 ? Damage::FieldLarger : Damage::FieldSmaller,
                               field.what, std::move(*edited), false, !field.staysValid.empty()});
            }
        }
    }
    for (int k = 0; k < 16; ++k) {
        QByteArray flipped = b;
        const int flips = k < 12 ? 1 : 8;
        std::string what = "bits";
        for (int f = 0; f < flips; ++f) {
            const qsizetype at = qsizetype(random() % std::uint64_t(n));
            const int bit = int(random() % 8);
            flipped[at] = static_cast<char>(flipped[at] ^ (1 << bit));
            what += " " + std::to_string(at) + "." + std::to_string(bit);
        }
        out.push_back({Damage::Flipped, what, flipped});
    }
    return out;
}

struct Decoded {
    std::optional<BgrxImage> picture;
    std::optional<RuntimeError> failure;
};

Decoded decode(const QByteArray& bytes) {
    Decoded d;
    try {
        d.picture = DecodePicture(
            {reinterpret_cast<const std::uint8_t*>(bytes.constData()), std::size_t(bytes.size())},
            QStringLiteral("sample"));
    } catch (const RuntimeError& e) {
        d.failure = e;
    }
    return d;
}

long differing(const BgrxImage& a, const BgrxImage& b) {
    if (a.width() != b.width() || a.height() != b.height()) {
        return -1;
    }
    long count = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            count += std::memcmp(a.row(y) + 4 * x, b.row(y) + 4 * x, 3) != 0;
        }
    }
    return count;
}

// A refusal names the file's fault: the loader's numbers for a bad or too large picture.
bool isRefusal(const RuntimeError& e) {
    return (e.number() == ErrorNumber::InvalidPicture || e.number() == ErrorNumber::OutOfMemory) &&
           e.description().find("Cannot load sample: ") == 0;
}

struct Tally {
    int derived = 0, refused = 0, identical = 0, valid = 0, otherwise = 0;
};

std::string formatName(const FormatSamples& f) {
    std::string name;
    for (const PictureType t : f.types) {
        name += (name.empty() ? "" : "+") + std::string(FormatOf(t).name());
    }
    return name;
}

class FormatContract : public ::testing::TestWithParam<FormatSamples> {};

// Every module is covered by samples: a kind cannot be added without them.
TEST(FormatContractCoverage, EveryModuleHasSamples) {
    std::set<PictureType> covered;
    for (const FormatSamples& f : AllFormatSamples()) {
        covered.insert(f.types.begin(), f.types.end());
    }
    for (const PictureFormat* format : AllFormats()) {
        EXPECT_TRUE(covered.count(format->type())) << format->name() << " has no contract samples";
    }
}

TEST_P(FormatContract, DamagedFilesAreRefusedOrGiveTheWholePicture) {
    const FormatSamples& f = GetParam();
    const std::vector<ContractSample> samples = f.whole();
    ASSERT_FALSE(samples.empty());
    std::map<Damage, Tally> tally;
    int reported = 0;
    // TONVALER_WRITE_SAMPLES=FOLDER keeps the whole files there, for the fuzzers' seeds.
    const QString keep = qEnvironmentVariable("TONVALER_WRITE_SAMPLES");
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const ContractSample& s = samples[i];
        SCOPED_TRACE(s.name);
        if (!keep.isEmpty()) {
            WriteBytes(keep + "/" + QString::fromStdString(formatName(f) + " " + s.name), s.bytes);
        }
        const Decoded whole = decode(s.bytes);
        if (f.refused) {
            ASSERT_FALSE(whole.picture) << "a file of a refused kind converts";
            EXPECT_TRUE(isRefusal(*whole.failure)) << whole.failure->description();
        } else {
            ASSERT_TRUE(whole.picture) << "the whole file fails: " << whole.failure->description();
        }
        const PictureProbe probe =
            ProbePicture({reinterpret_cast<const std::uint8_t*>(s.bytes.constData()),
                          std::size_t(s.bytes.size())});
        EXPECT_TRUE(std::find(f.types.begin(), f.types.end(), probe.type) != f.types.end());
        // Another whole file of the kind, for the splice: the next sample, or itself when alone.
        const ContractSample& other = samples[(i + 1) % samples.size()];
        for (const Derived& d : derive(s, other)) {
            Tally& t = tally[d.damage];
            ++t.derived;
            const Decoded got = decode(d.bytes);
            if (got.failure) {
                if (isRefusal(*got.failure)) {
                    ++t.refused;
                    continue;
                }
                ++t.otherwise;
                ADD_FAILURE() << nameOf(d.damage) << " (" << d.what
                              << ") fails without naming the picture's fault: "
                              << got.failure->number() << " " << got.failure->description();
                continue;
            }
            // Whatever decodes has the size its own header states, as the memory was charged.
            const PictureProbe stated =
                ProbePicture({reinterpret_cast<const std::uint8_t*>(d.bytes.constData()),
                              std::size_t(d.bytes.size())});
            if (stated.width > 0 && stated.height > 0 &&
                (FormatOf(stated.type).statesOrientation()
                     ? stated.uprightWidth() != got.picture->width() ||
                           stated.uprightHeight() != got.picture->height()
                     : stated.width * stated.height !=
                           std::int64_t(got.picture->width()) * got.picture->height())) {
                ++t.otherwise;
                ADD_FAILURE() << nameOf(d.damage) << " (" << d.what << "): the header states "
                              << stated.width << " x " << stated.height << ", the picture is "
                              << got.picture->width() << " x " << got.picture->height();
                continue;
            }
            if (f.refused) {
                ++t.otherwise;
                ADD_FAILURE() << nameOf(d.damage) << " (" << d.what
                              << ") of a refused kind converts";
                continue;
            }
            const long differ = differing(*whole.picture, *got.picture);
            if (differ == 0) {
                ++t.identical;
                continue;
            }
            if ((d.plainOnly && differ > 0) || d.staysValid) {
                ++t.valid;
                continue;
            }
            if (d.damage == Damage::Flipped) {
                ++t.otherwise;  // a picture: what a flip in coded data makes cannot all be told
                continue;
            }
            ++t.otherwise;
            if (++reported <= 40) {
                ADD_FAILURE() << nameOf(d.damage) << " (" << d.what
                              << ") converted: " << got.picture->width() << " x "
                              << got.picture->height()
                              << (differ > 0 ? ", " + std::to_string(differ) + " pixels differ"
                                             : std::string(", not the whole file's size"));
            }
        }
    }
    if (reported > 40) {
        ADD_FAILURE() << reported - 40 << " more converted although damaged";
    }
    std::ostringstream table;
    table << "\n| " << formatName(f)
          << " | derived | refused | identical | another valid picture | "
          << "otherwise |\n|---|---|---|---|---|---|\n";
    for (const Damage d : kDamages) {
        const Tally& t = tally[d];
        table << "| " << nameOf(d) << " | " << t.derived << " | " << t.refused << " | "
              << t.identical << " | " << t.valid << " | " << t.otherwise << " |\n";
    }
    std::printf("%s", table.str().c_str());
}

// What a worker needs whatever the picture, beside what each picture is charged: the libraries'
// tables made on first use, a thread's stack.
constexpr std::uint64_t kFixedBytes = std::uint64_t(8) << 20;

// What a conversion in a process of its own cost (measure_conversion): the most memory it added,
// its CPU time, and its failure when it failed.
struct Cost {
    long peakBytes = 0;
    double cpuSeconds = 0;
    std::string failure;
};

std::optional<Cost> costOf(const QString& path, const QString& folder, int seconds) {
    const ToolRun run =
        RunTool("timeout", {QString::number(seconds), TONVALER_MEASURE_CONVERSION, path, folder});
    QList<QByteArray> lines = run.out.split('\n');
    if (!run.succeeded() || lines.size() < 2) {
        return std::nullopt;
    }
    const QList<QByteArray> figures = lines[0].split(' ');
    if (figures.size() != 2) {
        return std::nullopt;
    }
    return Cost{figures[0].toLong(), figures[1].toDouble(), lines[1].toStdString()};
}

TEST_P(FormatContract, CostlyFilesStayWithinTheirCharge) {
    const FormatSamples& f = GetParam();
    std::ostringstream table;
    table << "\n| " << formatName(f) << " costly file | KB | charged MB | peak MB | "
          << "allowed s | CPU s |\n|---|---|---|---|---|---|\n";
    for (const CostlySample& s : f.costly()) {
        SCOPED_TRACE(s.name);
        const PictureProbe probe =
            ProbePicture({reinterpret_cast<const std::uint8_t*>(s.bytes.constData()),
                          std::size_t(s.bytes.size())});
        const std::uint64_t charged = std::uint64_t(s.bytes.size()) + probe.workingBytes();
        // The time the module expects for ordering work is an estimate: three times it, and a
        // tenth of a second, is what the file may ask for.
        const double allowed =
            0.1 + 3.0 * double(probe.costEstimate(std::uint64_t(s.bytes.size()))) / 1e9;
        QTemporaryDir dir;
        WriteBytes(dir.filePath("costly"), s.bytes);
        const std::optional<Cost> cost = costOf(dir.filePath("costly"), dir.path(), 120);
        ASSERT_TRUE(cost) << "the decode crashed or took more than 120 s";
        table << "| " << s.name << " | " << s.bytes.size() / 1024 << " | " << charged / 1e6 << " | "
              << cost->peakBytes / 1e6 << " | " << allowed << " | " << cost->cpuSeconds
              << (cost->failure.empty() ? "" : " (refused: " + cost->failure + ")") << " |\n";
        if (kSanitized) {
            continue;  // the sanitizer's own memory and time say nothing of the decode's
        }
        EXPECT_LE(std::uint64_t(std::max(0L, cost->peakBytes)), charged + kFixedBytes)
            << "peak " << cost->peakBytes / 1e6 << " MB, charged " << charged / 1e6 << " MB";
        EXPECT_LE(cost->cpuSeconds, allowed) << "CPU time beyond what the module expects";
    }
    std::printf("%s", table.str().c_str());
}

std::string testName(const ::testing::TestParamInfo<FormatSamples>& info) {
    std::string name;
    for (const char c : formatName(info.param)) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(EachFormat, FormatContract, ::testing::ValuesIn(AllFormatSamples()),
                         testName);

}  // namespace
