#include "core/PictureScaler.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace playersdk {
namespace {

// The fast YUV-to-RGB path writes whole blocks of pixels, up to this many
// past a row's end: rows are padded by as much.
constexpr int kRowSlackPixels = 32;

// The full-range ("J") formats under the name of the limited-range format of
// the same layout: the scaling step then leaves the levels as they are, and
// the range is applied once, by the conversion to RGB.
AVPixelFormat SameLayoutLimited(AVPixelFormat format) {
    switch (format) {
        case AV_PIX_FMT_YUVJ420P: return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P: return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P: return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P: return AV_PIX_FMT_YUV440P;
        case AV_PIX_FMT_YUVJ411P: return AV_PIX_FMT_YUV411P;
        default: return format;
    }
}

bool IsFullRangeFormat(int format) { return SameLayoutLimited(static_cast<AVPixelFormat>(format)) != format; }

// Rows ahead of the pair being halved that are asked into the cache. The
// picture was decoded a while ago and is seldom still there; the processor's
// own prefetching does not look this far across two rows at once, and the
// halving waited on memory for most of its time (1080p: 0.31 -> 0.17 ms a
// picture, read cold).
constexpr int kHalvingPrefetchRows = 16;

// A plane halved by averaging each 2x2 block into one pixel of `to`, which is
// width x height. Sixteen pixels at a time where the machine has SSE2: the
// compiler's own vectorising of the plain loop is several times slower, and
// the halving is the largest part of presenting a 1080p picture.
void HalvePlane(const uint8_t* from, int from_stride, uint8_t* to, int to_stride, int width, int height) {
    for (int y = 0; y < height; ++y) {
        const uint8_t* top = from + static_cast<ptrdiff_t>(2 * y) * from_stride;
        const uint8_t* bottom = top + from_stride;
        uint8_t* out = to + static_cast<ptrdiff_t>(y) * to_stride;
        int x = 0;
#if defined(__SSE2__)
        if (y + kHalvingPrefetchRows / 2 < height) {
            const ptrdiff_t ahead = static_cast<ptrdiff_t>(kHalvingPrefetchRows) * from_stride;
            for (int at = 0; at < 2 * width; at += 64) {
                _mm_prefetch(reinterpret_cast<const char*>(top + ahead + at), _MM_HINT_T0);
                _mm_prefetch(reinterpret_cast<const char*>(bottom + ahead + at), _MM_HINT_T0);
            }
        }
        const __m128i low_bytes = _mm_set1_epi16(0x00FF);
        const __m128i two = _mm_set1_epi16(2);
        // The sums of the 2x2 blocks of 16 bytes across, as 16-bit lanes.
        const auto block_sums = [&](int at) {
            const __m128i upper = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + at));
            const __m128i lower = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + at));
            return _mm_add_epi16(_mm_add_epi16(_mm_and_si128(upper, low_bytes), _mm_srli_epi16(upper, 8)),
                                 _mm_add_epi16(_mm_and_si128(lower, low_bytes), _mm_srli_epi16(lower, 8)));
        };
        for (; x + 16 <= width; x += 16) {
            const __m128i left = _mm_srli_epi16(_mm_add_epi16(block_sums(2 * x), two), 2);
            const __m128i right = _mm_srli_epi16(_mm_add_epi16(block_sums(2 * x + 16), two), 2);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(left, right));
        }
#endif
        for (; x < width; ++x)
            out[x] = static_cast<uint8_t>((top[2 * x] + top[2 * x + 1] + bottom[2 * x] + bottom[2 * x + 1] + 2) >> 2);
    }
}

}  // namespace

bool UseFrameColours(SwsContext* sws, const AVFrame* frame) {
    int matrix = frame->colorspace;
    if (matrix == AVCOL_SPC_UNSPECIFIED || matrix == AVCOL_SPC_RGB || matrix == AVCOL_SPC_RESERVED) {
        // What players assume for an untagged picture: HD is BT.709.
        matrix = (frame->width >= 1280 || frame->height > 576) ? AVCOL_SPC_BT709 : AVCOL_SPC_BT470BG;
    }
    const bool full_range = frame->color_range == AVCOL_RANGE_JPEG || IsFullRangeFormat(frame->format);
    // The SWS_CS_* numbers are those of AVColorSpace.
    return sws_setColorspaceDetails(sws, sws_getCoefficients(matrix), full_range ? 1 : 0,
                                    sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16) >= 0;
}

PictureScaler::~PictureScaler() { Release(); }

void PictureScaler::Release() {
    sws_freeContext(scale_);
    sws_freeContext(convert_);
    scale_ = convert_ = nullptr;
    av_frame_free(&scaled_);
    for (AVFrame*& half : halves_) av_frame_free(&half);
    halves_.clear();
}

