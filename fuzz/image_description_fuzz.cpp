// The hlvimage description language: the input as a description, and the image it describes
// built.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/hlvimage/image_builder.h"
#include "tools/hlvimage/image_description.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // One image buffer for every input: a description builds an image of at least 2 MiB, whose
  // fresh memory would cost more than the parse and the build together.
  static std::vector<uint8_t> image;
  hlv::image::ImageSpec spec;
  if (hlv::image::parseImageDescription(
          std::string_view(reinterpret_cast<const char*>(data), size), spec)) {
    hlv::image::buildImage(spec, image);
  }
  return 0;
}
