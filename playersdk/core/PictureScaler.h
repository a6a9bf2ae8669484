// Turns a decoded picture into what a window shows: 32-bit B,G,R,X pixels,
// the picture scaled once to the largest size that fits the window's drawing
// area with its display aspect kept, in the colours its frame is tagged with.
// Only the picture: the window centres it and keeps the rest of its area
// black, so the bars are neither converted, nor copied, nor painted again for
// every picture.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

struct SwsContext;

namespace playersdk {

// Makes a YUV-to-RGB context use the matrix and range `frame` is tagged
// with; an untagged frame gets BT.709 when it is HD and BT.601 otherwise, and
// full range only for the full-range pixel formats. False when the context
// refuses them.
bool UseFrameColours(SwsContext* sws, const AVFrame* frame);

class PictureScaler {
public:
    PictureScaler() = default;
    ~PictureScaler();
    PictureScaler(const PictureScaler&) = delete;
    PictureScaler& operator=(const PictureScaler&) = delete;

    // Renders `frame` for an area of area_width x area_height. False when the
    // area is empty or the picture cannot be converted.
    bool Render(const AVFrame* frame, int area_width, int area_height);

    // The picture rendered: Width() x Height() fits in the area.
    const uint8_t* Pixels() const { return pixels_.data(); }
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Rows are padded past the picture's width (see Layout).
    int Stride() const { return stride_; }

private:
    struct Geometry {
        int area_width = 0, area_height = 0;
        int source_width = 0, source_height = 0, source_format = -1;
        int sar_num = 0, sar_den = 0;
        int colorspace = 0, color_range = 0;
        bool operator==(const Geometry&) const = default;
    };
    bool Layout(const AVFrame* frame, const Geometry& geometry);
    // Adds halving steps while the YUV 4:2:0 source of *width x *height is
    // still twice the picture's size or more; the size left for `scale_`.
    bool AddHalves(int* width, int* height);
    void Release();

    // Halves a large YUV 4:2:0 picture by 2x2 averages first (`halves_`, each
    // half the one before), which costs a fraction of the scaler's filter on
    // the whole picture; then scales YUV to YUV at the picture's size
    // (skipped when the sizes match), then `convert_` turns that into RGB
    // without scaling, which has a fast path; scaling and converting in one
    // step does not.
    std::vector<AVFrame*> halves_;
    SwsContext* scale_ = nullptr;
    SwsContext* convert_ = nullptr;
    AVFrame* scaled_ = nullptr;
    Geometry geometry_;
    std::vector<uint8_t> pixels_;
    int width_ = 0, height_ = 0, stride_ = 0;
};

}  // namespace playersdk
