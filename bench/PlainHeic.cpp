// A plain program for one HEIC or AVIF picture, beside which a tonvaler-cli run of one picture is
// timed (bench/one-picture-runs): libheif decodes the primary picture into interleaved RGB, grey =
// (r + g + b + 1) / 3, TurboJPEG encodes it at the same quality and transform, the file is written.
// Nothing else is loaded or done.
//
//     plain_heic -q Q -o DIR PICTURE
#include <libheif/heif.h>
#include <turbojpeg.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    int quality = 85;
    std::string folder = ".";
    std::string picture;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "-q" && i + 1 < argc) {
            quality = std::atoi(argv[++i]);
        } else if (a == "-o" && i + 1 < argc) {
            folder = argv[++i];
        } else {
            picture = a;
        }
    }
    if (picture.empty()) {
        return 0;  // a start and nothing else
    }
    heif_context* context = heif_context_alloc();
    heif_image_handle* handle = nullptr;
    heif_image* image = nullptr;
    if (heif_context_read_from_file(context, picture.c_str(), nullptr).code != heif_error_Ok ||
        heif_context_get_primary_image_handle(context, &handle).code != heif_error_Ok ||
        heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr)
                .code != heif_error_Ok) {
        std::fprintf(stderr, "%s: cannot decode\n", picture.c_str());
        return 1;
    }
    const int w = heif_image_get_width(image, heif_channel_interleaved);
    const int h = heif_image_get_height(image, heif_channel_interleaved);
    int stride = 0;
    const std::uint8_t* rgb =
        heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    std::vector<unsigned char> grey(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* p = rgb + static_cast<std::ptrdiff_t>(y) * stride;
        for (int x = 0; x < w; ++x, p += 3) {
            grey[static_cast<std::size_t>(y) * w + x] =
                static_cast<unsigned char>((p[0] + p[1] + p[2] + 1) / 3);
        }
    }
    tjhandle out = tjInitCompress();
    unsigned char* encoded = nullptr;
    unsigned long size = 0;
    if (tjCompress2(out, grey.data(), w, w, h, TJPF_GRAY, &encoded, &size, TJSAMP_GRAY, quality,
                    TJFLAG_ACCURATEDCT) != 0) {
        return 1;
    }
    std::string name = picture.substr(picture.find_last_of('/') + 1);
    name = name.substr(0, name.find_last_of('.')) + "-grayscale.jpg";
    std::FILE* o = std::fopen((folder + "/" + name).c_str(), "wb");
    const bool ok = o != nullptr && std::fwrite(encoded, 1, size, o) == size;
    if (o != nullptr) {
        std::fclose(o);
    }
    tjFree(encoded);
    tjDestroy(out);
    heif_image_release(image);
    heif_image_handle_release(handle);
    heif_context_free(context);
    return ok ? 0 : 1;
}
