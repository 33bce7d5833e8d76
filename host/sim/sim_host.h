#pragma once
// The in-memory host: plays an image editor's part for a filter module. It
// holds the image, serves every callback and suite of the filter record, and
// runs the selector sequence the way an editor does. Used by the veltrane
// command, the tests (engine code driven in-process included) and the
// benchmarks; the plug-ins never link it.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/sim/plugin_description.h"
#include "hostapi/filter_record.h"

namespace veltrane::host {

// A typed value of a descriptor.
struct DescriptorValue {
  enum class Type { integer, floating, boolean };
  Type type = Type::floating;
  std::int32_t integer = 0;
  double floating = 0.0;
  bool boolean = false;

  static DescriptorValue ofInteger(std::int32_t v) { return {Type::integer, v, 0.0, false}; }
  static DescriptorValue ofFloat(double v) { return {Type::floating, 0, v, false}; }
  static DescriptorValue ofBoolean(bool v) { return {Type::boolean, 0, 0.0, v}; }
};

// Keys in the order they were first put; one value per key.
class Descriptor {
 public:
  void put(std::uint32_t key, const DescriptorValue& value);
  const DescriptorValue* find(std::uint32_t key) const;
  const std::vector<std::pair<std::uint32_t, DescriptorValue>>& entries() const { return entries_; }
  bool empty() const { return entries_.empty(); }

 private:
  std::vector<std::pair<std::uint32_t, DescriptorValue>> entries_;
};

// The persistent descriptor registry: one descriptor per identifier.
struct Registry {
  std::map<std::string, Descriptor> entries;
};

enum class PlaySetting : std::int16_t { dontDisplay = 0, display = 1, silent = 2 };

// The document as the host holds it: interleaved planes, row-major.
// 16-bit samples use the host range 0..32768; 32-bit samples are linear
// floats.
struct SimImage {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int16_t imageMode = 3;  // 1 grey, 3 RGB, 9 Lab, 10/11/12 16-bit, 16/17 32-bit
  std::int32_t planes = 3;     // 1 or 3
  std::int32_t depth = 8;      // 8, 16 or 32
  std::vector<std::uint8_t> pixels;

  std::int64_t bytesPerSample() const { return depth / 8; }
  std::int64_t rowBytes() const { return static_cast<std::int64_t>(width) * planes * bytesPerSample(); }
};

struct SimOptions {
  // Filter rectangle; the whole image when not given.
  std::optional<hostapi::VRect> filterRect;
  // Selection mask, width * height bytes (255 = selected); empty = none.
  std::vector<std::uint8_t> mask;
  // The host's preferred tile size; 0 = none.
  std::int16_t tileWidth = 0;
  std::int16_t tileHeight = 0;
  // Memory allowance in bytes.
  std::int64_t maxSpace = std::int64_t{1} << 30;
  // Whether the host offers 32-bit coordinates.
  bool bigDocument = true;
  // Whether the host offers the basic suite (registry and descriptors).
  bool basicSuite = true;
  // Lesser hosts: what real editors leave out or answer differently.
  // Whether the handle suite's get-size call knows sizes (false: it answers 0).
  bool handleSizeKnown = true;
  // The value the result cell holds when the plug-in is called.
  std::int16_t resultCellPreset = 0;
  // The descriptor parameters record: full, present with a null descriptor,
  // null procedures and play info 0, or none at all. Without full scripting
  // the host ignores setScriptDescriptor.
  enum class DescriptorRecord { full, empty, none };
  DescriptorRecord descriptorRecord = DescriptorRecord::full;
  // Suites of the oldest versions a host may offer: a handle suite of 6
  // routines and a buffer suite of 5 (no 64-bit routines).
  bool oldSuiteVersions = false;
  // Whether the host knows deep images; without, it holds 8-bit images only
  // and leaves the record's depth field at 0.
  bool deepImages = true;
  // At most this many rows of each requested rectangle are delivered (the
  // record's rectangles then report what was); 0 = all.
  std::int32_t rowsPerDelivery = 0;
  // Whether fresh handles and buffers are filled with a marker byte, so that
  // a plug-in relying on zeroed memory shows it (benchmarks leave it out).
  bool fillFreshMemory = true;
  // Failure injection, counted from 1 over the whole life of the host; 0 = never.
  int failBufferAllocationAt = 0;
  int failHandleAllocationAt = 0;
  int abortAtPoll = 0;
  // Progress reports as they arrive.
  std::function<void(std::int32_t done, std::int32_t total)> onProgress;
};

// Named sets of the lesser-host options above, for trying a module the way
// other editors drive it: "full" (this host as it is), "size-unknown",
// "result-preset", "no-basic-suite", "empty-descriptor", "no-descriptor",
// "no-big-document", "old-suites", "no-16-bit", "short-rows", "odd-tiles",
// and "minimal": every lack from "size-unknown" to "no-16-bit" at once, with
// the empty descriptor record.
const std::vector<std::string>& hostProfileNames();
// Applies the named profile to options; false for an unknown name.
bool applyHostProfile(const std::string& name, SimOptions& options);

// A loaded filter module.
class PluginModule {
 public:
  // Loads the module; throws std::runtime_error naming the path on failure
  // (also when it exports no PluginMain). On Windows the module's message
  // boxes become lines on standard error ("Veltrane: <text>"), as the POSIX
  // build of the plug-ins writes them, and are answered with their first
  // button.
  // The file is checked first: one that is truncated or damaged is refused
  // with a message rather than handed to the system loader.
  static PluginModule load(const std::string& path);
  PluginModule(PluginModule&&) noexcept;
  PluginModule& operator=(PluginModule&&) noexcept;
  ~PluginModule();

