// Grabs of the root window through XShm, and the search for the client area.
#include "bench/av_sync_screen.h"

#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstring>
#include <fstream>

namespace {

uint32_t readLe(const unsigned char* at, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = (value << 8) | at[i];
    return value;
}

bool sameColour(uint32_t a, uint32_t b) {
    // The servers copy the program's pixels as they are; a step of 2 allows a dithering
    // visual without letting another image pass.
    for (int shift = 0; shift < 24; shift += 8) {
        const int da = static_cast<int>((a >> shift) & 0xff) - static_cast<int>((b >> shift) & 0xff);
        if (da > 2 || da < -2) return false;
    }
    return true;
}

bool trueColour(Display* display) {
    const int screen = DefaultScreen(display);
    const Visual* visual = DefaultVisual(display, screen);
    return DefaultDepth(display, screen) >= 24 && visual->red_mask == 0xff0000 && visual->green_mask == 0xff00 &&
           visual->blue_mask == 0xff;
}

}  // namespace

bool loadBmp(const std::string& path, Picture* picture) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 54 || bytes[0] != 'B' || bytes[1] != 'M') return false;
    const uint32_t dataOffset = readLe(&bytes[10], 4);
    const auto width = static_cast<int32_t>(readLe(&bytes[18], 4));
    const auto height = static_cast<int32_t>(readLe(&bytes[22], 4));
    const uint32_t bits = readLe(&bytes[28], 2);
    const uint32_t compression = readLe(&bytes[30], 4);
    if (width <= 0 || height <= 0 || width > 8192 || height > 8192 || (bits != 24 && bits != 32) ||
        compression != 0)
        return false;
    const int bytesPerPixel = static_cast<int>(bits / 8);
    const std::size_t stride = (static_cast<std::size_t>(width) * bytesPerPixel + 3) & ~std::size_t{3};
    if (dataOffset + stride * static_cast<std::size_t>(height) > bytes.size()) return false;
    picture->width = width;
    picture->height = height;
    picture->pixels.assign(static_cast<std::size_t>(width) * height, 0);
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = &bytes[dataOffset + stride * static_cast<std::size_t>(height - 1 - y)];
        for (int x = 0; x < width; ++x)
            picture->pixels[static_cast<std::size_t>(y) * width + x] = readLe(row + x * bytesPerPixel, 3);
    }
    return true;
}

ScreenRegion::~ScreenRegion() { release(); }

void ScreenRegion::release() {
    if (!display_) return;
    if (attached_) {
        XShmDetach(display_, &shm_);
        XSync(display_, False);
    }
    if (image_) {
        if (shared_) image_->data = nullptr;  // the segment is not XDestroyImage's to free
        XDestroyImage(image_);
    }
    if (shm_.shmaddr && shm_.shmaddr != reinterpret_cast<char*>(-1)) shmdt(shm_.shmaddr);
    image_ = nullptr;
    shm_ = XShmSegmentInfo{};
    attached_ = false;
    shared_ = false;
    display_ = nullptr;
}

bool ScreenRegion::create(Display* display, int x, int y, int width, int height) {
    release();
    if (!trueColour(display) || width <= 0 || height <= 0) return false;
    display_ = display;
    x_ = x;
    y_ = y;
    width_ = width;
    height_ = height;
    const int screen = DefaultScreen(display);
    // Without the extension (or a segment), grab() asks XGetImage for a fresh image each time.
    if (XShmQueryExtension(display) != True) return true;
    image_ = XShmCreateImage(display, DefaultVisual(display, screen), static_cast<unsigned>(DefaultDepth(display, screen)),
                             ZPixmap, nullptr, &shm_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (!image_) return true;
    shared_ = true;
    shm_.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(image_->bytes_per_line) * height, IPC_CREAT | 0600);
    shm_.shmaddr = shm_.shmid < 0 ? reinterpret_cast<char*>(-1) : static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
    shm_.readOnly = False;
    image_->data = shm_.shmaddr;
    attached_ = shm_.shmaddr != reinterpret_cast<char*>(-1) && XShmAttach(display, &shm_);
    XSync(display, False);
    // Marked for removal now: the segment goes once both sides have detached, however this
    // process ends.
    if (shm_.shmid >= 0) shmctl(shm_.shmid, IPC_RMID, nullptr);
    if (!attached_) {
        image_->data = nullptr;
        XDestroyImage(image_);
        image_ = nullptr;
        shared_ = false;
    }
    return true;
}

