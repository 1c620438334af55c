// The format modules a fuzzer loads on first use carry their own copy of the engine's code, so
// that each works beside any program; AddressSanitizer reports that copy's globals as defined
// twice. Which copy a call reaches does not change what it does, so that report is turned off.
extern "C" const char* __asan_default_options() {
    return "detect_odr_violation=0";
}
