#pragma once
#include <cstdint>

#include "filter_parameters.h"
#include "result_codes.h"

namespace veltrane {

// Opaque identifier of a block of host buffer memory (null = none).
using HostBufferId = void*;

// The host operations the plug-in relies on during one call, as plain
// function pointers over an opaque host object. The shell fills these from
// the host's record (host_call.h).
struct HostServices {
  void* host = nullptr;

  // Buffer suite. allocate stores the new id and returns a result code;
  // lock returns the memory or null.
  ResultCode (*allocateBuffer)(void* host, std::int64_t size, HostBufferId* id) = nullptr;
  void* (*lockBuffer)(void* host, HostBufferId id, bool moveHigh) = nullptr;
  void (*unlockBuffer)(void* host, HostBufferId id) = nullptr;
  void (*freeBuffer)(void* host, HostBufferId id) = nullptr;

  // Progress callback (may be null) and abort test (may be null = never).
  void (*progress)(void* host, std::int32_t done, std::int32_t total) = nullptr;
  bool (*testAbort)(void* host) = nullptr;

  bool hasBufferSuite() const noexcept {
    return allocateBuffer && lockBuffer && unlockBuffer && freeBuffer;
  }
};

// What every part of the plug-in reaches during one host call. Overwritten at
// the start of every call; nothing taken from it is kept across calls.
struct CallContext {
  HostServices services;
  std::int16_t* result = nullptr;           // the host's result cell
  void* record = nullptr;                   // the host's record for this call
  std::intptr_t* data = nullptr;            // the plug-in's data word
  void* basicSuite = nullptr;               // the suite-acquiring service
  FilterParameters* parameters = nullptr;   // locked parameter handle
  std::uint8_t* showDialogFlag = nullptr;   // locked data handle
  std::int32_t imageMode = 3;               // host image mode number (3 = RGB)
  bool dialogOpen = false;                  // the dialog (and its live preview) is up
};

// The process-wide call context.
CallContext& callContext();

// Store a code in the result cell (when there is one).
void setResult(ResultCode code);
ResultCode currentResult();

}  // namespace veltrane
