// Encodes a decoded picture, at its own size, as a 24-bit uncompressed BMP.
#pragma once

#include <cstdint>
#include <vector>

struct AVFrame;

namespace playersdk {

// False when the picture cannot be converted.
bool EncodeBmp24(const AVFrame* frame, std::vector<uint8_t>* bmp);

}  // namespace playersdk
