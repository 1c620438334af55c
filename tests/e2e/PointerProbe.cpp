// pointer_probe MS COUNT: prints a checksum of the pointer's image as the X server shows it,
// every MS milliseconds, COUNT times, a line each.
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    const int ms = argc == 3 ? std::atoi(argv[1]) : 0;
    const int count = argc == 3 ? std::atoi(argv[2]) : 0;
    if (ms <= 0 || count <= 0) {
        std::fprintf(stderr, "usage: pointer_probe MS COUNT\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    int event = 0;
    int error = 0;
    if (display == nullptr || !XFixesQueryExtension(display, &event, &error)) {
        std::fprintf(stderr, "pointer_probe: no X display with XFixes\n");
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        XFixesCursorImage* image = XFixesGetCursorImage(display);
        unsigned long hash = 1469598103934665603ul;  // FNV-1a over the pixels
        for (int k = 0; image != nullptr && k < image->width * image->height; ++k) {
            hash = (hash ^ image->pixels[k]) * 1099511628211ul;
        }
        std::printf("%016lx\n", hash);
        std::fflush(stdout);
        XFree(image);
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    XCloseDisplay(display);
    return 0;
}
