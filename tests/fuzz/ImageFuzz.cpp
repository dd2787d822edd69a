// Any bytes under a tile's name, through the decoders of the coverage check:
// libjpeg's errors jump back through our error manager, libpng's stay inside it.
#include "fuzz/FuzzInput.h"
#include "task/ImageData.h"
#include "tiles/Decode.h"

using namespace meridane;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const TImageCheck check = CheckImage(bytes, 256, 256);
  FUZZ_CHECK(check == TImageCheck::Undecodable || IsImageData(bytes));
  return 0;
}