  hostapi::PluginMainProc entry() const { return entry_; }
  // The module's property list, terminology and parameter resource: on
  // Windows its 'PIPL', 'AETE' and 'VPAR' resources, on Linux the .pipl,
  // .aete and .vpar sections of the file; each empty when it carries none.
  const ModuleResources& resources() const { return resources_; }

 private:
  PluginModule() = default;
  void* handle_ = nullptr;
  hostapi::PluginMainProc entry_ = nullptr;
  ModuleResources resources_;
};

// The resources of a module file without running any of its code (on
// Windows it is mapped as data only); throws std::runtime_error naming the
// path when the file is not a module this process could load.
ModuleResources readModuleResources(const std::string& path);

// What the host counted during its life.
struct SimStatistics {
  int bufferAllocations = 0;
  int liveBuffers = 0;
  int lockedBuffers = 0;     // live buffers locked more often than unlocked
  int handleAllocations = 0;
  int liveHandles = 0;       // besides the parameter, data and recorded-descriptor handles the host keeps
  int suitesAcquired = 0;
  int suitesReleased = 0;
  int liveDescriptors = 0;   // action descriptors made and not freed
  int progressReports = 0;
  int abortPolls = 0;
  int advanceStateCalls = 0;
  int displayPixelsCalls = 0;
  int invalidCalls = 0;      // callbacks given a handle, buffer, descriptor or reader this host does not know
  std::vector<std::int16_t> selectors;  // every selector called, in order
};

class SimHost {
 public:
  // The host works on `image` in place: results land in it as the plug-in
  // writes them. The registry, when given, is read and written by the
  // plug-in through the registry suite.
  SimHost(SimImage& image, SimOptions options = {}, Registry* registry = nullptr);
  ~SimHost();
  SimHost(const SimHost&) = delete;
  SimHost& operator=(const SimHost&) = delete;

  // The scripting descriptor handed to the plug-in at start (none: no
  // descriptor) and the play setting.
  void setScriptDescriptor(std::optional<Descriptor> descriptor, PlaySetting play);
  // The descriptor the plug-in left in the record (after finish or Cancel).
  std::optional<Descriptor> scriptDescriptor() const;

  // Calls the entry point once with the given selector (the about record for
  // selector 0) and returns the result.
  std::int16_t call(hostapi::PluginMainProc entry, std::int16_t selector);
  std::int16_t about(hostapi::PluginMainProc entry);

  // The editor's sequence: parameters when the plug-in is used for the first
  // time or when the dialog is wanted, prepare, start, continue while any
  // rectangle is non-empty, finish only after a successful start. Returns the
  // first non-zero result, or 0.
  std::int16_t runFilter(hostapi::PluginMainProc entry, bool wantDialog);

  // Plug-in code driven in-process between entry calls (engine tests,
  // benchmarks) marks its runs and moves the failure injection as it goes.
  // A new run releases a cancel the abort test has answered, as runFilter
  // does, and so does a new abortAtPoll. The failure injection takes the
  // counts of the statistics, over the whole life of the host, as the options
  // do; 0 = never.
  void beginRun();
  void failBufferAllocationAt(int allocation);
  void abortAtPoll(int poll);

  // The record as it will be passed to the plug-in (tests may drive plug-in
  // code in-process with it).
  hostapi::FilterRecord& record();
  std::intptr_t& dataCell();

  // Contents of the plug-in's parameter handle (empty when it has none).
  std::vector<std::uint8_t> parameterBlock() const;
  const SimStatistics& statistics() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace veltrane::host
