// Encodes a decoded picture, at its own size, as a 24-bit uncompressed BMP,
// and saves it whole or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AVFrame;

namespace playersdk {

// False when the picture cannot be converted.
bool EncodeBmp24(const AVFrame* frame, std::vector<uint8_t>* bmp);

// Saves bmp at path (already mapped from a drive path), written aside in the
// folder of the file it replaces and renamed over it. An absent path gets a
// new file; a regular file is replaced; a symbolic link to a regular file
// stays a link and its target is replaced. Anything else (a device, a FIFO,
// a folder, a link to one of those or to nothing) is refused and untouched.
bool SaveBmpFile(const std::string& path, const std::vector<uint8_t>& bmp);

}  // namespace playersdk
