#include "options.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>
#include <string_view>

#include <CLI/CLI.hpp>

#include "descriptor_json.h"
#include "fields.h"
#include "host/imageio/image_file.h"
#include "host/sim/sim_host.h"
#include "host/os/os.h"

namespace veltrane::cli {
namespace {

// A byte count: a whole number, also written with an exponent (1e9), from 1
// to the largest 64-bit integer.
std::optional<std::int64_t> parseByteCount(std::string_view text) {
  text = trimmed(text);
  if (text.empty()) return std::nullopt;
  const char* end = text.data() + text.size();
  if (text.find_first_not_of("0123456789") == std::string_view::npos) {
    std::int64_t v = 0;
    const auto [at, ec] = std::from_chars(text.data(), end, v);
    if (ec != std::errc() || at != end || v < 1) return std::nullopt;
    return v;
  }
  double v = 0.0;
  const auto [at, ec] = std::from_chars(text.data(), end, v);
  // 2^63 is the first double beyond the 64-bit range.
  if (ec != std::errc() || at != end || !(v >= 1.0) || v >= 9223372036854775808.0 || std::floor(v) != v)
    return std::nullopt;
  return static_cast<std::int64_t>(v);
}

// The smallest tile the host offers: smaller tiles only multiply the work
// around their edges.
constexpr std::int64_t minTile = 16;

// Comma-separated integers, exactly `count` of them; spaces around each are
// ignored.
std::optional<std::vector<std::int64_t>> parseIntegers(std::string_view text, std::size_t count) {
  std::vector<std::int64_t> values;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view part = trimmed(text.substr(0, comma));
    std::int64_t v = 0;
    const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), v);
    if (part.empty() || ec != std::errc() || end != part.data() + part.size()) return std::nullopt;
    values.push_back(v);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (values.size() != count) return std::nullopt;
  return values;
}

// The fields of halvane and mirelle, read from their modules next to this
// command.
std::string moduleFieldLists() {
  std::string text;
  std::filesystem::path folder;
  try {
    folder = host::os::executablePath().parent_path();
  } catch (const std::exception&) {
    return "(the folder of this command is unknown: the plug-ins' fields cannot be listed)\n";
  }
  for (const char* name : {"halvane", "mirelle"}) {
    const std::filesystem::path path = moduleIn(folder, name);
    try {
      text += fieldList(host::describePlugin(host::readModuleResources(host::os::pathToUtf8(path))));
    } catch (const std::exception&) {
      text += std::string(name) + ": no readable module " + host::os::pathToUtf8(path.filename()) +
              " next to this command; its fields cannot be listed\n";
    }
  }
  return text;
}

// Text broken into lines of at most 80 characters at its spaces.
std::string wrapped(const std::string& text) {
  std::string out, line;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t space = std::min(text.find(' ', at), text.size());
    const std::string word = text.substr(at, space - at);
    if (!line.empty() && line.size() + 1 + word.size() > 80) {
      out += line + "\n";
      line.clear();
    }
    line += (line.empty() ? "" : " ") + word;
    at = space + 1;
  }
  return out + line + "\n";
}

std::string footer() {
  return "\nAlso: veltrane about PLUGIN   shows the plug-in's about box.\n\n"
         "PLUGIN is halvane or mirelle (the module next to this command) or the file name\n"
         "of a plug-in module, which is known by its property list, whatever its name.\n"
         "Files read must be regular files; no file written may be a file read or another\n"
         "file written, by any name. OUTPUT is written only when the plug-in succeeds, and\n"
         "atomically: an existing OUTPUT is either kept or replaced by the complete result.\n"
         "Its format follows its extension; alpha and metadata are carried over from INPUT.\n\n"
         + wrapped("Image formats (by extension): " + host::imageFormatList() + ".") + "\n"
         "Unless --dialog is given, the plug-in gets a scripting descriptor (the --replay\n"
         "values, then the --settings values, then the --set values; empty when none is\n"
         "given) and is told to run silently. Settings the plug-in remembers between\n"
         "runs live in the registry.\n\n"
         "Recorded actions (--record, --replay) are JSON:\n"
         "  {\"plugin\": \"halvane\", \"playInfo\": \"silent\",\n"
         "   \"values\": [{\"key\": \"brgH\", \"type\": \"float\", \"value\": 40.0}, ...]}\n"
         "with types float, boolean and integer; a key that is not four printable\n"
         "characters is written 0xXXXXXXXX.\n\n" +
         moduleFieldLists() +
         "\nExit status:\n"
         "  0  success: OUTPUT and every file asked for were written\n"
         "  1  the plug-in returned an error (its code is printed) or did not filter\n"
         "     the image; OUTPUT was not written\n"
         "  2  a usage error, or a file that cannot be read or written; OUTPUT was\n"
         "     not written\n"
         "  3  OUTPUT was written, but the registry, --record or --params-out file\n"
         "     could not be (a warning names it)\n";
}

