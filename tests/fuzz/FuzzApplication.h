#pragma once

#include <QGuiApplication>

#include <cstdlib>

// The Qt application that the picture readers need, made once for the fuzzing process and kept
// as long as it lives.
inline void StartFuzzApplication() {
    static int argc = 1;
    static char name[] = "fuzzer";
    static char* argv[] = {name, nullptr};
    static QGuiApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        return new QGuiApplication(argc, argv);
    }();
    (void)app;
}
