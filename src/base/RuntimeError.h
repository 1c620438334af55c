#pragma once

#include <exception>
#include <string>

// The one failure that crosses the program's layers: an error number and a description.
// Numbers follow the classic runtime's numbering where the program's messages rely on it
// (ErrorNumber below: every number the program raises is named there). The description is UTF-8 and
// may be empty. A failure whose description is fixed text may carry the system's own reason beside
// it, for the places that show more than the fixed text. Depends on nothing but the standard
// library, so the pixel code can raise it too.
class RuntimeError : public std::exception {
  public:
    RuntimeError(int number, std::string description)
        : number_(number), description_(std::move(description)) {}

    RuntimeError(int number, std::string description, std::string cause)
        : number_(number), description_(std::move(description)), cause_(std::move(cause)) {}

    int number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }
    // The system's reason ("Permission denied"), or "".
    const std::string& cause() const noexcept { return cause_; }
    const char* what() const noexcept override { return description_.c_str(); }

    // Turns whatever is in flight inside a catch block into a RuntimeError. This is the one
    // place where other exception types become the program's error.
    static RuntimeError fromCurrentException();

    // An errno value from a failed system call on `path`, worded the way the system words it.
    static RuntimeError fromErrno(int errnoValue, const std::string& path);

  private:
    int number_;
    std::string description_;
    std::string cause_;
};

namespace ErrorNumber {
inline constexpr int InvalidCall = 5;
inline constexpr int Overflow = 6;
inline constexpr int OutOfMemory = 7;
inline constexpr int DivisionByZero = 11;
inline constexpr int TypeMismatch = 13;
inline constexpr int InternalError = 51;
inline constexpr int FileNotFound = 53;
inline constexpr int PermissionDenied = 70;
inline constexpr int PathFileAccess = 75;
inline constexpr int PathNotFound = 76;
inline constexpr int InvalidPropertyValue = 380;
inline constexpr int InvalidPicture = 481;  // no picture the loader can read
inline constexpr int TooManyFilesSelected = 20476;
inline constexpr int IndexOutOfBounds = 35600;
}  // namespace ErrorNumber
