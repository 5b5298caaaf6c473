// Turning pictures upright: every orientation against a reference built
// from plain quarter turns and mirrors, at every pixel size, both row
// orders, odd sizes.
#include "core/portable/orientation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace qb::orient {
namespace {

// A picture as rows of pixel numbers, top row first.
using Grid = std::vector<std::vector<std::uint32_t>>;

Grid QuarterTurnClockwise(const Grid& g) {
  const std::size_t h = g.size(), w = g[0].size();
  Grid out(w, std::vector<std::uint32_t>(h));
  for (std::size_t y = 0; y < h; ++y)
    for (std::size_t x = 0; x < w; ++x) out[x][h - 1 - y] = g[y][x];
  return out;
}

Grid MirrorLeftRight(Grid g) {
  for (auto& row : g) std::reverse(row.begin(), row.end());
  return g;
}

// What a camera stores for the upright picture `u` when it writes the
// orientation: the inverse of the viewer's turn (6 means "turn clockwise to
// view", so the stored picture is `u` turned anticlockwise).
Grid Stored(const Grid& u, int orientation) {
  const auto cw = [](const Grid& g, int times) {
    Grid r = g;
    for (int i = 0; i < times; ++i) r = QuarterTurnClockwise(r);
    return r;
  };
  switch (orientation) {
    case 2: return MirrorLeftRight(u);
    case 3: return cw(u, 2);
    case 4: return MirrorLeftRight(cw(u, 2));
    case 5: return MirrorLeftRight(cw(u, 1));   // the transpose
    case 6: return cw(u, 3);
    case 7: return MirrorLeftRight(cw(u, 3));   // the other diagonal
    case 8: return cw(u, 1);
    default: return u;
  }
}

// Rows of `bytes`-byte pixels in memory, padded to four bytes, with the
// padding set to a marker the kernel must leave alone.
struct Rows {
  std::int32_t width, height;
  std::uint32_t stride;
  bool bottomUp;
  std::vector<std::uint8_t> data;
};

Rows Pack(const Grid& g, unsigned bytes, bool bottomUp) {
  Rows r{static_cast<std::int32_t>(g[0].size()), static_cast<std::int32_t>(g.size()), 0, bottomUp, {}};
  r.stride = (r.width * bytes + 3) / 4 * 4;
  r.data.assign(r.stride * r.height, 0xEE);
  dib::ImageView view(r.data.data(), r.width, r.height, r.stride, bottomUp);
  for (std::int32_t y = 0; y < r.height; ++y)
    for (std::int32_t x = 0; x < r.width; ++x)
      for (unsigned b = 0; b < bytes; ++b) view.Row(y)[x * bytes + b] = static_cast<std::uint8_t>(g[y][x] >> (8 * b));
  return r;
}

dib::ImageView ViewOf(Rows& r) { return {r.data.data(), r.width, r.height, r.stride, r.bottomUp}; }

TEST(Orientation, EveryOrientationUndoesTheCamerasTurnAtEveryPixelSize) {
  for (const auto& [w, h] : {std::pair{5, 3}, std::pair{1, 4}, std::pair{7, 7}}) {
    Grid upright(h, std::vector<std::uint32_t>(w));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) upright[y][x] = 0x01020304u * static_cast<std::uint32_t>(y * w + x + 1);
    for (unsigned bytes = 1; bytes <= 4; ++bytes) {
      for (const bool bottomUp : {true, false}) {
        const Rows expected = Pack(upright, bytes, !bottomUp);
        for (int o = 1; o <= 8; ++o) {
          Rows stored = Pack(Stored(upright, o), bytes, bottomUp);
          Rows result = Pack(Grid(h, std::vector<std::uint32_t>(w, 0)), bytes, !bottomUp);
          OrientPixels(ViewOf(stored), ViewOf(result), bytes, o);
          EXPECT_EQ(expected.data, result.data)
              << w << "x" << h << ", " << bytes << " bytes, orientation " << o << (bottomUp ? ", bottom-up" : "");
        }
      }
    }
  }
}

TEST(Orientation, ValuesOutsideOneToEightAreOne) {
  const struct { std::int64_t in; int out; } cases[] = {{0, 1}, {1, 1}, {6, 6}, {8, 8}, {9, 1}, {-3, 1}, {65536 + 6, 1}};
  for (const auto& c : cases) EXPECT_EQ(c.out, Normalised(c.in)) << c.in;
  for (int o = 0; o <= 9; ++o) EXPECT_EQ(o >= 5 && o <= 8, SwapsAxes(o)) << o;
}

}  // namespace
}  // namespace qb::orient
