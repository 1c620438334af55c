// The least any tool can spend on our job: TurboJPEG decode, grey = (b + g + r + 1) / 3, a grey
// JPEG encode at the same quality and transform, the file written; pictures spread over N threads.
//
//     codec_floor -j N -q Q -o DIR PICTURE...
#include <turbojpeg.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

bool convert(tjhandle in, tjhandle out, const std::string& source, const std::string& target,
             int quality) {
    std::FILE* f = std::fopen(source.c_str(), "rb");
    if (f == nullptr)
        return false;
    std::vector<unsigned char> jpeg;
    unsigned char chunk[1 << 16];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;)
        jpeg.insert(jpeg.end(), chunk, chunk + n);
    std::fclose(f);
    int w = 0, h = 0, sub = 0, space = 0;
    if (tjDecompressHeader3(in, jpeg.data(), jpeg.size(), &w, &h, &sub, &space) != 0)
        return false;
    std::vector<unsigned char> bgrx(static_cast<size_t>(w) * h * 4);
    if (tjDecompress2(in, jpeg.data(), jpeg.size(), bgrx.data(), w, 4 * w, h, TJPF_BGRX, 0) != 0)
        return false;
    std::vector<unsigned char> grey(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < grey.size(); ++i) {
        const unsigned char* p = &bgrx[4 * i];
        grey[i] = static_cast<unsigned char>((p[0] + p[1] + p[2] + 1) / 3);
    }
    unsigned char* encoded = nullptr;
    unsigned long size = 0;
    // The accurate transform, as the program's encoder uses.
    if (tjCompress2(out, grey.data(), w, w, h, TJPF_GRAY, &encoded, &size, TJSAMP_GRAY, quality,
                    TJFLAG_ACCURATEDCT) != 0)
        return false;
    std::FILE* o = std::fopen(target.c_str(), "wb");
    const bool ok = o != nullptr && std::fwrite(encoded, 1, size, o) == size;
    if (o != nullptr)
        std::fclose(o);
    tjFree(encoded);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    int jobs = static_cast<int>(std::thread::hardware_concurrency());
    int quality = 85;
    std::string folder = ".";
    std::vector<std::string> pictures;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-j" && i + 1 < argc)
            jobs = std::atoi(argv[++i]);
        else if (a == "-q" && i + 1 < argc)
            quality = std::atoi(argv[++i]);
        else if (a == "-o" && i + 1 < argc)
            folder = argv[++i];
        else
            pictures.push_back(a);
    }
    std::atomic<size_t> next{0};
    std::atomic<int> failed{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < jobs; ++t) {
        threads.emplace_back([&] {
            tjhandle in = tjInitDecompress();
            tjhandle out = tjInitCompress();
            for (size_t i; (i = next++) < pictures.size();) {
                const std::string& p = pictures[i];
                std::string name = p.substr(p.find_last_of('/') + 1);
                name = name.substr(0, name.find_last_of('.')) + "-grayscale.jpg";
                if (!convert(in, out, p, folder + "/" + name, quality))
                    ++failed;
            }
            tjDestroy(in);
            tjDestroy(out);
        });
    }
    for (std::thread& t : threads) t.join();
    return failed == 0 ? 0 : 1;
}
