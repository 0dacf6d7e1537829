// Packers of the archive tool. The player never packs; it only carries the decoders.
//
// packMethod1: block-sorting (suffix sorting, move-to-front, run lengths, up to 6 Huffman
// tables with selectors) in the framing the method-1 decoder reads; level 1-9 sets the block
// size (level x 100000 bytes). packMethod2: LZ with near-optimal parsing in the method-2
// layout; level 1-9 trades packing time for size. Both return the packed bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

std::vector<uint8_t> packMethod1(const uint8_t* data, size_t size, int level);
std::vector<uint8_t> packMethod2(const uint8_t* data, size_t size, int level);
