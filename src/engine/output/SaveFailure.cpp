#include "engine/output/SaveFailure.h"

#include "base/RuntimeError.h"

void RaiseSaveFailure(SaveStatus status, const std::string& cause) {
    throw RuntimeError(
        ErrorNumber::InvalidCall,
        "Cannot save the image. GDI+ Error:" + std::to_string(static_cast<int>(status)), cause);
}
