#include "driver.h"

#include <algorithm>
#include <limits>

#include "framework/thread_pool.h"
#include "shell/call_context.h"
#include "shell/messages.h"
#include "shell/progress.h"

namespace veltrane {
namespace {

constexpr std::int32_t initialBlockScale = 4;
constexpr std::int64_t quadrantMinPixels = 1000000;  // more than this: quadrants
constexpr std::int32_t quadrantMinSide = 134;        // both sides above this

// Process-wide, as long as the plug-in stays loaded.
std::int32_t scaleH = initialBlockScale;
std::int32_t scaleV = initialBlockScale;

// Host samples: a source or a destination with its row stride in bytes.
struct Samples {
  const void* data = nullptr;
  std::ptrdiff_t rowBytes = 0;
};
struct MutableSamples {
  void* data = nullptr;
  std::ptrdiff_t rowBytes = 0;
};

// Where a piece's result goes: the rectangle (x0, y0, width, height) in the
// source and destination, and the buffer position (bx, by) of its first pixel.
struct Placement {
  std::int32_t x0, y0, width, height, bx, by;
};

// What stays the same for every piece of one run.
struct Run {
  const PieceEngine& engine;
  std::int32_t depth;            // 8, 16 or 32
  std::int32_t samplesPerPixel;  // of source and destination
  void (*write)(const WriteRegion&);
};

// The two buffers of one piece, released on every path out of the piece.
struct PieceBuffers {
  cspaceBuffer input;
  cspaceBuffer output;

