// Times what a person sees of the preview on a real X server: a key is sent through XTest, and
// the screen under the preview window is grabbed every 10 ms until it has not changed for 1.5 s.
// Reported for each round: the milliseconds from the key to the first grab that shows something
// of the picture (a twentieth of the window's pixels other than the window's background colour,
// where its labels and buttons take 2.5 %, in a window painted: a twentieth at least in that
// colour), and to the first grab that equals the settled screen (the exact result, with its
// labels).
//
//     screen_timer open ROUNDS   Space opens the preview of the list's selected row, Escape
//                                closes it after each round
//     screen_timer step ROUNDS   Right and Left, in turn, on the slider that has the focus in
//                                the main window, with the preview open
//
// The main window is the one named "Tonvaler Software", the preview the one whose name begins
// with "Preview". Run by bench/preview-on-screen, which starts the server and the program.
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kSpace = 0x20, kEscape = 0xFF1B, kLeft = 0xFF51, kRight = 0xFF53;

template <typename T>
struct FreeReply {
    void operator()(T* reply) const { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply<T>>;

class Screen {
  public:
    Screen() : c_(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(c_) != 0) {
            std::fprintf(stderr, "screen_timer: no X server at DISPLAY\n");
            std::exit(2);
        }
        root_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
        width_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->width_in_pixels;
        height_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->height_in_pixels;
        netName_ = atom("_NET_WM_NAME");
        utf8_ = atom("UTF8_STRING");
    }
    ~Screen() { xcb_disconnect(c_); }

    // The client window whose name begins with `prefix`, anywhere under the root.
    std::optional<xcb_window_t> find(const std::string& prefix) const {
        return findUnder(root_, prefix, 0);
    }

    struct Area {
        int x = 0, y = 0, width = 0, height = 0;
    };
    // The part of `window` that lies on the screen, in the root's coordinates.
    std::optional<Area> onScreen(xcb_window_t window) const {
        Reply<xcb_get_geometry_reply_t> g(
            xcb_get_geometry_reply(c_, xcb_get_geometry(c_, window), nullptr));
        Reply<xcb_translate_coordinates_reply_t> t(xcb_translate_coordinates_reply(
            c_, xcb_translate_coordinates(c_, window, root_, 0, 0), nullptr));
        Reply<xcb_get_window_attributes_reply_t> a(
            xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, window), nullptr));
        if (!g || !t || !a || a->map_state != XCB_MAP_STATE_VIEWABLE) {
            return std::nullopt;
        }
        const int x0 = std::max<int>(0, t->dst_x), y0 = std::max<int>(0, t->dst_y);
        const int x1 = std::min<int>(width_, t->dst_x + g->width);
        const int y1 = std::min<int>(height_, t->dst_y + g->height);
        if (x1 <= x0 || y1 <= y0) {
            return std::nullopt;
        }
        return Area{x0, y0, x1 - x0, y1 - y0};
    }

    // The screen's pixels in `area`, 32 bits each.
    std::vector<std::uint32_t> grab(const Area& area) const {
        Reply<xcb_get_image_reply_t> image(xcb_get_image_reply(
            c_,
            xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, std::int16_t(area.x),
                          std::int16_t(area.y), std::uint16_t(area.width),
                          std::uint16_t(area.height), ~0u),
            nullptr));
        if (!image) {
            return {};
        }
        const auto* data = reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(image.get()));
        const auto length = std::size_t(xcb_get_image_data_length(image.get())) / 4;
        return {data, data + length};
    }

    // Presses and lets go of the key that gives `keysym`, as a person would; returns once the
    // server has taken both.
    void key(std::uint32_t keysym) const {
        const xcb_setup_t* setup = xcb_get_setup(c_);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        Reply<xcb_get_keyboard_mapping_reply_t> map(xcb_get_keyboard_mapping_reply(
            c_, xcb_get_keyboard_mapping(c_, setup->min_keycode, std::uint8_t(count)), nullptr));
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map.get());
        for (int k = 0; k < count * map->keysyms_per_keycode; ++k) {
            if (syms[k] == keysym) {
                const auto code = std::uint8_t(setup->min_keycode + k / map->keysyms_per_keycode);
                xcb_test_fake_input(c_, XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
                xcb_test_fake_input(c_, XCB_KEY_RELEASE, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
                std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
                return;
            }
        }
        std::fprintf(stderr, "screen_timer: no key gives keysym 0x%x\n", keysym);
        std::exit(2);
    }

  private:
    xcb_atom_t atom(const char* name) const {
        Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
            c_, xcb_intern_atom(c_, 0, std::uint16_t(std::strlen(name)), name), nullptr));
        return r ? r->atom : XCB_NONE;
    }

    std::string name(xcb_window_t window) const {
        for (const auto& [property, type] :
             {std::pair{netName_, utf8_},
              std::pair<xcb_atom_t, xcb_atom_t>{XCB_ATOM_WM_NAME, XCB_ATOM_STRING}}) {
            Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
                c_, xcb_get_property(c_, 0, window, property, type, 0, 256), nullptr));
            if (r && xcb_get_property_value_length(r.get()) > 0) {
                return {static_cast<const char*>(xcb_get_property_value(r.get())),
                        std::size_t(xcb_get_property_value_length(r.get()))};
            }
        }
        return {};
    }

    std::optional<xcb_window_t> findUnder(xcb_window_t window, const std::string& prefix,
                                          int depth) const {
        Reply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(c_, xcb_query_tree(c_, window), nullptr));
        if (!tree || depth > 3) {
            return std::nullopt;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int k = 0; k < xcb_query_tree_children_length(tree.get()); ++k) {
            if (name(children[k]).rfind(prefix, 0) == 0) {
                return children[k];
            }
            if (auto found = findUnder(children[k], prefix, depth + 1)) {
                return found;
            }
        }
        return std::nullopt;
    }

    xcb_connection_t* c_;
    xcb_window_t root_;
    int width_, height_;
    xcb_atom_t netName_, utf8_;
};

