#include "engine/formats/DecoderThreads.h"

namespace {
thread_local int lent = kAsTheDecoderWould;
}

int ThreadsLentHere() {
    return lent;
}

LentThreads::LentThreads(int threads) : before_(lent) {
    lent = threads;
}

LentThreads::~LentThreads() {
    lent = before_;
}