  PieceBuffers() = default;
  PieceBuffers(const PieceBuffers&) = delete;
  PieceBuffers& operator=(const PieceBuffers&) = delete;
  ~PieceBuffers() {
    input.releaseIfLocked();
    output.releaseIfLocked();
  }
};

// Creates the piece's buffers (w x h, margin 3), fills the input with fill
// and runs the engine. Returns outOfMemory when the driver's own buffers cannot be
// had, else the engine's code. The input is released afterwards; the output
// keeps memory only when the engine succeeded, so that a failed piece can
// never be written.
template <typename Fill>
ResultCode runEngineOnPiece(const PieceEngine& engine, PieceBuffers& b, std::int32_t w,
                            std::int32_t h, Fill fill) {
  b.input.create(pieceMargin, pieceMargin, w, h);
  if (!b.input.allocatedOrReported()) return outOfMemory;
  b.output.create(pieceMargin, pieceMargin, w, h);
  if (!b.output.allocatedOrReported()) return outOfMemory;
  fill(b.input);
  const ResultCode rc = engine.run(b.input, b.output);
  b.input.releaseIfLocked();
  if (rc != noErr) b.output.releaseIfLocked();
  return rc;
}

// runEngineOnPiece reading the w x h pixels at (x0, y0) of host-format
// samples of the run's depth.
ResultCode runEngineOnSamples(const Run& run, PieceBuffers& b, const Samples& src, std::int32_t x0,
                              std::int32_t y0, std::int32_t w, std::int32_t h) {
  return runEngineOnPiece(run.engine, b, w, h, [&](cspaceBuffer& in) {
    const std::int32_t spp = run.samplesPerPixel;
    if (run.depth == 16)
      in.fillFromHost16(static_cast<const std::uint16_t*>(src.data), src.rowBytes, x0, y0, w, h,
                        spp);
    else if (run.depth == 32)
      in.fillFromHost32(static_cast<const float*>(src.data), src.rowBytes, x0, y0, w, h, spp);
    else
      in.fillFromHost8(static_cast<const std::uint8_t*>(src.data), src.rowBytes, x0, y0, w, h, spp);
  });
}

void writePiece(const Run& run, const cspaceBuffer& result, const Samples& src,
                const MutableSamples& dst, const Placement& p, bool useMask) {
  WriteRegion r;
  r.dst = dst.data;
  r.dstRowBytes = dst.rowBytes;
  r.src = src.data;
  r.srcRowBytes = src.rowBytes;
  r.width = p.width;
  r.height = p.height;
  r.x0 = p.x0;
  r.y0 = p.y0;
  r.engine = &result;
  r.bx = p.bx;
  r.by = p.by;
  r.hostHasMask = haveMask();
  r.useMask = useMask && r.hostHasMask;
  if (r.useMask) {
    r.mask = maskData();
    r.maskRowBytes = maskRowBytes();
  }
  r.samplesPerPixel = run.samplesPerPixel;
  run.write(r);
}

// Arguments the driver cannot work with: nothing is processed and the host
// learns of it through the result cell.
ResultCode refuse() {
  setResult(badParameters);
  return badParameters;
}

std::int32_t toInt32(std::int64_t v) {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Host-sized blocks, each read with up to 64 pixels of context on every side
// (cut at the image's left and top edges and at the rectangle's right and
// bottom edges) and written back through a request of the block itself.
//
// In every layout a piece that fails ends the run with its code: the
// out-of-memory check or the cancel has already put userCancelled in the result cell,
// so the host discards the run, and the remaining pieces would only repeat
// the failure.
ResultCode runTiles(const Run& run, const Rect& rect) {
  const BlockSize block = processingBlockSize();
  const std::int64_t across = (std::int64_t{rect.width()} - 1) / block.width + 1;
  const std::int64_t down = (std::int64_t{rect.height()} - 1) / block.height + 1;
  progressStart(toInt32(across * down));

  for (std::int64_t ty = 0; ty < down; ++ty) {
    for (std::int64_t tx = 0; tx < across; ++tx) {
      const std::int64_t top = rect.top + ty * block.height;
      const std::int64_t left = rect.left + tx * block.width;
      const std::int64_t bottom = std::min<std::int64_t>(top + block.height, rect.bottom);
      const std::int64_t right = std::min<std::int64_t>(left + block.width, rect.right);
      const Rect tile{toInt32(top), toInt32(left), toInt32(bottom), toInt32(right)};
      const Rect read{toInt32(std::max<std::int64_t>(top - pieceContext, 0)),
                      toInt32(std::max<std::int64_t>(left - pieceContext, 0)),
                      toInt32(std::min<std::int64_t>(bottom + pieceContext, rect.bottom)),
                      toInt32(std::min<std::int64_t>(right + pieceContext, rect.right))};

      if (ResultCode rc = requestRegion(read, read.left > left - pieceContext); rc != noErr)
        return rc;
      const Samples readTile{inData(), inRowBytes()};
      if (!readTile.data) return refuse();

      PieceBuffers b;
      if (ResultCode rc = runEngineOnSamples(run, b, readTile, 0, 0, read.width(), read.height());
          rc != noErr)
        return rc;

      if (ResultCode rc = requestRegion(tile); rc != noErr) return rc;
      const Samples src{inData(), inRowBytes()};
      const MutableSamples dst{outData(), outRowBytes()};
      if (!src.data || !dst.data) return refuse();
      writePiece(run, b.output, src, dst,
                 {0, 0, tile.width(), tile.height(), tile.left - read.left, tile.top - read.top},
                 true);
      b.output.releaseIfLocked();
      if (progressStep(1)) return userCancelled;
    }
  }
  return noErr;
}

// Four pieces, each with 64 pixels of context across the inner seams; all
// positions are relative to the rectangle's top-left corner.
ResultCode runQuadrants(const Run& run, std::int32_t width, std::int32_t height, const Samples& src,
                        const MutableSamples& dst, bool useMask) {
  const std::int32_t J = width / 2;
  const std::int32_t K = height / 2;
  const std::int32_t c = pieceContext;
  struct Quadrant {
    std::int32_t readX, readY, readWidth, readHeight;
    Placement write;
  };
  const Quadrant quadrants[4] = {
      {0, 0, J + c, K + c, {0, 0, J, K, 0, 0}},
      {J - c, 0, width - J + c, K + c, {J, 0, width - J, K, c, 0}},
      {0, K - c, J + c, height - K + c, {0, K, J, height - K, 0, c}},
      {J - c, K - c, width - J + c, height - K + c, {J, K, width - J, height - K, c, c}},
  };
  for (const Quadrant& q : quadrants) {
    PieceBuffers b;
    if (ResultCode rc =
            runEngineOnSamples(run, b, src, q.readX, q.readY, q.readWidth, q.readHeight);
        rc != noErr)
      return rc;
    writePiece(run, b.output, src, dst, q.write, useMask);
    b.output.releaseIfLocked();
    if (progressTick()) return userCancelled;
  }
  return noErr;
}

ResultCode runWhole(const Run& run, std::int32_t width, std::int32_t height, const Samples& src,
                    const MutableSamples& dst, bool useMask) {
  PieceBuffers b;
  if (ResultCode rc = runEngineOnSamples(run, b, src, 0, 0, width, height); rc != noErr) return rc;
  if (progressTick()) return userCancelled;
  writePiece(run, b.output, src, dst, {0, 0, width, height, 0, 0}, useMask);
  // The writer's own poll may be the one that sees the cancel.
  return progressCancelled() ? userCancelled : noErr;
}

}  // namespace

std::int32_t blockScaleH() { return scaleH; }
std::int32_t blockScaleV() { return scaleV; }
void lowerBlockScales() {
  scaleH = 1;
  scaleV = 1;
}
void resetBlockScales() {
  scaleH = initialBlockScale;
  scaleV = initialBlockScale;
}

BlockSize processingBlockSize() {
  return {scaleH * tileSideOrDefault(hostTileWidth()), scaleV * tileSideOrDefault(hostTileHeight())};
}

PieceLayout choosePieceLayout(std::int32_t width, std::int32_t height) {
  const BlockSize block = processingBlockSize();
  if (std::int64_t{width} >= 2 * std::int64_t{block.width} ||
      std::int64_t{height} >= 2 * std::int64_t{block.height})
    return PieceLayout::tiles;
  if (std::int64_t{width} * height > quadrantMinPixels && width > quadrantMinSide &&
      height > quadrantMinSide)
    return PieceLayout::quadrants;
  return PieceLayout::whole;
}

ResultCode filterImage(const PieceEngine& engine, const FilterImageRun& request) {
  const Rect& rect = request.rect;
  const std::int32_t width = request.width;
  const std::int32_t height = request.height;
  const bool fetchFromHost = request.fetchFromHost;
  const bool writeToHost = request.writeToHost;
  std::int32_t depth = request.depth;
  progressBeginRun();
  progressEnable();
  if (!callContext().parameters) return refuse();
  const EnginePoolScope threads;  // one set of worker threads for every pass of the run
  // settings come from the locked parameters
  engine.deriveSettings();
  setInRect(rect);

  if (depth == 0) depth = 8;
  if (depth != 8 && depth != 16 && depth != 32) return refuse();
  const PieceLayout layout = choosePieceLayout(width, height);
  const bool tiled = layout == PieceLayout::tiles;
  // Pieces are addressed inside the delivered rectangle: its size must be
  // the one the pieces are cut from.
  if ((tiled || fetchFromHost || writeToHost) && (rect.width() != width || rect.height() != height))
    return refuse();
  // The host's tiles of a one-plane image carry one sample per pixel, the
  // caller's buffers three; the writers read and write one layout.
  const std::int32_t planes = planesToRequest();
  std::int32_t samplesPerPixel = 3;
  if (tiled || (fetchFromHost && writeToHost)) {
    samplesPerPixel = planes;
  } else if (fetchFromHost != writeToHost && planes == 1) {
    return refuse();
  }

  Samples source{request.source, request.sourceRowBytes};
  MutableSamples destination{request.destination, request.destinationRowBytes};
  if (!tiled && fetchFromHost) {
    if (ResultCode rc = requestRegion(rect); rc != noErr) return rc;
    source = {inData(), inRowBytes()};
  }

  if (tooSmallToFilter(width, height)) {
    reportMessage(engine.tooSmallMessage);
    return imageTooSmall;
  }

  if (!tiled && writeToHost) {
    if (ResultCode rc = requestRegion(rect); rc != noErr) return rc;
    destination = {outData(), outRowBytes()};
    // Tile pointers hold only until the next request: take the source from
    // this delivery too.
    if (fetchFromHost) source = {inData(), inRowBytes()};
  }

  progressStart(4);
  const Run run{engine, depth, samplesPerPixel,
                depth == 16   ? engine.write16
                : depth == 32 ? engine.write32
                              : engine.write8};
  if (tiled) return runTiles(run, rect);

  if (!source.data || !destination.data) return refuse();
  // The mask was delivered with the rectangle only when one was requested.
  const bool useMask = fetchFromHost || writeToHost;
  if (layout == PieceLayout::quadrants)
    return runQuadrants(run, width, height, source, destination, useMask);
  return runWhole(run, width, height, source, destination, useMask);
}

ResultCode previewFilter(const PieceEngine& engine, std::int32_t width, std::int32_t height,
                         const Rect& rect, const std::uint8_t* src, std::ptrdiff_t srcRowBytes,
                         std::uint8_t* dst, std::ptrdiff_t dstRowBytes) {
  progressBeginRun();
  if (!callContext().parameters) return badParameters;
  const EnginePoolScope threads;
  engine.deriveSettings();
  setInRect(rect);
  if (tooSmallToFilter(width, height)) {
    reportMessage(engine.tooSmallMessage);
    return imageTooSmall;
  }
  if (!src || !dst) return badParameters;

  PieceBuffers b;
  if (ResultCode rc = runEngineOnPiece(
          engine, b, width, height,
          [&](cspaceBuffer& in) { in.fillFromInterleaved8(src, srcRowBytes, width, height); });
      rc != noErr)
    return rc;
  if (progressTick()) return userCancelled;

  const Run run{engine, 8, 3, engine.write8};
  writePiece(run, b.output, {src, srcRowBytes}, {dst, dstRowBytes}, {0, 0, width, height, 0, 0},
             false);
  return progressCancelled() ? userCancelled : noErr;
}

}  // namespace veltrane
