#include "cli/RunReport.h"

#include "base/PathBytes.h"
#include "base/RuntimeError.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>

RunReport::RunReport(const QString& file) : file_(nullptr, &std::fclose) {
    if (file.isEmpty()) {
        return;
    }
    file_.reset(std::fopen(PathBytes(file).constData(), "w"));
    if (!file_) {
        throw RuntimeError::fromErrno(errno, PathBytes(file).toStdString());
    }
}

void RunReport::add(const QString& path, const QString& output, const char* status,
                    const QString& reason, double milliseconds) {
    if (!file_) {
        return;
    }
    const QJsonObject line{{"path", path},
                           {"output", output},
                           {"status", QString::fromLatin1(status)},
                           {"reason", reason},
                           {"ms", qRound(milliseconds * 10) / 10.0}};
    const QByteArray text = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), file_.get());
    std::fflush(file_.get());
}