std::uint64_t hashOf(const std::vector<std::uint32_t>& pixels) {
    std::uint64_t h = 1469598103934665603ull;
    for (const std::uint32_t p : pixels) {
        h = (h ^ (p & 0xFFFFFF)) * 1099511628211ull;
    }
    return h ^ pixels.size();
}

// The colour most of `pixels` have.
std::uint32_t commonest(std::vector<std::uint32_t> pixels) {
    for (auto& p : pixels) {
        p &= 0xFFFFFF;
    }
    std::sort(pixels.begin(), pixels.end());
    std::uint32_t best = 0;
    std::size_t bestRun = 0;
    for (std::size_t i = 0; i < pixels.size();) {
        std::size_t j = i;
        while (j < pixels.size() && pixels[j] == pixels[i]) {
            ++j;
        }
        if (j - i > bestRun) {
            bestRun = j - i;
            best = pixels[i];
        }
        i = j;
    }
    return best;
}

struct Frame {
    double ms;
    std::uint64_t hash;
    double picture;  // the share of pixels other than the background
    double painted;  // the share of the background: a window not yet painted shows what was
                     // under it
};

// `pixels` as a PPM file at `path`.
void writeFrame(const char* path, const std::vector<std::uint32_t>& pixels, int width, int height) {
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) {
        return;
    }
    std::fprintf(f, "P6\n%d %d\n255\n", width, height);
    for (const std::uint32_t p : pixels) {
        const unsigned char rgb[3] = {static_cast<unsigned char>(p >> 16),
                                      static_cast<unsigned char>(p >> 8),
                                      static_cast<unsigned char>(p)};
        std::fwrite(rgb, 1, 3, f);
    }
    std::fclose(f);
}

struct Timing {
    double first = -1, exact = -1;
};

