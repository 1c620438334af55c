#include "cli/LargePagesWanted.h"

#include "base/PathBytes.h"
#include "cli/CliOptions.h"
#include "imagelist/AddFolder.h"
#include "imagelist/CameraPictureNames.h"

#include <QStringList>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

constexpr int kManyNames = 20000;

class NameCount {
  public:
    // Whether the names seen so far are worth the restart.
    bool worthIt() const { return camera_ || seen_ > kManyNames; }

    void name(const std::string& path) {
        ++seen_;
        const QString name = PathText(fs::path(path).filename().c_str());
        for (const QString& pattern : patterns_) {
            camera_ = camera_ || MatchesPattern(name, pattern);
        }
    }

    void folder(const std::string& path) {
        std::error_code error;
        fs::recursive_directory_iterator entry(path, fs::directory_options::skip_permission_denied,
                                               error);
        for (; !error && entry != fs::recursive_directory_iterator() && !worthIt();
             entry.increment(error)) {
            name(entry->path().native());
        }
    }

    void list(const std::string& path) {
        std::error_code error;
        if (path == "-" || !fs::is_regular_file(path, error)) {
            return;
        }
        std::ifstream lines(path);
        for (std::string line; !worthIt() && std::getline(lines, line, '\n');) {
            // Lines may also be separated by NUL (--null).
            std::size_t from = 0;
            for (std::size_t end; (end = line.find('\0', from)) != std::string::npos;
                 from = end + 1) {
                name(line.substr(from, end - from));
            }
            name(line.substr(from));
        }
    }

    void path(const std::string& path) {
        std::error_code error;
        const fs::file_status status = fs::status(path, error);
        if (fs::is_directory(status)) {
            folder(path);
        } else if (fs::is_regular_file(status)) {
            name(path);
        }
    }

  private:
    const QStringList patterns_ = kCameraPictureNames.split(QLatin1Char(';'));
    int seen_ = 0;
    bool camera_ = false;
};

}  // namespace

bool LargePagesWanted(const QStringList& arguments) {
    const std::optional<CliNamedInputs> inputs = NamedInputsOf(arguments);
    if (!inputs) {
        return false;  // the run only says what is wrong
    }
    NameCount count;
    if (!inputs->filesFrom.isEmpty()) {
        count.list(PathBytes(inputs->filesFrom).toStdString());
    }
    for (const QString& path : inputs->paths) {
        if (count.worthIt()) {
            break;
        }
        count.path(PathBytes(path).toStdString());
    }
    return count.worthIt();
}
