#include "core/PictureScaler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

extern "C" {
#include <libswscale/swscale.h>
}

namespace playersdk {

PictureScaler::~PictureScaler() { sws_freeContext(sws_); }

void PictureScaler::Layout(const Geometry& geometry) {
    geometry_ = geometry;
    width_ = geometry.area_width;
    height_ = geometry.area_height;
    pixels_.assign(static_cast<size_t>(width_) * height_ * 4, 0);
    double sar = (geometry.sar_num > 0 && geometry.sar_den > 0)
                     ? static_cast<double>(geometry.sar_num) / geometry.sar_den
                     : 1.0;
    double aspect = geometry.source_width * sar / geometry.source_height;
    if (static_cast<double>(width_) / height_ > aspect) {
        picture_height_ = height_;
        picture_width_ = std::clamp(static_cast<int>(std::lround(height_ * aspect)), 1, width_);
    } else {
        picture_width_ = width_;
        picture_height_ = std::clamp(static_cast<int>(std::lround(width_ / aspect)), 1, height_);
    }
    picture_x_ = (width_ - picture_width_) / 2;
    picture_y_ = (height_ - picture_height_) / 2;
}

bool PictureScaler::Render(const AVFrame* frame, int area_width, int area_height) {
    if (frame == nullptr || frame->width <= 0 || frame->height <= 0) return false;
    if (area_width <= 0 || area_height <= 0 || area_width > 16384 || area_height > 16384) return false;
    Geometry geometry{area_width,    area_height,
                      frame->width,  frame->height,
                      frame->format, frame->sample_aspect_ratio.num,
                      frame->sample_aspect_ratio.den};
    if (!(geometry == geometry_)) Layout(geometry);
    sws_ = sws_getCachedContext(sws_, frame->width, frame->height,
                                static_cast<AVPixelFormat>(frame->format), picture_width_,
                                picture_height_, AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr,
                                nullptr);
    if (sws_ == nullptr) return false;
    uint8_t* destination[4] = {pixels_.data() + (static_cast<size_t>(picture_y_) * width_ + picture_x_) * 4,
                               nullptr, nullptr, nullptr};
    int strides[4] = {width_ * 4, 0, 0, 0};
    return sws_scale(sws_, frame->data, frame->linesize, 0, frame->height, destination, strides) > 0;
}

}  // namespace playersdk
