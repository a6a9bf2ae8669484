#include "core/BmpWriter.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/DrivePath.h"
#include "core/PictureScaler.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace playersdk {
namespace {

void Put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}
void Put32(uint8_t* at, uint32_t value) {
    Put16(at, value & 0xFFFF);
    Put16(at + 2, value >> 16);
}

// The file a snapshot at path replaces: path itself, or for a symbolic link
// the regular file it leads to. Empty when the snapshot must be refused.
std::string ReplacedFile(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return errno == ENOENT ? path : std::string();
    if (S_ISREG(info.st_mode)) return path;
    if (!S_ISLNK(info.st_mode)) return {};
    char target[PATH_MAX];
    if (realpath(path.c_str(), target) == nullptr) return {};
    if (stat(target, &info) != 0 || !S_ISREG(info.st_mode)) return {};
    return target;
}

}  // namespace

bool SaveBmpFile(const std::string& path, const std::vector<uint8_t>& bmp) {
    const std::string replaced = ReplacedFile(path);
    return !replaced.empty() && WriteFileAside(replaced, bmp.data(), bmp.size());
}

bool EncodeBmp24(const AVFrame* frame, std::vector<uint8_t>* bmp) {
    if (frame == nullptr || frame->width <= 0 || frame->height <= 0) return false;
    const int width = frame->width;
    const int height = frame->height;
    const uint32_t row_bytes = (static_cast<uint32_t>(width) * 3 + 3) & ~3u;
    const uint32_t header_bytes = 14 + 40;
    const uint32_t image_bytes = row_bytes * static_cast<uint32_t>(height);
    SwsContext* sws = sws_getContext(width, height, static_cast<AVPixelFormat>(frame->format), width,
                                     height, AV_PIX_FMT_BGR24, SWS_BICUBIC | SWS_ACCURATE_RND,
                                     nullptr, nullptr, nullptr);
    if (sws == nullptr) return false;
    UseFrameColours(sws, frame);  // the same colours as on screen
    bmp->assign(header_bytes + image_bytes, 0);
    uint8_t* out = bmp->data();
    out[0] = 'B';
    out[1] = 'M';
    Put32(out + 2, header_bytes + image_bytes);
    Put32(out + 10, header_bytes);
    Put32(out + 14, 40);
    Put32(out + 18, static_cast<uint32_t>(width));
    Put32(out + 22, static_cast<uint32_t>(height));  // positive: rows bottom-up
    Put16(out + 26, 1);
    Put16(out + 28, 24);
    Put32(out + 34, image_bytes);
    Put32(out + 38, 2835);  // 72 dpi
    Put32(out + 42, 2835);
    // Convert top-down, then store the rows bottom-up as BMP wants them.
    std::vector<uint8_t> top_down(image_bytes);
    uint8_t* destination[4] = {top_down.data(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(row_bytes), 0, 0, 0};
    int rows = sws_scale(sws, frame->data, frame->linesize, 0, height, destination, strides);
    sws_freeContext(sws);
    if (rows != height) return false;
    for (int y = 0; y < height; ++y) {
        std::memcpy(out + header_bytes + row_bytes * static_cast<uint32_t>(height - 1 - y),
                    top_down.data() + row_bytes * static_cast<uint32_t>(y), row_bytes);
    }
    return true;
}

}  // namespace playersdk
