#pragma once
#include <cstddef>
#include <cstdint>

#include "hostapi/fourcc.h"

namespace veltrane {

// The preview's and the dialog's view state. It is process-wide, lives as
// long as the library is loaded, and travels through the registry and the
// scripting descriptor as integers.
struct ViewState {
  std::int32_t zoom = 1;  // preview sampling rate in whole steps
  std::int32_t panOffsetH = 0;
  std::int32_t panOffsetV = 0;
  std::int32_t panFullH = 0;  // pan offsets in full-resolution pixels, carried only
  std::int32_t panFullV = 0;
  std::int32_t storedWidth = 1920;  // carried only
  std::int32_t storedHeight = 1080;
  std::int32_t dialogWidth = 1920;
  std::int32_t dialogHeight = 1080;
  std::int32_t zoomFactor = 1;      // 1, 2 or 4
  std::uint8_t showAdvanced = 0;  // "Show Advanced Controls", 0 or 1
};

ViewState& viewState();

// The descriptor keys of the view state, in the order the registry reads and
// writes them. Index i of this table is field i of ViewState.
inline constexpr std::size_t viewStateKeyCount = 11;
inline constexpr std::uint32_t viewStateKeys[viewStateKeyCount] = {
    hostapi::fourcc("Zoom"), hostapi::fourcc("Zmoh"), hostapi::fourcc("Zmov"), hostapi::fourcc("Zmfh"),
    hostapi::fourcc("Zmfv"), hostapi::fourcc("Zmww"), hostapi::fourcc("Zmwh"), hostapi::fourcc("Zmpw"),
    hostapi::fourcc("Zmph"), hostapi::fourcc("Zmsz"), hostapi::fourcc("Zm00"),
};

namespace view {
inline constexpr std::size_t zoom = 0;
inline constexpr std::size_t panOffsetH = 1;
inline constexpr std::size_t panOffsetV = 2;
inline constexpr std::size_t panFullH = 3;
inline constexpr std::size_t panFullV = 4;
inline constexpr std::size_t storedWidth = 5;
inline constexpr std::size_t storedHeight = 6;
inline constexpr std::size_t dialogWidth = 7;
inline constexpr std::size_t dialogHeight = 8;
inline constexpr std::size_t zoomFactor = 9;
inline constexpr std::size_t showAdvanced = 10;
}  // namespace view

// Field i of the state as the integer stored under viewStateKeys[i]. Both
// throw std::out_of_range for an index past the table.
std::int32_t viewStateValue(const ViewState& s, std::size_t index);
// Stores an integer read under viewStateKeys[i]; showAdvanced becomes 1 for
// any non-zero value.
void setViewStateValue(ViewState& s, std::size_t index, std::int32_t value);

}  // namespace veltrane