bool ScreenRegion::grab() {
    const Window root = DefaultRootWindow(display_);
    if (shared_) return XShmGetImage(display_, root, image_, x_, y_, AllPlanes) == True;
    if (image_) XDestroyImage(image_);
    image_ = XGetImage(display_, root, x_, y_, static_cast<unsigned>(width_), static_cast<unsigned>(height_),
                       AllPlanes, ZPixmap);
    return image_ != nullptr;
}

uint32_t ScreenRegion::at(int x, int y) const {
    if (!image_) return 0;
    // The 32-bit little-endian layout every TrueColor server here uses, read directly: the
    // poller compares thousands of pixels a millisecond.
    if (image_->bits_per_pixel == 32 && image_->byte_order == LSBFirst) {
        const char* row = image_->data + static_cast<std::ptrdiff_t>(y) * image_->bytes_per_line;
        uint32_t value = 0;
        std::memcpy(&value, row + 4 * x, sizeof value);
        return value & 0xffffff;
    }
    return static_cast<uint32_t>(XGetPixel(image_, x, y)) & 0xffffff;
}

void ScreenRegion::copyTo(Picture* picture) const {
    picture->width = width_;
    picture->height = height_;
    picture->pixels.resize(static_cast<std::size_t>(width_) * height_);
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x) picture->pixels[static_cast<std::size_t>(y) * width_ + x] = at(x, y);
}

int ScreenRegion::differing(const Picture& reference, int left, int top, int width, int height, int step) const {
    int count = 0;
    for (int y = top; y < top + height; y += step)
        for (int x = left; x < left + width; x += step)
            if (!sameColour(at(x, y), reference.at(x, y))) ++count;
    return count;
}

bool findClientOrigin(Display* display, Window window, const Picture& background, int* originX, int* originY,
                      std::string* error) {
    XWindowAttributes attributes{};
    Window child = 0;
    int windowX = 0, windowY = 0;
    if (!XGetWindowAttributes(display, window, &attributes) ||
        !XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &windowX, &windowY, &child)) {
        *error = "the window is gone";
        return false;
    }
    XWindowAttributes rootAttributes{};
    XGetWindowAttributes(display, DefaultRootWindow(display), &rootAttributes);
    // The window's rectangle and 40 pixels around it (frames drawn outside it), on the root.
    const int left = std::max(0, windowX - 40), top = std::max(0, windowY - 40);
    const int right = std::min(rootAttributes.width, windowX + attributes.width + 40);
    const int bottom = std::min(rootAttributes.height, windowY + attributes.height + 40);
    ScreenRegion region;
    if (!region.create(display, left, top, right - left, bottom - top) || !region.grab()) {
        *error = "cannot read the screen (not a 24-bit TrueColor screen?)";
        return false;
    }
    Picture screen;
    region.copyTo(&screen);
    // Samples spread over the background (which lands at (0, 13) of the back buffer and
    // loses its last 13 rows off the buffer's bottom); the title, notation and knobs cover
    // some of them, so a place matches when 90 % of the samples do.
    struct Sample {
        int x, y;
        uint32_t colour;
    };
    std::vector<Sample> samples;
    for (int y = 3; y < background.height - 13; y += 11)
        for (int x = 5; x < background.width; x += 13) samples.push_back({x, y + 13, background.at(x, y)});
    const std::size_t allowed = samples.size() / 10;
    for (int y = 0; y + 480 <= screen.height; ++y) {
        for (int x = 0; x + 600 <= screen.width; ++x) {
            std::size_t misses = 0;
            for (const Sample& sample : samples)
                if (!sameColour(screen.at(x + sample.x, y + sample.y), sample.colour) && ++misses > allowed) break;
            if (misses <= allowed) {
                *originX = left + x;
                *originY = top + y;
                return true;
            }
        }
    }
    *error = "the background image is nowhere in the window";
    return false;
}