// Grabs `window` (found by its name's prefix, once it is on screen) every 10 ms from `start`
// until the screen under it has stayed the same for 1.5 s; `before`: the hash of what it showed
// before the key, which the settled screen must differ from.
Timing watch(const Screen& screen, const std::string& prefix, std::uint32_t background,
             Clock::time_point start, std::optional<std::uint64_t> before) {
    std::vector<Frame> frames;
    std::optional<xcb_window_t> window;
    const char* dump = std::getenv("SCREEN_TIMER_FIRST");  // where to write the first look
    bool dumped = false;
    double lastChange = 0;
    for (int tick = 1;; ++tick) {
        std::this_thread::sleep_until(start + std::chrono::milliseconds(10 * tick));
        const auto at = Clock::now();
        const double ms = std::chrono::duration<double, std::milli>(at - start).count();
        if (!window) {
            window = screen.find(prefix);
        }
        const auto area = window ? screen.onScreen(*window) : std::nullopt;
        if (area) {
            const std::vector<std::uint32_t> pixels = screen.grab(*area);
            const auto others = std::count_if(pixels.begin(), pixels.end(), [&](std::uint32_t p) {
                return (p & 0xFFFFFF) != background;
            });
            const double n = std::max<double>(1, double(pixels.size()));
            frames.push_back({ms, hashOf(pixels), double(others) / n, 1 - double(others) / n});
            if (dump != nullptr && !dumped && frames.back().picture >= 0.05 &&
                frames.back().painted >= 0.05) {
                dumped = true;
                writeFrame(dump, pixels, area->width, area->height);
            }
            if (frames.size() == 1 || frames.back().hash != frames[frames.size() - 2].hash) {
                lastChange = ms;
            }
        }
        const bool settled = !frames.empty() && ms - lastChange >= 1500 &&
                             (!before || frames.back().hash != *before);
        if (settled || ms > 20000) {
            break;
        }
    }
    Timing t;
    if (frames.empty() || (before && frames.back().hash == *before)) {
        return t;
    }
    for (const Frame& f : frames) {
        if (t.first < 0 && f.picture >= 0.05 && f.painted >= 0.05) {
            t.first = f.ms;
        }
        if (t.exact < 0 && f.hash == frames.back().hash) {
            t.exact = f.ms;
        }
    }
    return t;
}

void print(const char* what, std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    if (ms.empty() || ms.front() < 0) {
        std::printf("  %-34s not seen\n", what);
        return;
    }
    std::printf("  %-34s median %6.0f ms   min %6.0f   max %6.0f   (%zu)\n", what,
                ms[ms.size() / 2], ms.front(), ms.back(), ms.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (std::strcmp(argv[1], "open") != 0 && std::strcmp(argv[1], "step") != 0)) {
        std::fprintf(stderr, "usage: screen_timer open|step ROUNDS\n");
        return 2;
    }
    const bool open = std::strcmp(argv[1], "open") == 0;
    const int rounds = std::max(1, std::atoi(argv[2]));
    Screen screen;
    const auto main = screen.find("Tonvaler Software");
    const auto mainArea = main ? screen.onScreen(*main) : std::nullopt;
    if (!mainArea) {
        std::fprintf(stderr, "screen_timer: the main window is not on the screen\n");
        return 2;
    }
    const std::uint32_t background = commonest(screen.grab(*mainArea));
    std::vector<double> first, exact;
    for (int round = 0; round < rounds; ++round) {
        std::optional<std::uint64_t> before;
        if (!open) {
            const auto preview = screen.find("Preview");
            const auto area = preview ? screen.onScreen(*preview) : std::nullopt;
            if (!area) {
                std::fprintf(stderr, "screen_timer: the preview is not on the screen\n");
                return 2;
            }
            before = hashOf(screen.grab(*area));
        }
        const auto start = Clock::now();
        screen.key(open ? kSpace : round % 2 == 0 ? kRight : kLeft);
        const Timing t = watch(screen, "Preview", background, start, before);
        std::printf("round %d: first %.0f ms, exact %.0f ms\n", round + 1, t.first, t.exact);
        std::fflush(stdout);
        first.push_back(t.first);
        exact.push_back(t.exact);
        if (open) {
            screen.key(kEscape);
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
        }
    }
    if (open) {
        print("Space to something of the picture", first);
        print("Space to the exact result", exact);
    } else {
        print("slider step to the exact result", exact);
    }
    return 0;
}
