#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hostapi/types.h"

// The command line of veltrane.
namespace veltrane::cli {

enum class ColourMode { automatic, lab };

struct RunOptions {
  std::string plugin;
  std::string input;
  std::string output;
  std::vector<std::string> settings;  // --set FIELD=VALUE, in order
  std::string replayFile;
  std::string settingsFile;  // --settings: a settings file saved by the plug-in's dialog
  std::string recordFile;
  std::string paramsOutFile;
  std::string registryFile;  // empty: the default place
  bool noRegistry = false;
  bool dialog = false;
  bool quiet = false;
  std::string maskFile;
  std::optional<hostapi::VRect> rect;
  std::int16_t tileWidth = 0;
  std::int16_t tileHeight = 0;
  std::optional<std::int64_t> maxSpace;
  std::int64_t maxPixels = 0;  // --max-pixels; 0: the image reader's default
  ColourMode mode = ColourMode::automatic;
  std::string hostProfile = "full";  // --host-profile: behave like a lesser host
};

struct AboutOptions {
  std::string plugin;
};

struct CommandLine {
  enum class Kind { run, about, exit } kind = Kind::exit;
  RunOptions run;
  AboutOptions about;
  int exitCode = 0;  // for Kind::exit: help shown (0) or a usage error (2)
};

// Parses argv; help and usage errors are printed here (help on stdout,
// errors on stderr) and come back as Kind::exit.
CommandLine parseCommandLine(int argc, char** argv);

}  // namespace veltrane::cli
