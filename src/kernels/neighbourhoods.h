#pragma once
#include <array>

namespace veltrane {

// A neighbour's position relative to the pixel: dx columns to the right, dy
// rows down.
struct Offset {
  int dx;
  int dy;
};

inline constexpr int directionCount = 8;

// Per direction, the six pixels whose distance to the reference decides
// whether the image is flat along that direction. Directions: vertical,
// rising diagonal, horizontal, falling diagonal, steep rising, shallow
// rising, shallow falling, steep falling.
inline constexpr std::array<std::array<Offset, 6>, directionCount> decisionSets{{
    {{{0, -1}, {0, -2}, {0, -3}, {0, 1}, {0, 2}, {0, 3}}},
    {{{1, -1}, {2, -2}, {3, -3}, {-1, 1}, {-2, 2}, {-3, 3}}},
    {{{1, 0}, {2, 0}, {3, 0}, {-1, 0}, {-2, 0}, {-3, 0}}},
    {{{1, 1}, {2, 2}, {3, 3}, {-1, -1}, {-2, -2}, {-3, -3}}},
    {{{1, -2}, {1, -3}, {2, -3}, {-1, 2}, {-1, 3}, {-2, 3}}},
    {{{2, -1}, {3, -1}, {3, -2}, {-2, 1}, {-3, 1}, {-3, 2}}},
    {{{2, 1}, {3, 1}, {3, 2}, {-2, -1}, {-3, -1}, {-3, -2}}},
    {{{1, 2}, {1, 3}, {2, 3}, {-1, -2}, {-1, -3}, {-2, -3}}},
}};

// Per direction, the 20 neighbours averaged along it, in accumulation order.
// The first six entries are the list head that the smooth-area variant
// weights extra.
inline constexpr int patternLength = 20;
inline constexpr int patternHeadLength = 6;
inline constexpr std::array<std::array<Offset, patternLength>, directionCount> neighbourhoodPatterns{{
    {{{0, -1}, {0, -2}, {0, 1}, {0, 2}, {0, -3}, {0, 3}, {-1, -1}, {-1, -2}, {-1, -3}, {1, -1},
      {1, -2}, {1, -3}, {-1, 1}, {-1, 2}, {-1, 3}, {1, 1}, {1, 2}, {1, 3}, {-1, 0}, {1, 0}}},
    {{{1, -1}, {2, -2}, {-1, 1}, {-2, 2}, {3, -3}, {-3, 3}, {0, -1}, {1, -2}, {2, -3}, {1, 0},
      {2, -1}, {3, -2}, {-1, 0}, {-2, 1}, {-3, 2}, {0, 1}, {-1, 2}, {-2, 3}, {-1, -1}, {1, 1}}},
    {{{-1, 0}, {-2, 0}, {1, 0}, {2, 0}, {-3, 0}, {3, 0}, {-1, -1}, {-2, -1}, {-3, -1}, {-1, 1},
      {-2, 1}, {-3, 1}, {1, -1}, {2, -1}, {3, -1}, {1, 1}, {2, 1}, {3, 1}, {0, -1}, {0, 1}}},
    {{{1, 1}, {2, 2}, {-1, -1}, {-2, -2}, {3, 3}, {-3, -3}, {1, 0}, {2, 1}, {3, 2}, {0, 1},
      {1, 2}, {2, 3}, {0, -1}, {-1, -2}, {-2, -3}, {-1, 0}, {-2, -1}, {-3, -2}, {1, -1}, {-1, 1}}},
    {{{1, -1}, {1, -2}, {-1, 1}, {-1, 2}, {1, -3}, {-1, 3}, {0, -1}, {0, -2}, {0, -3}, {0, 1},
      {0, 2}, {0, 3}, {2, -1}, {2, -2}, {2, -3}, {-2, 1}, {-2, 2}, {-2, 3}, {-1, 0}, {1, 0}}},
    {{{1, -1}, {2, -1}, {-1, 1}, {-2, 1}, {3, -1}, {-3, 1}, {1, -2}, {2, -2}, {3, -2}, {1, 0},
      {2, 0}, {3, 0}, {-1, 0}, {-2, 0}, {-3, 0}, {-1, 2}, {-2, 2}, {-3, 2}, {0, -1}, {0, 1}}},
    {{{1, 1}, {2, 1}, {-1, -1}, {-2, -1}, {3, 1}, {-3, -1}, {1, 2}, {2, 2}, {3, 2}, {-1, -2},
      {-2, -2}, {-3, -2}, {1, 0}, {2, 0}, {3, 0}, {-1, 0}, {-2, 0}, {-3, 0}, {0, -1}, {0, 1}}},
    {{{1, 1}, {1, 2}, {-1, -1}, {-1, -2}, {1, 3}, {-1, -3}, {2, 1}, {2, 2}, {2, 3}, {-2, -1},
      {-2, -2}, {-2, -3}, {0, 1}, {0, 2}, {0, 3}, {0, -1}, {0, -2}, {0, -3}, {-1, 0}, {1, 0}}},
}};

}  // namespace veltrane
