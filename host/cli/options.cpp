#include "options.h"

#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>

#include <CLI/CLI.hpp>

#include "descriptor_json.h"
#include "host/imageio/image_file.h"
#include "shell/parameter_tables.h"

namespace veltrane::cli {
namespace {

// Comma-separated integers, exactly `count` of them.
std::optional<std::vector<std::int64_t>> parseIntegers(std::string_view text, std::size_t count) {
  std::vector<std::int64_t> values;
  while (true) {
    const std::size_t comma = text.find(',');
    const std::string_view part = text.substr(0, comma);
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

std::string fieldList(const Deliverable& d) {
  std::string text = std::string(d.name) + " fields (name or key):\n";
  std::string line = " ";
  auto add = [&](const char* name, std::uint32_t key, const char* kind) {
    if (!key) return;  // slots without a key cannot be set
    const std::string item = " " + std::string(name) + "/" + keyToString(key) + kind;
    if (line.size() + item.size() > 78) {
      text += line + "\n";
      line = " ";
    }
    line += item;
  };
  for (std::size_t i = 0; i < realSlotCount; ++i) add(d.realFieldNames[i], d.realKeys[i].key, "");
  for (std::size_t i = 0; i < flagSlotCount; ++i) add(d.flagFieldNames[i], d.flagKeys[i].key, "(flag)");
  return text + line + "\n";
}

std::string footer() {
  return "\nAlso: veltrane about PLUGIN   shows the plug-in's about box.\n\n"
         "PLUGIN is halvane or mirelle (the module next to this command) or the path of a\n"
         "plug-in module. OUTPUT is written only when the plug-in succeeds, and atomically:\n"
         "an existing OUTPUT is either kept or replaced by the complete result. Its format\n"
         "follows its extension; alpha and metadata are carried over from INPUT.\n" +
         host::imageFormatsHelp() +
         "\nUnless --dialog is given, the plug-in gets a scripting descriptor (the --replay\n"
         "values, then the --settings values, then the --set values; empty when none is\n"
         "given) and is told to run silently. Settings the plug-in remembers between\n"
         "runs live in the registry.\n\n"
         "Recorded actions (--record, --replay) are JSON:\n"
         "  {\"plugin\": \"halvane\", \"playInfo\": \"silent\",\n"
         "   \"values\": [{\"key\": \"brgH\", \"type\": \"float\", \"value\": 40.0}, ...]}\n"
         "with types float, boolean and integer; a key that is not four printable\n"
         "characters is written 0xXXXXXXXX.\n\n" +
         fieldList(halvaneDeliverable()) + fieldList(mirelleDeliverable()) +
         "\nExit status: 0 success; 1 the plug-in returned an error (its code is printed);\n"
         "2 a usage error or a file that cannot be read or written.\n";
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

}  // namespace

CommandLine parseCommandLine(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "about") == 0) return parseAbout(argc, argv);

  CLI::App app("Runs a filter plug-in on an image file.", "veltrane");
  app.footer(footer());
  app.get_formatter()->column_width(30);
  CommandLine c;
  RunOptions& o = c.run;
  std::string rect, tile, mode = "auto";
  std::int64_t maxSpace = 0;

  app.add_option("PLUGIN", o.plugin, "halvane, mirelle or the path of a plug-in module")->required();
  app.add_option("INPUT", o.input, "the image to filter")->required();
  app.add_option("OUTPUT", o.output, "where the result goes")->required();

  app.add_option("--set", o.settings,
                 "a value handed to the plug-in: FIELD is a\n"
                 "field name or its four-character key (list\n"
                 "below); reals take a number, flags 0, 1, true\n"
                 "or false. Repeatable; overrides --replay")
      ->type_name("FIELD=VALUE")
      ->allow_extra_args(false);
  app.add_option("--replay", o.replayFile, "hand the plug-in the values of a recorded\naction (JSON)")
      ->type_name("FILE");
  app.add_option("--settings", o.settingsFile,
                 "hand the plug-in the values of a settings\n"
                 "file its dialog saved (.hlv, .mrl); after\n"
                 "--replay, before --set")
      ->type_name("FILE");
  app.add_option("--record", o.recordFile,
                 "after a successful run, save the values the\nplug-in left as a recorded action (JSON)")
      ->type_name("FILE");
  app.add_option("--params-out", o.paramsOutFile,
                 "save the plug-in's parameter block as JSON\n"
                 "{\"reals\": {...}, \"flags\": {...}}; written\n"
                 "whenever the plug-in left one, also when it\n"
                 "returned an error")
      ->type_name("FILE");
  app.add_flag("--dialog", o.dialog, "let the plug-in show its dialog");
  app.add_option("--registry", o.registryFile,
                 "the registry of remembered settings, read\n"
                 "before the run and saved after a successful\n"
#ifdef _WIN32
                 "one (default: %APPDATA%\\veltrane\\\n"
                 "registry.json)")
#else
                 "one (default: $XDG_CONFIG_HOME/veltrane/\n"
                 "registry.json, else $HOME/.config/veltrane/\n"
                 "registry.json)")
#endif
      ->type_name("FILE");
  app.add_flag("--no-registry", o.noRegistry, "start with an empty registry and save nothing");
  app.add_option("--mask", o.maskFile, "a grey selection mask the size of INPUT\n(white = selected)")
      ->type_name("FILE");
  app.add_option("--rect", rect, "filter only this rectangle, in pixels\n(BOTTOM and RIGHT exclusive)")
      ->type_name("TOP,LEFT,BOTTOM,RIGHT");
  app.add_option("--tile", tile, "the host's preferred tile size")->type_name("W,H");
  app.add_option("--max-space", maxSpace, "memory the plug-in may use (default: half\nthe physical memory)")
      ->type_name("BYTES")
      ->check(CLI::Range(std::int64_t{1}, std::numeric_limits<std::int64_t>::max()).description(""));
  app.add_option("--mode", mode,
                 "auto: grey or RGB as in the file; lab: hand\n"
                 "the three channels of an 8- or 16-bit file to\n"
                 "the plug-in as L, a, b (no colour conversion)")
      ->type_name("auto|lab")
      ->check(CLI::IsMember({"auto", "lab"}).description(""));
  app.add_flag("-q,--quiet", o.quiet,
               "no progress bar (it is shown only when\nstandard error is a terminal)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return parseFailed(app, e);
  }

