// Builds update images and flash dumps from an ImageSpec, and the pieces they are made of.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/hlvimage/image_spec.h"

namespace hlv::image {

// The whole image: imageSize bytes (a smaller size truncates, a larger one pads with `fill`).
std::vector<uint8_t> buildImage(const ImageSpec& spec);
// The same into `image`, whose memory is reused: many images built one after the other cost no
// fresh memory each.
void buildImage(const ImageSpec& spec, std::vector<uint8_t>& image);

// Writes one control block (slot 0 or 1) and its components into a buffer of at least the
// layout's size; parts that would pass the buffer are cut off.
void placeNcb(std::vector<uint8_t>& image, unsigned slot, const NcbSpec& spec);

// Where the block's components go: the flash address of each (0 for an absent one).
std::array<uint32_t, 5> componentAddresses(unsigned slot, const NcbSpec& spec);

// MAC part 2 of `size` bytes: filler, the firmware header, the settings block, the patch
// stream and the key block, each where the firmware description puts it (cut off at the end of the
// part).
std::vector<uint8_t> buildMacPart2(const FirmwareSpec& firmware, uint32_t size, uint32_t seed);

// A 32-bit patch stream: one section of type 2, one group with the entries, the zero word.
std::vector<uint8_t> buildPatchStream(const std::vector<PatchEntrySpec>& entries);

// The configuration records a new block's areaD and areaE end with.
std::vector<uint8_t> areaDRecord(bool flag);
std::vector<uint8_t> areaERecord(bool flag);

// Settings word 13 for a version (major in bits 23:16, minor 15:8, build 7:0).
uint32_t settingsVersionWord(FirmwareVersion version);

// Deterministic filler bytes.
std::vector<uint8_t> fillerBytes(uint32_t size, uint32_t seed);

}  // namespace hlv::image
