#pragma once

#include <QColor>
#include <QImage>
#include <cstdlib>

namespace meridane::test {

// How many pixels of the square of side 2 * radius around a point are near the colour.
inline int Near(const QImage& image, QPoint at, QColor colour, int radius = 16) {
  int count = 0;
  for (int y = at.y() - radius; y < at.y() + radius; ++y)
    for (int x = at.x() - radius; x < at.x() + radius; ++x) {
      const QColor c = image.pixelColor(x, y);
      count += std::abs(c.red() - colour.red()) + std::abs(c.green() - colour.green()) +
                   std::abs(c.blue() - colour.blue()) <
               24;
    }
  return count;
}

}  // namespace meridane::test