CommandLine usageError(const std::string& message) {
  std::fprintf(stderr, "veltrane: %s\nRun with --help for more information.\n", message.c_str());
  CommandLine c;
  c.exitCode = 2;
  return c;
}

// Help goes to standard output with status 0; anything else is a usage
// error.
CommandLine parseFailed(const CLI::App& app, const CLI::ParseError& e) {
  if (e.get_exit_code() != 0) return usageError(e.what());
  app.exit(e);
  return CommandLine{};
}

CommandLine parseAbout(int argc, char** argv) {
  CLI::App app("Shows the about box of a plug-in.", "veltrane about");
  CommandLine c;
  app.add_option("PLUGIN", c.about.plugin, "halvane, mirelle or the path of a plug-in module")->required();
  try {
    app.parse(argc - 1, argv + 1);
  } catch (const CLI::ParseError& e) {
    return parseFailed(app, e);
  }
  c.kind = CommandLine::Kind::about;
  return c;
}

// The host profiles, a few to a line.
std::string profileList() {
  std::string text;
  std::size_t column = 0;
  for (const std::string& name : host::hostProfileNames()) {
    if (column > 0 && column + name.size() + 2 > 44) {
      text += ",\n";
      column = 0;
    } else if (column > 0) {
      text += ", ";
      column += 2;
    }
    text += name;
    column += name.size();
  }
  return text;
}

}  // namespace

CommandLine parseCommandLine(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "about") == 0) return parseAbout(argc, argv);

  CLI::App app("Runs a filter plug-in on an image file.", "veltrane");
  // The footer lists the fields read from the modules: only for help.
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      app.footer(footer());
      break;
    }
  app.get_formatter()->column_width(30);
  CommandLine c;
  RunOptions& o = c.run;
  std::string rect, tile, mode = "auto";
  std::string maxSpace, maxPixels;

  app.add_option("PLUGIN", o.plugin, "halvane, mirelle or the path of a plug-in module")->required();
  app.add_option("INPUT", o.input, "the image to filter")->required();
  app.add_option("OUTPUT", o.output, "where the result goes")->required();

  CLI::Option* rectOption = nullptr;
  CLI::Option* tileOption = nullptr;
  CLI::Option* maxSpaceOption = nullptr;
  CLI::Option* maxPixelsOption = nullptr;
  std::vector<std::pair<CLI::Option*, const std::string*>> fileOptions;
  const auto fileOption = [&](const char* name, std::string& value, const char* help) {
    CLI::Option* option = app.add_option(name, value, help)->type_name("FILE");
    fileOptions.emplace_back(option, &value);
    return option;
  };

  app.add_option("--set", o.settings,
                 "a value handed to the plug-in: FIELD is a\n"
                 "field name or its four-character key (list\n"
                 "below); reals take a number, flags 0, 1, true\n"
                 "or false. Repeatable; overrides --replay")
      ->type_name("FIELD=VALUE")
      ->allow_extra_args(false);
  fileOption("--replay", o.replayFile, "hand the plug-in the values of a recorded\naction (JSON)");
  fileOption("--settings", o.settingsFile,
             "hand the plug-in the values of a settings\n"
             "file its dialog saved (.hlv, .mrl); after\n"
             "--replay, before --set");
  fileOption("--record", o.recordFile,
             "after a successful run, save the values the\nplug-in left as a recorded action (JSON)");
  fileOption("--params-out", o.paramsOutFile,
             "save the plug-in's parameter block as JSON\n"
             "{\"reals\": {...}, \"flags\": {...}}; written\n"
             "whenever the plug-in left one, also when it\n"
             "returned an error");
  app.add_flag("--dialog", o.dialog, "let the plug-in show its dialog");
  fileOption("--registry", o.registryFile,
             "the registry of remembered settings, read\n"
             "before the run and saved after a successful\n"
#ifdef _WIN32
             "one (default: %APPDATA%\\veltrane\\\n"
             "registry.json)");
