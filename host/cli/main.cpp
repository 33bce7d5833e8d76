// veltrane: runs a filter plug-in on an image file through the in-memory host.
#include <cstdio>
#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <iostream>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "cli_error.h"
#include "descriptor_json.h"
#include "fields.h"
#include "host/imageio/image_file.h"
#include "host/os/os.h"
#include "host/sim/module_file.h"
#include "host/sim/sim_host.h"
#include "hostapi/constants.h"
#include "options.h"
#include "progress_bar.h"
#include "registry_file.h"
#include "text_file.h"

namespace veltrane::cli {
namespace {

namespace fs = std::filesystem;

struct PluginChoice {
  fs::path path;
  std::string label;  // as the user named it
};

fs::path commandDirectory() {
  try {
    return host::os::executablePath().parent_path();
  } catch (const std::system_error& e) {
    throw CommandError(std::string("cannot find the folder of this command: ") + e.what());
  }
}

// halvane and mirelle name the modules next to the command; anything else is
// the file name of a module, made absolute so that the system loader never
// searches its library folders for it.
PluginChoice resolvePlugin(const std::string& arg) {
  PluginChoice choice;
  choice.label = arg;
  const bool byName = arg == "halvane" || arg == "mirelle";
  std::error_code ec;
  choice.path = byName ? moduleIn(commandDirectory(), arg)
                       : fs::absolute(host::os::pathFromUtf8(arg), ec).lexically_normal();
  if (!fs::is_regular_file(choice.path, ec)) {
    if (byName)
      throw CommandError("plug-in module " + quote(choice.path) + " not found next to the command");
    throw CommandError("plug-in " + quote(arg) + " not found (give halvane, mirelle or the path of a plug-in module)");
  }
  return choice;
}

// What a module says about itself; a module without a property list is no
// filter plug-in. A damaged terminology or parameter resource is reported
// and the run goes on with what is left.
host::PluginDescription describe(const host::PluginModule& module, const PluginChoice& plugin) {
  host::PluginDescription d = host::describePlugin(module.resources());
  if (d.name.empty() && d.uniqueString.empty())
    throw CommandError("the plug-in module " + quote(plugin.path) + " carries no plug-in property list" +
                       (d.problems.empty() ? std::string() : " (" + d.problems.front() + ")"));
  for (const std::string& problem : d.problems)
    std::cerr << "veltrane: warning: the plug-in module " << quote(plugin.path) << ": " << problem << "\n";
  return d;
}

// Half the installed memory, and no more than a 32-bit process can address
// alongside its own code and the image.
std::int64_t defaultMaxSpace() {
  const std::int64_t fallback = std::int64_t{1} << 30;
  const std::int64_t installed = host::os::physicalMemoryBytes();
  const std::int64_t half = installed > 0 ? installed / 2 : fallback;
  return sizeof(void*) < 8 ? std::min(half, fallback) : half;
}

std::int16_t imageModeFor(const host::HostImage& image, ColourMode mode, const std::string& input) {
  const bool grey = image.channels == 1;
  if (mode == ColourMode::lab) {
    if (grey) throw CommandError("--mode lab needs a three-channel image; " + quote(input) + " is grey");
    if (image.depth == host::SampleDepth::f32)
      throw CommandError("--mode lab needs 8- or 16-bit samples; " + quote(input) + " holds floating point");
    return image.depth == host::SampleDepth::u8 ? hostapi::modeLabColor : hostapi::modeLab48;
  }
  switch (image.depth) {
    case host::SampleDepth::u8: return grey ? hostapi::modeGrayScale : hostapi::modeRGBColor;
    case host::SampleDepth::u16: return grey ? hostapi::modeGray16 : hostapi::modeRGB48;
    case host::SampleDepth::f32: return grey ? hostapi::modeGray32 : hostapi::modeRGB96;
  }
  return hostapi::modeRGBColor;
}

fs::path registryPath(const RunOptions& o) {
  if (o.noRegistry) return {};
  return o.registryFile.empty() ? defaultRegistryPath() : host::os::pathFromUtf8(o.registryFile);
}

// Before any work: every file the command writes is a file of its own,
// apart from every file it reads and from the others it writes (by file
// identity and by resolved name), and every file it reads or replaces that
// exists is a regular file. The output's folder must exist.
void checkFiles(const RunOptions& o) {
  struct Use {
    const char* role;
    fs::path file;
    bool written;
  };
  const std::vector<Use> uses = {
      {"INPUT", host::os::pathFromUtf8(o.input), false},
      {"OUTPUT", host::os::pathFromUtf8(o.output), true},
      {"--mask", host::os::pathFromUtf8(o.maskFile), false},
      {"--replay", host::os::pathFromUtf8(o.replayFile), false},
      {"--settings", host::os::pathFromUtf8(o.settingsFile), false},
      {"--record", host::os::pathFromUtf8(o.recordFile), true},
      {"--params-out", host::os::pathFromUtf8(o.paramsOutFile), true},
      {"the registry", registryPath(o), true},  // read as well; the same file by design
  };
  for (std::size_t i = 0; i < uses.size(); ++i) {
    if (uses[i].file.empty()) continue;
    requireRegularFile(uses[i].role, uses[i].file);
    for (std::size_t j = i + 1; j < uses.size(); ++j)
      if (!uses[j].file.empty() && (uses[i].written || uses[j].written) &&
          host::os::sameFile(uses[i].file, uses[j].file))
        throw CommandError(std::string(uses[j].role) + " " + quote(uses[j].file) + " is the same file as " +
                           uses[i].role + " " + quote(uses[i].file) + "; choose another name");
  }
  std::error_code ec;
  const fs::path dir = host::os::pathFromUtf8(o.output).parent_path();
  if (!dir.empty() && !fs::is_directory(dir, ec))
    throw CommandError("cannot write " + quote(o.output) + ": the folder " + quote(dir) + " does not exist");
}

host::Descriptor scriptingValues(const RunOptions& o, const host::PluginDescription& plugin) {
  host::Descriptor values;
  if (!o.replayFile.empty()) {
    RecordedAction action = readRecordedAction(host::os::pathFromUtf8(o.replayFile));
    if (!action.plugin.empty() && action.plugin != plugin.label())
      throw CommandError("the recorded action " + quote(o.replayFile) + " is for " + action.plugin + ", not " +
                         plugin.label());
    values = std::move(action.values);
  }
  if (!o.settingsFile.empty())
    putSettingsFile(plugin, o.settingsFile, values, std::cerr, [] { return describeModulesIn(commandDirectory()); });
  for (const std::string& setting : o.settings) {
    const auto [key, value] = parseSetting(plugin, setting);
    values.put(key, value);
  }
  return values;
}

std::optional<RegistryFile> openRegistry(const RunOptions& o) {
  if (o.noRegistry) return std::nullopt;
  const fs::path path = registryPath(o);
  if (path.empty()) {
    std::cerr << "veltrane: warning: " << defaultRegistryMissing() << "; settings are not remembered "
                 "(use --registry FILE)\n";
    return std::nullopt;
  }
  return loadRegistry(path, std::cerr);
}

// Whether the plug-in read any of the image, through the region protocol or
// by advancing the state itself.
bool askedForPixels(const host::SimStatistics& stats) {
  if (stats.advanceStateCalls > 0) return true;
  for (const std::int16_t selector : stats.selectors)
    if (selector == hostapi::selectorContinue) return true;
  return false;
}

// Exit statuses besides success and CommandError's, as --help describes them.
constexpr int exitPluginFailed = 1;
constexpr int exitPartlyWritten = 3;

int pluginFailed(const std::string& label, std::int16_t result) {
  std::cerr << "veltrane: " << label << " returned " << result << "\n";
  return exitPluginFailed;
}

// What the host offers the plug-in besides the image.
host::SimOptions hostOptions(const RunOptions& o, const host::HostImage& image) {
  host::SimOptions options;
  if (o.rect) {
    const hostapi::VRect& r = *o.rect;
    if (r.bottom > image.height || r.right > image.width)
      throw CommandError("--rect " + std::to_string(r.top) + "," + std::to_string(r.left) + "," +
                         std::to_string(r.bottom) + "," + std::to_string(r.right) + " lies outside " +
                         quote(o.input) + " (" + std::to_string(image.width) + "x" +
                         std::to_string(image.height) + ")");
    options.filterRect = r;
  }
  if (!o.maskFile.empty())
    options.mask = host::readMaskFile(o.maskFile, image.width, image.height).pixels;
  host::applyHostProfile(o.hostProfile, options);  // the name was checked when parsed
  if (o.tileWidth > 0) {
    options.tileWidth = o.tileWidth;
    options.tileHeight = o.tileHeight;
  }
  options.maxSpace = o.maxSpace ? *o.maxSpace : defaultMaxSpace();
  return options;
}

// A file besides the image that could not be written: the run goes on.
void warnNotWritten(const std::string& what) { std::cerr << "veltrane: warning: " << what << "\n"; }

// The non-finite values a writer leaves out, named once on standard error.
void warnNonFinite(const host::Descriptor& values, const std::string& file) {
  for (const std::uint32_t key : nonFiniteKeys(values))
    std::cerr << "veltrane: warning: value '" << keyToString(key) << "' is not a finite number and is left out of "
              << quote(file) << "\n";
}

// False (with a warning) when the file could not be written.
bool writeParameters(const RunOptions& o, const PluginChoice& plugin, const host::PluginDescription& description,
                     const std::vector<std::uint8_t>& block) {
  try {
    auto json = parametersToJson(description, block);
    if (!json)
      throw CommandError("the parameter block " + plugin.label + " left has " + std::to_string(block.size()) +
                         " bytes, too few for " + quote(o.paramsOutFile));
    std::vector<std::string> nonFinite;
    for (auto& group : *json)
      for (auto it = group.begin(); it != group.end();)
        if (it->is_number_float() && !std::isfinite(it->get<double>())) {
          nonFinite.push_back(it.key());
          it = group.erase(it);
        } else {
          ++it;
        }
    for (const std::string& name : nonFinite)
      std::cerr << "veltrane: warning: " << name << " is not a finite number and is left out of "
                << quote(o.paramsOutFile) << "\n";
    writeFileAtomically(host::os::pathFromUtf8(o.paramsOutFile), json->dump(2) + "\n");
    return true;
  } catch (const std::exception& e) {
    warnNotWritten(std::string(e.what()) + "; the parameter block was not saved");
    return false;
  }
}

int runCommand(const RunOptions& o) {
  checkFiles(o);
  const PluginChoice plugin = resolvePlugin(o.plugin);
  const host::PluginModule module = host::PluginModule::load(host::os::pathToUtf8(plugin.path));
  const host::PluginDescription description = describe(module, plugin);
  const host::Descriptor values = scriptingValues(o, description);
  std::optional<RegistryFile> registry = openRegistry(o);

  host::FileInfo info;
  host::ReadLimits limits;
  if (o.maxPixels > 0) limits.maxPixels = o.maxPixels;
  host::HostImage image = host::readImageFile(o.input, &info, limits);
  // What the output's name and folder allow is known before the filtering.
  host::checkOutputFile(o.output, image.channels);
  host::SimImage document;
  document.width = image.width;
  document.height = image.height;
  document.planes = image.channels;
  document.depth = static_cast<std::int32_t>(image.depth);
  document.imageMode = imageModeFor(image, o.mode, o.input);

  host::SimOptions options = hostOptions(o, image);
  ProgressBar bar(stderr, !o.quiet && host::os::isTerminal(stderr));
  options.onProgress = [&bar](std::int32_t done, std::int32_t total) { bar.update(done, total); };

  // The host works on the document in place; the alpha channel stays in
  // `image` and goes out with it unchanged.
  document.pixels = std::move(image.pixels);
  std::int16_t result = 0;
  std::vector<std::uint8_t> parameterBlock;
  std::optional<host::Descriptor> leftDescriptor;
  bool filtered = false;
  {
    host::SimHost host(document, std::move(options), registry ? &registry->registry : nullptr);
    host.setScriptDescriptor(values, o.dialog ? host::PlaySetting::display : host::PlaySetting::silent);
    result = host.runFilter(module.entry(), o.dialog);
    bar.finish();
    parameterBlock = host.parameterBlock();
    leftDescriptor = host.scriptDescriptor();
    filtered = askedForPixels(host.statistics());
  }

  // Files besides the image: one that cannot be written is reported and
  // the run goes on; the exit status then tells that not all was written.
  bool allWritten = true;
  if (!o.paramsOutFile.empty() && !parameterBlock.empty())
    allWritten &= writeParameters(o, plugin, description, parameterBlock);
  if (result != 0) return pluginFailed(plugin.label, result);
  if (!filtered) {
    // A plug-in that declines an image (too small, say) tells the user why
    // and ends without an error: an editor then simply leaves the document
    // as it was. Here a copy of the input would pass for a result.
    std::cerr << "veltrane: " << plugin.label << " did not filter " << quote(o.input) << "; " << quote(o.output)
              << " not written\n";
    return exitPluginFailed;
  }

  image.pixels = std::move(document.pixels);
  host::writeImageFile(o.output, image, info);

  if (registry) {
    try {
      if (const auto backup = saveRegistry(*registry, std::cerr))
        std::cerr << "veltrane: the unreadable registry was kept as " << quote(*backup) << "\n";
    } catch (const std::exception& e) {
      warnNotWritten(std::string(e.what()) + "; the settings of this run are not remembered");
      allWritten = false;
    }
  }
  if (!o.recordFile.empty()) {
    try {
      if (!leftDescriptor)
        throw CommandError(plugin.label + " left no scripting values; " + quote(o.recordFile) + " not written");
      RecordedAction action;
      action.plugin = description.label();
      action.play = o.dialog ? host::PlaySetting::display : host::PlaySetting::silent;
      action.values = std::move(*leftDescriptor);
      warnNonFinite(action.values, o.recordFile);
      writeRecordedAction(host::os::pathFromUtf8(o.recordFile), action);
    } catch (const std::exception& e) {
      warnNotWritten(std::string(e.what()) + "; the recorded action was not saved");
      allWritten = false;
    }
  }
  return allWritten ? 0 : exitPartlyWritten;
}

int aboutCommand(const AboutOptions& o) {
  const PluginChoice plugin = resolvePlugin(o.plugin);
  const host::PluginModule module = host::PluginModule::load(host::os::pathToUtf8(plugin.path));
  host::SimImage document;
  document.width = 1;
  document.height = 1;
  document.pixels.assign(3, 0);
  host::SimHost host(document);
  const std::int16_t result = host.about(module.entry());
  return result == 0 ? 0 : pluginFailed(plugin.label, result);
}

int runMain(int argc, char** argv) {
  // UTF-8 on every platform (the Windows argv is in the ANSI code page).
  std::vector<std::string> args = host::os::utf8Arguments(argc, argv);
  std::vector<char*> utf8Argv;
  for (std::string& a : args) utf8Argv.push_back(a.data());
  utf8Argv.push_back(nullptr);
  const CommandLine command = parseCommandLine(static_cast<int>(args.size()), utf8Argv.data());
  switch (command.kind) {
    case CommandLine::Kind::run: return runCommand(command.run);
    case CommandLine::Kind::about: return aboutCommand(command.about);
    case CommandLine::Kind::exit: break;
  }
  return command.exitCode;
}

}  // namespace
}  // namespace veltrane::cli

int main(int argc, char** argv) {
  try {
    return veltrane::cli::runMain(argc, argv);
  } catch (const std::bad_alloc&) {
    std::cerr << "veltrane: out of memory\n";
  } catch (const std::exception& e) {
    std::cerr << "veltrane: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "veltrane: unexpected error\n";
  }
  return 2;
}
