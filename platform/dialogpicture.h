// Pictures for the dialogs: decodes JPEG, PNG, BMP, GIF or TGA bytes and scales the picture
// to a fixed size, for previews that do not go through the graphics device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// rgb receives width x height x 3 bytes, top row first. False when the bytes are no picture.
bool decodePictureScaled(const uint8_t* bytes, size_t size, int32_t width, int32_t height,
                         std::vector<uint8_t>* rgb);
