#pragma once

#include "engine/OrderedBatch.h"

#include <QStringList>

#include <memory>

// A batch client that converts the files of `paths` (the caller's, which outlive it) into
// `folder` with the default values, counts what failed and notes when the batch finished.
struct PathsBatchClient : OrderedBatch::Client {
    const QStringList& paths;
    std::shared_ptr<CurrentSettings> settings;
    int failed = 0;
    bool done = false;

    PathsBatchClient(const QStringList& p, const QString& folder)
        : paths(p),
          settings(std::make_shared<CurrentSettings>(ConversionSettings{{}, 85, folder})) {}
    PictureJob jobFor(int item) override {
        PictureJob job;
        job.sourcePath = paths[item];
        job.settings = settings;
        return job;
    }
    void takeUp(int, PictureOutcome& outcome) override { failed += outcome.failed(); }
    void finished() override { done = true; }
};