  if (o.noRegistry && !o.registryFile.empty())
    return usageError("--registry and --no-registry exclude each other");
  if (!rect.empty()) {
    const auto v = parseIntegers(rect, 4);
    if (!v || (*v)[0] < 0 || (*v)[1] < 0 || (*v)[2] > std::numeric_limits<std::int32_t>::max() ||
        (*v)[3] > std::numeric_limits<std::int32_t>::max())
      return usageError("--rect '" + rect + "': expected TOP,LEFT,BOTTOM,RIGHT in pixels");
    if ((*v)[2] <= (*v)[0] || (*v)[3] <= (*v)[1])
      return usageError("--rect '" + rect + "' is empty (BOTTOM must exceed TOP and RIGHT must exceed LEFT)");
    o.rect = hostapi::VRect{static_cast<std::int32_t>((*v)[0]), static_cast<std::int32_t>((*v)[1]),
                            static_cast<std::int32_t>((*v)[2]), static_cast<std::int32_t>((*v)[3])};
  }
  if (!tile.empty()) {
    const auto v = parseIntegers(tile, 2);
    constexpr std::int64_t maxTile = std::numeric_limits<std::int16_t>::max();
    if (!v || (*v)[0] < 1 || (*v)[1] < 1 || (*v)[0] > maxTile || (*v)[1] > maxTile)
      return usageError("--tile '" + tile + "': expected W,H between 1 and 32767");
    o.tileWidth = static_cast<std::int16_t>((*v)[0]);
    o.tileHeight = static_cast<std::int16_t>((*v)[1]);
  }
  if (maxSpace > 0) o.maxSpace = maxSpace;
  o.mode = mode == "lab" ? ColourMode::lab : ColourMode::automatic;
  c.kind = CommandLine::Kind::run;
  return c;
}

}  // namespace veltrane::cli
