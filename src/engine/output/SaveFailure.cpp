#include "engine/output/SaveFailure.h"

#include "base/RuntimeError.h"

namespace {
const std::string kLead = "Cannot save the image. GDI+ Error:";
}

void RaiseSaveFailure(SaveStatus status, const std::string& cause) {
    throw RuntimeError(ErrorNumber::InvalidCall, kLead + std::to_string(static_cast<int>(status)),
                       cause);
}

std::optional<SaveStatus> SaveStatusOf(const RuntimeError& failure) {
    const std::string& text = failure.description();
    if (failure.number() != ErrorNumber::InvalidCall || text.rfind(kLead, 0) != 0) {
        return std::nullopt;
    }
    const std::string number = text.substr(kLead.size());
    if (number.empty() || number.size() > 2 ||
        number.find_first_not_of("0123456789") != std::string::npos) {
        return std::nullopt;
    }
    return static_cast<SaveStatus>(std::stoi(number));
}
