#include "cli/RunReport.h"

#include "base/PathBytes.h"
#include "base/RuntimeError.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cstring>

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
                    const QString& reason, double milliseconds, const QString& captureData) {
    if (!file_ || error_ != 0) {
        return;
    }
    QJsonObject line{{"path", path},
                     {"output", output},
                     {"status", QString::fromLatin1(status)},
                     {"reason", reason},
                     {"ms", qRound(milliseconds * 10) / 10.0}};
    if (!captureData.isEmpty()) {
        line.insert("captureData", captureData);
    }
    const QByteArray text = QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n';
    errno = 0;
    if (std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), file_.get()) !=
            static_cast<std::size_t>(text.size()) ||
        std::fflush(file_.get()) != 0) {
        error_ = errno != 0 ? errno : EIO;
    }
}

QString RunReport::finish() {
    if (file_ && std::fclose(file_.release()) != 0 && error_ == 0) {
        error_ = errno != 0 ? errno : EIO;
    }
    return error_ == 0 ? QString() : QString::fromLocal8Bit(std::strerror(error_));
}
