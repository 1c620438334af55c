#include "engine/formats/LibraryMessages.h"

#include <QString>
#include <QtGlobal>

#include <dlfcn.h>

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

constexpr std::size_t kMostLines = 4;

// In the static TLS block, though it lives in a module loaded late: a block of its own made for
// each thread (the model a module's variables have otherwise) is one that LeakSanitizer's scan of
// the threads at exit does not survive.
__attribute__((tls_model("initial-exec"))) thread_local LibraryMessages* current = nullptr;
QtMessageHandler previous = nullptr;

void handle(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (current != nullptr && type != QtFatalMsg) {
        current->add(message.toStdString());
        return;
    }
    if (previous != nullptr) {
        previous(type, context, message);
    }
}

// libtiff reports straight to stderr unless given handlers; Qt's TIFF reader gives none. It is
// reached where it is loaded, so that the program does not need it to build or to run.
void tiffSaid(const char* module, const char* format, va_list arguments) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    const QString line = QString::fromLocal8Bit(module ? module : "libtiff") +
                         QStringLiteral(": ") + QString::fromLocal8Bit(text);
    handle(QtWarningMsg, QMessageLogContext(), line);
}

void routeTiffMessages() {
    using Handler = void (*)(const char*, const char*, va_list);
    using SetHandler = Handler (*)(Handler);
    void* tiff = ::dlopen("libtiff.so.6", RTLD_LAZY | RTLD_GLOBAL);
    if (tiff == nullptr) {
        tiff = ::dlopen("libtiff.so.5", RTLD_LAZY | RTLD_GLOBAL);
    }
    if (tiff == nullptr) {
        return;
    }
    for (const char* name : {"TIFFSetErrorHandler", "TIFFSetWarningHandler"}) {
        if (auto set = reinterpret_cast<SetHandler>(::dlsym(tiff, name))) {
            set(tiffSaid);
        }
    }
}

}  // namespace

LibraryMessages::LibraryMessages() : outer_(current) {
    static std::once_flag once;
    std::call_once(once, [] {
        previous = qInstallMessageHandler(handle);
        routeTiffMessages();
    });
    current = this;
}

LibraryMessages::~LibraryMessages() {
    current = outer_;
}

void LibraryMessages::add(std::string line) {
    if (lines_.size() < kMostLines) {
        lines_.push_back(std::move(line));
    }
}

std::string LibraryMessages::text() const {
    std::string joined;
    for (const std::string& line : lines_) {
        joined += (joined.empty() ? "" : "; ") + line;
    }
    return joined;
}
