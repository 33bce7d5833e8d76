#pragma once
#include <cstddef>
#include <cstdint>

#include "shell/call_context.h"
#include "shell/result_codes.h"

// Access to the host's image through its region protocol: the plug-in sets
// the rectangles and plane ranges it wants, calls advance-state, and reads the
// delivered input, output and mask tiles from the record. Rectangles travel
// through the 32-bit big-document fields once the plug-in has declared 32-bit
// coordinates, otherwise through the record's 16-bit fields.
namespace veltrane {

// Image coordinates; bottom and right are exclusive.
struct Rect {
  std::int32_t top = 0;
  std::int32_t left = 0;
  std::int32_t bottom = 0;
  std::int32_t right = 0;

  std::int32_t width() const noexcept { return right - left; }
  std::int32_t height() const noexcept { return bottom - top; }
  bool empty() const noexcept { return right <= left || bottom <= top; }
  friend bool operator==(const Rect&, const Rect&) = default;
};

// Whether the record's rectangles are exchanged as 32-bit values.
bool usingBigDocument();

// The host's filter rectangle and current input rectangle (empty without a
// host record).
Rect getFilterRect();
Rect getInRect();

// Write a rectangle for the next advance-state call. Without 32-bit
// coordinates a rectangle that does not fit the 16-bit fields is refused:
// nothing is written and the result is false.
bool setInRect(const Rect& r);
bool setOutRect(const Rect& r);
bool setMaskRect(const Rect& r);

// Planes per host image mode (0 for multichannel and unknown modes) and the
// 8-bit mode of the same colour model.
std::int32_t planesForMode(std::int32_t mode);
std::int32_t eightBitMode(std::int32_t mode);

// Bits per channel of the host's image; a host that leaves it at 0 means 8.
std::int32_t depth();

// The planes to request for the current image mode: 1 or 3. Any other count
// is reported to the user and replaced by 1 (below 4) or 3.
std::int32_t checkPlanes();
// The same count without the message (for laying out delivered tiles).
std::int32_t planesToRequest();

// Calls the host's advance-state. A non-zero code is shown as a coded message,
// stored in the result cell and returned.
ResultCode advance();

// Has the host deliver the rectangle: planes 0..checkPlanes()-1 in and out,
// input and output rectangles (and the mask rectangle when the host has a
// mask) set to r. clippedAtLeftEdge marks a read whose context was cut at the
// image's left edge: the host is then told to report out-of-bounds reads
// (input padding -3). Returns the host's code (a rectangle the record cannot
// carry gives badParameters, reported like a host error; so does a delivery whose
// reported rectangles do not hold all of r).
ResultCode requestRegion(const Rect& r, bool clippedAtLeftEdge = false);

// Has the host deliver the rectangle at full resolution, planes
// 0..planes-1, for display rather than filtering: input and output
// rectangles set to r, no mask. Returns the host's code, reported as
// advance() does, or badParameters with a message when the host delivered less.
ResultCode requestInput(const Rect& r, std::int32_t planes);

// The tiles delivered by the last request (null / 0 when there are none).
const void* inData();
std::ptrdiff_t inRowBytes();
void* outData();
std::ptrdiff_t outRowBytes();
const std::uint8_t* maskData();
std::ptrdiff_t maskRowBytes();
// Whether the host has a selection mask for this run.
bool haveMask();

// The host's preferred input tile size (0 or less: no preference).
std::int32_t hostTileWidth();
std::int32_t hostTileHeight();

// An 8-bit view of one input region. 8-bit images are read in place from the
// host's tile; 16- and 32-bit images are converted into a host buffer that
// release() gives back. A plain record: whoever calls init calls release.
struct uint8ImageProxyFromAdvanceState {
  std::uint8_t* data = nullptr;     // samples, planes interleaved per pixel
  HostBufferId bufferID = nullptr;  // the converted copy (16 and 32 bits)
  std::uint8_t* base = nullptr;     // its locked memory
  std::int64_t sizeBytes = 0;       // its size
  std::int32_t bytesPerSample = 0;  // the host's sample size: 1, 2 or 4
  std::ptrdiff_t rowStride = 0;     // bytes between rows of data
  std::int16_t planes = 0;
  std::int16_t error = 0;  // 0 when data is usable
  std::int32_t width = 0;
  std::int32_t height = 0;

  void init(std::int16_t planeCount, std::int32_t top, std::int32_t left, std::int32_t bottom,
            std::int32_t right);
  void release();
};

inline constexpr const char* advanceStateErrorMessage = "(Veltrane) Advance state error:";
inline constexpr const char* unexpectedPlanesMessage =
    "(Veltrane) Unexpected number of image planes.  Please contact support.";
inline constexpr const char* proxyInitErrorMessage =
    "(Veltrane) uint8ImageProxyFromAdvanceState::init error code: ";
inline constexpr const char* shortDeliveryMessage =
    "(Veltrane) The application delivered less of the image than was requested.";
inline constexpr const char* proxyUint16AllocationMessage =
    "(Veltrane) Uint16 buffer allocation failed!";
inline constexpr const char* proxyFloatAllocationMessage =
    "(Veltrane) Float buffer allocation failed!";

}  // namespace veltrane
