#include "view_state.h"

#include <iterator>
#include <stdexcept>

namespace veltrane {

ViewState& viewState() {
  static ViewState state;
  return state;
}

namespace {

std::int32_t ViewState::* intField(std::size_t index) {
  static constexpr std::int32_t ViewState::* fields[] = {
      &ViewState::zoom,        &ViewState::panOffsetH,   &ViewState::panOffsetV,
      &ViewState::panFullH,    &ViewState::panFullV,     &ViewState::storedWidth,
      &ViewState::storedHeight, &ViewState::dialogWidth, &ViewState::dialogHeight,
      &ViewState::zoomFactor,
  };
  static_assert(std::size(fields) == view::showAdvanced);
  if (index >= std::size(fields)) throw std::out_of_range("array<>: index out of range");
  return fields[index];
}

}  // namespace

std::int32_t viewStateValue(const ViewState& s, std::size_t index) {
  if (index == view::showAdvanced) return s.showAdvanced;
  return s.*intField(index);
}

void setViewStateValue(ViewState& s, std::size_t index, std::int32_t value) {
  if (index == view::showAdvanced) {
    s.showAdvanced = value != 0 ? 1 : 0;
    return;
  }
  s.*intField(index) = value;
}

}  // namespace veltrane
