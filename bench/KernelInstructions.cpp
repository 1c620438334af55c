// Runs one filter kernel over the first ROWS rows of a photograph, once, for counting the
// instructions it executes under an emulator (bench/arm64-instructions): run with two row counts,
// the difference is the kernel's alone, the loading of the picture being the same in both.
//
//     kernel_instructions KERNEL ROWS [PICTURE]
//
// PICTURE defaults to honeywave.jpg of the shared benchmark pictures. Prints the picture's width.
#include "engine/PictureLoader.h"
#include "filter/BlackWhiteFilter.h"

#include <QString>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kernel_instructions KERNEL ROWS [PICTURE]\n");
        return 2;
    }
    const QString path = argc > 3 ? QString::fromLocal8Bit(argv[3])
                                  : QStringLiteral(TONVALER_DEFAULT_BENCH_DIR "/honeywave.jpg");
    const BgrxImage picture = LoadPicture(path);
    const int rows = std::min(std::atoi(argv[2]), picture.height());
    for (const FilterKernel& kernel : CompiledFilterKernels()) {
        if (std::strcmp(kernel.name.c_str(), argv[1]) != 0) {
            continue;
        }
        GreyImage out(picture.width(), rows);
        ApplyBlackWhiteFilter(kernel, picture.data(), picture.stride(), picture.width(), rows, {},
                              out.data(), out.stride());
        std::printf("%d\n", picture.width());
        return 0;
    }
    std::fprintf(stderr, "no kernel %s in this build\n", argv[1]);
    return 1;
}
