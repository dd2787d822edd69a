#include "tiles/Webp.h"

#include <webp/decode.h>
#include <webp/encode.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>

namespace meridane {

TImageCheck DecodeWebp(std::string_view bytes, int width, int height, unsigned char* out) {
  if (width <= 0 || height <= 0) return TImageCheck::OtherSize;
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(data, bytes.size(), &features) != VP8_STATUS_OK) return TImageCheck::Undecodable;
  // Only the header has been read: a huge image costs nothing yet.
  if (features.width != width || features.height != height) return TImageCheck::OtherSize;
  // An animation's frames are not one tile's picture.
  if (features.has_animation) return TImageCheck::Undecodable;
  const std::size_t stride = static_cast<std::size_t>(width) * 4, size = stride * static_cast<std::size_t>(height);
  // Kept from tile to tile when only read through: the same size every time.
  thread_local std::vector<unsigned char> scratch;
  if (!out) {
    scratch.resize(size);
    out = scratch.data();
  }
  // Fails on data that ends early or does not decode, leaving out partly written.
  return WebPDecodeRGBAInto(data, bytes.size(), out, size, static_cast<int>(stride)) ? TImageCheck::Sound
                                                                                      : TImageCheck::Undecodable;
}

std::string EncodeWebpTile(const TRgba& pixels, int quality) {
  if (pixels.size() != TilePixels * 4) throw std::invalid_argument("not a tile's pixels");
  if (quality < 1 || quality > 100) throw std::invalid_argument("WebP quality outside 1-100");
  std::uint8_t* encoded = nullptr;
  // The simple encoders keep the alpha plane lossless, at any quality.
  const std::size_t size =
      quality == 100 ? WebPEncodeLosslessRGBA(pixels.data(), TileSide, TileSide, TileSide * 4, &encoded)
                     : WebPEncodeRGBA(pixels.data(), TileSide, TileSide, TileSide * 4, static_cast<float>(quality), &encoded);
  const std::unique_ptr<std::uint8_t, void (*)(void*)> owned(encoded, WebPFree);
  if (size == 0) throw std::runtime_error("the WebP encoder failed");
  return std::string(reinterpret_cast<const char*>(encoded), size);
}

}  // namespace meridane
