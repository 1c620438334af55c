#include "engine/formats/DecoderThreads.h"

namespace {
// Initial-exec, as a module's copy needs it to be (LibraryMessages.cpp).
__attribute__((tls_model("initial-exec"))) thread_local int lent = kAsTheDecoderWould;
}  // namespace

int ThreadsLentHere() {
    return lent;
}

LentThreads::LentThreads(int threads) : before_(lent) {
    lent = threads;
}

LentThreads::~LentThreads() {
    lent = before_;
}
