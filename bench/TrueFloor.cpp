// The least our job can cost with the codec the program uses: every picture read into memory
// first, then, in each of N threads, libjpeg decodes it to the program's 4-byte layout, a grey
// buffer is made of it, and libjpeg encodes that with the program's options. Each thread keeps its
// codec objects and buffers from one picture to the next, and malloc keeps what is freed, so no
// picture waits on fresh memory. Nothing is written unless -o is given.
//
//     true_floor [-j N] [-q Q] [-o DIR] PICTURE...
//
// Prints the CPU time of decoding (with the grey buffer) and of encoding, summed over the
// threads, and the wall time of the conversions, in ms.
#include <fcntl.h>
#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <jpeglib.h>

namespace {

double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double wallMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

struct Errors {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

[[noreturn]] void onError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<Errors*>(info->err)->jump, 1);
}

// A destination that grows a buffer kept from one picture to the next.
struct Destination {
    jpeg_destination_mgr pub;
    std::vector<JOCTET> bytes;
    std::size_t size = 0;
};

void onStart(j_compress_ptr info) {
    auto& d = *reinterpret_cast<Destination*>(info->dest);
    d.pub.next_output_byte = d.bytes.data();
    d.pub.free_in_buffer = d.bytes.size();
}

boolean onFull(j_compress_ptr info) {
    auto& d = *reinterpret_cast<Destination*>(info->dest);
    const std::size_t used = d.bytes.size();
    d.bytes.resize(2 * used);
    d.pub.next_output_byte = d.bytes.data() + used;
    d.pub.free_in_buffer = d.bytes.size() - used;
    return TRUE;
}

void onEnd(j_compress_ptr info) {
    auto& d = *reinterpret_cast<Destination*>(info->dest);
    d.size = d.bytes.size() - d.pub.free_in_buffer;
}

// (b + 2g + r) / 4, in a form the compiler turns into vector code.
void greyRow(const std::uint8_t* bgrx, std::uint8_t* grey, std::size_t width) {
    for (std::size_t x = 0; x < width; ++x) {
        std::uint32_t v;
        std::memcpy(&v, bgrx + 4 * x, 4);
        grey[x] = static_cast<std::uint8_t>(
            ((v & 0xFF) + ((v >> 7) & 0x1FE) + ((v >> 16) & 0xFF) + 2) >> 2);
    }
}

struct Worker {
    Errors decodeErrors, encodeErrors;
    jpeg_decompress_struct in{};
    jpeg_compress_struct out{};
    Destination dest;
    std::vector<std::uint8_t> band, grey;
    double decodeMs = 0, encodeMs = 0;

    Worker() {
        in.err = jpeg_std_error(&decodeErrors.pub);
        decodeErrors.pub.error_exit = onError;
        jpeg_create_decompress(&in);
        out.err = jpeg_std_error(&encodeErrors.pub);
        encodeErrors.pub.error_exit = onError;
        jpeg_create_compress(&out);
        dest.pub.init_destination = onStart;
        dest.pub.empty_output_buffer = onFull;
        dest.pub.term_destination = onEnd;
        dest.bytes.resize(64 << 10);
        out.dest = &dest.pub;
    }
    ~Worker() {
        jpeg_destroy_decompress(&in);
        jpeg_destroy_compress(&out);
    }

    // Decodes a band, makes it grey, encodes it, so that the band stays in the cache, as the
    // program's own bands do; the two codecs' CPU time is taken apart around their calls.
    bool convert(const std::vector<std::uint8_t>& jpeg, int quality) {
        constexpr int kBand = 16;
        double t = threadCpuMs();
        if (setjmp(decodeErrors.jump) != 0 || setjmp(encodeErrors.jump) != 0) {
            jpeg_abort_decompress(&in);
            jpeg_abort_compress(&out);
            return false;
        }
        jpeg_mem_src(&in, jpeg.data(), jpeg.size());
        jpeg_read_header(&in, TRUE);
        in.out_color_space = JCS_EXT_BGRX;
        jpeg_start_decompress(&in);
        const std::size_t w = in.output_width, h = in.output_height;
        band.resize(4 * w * kBand);
        grey.resize(w * kBand);
        JSAMPROW rows[kBand], greyRows[kBand];
        for (int k = 0; k < kBand; ++k) {
            rows[k] = band.data() + 4 * w * k;
            greyRows[k] = grey.data() + w * k;
        }
        out.image_width = static_cast<JDIMENSION>(w);
        out.image_height = static_cast<JDIMENSION>(h);
        out.input_components = 1;
        out.in_color_space = JCS_GRAYSCALE;
        jpeg_set_defaults(&out);
        jpeg_set_quality(&out, quality, TRUE);
        jpeg_set_colorspace(&out, JCS_GRAYSCALE);
        decodeMs += lap(t);
        jpeg_start_compress(&out, TRUE);
        encodeMs += lap(t);
        for (std::size_t y = 0; y < h;) {
            const std::size_t n = jpeg_read_scanlines(&in, rows, kBand);
            for (std::size_t k = 0; k < n; ++k) greyRow(rows[k], greyRows[k], w);
            decodeMs += lap(t);
            jpeg_write_scanlines(&out, greyRows, static_cast<JDIMENSION>(n));
            encodeMs += lap(t);
            y += n;
        }
        jpeg_finish_decompress(&in);
        decodeMs += lap(t);
        jpeg_finish_compress(&out);
        encodeMs += lap(t);
        return true;
    }

