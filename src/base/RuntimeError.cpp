#include "base/RuntimeError.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <system_error>

namespace {

int numberForErrno(int e) {
    switch (e) {
        case ENOENT:
            return ErrorNumber::FileNotFound;
        case ENOTDIR:
            return ErrorNumber::PathNotFound;
        case EACCES:
        case EPERM:
        case EROFS:
            return ErrorNumber::PermissionDenied;
        case ENOMEM:
            return ErrorNumber::OutOfMemory;
        default:
            return ErrorNumber::PathFileAccess;
    }
}

}  // namespace

RuntimeError RuntimeError::fromErrno(int errnoValue, const std::string& path) {
    std::string text = std::strerror(errnoValue);
    if (!path.empty()) {
        text += ": " + path;
    }
    return RuntimeError(numberForErrno(errnoValue), text);
}

RuntimeError RuntimeError::fromCurrentException() {
    try {
        throw;
    } catch (const RuntimeError& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return RuntimeError(ErrorNumber::OutOfMemory, "Out of memory");
    } catch (const std::filesystem::filesystem_error& e) {
        std::string path = e.path1().string();
        return fromErrno(e.code().value(), path);
    } catch (const std::overflow_error& e) {
        return RuntimeError(ErrorNumber::Overflow, e.what());
    } catch (const std::system_error& e) {
        return RuntimeError(numberForErrno(e.code().value()), e.what());
    } catch (const std::exception& e) {
        return RuntimeError(ErrorNumber::InvalidCall, e.what());
    } catch (...) {
        return RuntimeError(ErrorNumber::InternalError, "Internal error");
    }
}
