// Turns a decoded picture into what a window shows: 32-bit B,G,R,X pixels the
// size of the window's drawing area, the picture scaled once to fit with its
// display aspect kept and black bars around it.
#pragma once

#include <cstdint>
#include <vector>

extern "C" {
#include <libavutil/frame.h>
}

struct SwsContext;

namespace playersdk {

class PictureScaler {
public:
    PictureScaler() = default;
    ~PictureScaler();
    PictureScaler(const PictureScaler&) = delete;
    PictureScaler& operator=(const PictureScaler&) = delete;

    // Renders `frame` for an area of area_width x area_height. False when the
    // area is empty or the picture cannot be converted.
    bool Render(const AVFrame* frame, int area_width, int area_height);

    const uint8_t* Pixels() const { return pixels_.data(); }
    int Width() const { return width_; }
    int Height() const { return height_; }
    int Stride() const { return width_ * 4; }

private:
    struct Geometry {
        int area_width = 0, area_height = 0;
        int source_width = 0, source_height = 0, source_format = -1;
        int sar_num = 0, sar_den = 0;
        bool operator==(const Geometry&) const = default;
    };
    void Layout(const Geometry& geometry);

    SwsContext* sws_ = nullptr;
    Geometry geometry_;
    std::vector<uint8_t> pixels_;
    int width_ = 0, height_ = 0;
    int picture_x_ = 0, picture_y_ = 0, picture_width_ = 0, picture_height_ = 0;
};

}  // namespace playersdk