  private:
    static double lap(double& since) {
        const double now = threadCpuMs();
        return now - std::exchange(since, now);
    }
};

}  // namespace

int main(int argc, char** argv) {
    // Freed blocks stay with the process for the next picture.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    int jobs = static_cast<int>(std::thread::hardware_concurrency());
    int quality = 85;
    std::string folder;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-j" && i + 1 < argc)
            jobs = std::atoi(argv[++i]);
        else if (a == "-q" && i + 1 < argc)
            quality = std::atoi(argv[++i]);
        else if (a == "-o" && i + 1 < argc)
            folder = argv[++i];
        else
            paths.push_back(a);
    }
    std::vector<std::vector<std::uint8_t>> files;
    for (const std::string& p : paths) {
        std::vector<std::uint8_t>& bytes = files.emplace_back();
        const int fd = ::open(p.c_str(), O_RDONLY);
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0) {
            std::fprintf(stderr, "cannot open %s\n", p.c_str());
            return 1;
        }
        bytes.resize(info.st_size);
        for (std::size_t got = 0; got < bytes.size();) {
            const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n <= 0)
                break;
            got += n;
        }
        ::close(fd);
    }

    // The costliest first, so that the last pictures are small ones that keep every thread
    // busy: by pixels, twice for a progressive file.
    std::vector<std::pair<double, std::size_t>> order;
    {
        Worker headers;
        for (std::size_t i = 0; i < files.size(); ++i) {
            double cost = 0;
            if (setjmp(headers.decodeErrors.jump) == 0) {
                jpeg_mem_src(&headers.in, files[i].data(), files[i].size());
                jpeg_read_header(&headers.in, TRUE);
                cost = double(headers.in.image_width) * headers.in.image_height *
                       (jpeg_has_multiple_scans(&headers.in) ? 2 : 1);
            }
            jpeg_abort_decompress(&headers.in);
            order.emplace_back(-cost, i);
        }
    }
    std::sort(order.begin(), order.end());

    std::atomic<std::size_t> next{0};
    std::atomic<int> failed{0};
    std::vector<double> decodeMs(jobs), encodeMs(jobs);
    const double began = wallMs();
    std::vector<std::thread> threads;
    for (int t = 0; t < jobs; ++t) {
        threads.emplace_back([&, t] {
            Worker worker;
            for (std::size_t n; (n = next++) < files.size();) {
                const std::size_t i = order[n].second;
                if (!worker.convert(files[i], quality)) {
                    ++failed;
                    continue;
                }
                if (folder.empty())
                    continue;
                std::string name = paths[i].substr(paths[i].find_last_of('/') + 1);
                name = folder + "/" + name.substr(0, name.find_last_of('.')) + "-grayscale.jpg";
                const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (fd < 0 || ::write(fd, worker.dest.bytes.data(), worker.dest.size) !=
                                  static_cast<ssize_t>(worker.dest.size))
                    ++failed;
                if (fd >= 0)
                    ::close(fd);
            }
            decodeMs[t] = worker.decodeMs;
            encodeMs[t] = worker.encodeMs;
        });
    }
    for (std::thread& t : threads) t.join();
    double decode = 0, encode = 0;
    for (int t = 0; t < jobs; ++t) {
        decode += decodeMs[t];
        encode += encodeMs[t];
    }
    std::printf("decode %.0f ms cpu, encode %.0f ms cpu, wall %.0f ms, %zu pictures, %d jobs\n",
                decode, encode, wallMs() - began, files.size(), jobs);
    if (failed > 0)
        std::fprintf(stderr, "%d pictures failed\n", failed.load());
    return failed == 0 ? 0 : 1;
}
