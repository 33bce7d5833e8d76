#pragma once
#include <cstddef>
#include <cstdint>

#include "framework/write_region.h"
#include "image/cspace_buffer.h"
#include "image/region.h"
#include "shell/result_codes.h"

// The engine driver: cuts the filter rectangle into pieces (host-sized tiles
// with 64 pixels of context, quadrants, or the whole rectangle), moves each
// piece from host samples into a cspaceBuffer, runs a deliverable's engine on
// it and writes the result back, reporting progress and honouring cancel.
namespace veltrane {

// What a deliverable plugs into the driver. The driver owns the input and
// output buffers of every piece and releases both after the piece is written
// (an engine may release its input earlier).
struct PieceEngine {
  // Derives the engine's settings from the parameter block; run before every
  // filterImage and previewFilter.
  void (*deriveSettings)();
  // Processes one piece: input and output have the same geometry (margin 3).
  // Returns noErr, outOfMemory or userCancelled (or another host code). On
  // a non-zero code the output holds no result: the driver writes nothing
  // for the piece and ends the run with that code.
  ResultCode (*run)(cspaceBuffer& input, cspaceBuffer& output);
  // Writers of the piece's result in 8-, 16- and 32-bit host samples.
  void (*write8)(const WriteRegion& region);
  void (*write16)(const WriteRegion& region);
  void (*write32)(const WriteRegion& region);
  // Shown when a rectangle is refused as too small (tooSmallToFilter); the
  // plug-in's one text for it, also shown by the entry point.
  const char* tooSmallMessage;
};

// Multipliers of the host's tile size that make a processing block; 4 until
// the prepare step lowers both to 1 for the rest of the loaded plug-in's life.
std::int32_t blockScaleH();
std::int32_t blockScaleV();
void lowerBlockScales();
// Back to 4 (a freshly loaded plug-in; tests).
void resetBlockScales();

// The host's preferred tile side, or defaultHostTile where the host leaves
// it at 0 or less.
inline constexpr std::int32_t defaultHostTile = 256;
constexpr std::int32_t tileSideOrDefault(std::int32_t hostTileSide) noexcept {
  return hostTileSide > 0 ? hostTileSide : defaultHostTile;
}

// The processing block: the block multipliers times the host's tile size
// (tileSideOrDefault).
struct BlockSize {
  std::int32_t width = 0;
  std::int32_t height = 0;
};
BlockSize processingBlockSize();

enum class PieceLayout { whole, quadrants, tiles };

// How a rectangle of the given size is cut: into blocks when a side reaches
// twice the block size, into quadrants above 1,000,000 pixels when both sides
// exceed 134, else in one piece.
PieceLayout choosePieceLayout(std::int32_t width, std::int32_t height);

inline constexpr std::int32_t pieceContext = 64;  // pixels of context on inner sides
inline constexpr std::int32_t smallestSide = 24;  // sides this size or less are refused

// Whether a rectangle is refused: a side of smallestSide or less leaves fewer
// than three pixels at the coarsest of four levels.
constexpr bool tooSmallToFilter(std::int64_t width, std::int64_t height) noexcept {
  return width <= smallestSide || height <= smallestSide;
}
inline constexpr std::int32_t pieceMargin = 3;

// What filterImage runs over and where its samples come from and go to.
// A caller's buffer holds rows rowBytes apart, three samples per pixel at
// depth. Tiled runs always read from and write to the host.
struct FilterImageRun {
  Rect rect{};               // image coordinates
  std::int32_t width = 0;    // the rectangle's size; must be rect's when the
  std::int32_t height = 0;   // host is read or written
  std::int32_t depth = 8;    // bits per sample: 8, 16 or 32 (0 means 8)
  bool fetchFromHost = true;  // else from source
  const void* source = nullptr;
  std::ptrdiff_t sourceRowBytes = 0;
  bool writeToHost = true;  // else to destination
  void* destination = nullptr;
  std::ptrdiff_t destinationRowBytes = 0;

  // The host's own rectangle, read from and written back to the host.
  static FilterImageRun onHost(const Rect& r, std::int32_t depth) {
    FilterImageRun run;
    run.rect = r;
    run.width = r.width();
    run.height = r.height();
    run.depth = depth;
    return run;
  }
};

// Runs the engine over the rectangle. Returns noErr, imageTooSmall,
// outOfMemory, userCancelled, badParameters (arguments it cannot process) or
// a host region code. The abort latch is cleared at the start, so an earlier
// cancel does not cancel this run.
ResultCode filterImage(const PieceEngine& engine, const FilterImageRun& run);

// Runs the engine on one 8-bit interleaved RGB image (the preview), without
// the selection mask. Returns noErr, imageTooSmall, outOfMemory or
// userCancelled.
ResultCode previewFilter(const PieceEngine& engine, std::int32_t width, std::int32_t height,
                         const Rect& rect, const std::uint8_t* src, std::ptrdiff_t srcRowBytes,
                         std::uint8_t* dst, std::ptrdiff_t dstRowBytes);

}  // namespace veltrane