bool PictureScaler::AddHalves(int* width, int* height) {
    // Sizes divisible by 4 keep both the pixel and the chroma planes whole.
    while (*width >= 2 * width_ && *height >= 2 * height_ && *width % 4 == 0 && *height % 4 == 0) {
        AVFrame* half = av_frame_alloc();
        if (half == nullptr) return false;
        halves_.push_back(half);
        half->format = AV_PIX_FMT_YUV420P;
        half->width = *width /= 2;
        half->height = *height /= 2;
        if (av_frame_get_buffer(half, 0) < 0) return false;
    }
    return true;
}

bool PictureScaler::Layout(const AVFrame* frame, const Geometry& geometry) {
    Release();
    double sar = (geometry.sar_num > 0 && geometry.sar_den > 0)
                     ? static_cast<double>(geometry.sar_num) / geometry.sar_den
                     : 1.0;
    double aspect = geometry.source_width * sar / geometry.source_height;
    if (static_cast<double>(geometry.area_width) / geometry.area_height > aspect) {
        height_ = geometry.area_height;
        width_ = std::clamp(static_cast<int>(std::lround(height_ * aspect)), 1, geometry.area_width);
    } else {
        width_ = geometry.area_width;
        height_ = std::clamp(static_cast<int>(std::lround(width_ / aspect)), 1, geometry.area_height);
    }
    // Even sizes: the fast conversion takes whole pairs of rows and columns;
    // one pixel more of black around costs nothing.
    if (width_ > 1) width_ &= ~1;
    if (height_ > 1) height_ &= ~1;
    stride_ = (width_ + kRowSlackPixels) * 4;
    pixels_.assign(static_cast<size_t>(stride_) * height_, 0);

    const auto source = SameLayoutLimited(static_cast<AVPixelFormat>(frame->format));
    const AVPixFmtDescriptor* described = av_pix_fmt_desc_get(source);
    if (described == nullptr) return false;
    const bool rgb = (described->flags & AV_PIX_FMT_FLAG_RGB) != 0;
    const bool same_size = width_ == frame->width && height_ == frame->height;
    if (rgb || (same_size && source == AV_PIX_FMT_YUV420P)) {
        // One step: an RGB picture has no fast path to gain, a YUV 4:2:0
        // picture of the right size needs no scaling.
        convert_ = sws_getContext(frame->width, frame->height, source, width_, height_,
                                  AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr);
        return convert_ != nullptr && (rgb || UseFrameColours(convert_, frame));
    }
    scaled_ = av_frame_alloc();
    if (scaled_ == nullptr) return false;
    scaled_->format = AV_PIX_FMT_YUV420P;
    scaled_->width = width_;
    scaled_->height = height_;
    if (av_frame_get_buffer(scaled_, 0) < 0) return false;
    int scale_width = frame->width, scale_height = frame->height;
    if (source == AV_PIX_FMT_YUV420P && !AddHalves(&scale_width, &scale_height)) return false;
    scale_ = sws_getContext(scale_width, scale_height, source, width_, height_,
                            AV_PIX_FMT_YUV420P, SWS_BILINEAR, nullptr, nullptr, nullptr);
    convert_ = sws_getContext(width_, height_, AV_PIX_FMT_YUV420P, width_,
                              height_, AV_PIX_FMT_BGR0, SWS_BILINEAR, nullptr, nullptr, nullptr);
    return scale_ != nullptr && convert_ != nullptr && UseFrameColours(convert_, frame);
}

bool PictureScaler::Render(const AVFrame* frame, int area_width, int area_height) {
    if (frame == nullptr || frame->width <= 0 || frame->height <= 0) return false;
    if (area_width <= 0 || area_height <= 0 || area_width > 16384 || area_height > 16384) return false;
    Geometry geometry{area_width,    area_height,
                      frame->width,  frame->height,
                      frame->format, frame->sample_aspect_ratio.num,
                      frame->sample_aspect_ratio.den, frame->colorspace,
                      frame->color_range};
    if (!(geometry == geometry_)) {
        geometry_ = geometry;
        if (!Layout(frame, geometry)) {
            Release();
            geometry_ = {};
            return false;
        }
    }
    const uint8_t* const* source = frame->data;
    const int* source_strides = frame->linesize;
    int source_height = frame->height;
    if (scale_ != nullptr) {
        const AVFrame* from = frame;
        for (AVFrame* half : halves_) {
            for (int plane = 0; plane < 3; ++plane) {
                const int shift = plane == 0 ? 0 : 1;
                HalvePlane(from->data[plane], from->linesize[plane], half->data[plane], half->linesize[plane],
                           half->width >> shift, half->height >> shift);
            }
            from = half;
        }
        if (sws_scale(scale_, from->data, from->linesize, 0, from->height, scaled_->data, scaled_->linesize) <= 0)
            return false;
        source = scaled_->data;
        source_strides = scaled_->linesize;
        source_height = height_;
    }
    uint8_t* destination[4] = {pixels_.data(), nullptr, nullptr, nullptr};
    int strides[4] = {stride_, 0, 0, 0};
    if (sws_scale(convert_, source, source_strides, 0, source_height, destination, strides) <= 0) return false;
    return true;
}

}  // namespace playersdk