#else
             "one (default: $XDG_CONFIG_HOME/veltrane/\n"
             "registry.json, else $HOME/.config/veltrane/\n"
             "registry.json)");
#endif
  app.add_flag("--no-registry", o.noRegistry, "start with an empty registry and save nothing");
  fileOption("--mask", o.maskFile, "a grey selection mask the size of INPUT\n(white = selected)");
  rectOption = app.add_option("--rect", rect, "filter only this rectangle, in pixels\n(BOTTOM and RIGHT exclusive)")
                   ->type_name("TOP,LEFT,BOTTOM,RIGHT");
  tileOption = app.add_option("--tile", tile, "the host's preferred tile size, at least\n16,16")->type_name("W,H");
  maxSpaceOption = app.add_option("--max-space", maxSpace,
                                  "memory the plug-in may use (default: half\nthe physical memory); 1e9 may be written")
                       ->type_name("BYTES");
  maxPixelsOption = app.add_option("--max-pixels", maxPixels,
                                   "refuse INPUT and --mask images of more\npixels (default: " +
                                       std::to_string(host::defaultMaxPixels) + ")")
                        ->type_name("PIXELS");
  app.add_option("--mode", mode,
                 "auto: grey or RGB as in the file; lab: hand\n"
                 "the three channels of an 8- or 16-bit file to\n"
                 "the plug-in as L, a, b (no colour conversion)")
      ->type_name("auto|lab")
      ->check(CLI::IsMember({"auto", "lab"}).description(""));
  app.add_option("--host-profile", o.hostProfile,
                 "drive the plug-in the way a lesser host does:\n" + profileList())
      ->type_name("NAME")
      ->check(CLI::IsMember(host::hostProfileNames()).description(""));
  app.add_flag("-q,--quiet", o.quiet,
               "no progress bar (it is shown only when\nstandard error is a terminal)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return parseFailed(app, e);
  }

  for (const auto& [option, value] : fileOptions)
    if (option->count() > 0 && trimmed(*value).empty())
      return usageError(option->get_name() + " '" + *value + "': a file name is needed");
  if (o.noRegistry && !o.registryFile.empty())
    return usageError("--registry and --no-registry exclude each other");
  if (rectOption->count() > 0) {
    const auto v = parseIntegers(rect, 4);
    if (!v || (*v)[0] < 0 || (*v)[1] < 0 || (*v)[2] > std::numeric_limits<std::int32_t>::max() ||
        (*v)[3] > std::numeric_limits<std::int32_t>::max())
      return usageError("--rect '" + rect + "': expected TOP,LEFT,BOTTOM,RIGHT in pixels");
    if ((*v)[2] <= (*v)[0] || (*v)[3] <= (*v)[1])
      return usageError("--rect '" + rect + "' is empty (BOTTOM must exceed TOP and RIGHT must exceed LEFT)");
    o.rect = hostapi::VRect{static_cast<std::int32_t>((*v)[0]), static_cast<std::int32_t>((*v)[1]),
                            static_cast<std::int32_t>((*v)[2]), static_cast<std::int32_t>((*v)[3])};
  }
  if (tileOption->count() > 0) {
    const auto v = parseIntegers(tile, 2);
    constexpr std::int64_t maxTile = std::numeric_limits<std::int16_t>::max();
    if (!v || (*v)[0] < minTile || (*v)[1] < minTile || (*v)[0] > maxTile || (*v)[1] > maxTile)
      return usageError("--tile '" + tile + "': expected W,H between " + std::to_string(minTile) + " and 32767");
    o.tileWidth = static_cast<std::int16_t>((*v)[0]);
    o.tileHeight = static_cast<std::int16_t>((*v)[1]);
  }
  if (maxSpaceOption->count() > 0) {
    o.maxSpace = parseByteCount(maxSpace);
    if (!o.maxSpace)
      return usageError("--max-space '" + maxSpace + "': expected a whole number of bytes from 1 to " +
                        std::to_string(std::numeric_limits<std::int64_t>::max()));
  }
  if (maxPixelsOption->count() > 0) {
    const auto pixels = parseByteCount(maxPixels);
    if (!pixels)
      return usageError("--max-pixels '" + maxPixels + "': expected a whole number from 1 to " +
                        std::to_string(std::numeric_limits<std::int64_t>::max()));
    o.maxPixels = *pixels;
  }
  o.mode = mode == "lab" ? ColourMode::lab : ColourMode::automatic;
  c.kind = CommandLine::Kind::run;
  return c;
}

}  // namespace veltrane::cli
