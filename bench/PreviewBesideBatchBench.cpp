// What the preview open beside a batch costs the batch: 30 pictures of 1200 × 900 converted by
// one worker on a 12 MB budget, which the preview's picture shares; each round alone and with the
// preview holding a picture, alternated, and the medians, spread and ratio printed. The preview
// gives its share back to the batch's first picture and comes back once the batch ends.
//
//     QT_QPA_PLATFORM=offscreen build/bench/preview_beside_batch_bench [rounds, 5]
#include "engine/OrderedBatch.h"
#include "support/PathsBatchClient.h"
#include "window/PreviewWork.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// Milliseconds the batch takes, with the preview showing `previewed` beside it when not empty.
double batchMilliseconds(const QStringList& sources, const QString& out, const QString& previewed) {
    PathsBatchClient client(sources, out);
    OrderedBatch batch(client, 1, std::uint64_t(12) << 20);
    std::unique_ptr<PreviewWork> work;
    bool shown = false;
    if (!previewed.isEmpty()) {
        work = std::make_unique<PreviewWork>(batch.sharedBudget());
        QObject::connect(work.get(), &PreviewWork::made, [&](const PreviewFrame& frame) {
            shown = shown || frame.kind == PreviewFrame::Kind::Whole;
        });
        PreviewRequest request;
        request.path = previewed;
        work->request(request);
        while (!shown) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }
    QElapsedTimer clock;
    clock.start();
    batch.start(int(sources.size()));
    while (!client.done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    if (client.failed > 0) {
        std::fprintf(stderr, "%d pictures failed\n", client.failed);
        std::exit(1);
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int rounds = std::max(1, argc > 1 ? std::atoi(argv[1]) : 5);
    QTemporaryDir dir;
    QImage picture(1200, 900, QImage::Format_RGB32);
    for (int y = 0; y < picture.height(); ++y) {
        auto* row = reinterpret_cast<quint32*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            row[x] = static_cast<quint32>(x * 2654435761u ^ y * 40503u) & 0xFFFFFF;
        }
    }
    QStringList sources;
    for (int i = 0; i < 30; ++i) {
        sources.append(dir.filePath(QString("%1.png").arg(i)));
        picture.save(sources.back());
    }
    std::vector<double> alone, beside, ratios;
    for (int r = 0; r < rounds; ++r) {
        alone.push_back(batchMilliseconds(sources, dir.path(), {}));
        beside.push_back(batchMilliseconds(sources, dir.path(), sources[0]));
        ratios.push_back(beside.back() / alone.back());
    }
    const auto spread = [](const std::vector<double>& v) {
        return std::pair(*std::min_element(v.begin(), v.end()),
                         *std::max_element(v.begin(), v.end()));
    };
    std::printf("30 pictures of 1200 x 900, one worker, 12 MB, %d rounds\n", rounds);
    std::printf("alone          %7.0f ms (%.0f-%.0f)\n", median(alone), spread(alone).first,
                spread(alone).second);
    std::printf("beside preview %7.0f ms (%.0f-%.0f)\n", median(beside), spread(beside).first,
                spread(beside).second);
    std::printf("ratio          %7.3f (%.3f-%.3f)\n", median(ratios), spread(ratios).first,
                spread(ratios).second);
    return 0;
}
