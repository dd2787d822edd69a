#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "geo/Commonfunc.h"

namespace meridane {
namespace {

// Edges compared at the ten decimals they are published with.
std::string Ten(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.10f", v);
  return buffer;
}

TEST(LonToTileX, WorkedValues) {
  struct Case {
    double Lon;
    int Zoom;
    int Column;
  };
  const Case cases[] = {
      {116.39, 10, 843}, {-73.9857, 12, 1206}, {2.35, 17, 66391}, {180, 17, 131071}, {180, 20, 1048575}, {0, 1, 0},
      {0, 2, 1},         {0, 17, 65535},       {-90, 2, 0},       {90, 2, 3},        {90, 17, 98304},
  };
  for (const Case& c : cases) EXPECT_EQ(LonToTileX(c.Lon, c.Zoom), c.Column) << c.Lon << " at zoom " << c.Zoom;
}

// A longitude exactly on a column boundary falls to the column west of it for
// some boundaries: the reciprocal of 360 is applied, not a division.
TEST(LonToTileX, BoundariesAtEveryZoom) {
  for (int z = 0; z <= 20; ++z) {
    const int n = 1 << z;
    EXPECT_EQ(LonToTileX(-180, z), 0) << z;
    EXPECT_EQ(LonToTileX(180, z), n - 1) << z;
    if (z >= 1) {
      EXPECT_EQ(LonToTileX(0, z), (1 << (z - 1)) - 1) << z;
    }
    if (z >= 2) {
      EXPECT_EQ(LonToTileX(-90, z), (1 << (z - 2)) - 1) << z;
      EXPECT_EQ(LonToTileX(90, z), 3 * (1 << (z - 2))) << z;
    }
  }
}

TEST(LatToTileY, WorkedValues) {
  struct Case {
    double Lat;
    int Zoom;
    int FromSouth;
    int Row;
  };
  const Case cases[] = {
      {39.9, 10, 0, 388}, {39.9, 10, 1, 635}, {-33.8688, 12, 0, 2457}, {48.8566, 17, 0, 45092}, {0, 5, 0, 16},
      {0, 5, 1, 15},      {86, 2, 0, 0},      {89, 2, 0, -1},          {39.9, 10, 7, 388},  // any flag but 1 counts
                                                                                            // rows from the north
  };
  for (const Case& c : cases)
    EXPECT_EQ(LatToTileY(c.Lat, c.Zoom, c.FromSouth), c.Row) << c.Lat << " zoom " << c.Zoom << " flag " << c.FromSouth;
}

TEST(LatToTileY, EquatorBelongsToTheRowSouthOfIt) {
  for (int z = 1; z <= 20; ++z) {
    EXPECT_EQ(LatToTileY(0, z, 0), 1 << (z - 1)) << z;
    EXPECT_EQ(LatToTileY(0, z, 1), (1 << (z - 1)) - 1) << z;
  }
}

TEST(LatToTileY, PolesGiveTheRowAtTheProjectionLimit) {
  for (int z : {0, 1, 10, 20}) {
    const int last = (1 << z) - 1;
    EXPECT_EQ(LatToTileY(90, z, 0), 0) << z;
    EXPECT_EQ(LatToTileY(-90, z, 0), last) << z;
    EXPECT_EQ(LatToTileY(90, z, 1), last) << z;
    EXPECT_EQ(LatToTileY(-90, z, 1), 0) << z;
  }
}

TEST(TileEdges, WorkedValues) {
  EXPECT_EQ(TileXToLon(843, 10), 116.3671875);
  EXPECT_EQ(TileXToLon(844, 10), 116.71875);
  EXPECT_EQ(TileXToLon(0, 20), -180);
  EXPECT_EQ(TileXToLon(1 << 20, 20), 180);

  EXPECT_EQ(Ten(TileYToLat(388, 10, 0)), "39.9097362345");
  EXPECT_EQ(Ten(TileYToLat(389, 10, 0)), "39.6395375644");
  EXPECT_EQ(Ten(TileYToLat(390, 10, 0)), "39.3682791492");
  EXPECT_EQ(Ten(TileYToLat(635, 10, 1)), "39.6395375644");
  EXPECT_EQ(Ten(TileYToLat(636, 10, 1)), "39.9097362345");
  EXPECT_EQ(Ten(TileYToLat(0, 0, 0)), "85.0511287798");
  EXPECT_EQ(Ten(TileYToLat(1, 0, 0)), "-85.0511287798");
}

// With extended-precision exp and atan the line of the equator, counted from
// the south, came out as 3.5e-15 instead of 0.
TEST(TileEdges, EquatorLineFromTheSouthIsZero) {
  for (int z = 1; z <= 20; ++z) EXPECT_EQ(TileYToLat(1 << (z - 1), z, 1), 0.0) << z;
}

// The image list prints 14 decimals, so the last digits of the published line
// pin down every rounding step of the row-edge conversion.
TEST(TileEdges, FullDigitsOfTheImageListExample) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.14f", TileYToLat(388, 10, 0));
  EXPECT_STREQ(buffer, "39.90973623453718");
  std::snprintf(buffer, sizeof buffer, "%.14f", TileYToLat(389, 10, 0));
  EXPECT_STREQ(buffer, "39.63953756436669");
}

// Every row's edges must hold the latitudes the row conversion sends into it.
TEST(TileEdges, RowsAndEdgesAgree) {
  for (int flag : {0, 1}) {
    for (int y = 0; y < 1024; y += 7) {
      const double a = TileYToLat(y, 10, flag);
      const double b = TileYToLat(y + 1, 10, flag);
      EXPECT_EQ(LatToTileY((a + b) / 2, 10, flag), y) << "row " << y << " flag " << flag;
    }
  }
}

}  // namespace
}  // namespace meridane
