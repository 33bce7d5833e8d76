// veltrane-gimp: halvane and mirelle as GIMP 2.10 procedures. The modules
// (halvane.so, mirelle.so, next to this executable) run through the
// in-memory host exactly as the veltrane command runs them; this file is the
// part that talks to GIMP.
#include <libgimp/gimp.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.h"
#include "dialog.h"
#include "host/cli/registry_file.h"
#include "host/os/os.h"
#include "host/sim/sim_host.h"
#include "hostapi/constants.h"
#include "pixels.h"
#include "stderr_capture.h"

namespace veltrane::gimp {
namespace {

namespace fs = std::filesystem;

struct Procedure {
  const char* name;
  const char* module;  // the module's file name without extension
  const char* menuLabel;
  const char* menuPath;
  const char* blurb;
};

// halvane sits with GIMP's own noise filters; mirelle makes a grey map of
// the image, as the filters under Generic do.
const Procedure procedures[] = {
    {"plug-in-veltrane-halvane", "halvane", "_Halvane Noise Reduction...", "<Image>/Filters/Noise",
     "Reduce noise with halvane"},
    {"plug-in-veltrane-mirelle", "mirelle", "_Mirelle Smooth-Area Matte...", "<Image>/Filters/Generic",
     "Make a matte of the smooth areas with mirelle"},
};
constexpr int fixedArgumentCount = 5;  // run mode, image, drawable, settings file, recorded action

fs::path moduleFolder() { return host::os::executablePath().parent_path(); }

fs::path modulePath(const Procedure& p) { return moduleFolder() / (std::string(p.module) + ".so"); }

// What the procedure's module says about itself, read without running it.
host::PluginDescription describe(const Procedure& p) {
  return host::describePlugin(host::readModuleResources(host::os::pathToUtf8(modulePath(p))));
}

// The other modules beside this one, for the message about another plug-in's
// settings file.
std::vector<host::PluginDescription> describeOthers(const Procedure& p) {
  std::vector<host::PluginDescription> others;
  for (const Procedure& other : procedures) {
    if (&other == &p) continue;
    try {
      others.push_back(describe(other));
    } catch (const std::exception&) {
      // a missing module has no settings files to recognise
    }
  }
  return others;
}

const Procedure* findProcedure(const gchar* name) {
  for (const Procedure& p : procedures)
    if (g_strcmp0(name, p.name) == 0) return &p;
  return nullptr;
}

// Everything the plug-in says goes to GIMP's messages, one call per line.
void tell(const std::string& text) { gimp_message(text.c_str()); }

void tellLines(const std::string& text) {
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);)
    if (!line.empty()) tell(line);
}

// A line the module wrote on standard error; its message boxes come as
// "Veltrane: <text>", and GIMP names the plug-in on its own.
void tellModuleLine(const std::string& line) {
  constexpr std::string_view prefix = "Veltrane: ";
  if (line.empty()) return;
  tell(line.starts_with(prefix) ? line.substr(prefix.size()) : line);
}

class Failure : public std::runtime_error {
 public:
  Failure(GimpPDBStatusType code, const std::string& message) : std::runtime_error(message), status(code) {}
  GimpPDBStatusType status;
};

struct BufferUnref {
  void operator()(GeglBuffer* buffer) const { g_object_unref(buffer); }
};
using Buffer = std::unique_ptr<GeglBuffer, BufferUnref>;

Buffer drawableBuffer(gint32 drawable, bool shadow) {
  Buffer buffer(shadow ? gimp_drawable_get_shadow_buffer(drawable) : gimp_drawable_get_buffer(drawable));
  if (!buffer) throw Failure(GIMP_PDB_EXECUTION_ERROR, "cannot reach the pixels of the drawable");
  return buffer;
}

// The drawable's own format at a depth the modules take: 8- and 16-bit
// integers and single floats as they are, half floats as single (and back
// exactly). 32-bit integers and doubles would lose precision on the way
// back, alpha and unselected samples included: such images are refused.
const Babl* exchangeFormat(const Babl* own, SampleKind& kind) {
  const Babl* type = babl_format_get_type(own, 0);
  const char* typeName = nullptr;
  if (type == babl_type("u8")) {
    kind = SampleKind::u8;
    typeName = "u8";
  } else if (type == babl_type("u16")) {
    kind = SampleKind::u16;
    typeName = "u16";
  } else if (type == babl_type("float") || type == babl_type("half")) {
    kind = SampleKind::f32;
    typeName = "float";
  } else {
    throw Failure(GIMP_PDB_EXECUTION_ERROR,
                  "this precision cannot be filtered without loss; convert the image to 8-bit, 16-bit or "
                  "32-bit floating point precision first (Image > Precision)");
  }
  const std::string name = std::string(babl_get_name(babl_format_get_model(own))) + " " + typeName;
  return babl_format_with_space(name.c_str(), own);
}

// Half the installed memory, as veltrane allows.
std::int64_t maxSpace() {
  const std::int64_t installed = host::os::physicalMemoryBytes();
  return installed > 0 ? installed / 2 : std::int64_t{1} << 30;
}

// Whether the module read any of the image (a module that declines an image
// tells the user why and returns without an error).
bool askedForPixels(const host::SimStatistics& stats) {
  return stats.advanceStateCalls > 0 ||
         std::find(stats.selectors.begin(), stats.selectors.end(), hostapi::selectorContinue) !=
             stats.selectors.end();
}

struct Run {
  const Procedure& procedure;
  GimpRunMode mode;
  gint32 image;
  gint32 drawable;
  ScriptArguments script;
};

std::optional<cli::RegistryFile> openRegistry() {
  const fs::path path = cli::defaultRegistryPath();
  if (path.empty()) {
    tell(std::string("settings are not remembered: ") + cli::defaultRegistryMissing());
    return std::nullopt;
  }
  std::ostringstream warnings;
  cli::RegistryFile file = cli::loadRegistry(path, warnings);
  tellLines(warnings.str());
  return file;
}

void filter(const Run& run, const host::PluginDescription& description) {
  const std::string label = description.label();
  if (!gimp_drawable_is_rgb(run.drawable) && !gimp_drawable_is_gray(run.drawable))
    throw Failure(GIMP_PDB_CALLING_ERROR, label + " works on RGB and grey drawables only");

  // What to hand the module: the dialog, a script's values, or nothing (the
  // module then uses the settings it remembers).
  const fs::path folder = moduleFolder();
  bool wantDialog = false;
  host::PlaySetting play = host::PlaySetting::silent;
  host::Descriptor values;
  if (run.mode == GIMP_RUN_NONINTERACTIVE) {
    std::ostringstream warnings;
    values = scriptDescriptor(description, run.script, warnings, describeOthers(run.procedure));
    tellLines(warnings.str());
  } else if (run.mode == GIMP_RUN_INTERACTIVE) {
    if (const std::optional<std::string> why = dialogUnavailableReason(folder)) {
      tell(label + ": its dialog cannot be shown (" + *why + "); the last values were used");
    } else {
      wantDialog = true;
      play = host::PlaySetting::display;
    }
  }

  const host::PluginModule module = host::PluginModule::load(host::os::pathToUtf8(modulePath(run.procedure)));
  std::optional<cli::RegistryFile> registry = openRegistry();

  // The whole drawable, as veltrane hands the whole file: the filter reads
  // around the rectangle it changes.
  DrawablePixels pixels;
  pixels.width = gimp_drawable_width(run.drawable);
  pixels.height = gimp_drawable_height(run.drawable);
  pixels.colours = gimp_drawable_is_rgb(run.drawable) ? 3 : 1;
  pixels.alpha = gimp_drawable_has_alpha(run.drawable);
  const Babl* format = exchangeFormat(gimp_drawable_get_format(run.drawable), pixels.kind);
  pixels.data.resize(static_cast<std::size_t>(pixels.byteCount()));
  const GeglRectangle whole{0, 0, pixels.width, pixels.height};
  gegl_buffer_get(drawableBuffer(run.drawable, false).get(), &whole, 1.0, format, pixels.data.data(),
                  GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);

  host::SimOptions options;
  options.maxSpace = maxSpace();
  options.tileWidth = static_cast<std::int16_t>(std::min(gimp_tile_width(), 32767u));
  options.tileHeight = static_cast<std::int16_t>(std::min(gimp_tile_height(), 32767u));
  gint x = 0, y = 0, width = 0, height = 0;
  const bool selection = !gimp_selection_is_empty(run.image);
  if (selection) {
    if (!gimp_drawable_mask_intersect(run.drawable, &x, &y, &width, &height)) {
      tell(label + ": the selection does not touch this layer; nothing to do");
      return;
    }
    options.filterRect = hostapi::VRect{y, x, y + height, x + width};
    // The selection over the drawable, 255 where fully selected.
    gint offsetX = 0, offsetY = 0;
    gimp_drawable_offsets(run.drawable, &offsetX, &offsetY);
    options.mask.resize(static_cast<std::size_t>(std::int64_t{pixels.width} * pixels.height));
    const GeglRectangle area{offsetX, offsetY, pixels.width, pixels.height};
    gegl_buffer_get(drawableBuffer(gimp_image_get_selection(run.image), false).get(), &area, 1.0,
                    babl_format("Y u8"), options.mask.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
  }

  StderrCapture messages;
  // Called from inside the module: nothing may escape it.
  options.onProgress = [&messages](std::int32_t done, std::int32_t total) noexcept {
    try {
      for (const std::string& line : messages.takeLines()) tellModuleLine(line);
    } catch (...) {
      // the lines stay in the capture and are shown after the run
    }
    if (total > 0) gimp_progress_update(std::clamp(static_cast<double>(done) / total, 0.0, 1.0));
  };
  gimp_progress_init((label + "...").c_str());

  host::SimImage document = toHostImage(pixels);
  std::int16_t result = 0;
  bool filtered = false;
  {
    host::SimHost host(document, std::move(options), registry ? &registry->registry : nullptr);
    host.setScriptDescriptor(values, play);
    result = host.runFilter(module.entry(), wantDialog);
    filtered = askedForPixels(host.statistics());
  }
  for (const std::string& line : messages.takeLines(true)) tellModuleLine(line);
  if (result == hostapi::userCanceledErr) {
    // Cancel in the dialog: nothing written, nothing remembered.
    gimp_progress_end();
    throw Failure(GIMP_PDB_CANCEL, label + " was cancelled");
  }
  if (result != 0)
    throw Failure(GIMP_PDB_EXECUTION_ERROR, label + " returned " + std::to_string(result));
  if (!filtered) return;  // declined: the module said why, the drawable stays as it was
  // From here on GIMP's Cancel (which ends this process) would leave a
  // half-written drawable: the progress ends first.
  gimp_progress_update(1.0);
  gimp_progress_end();

  fromHostImage(document, pixels);
  // GIMP's merge of a shadow buffer records the undo step, but it blends the
  // shadow with the selection once more (the module has already applied it)
  // and composites floats through another colour space, moving some by an
  // ulp or two. So the merge is kept for its undo step only, and the exact
  // samples then go straight into the drawable over the same rectangle.
  const GeglRectangle changed = selection ? GeglRectangle{x, y, width, height} : whole;
  const std::int64_t pixelBytes = pixels.samplesPerPixel() * pixels.bytesPerSample();
  std::uint8_t* const first =
      pixels.data.data() + (std::int64_t{changed.y} * pixels.width + changed.x) * pixelBytes;
  const gint stride = static_cast<gint>(pixels.width * pixelBytes);
  gimp_image_undo_group_start(run.image);
  {
    Buffer shadow = drawableBuffer(run.drawable, true);
    gegl_buffer_set(shadow.get(), &changed, 0, format, first, stride);
  }
  gimp_drawable_merge_shadow(run.drawable, TRUE);
  gimp_drawable_free_shadow(run.drawable);
  {
    Buffer target = drawableBuffer(run.drawable, false);
    gegl_buffer_set(target.get(), &changed, 0, format, first, stride);
    gegl_buffer_flush(target.get());
  }
  gimp_image_undo_group_end(run.image);
  gimp_drawable_update(run.drawable, changed.x, changed.y, changed.width, changed.height);

  if (registry) {
    // The drawable holds the result by now: a registry that cannot be saved
    // costs only the remembered settings.
    try {
      std::ostringstream warnings;
      const auto backup = cli::saveRegistry(*registry, warnings);
      tellLines(warnings.str());
      if (backup) tell("the unreadable settings registry was kept as " + host::os::pathToUtf8(*backup));
    } catch (const std::exception& e) {
      tell(std::string("settings not remembered: ") + e.what());
    }
  }
  if (run.mode != GIMP_RUN_NONINTERACTIVE) gimp_displays_flush();
}

// GIMP's side of the plug-in.

void installProcedures() {
  static const GimpParamDef fixed[fixedArgumentCount] = {
      {GIMP_PDB_INT32, const_cast<gchar*>("run-mode"),
       const_cast<gchar*>("The run mode { RUN-INTERACTIVE (0), RUN-NONINTERACTIVE (1), RUN-WITH-LAST-VALS (2) }")},
      {GIMP_PDB_IMAGE, const_cast<gchar*>("image"), const_cast<gchar*>("Input image")},
      {GIMP_PDB_DRAWABLE, const_cast<gchar*>("drawable"), const_cast<gchar*>("Input drawable")},
      {GIMP_PDB_STRING, const_cast<gchar*>("settings-file"),
       const_cast<gchar*>("A settings file saved by the plug-in's dialog, or \"\" for none")},
      {GIMP_PDB_STRING, const_cast<gchar*>("recorded-action"),
       const_cast<gchar*>("A recorded action (JSON, as veltrane --record writes), or \"\" for none; "
                          "the settings file's values come after it, the named values last")},
  };
  static const GimpParamDef returned[] = {
      {GIMP_PDB_STRING, const_cast<gchar*>("error"), const_cast<gchar*>("What went wrong, when it did")}};
  for (const Procedure& p : procedures) {
    host::PluginDescription d;
    try {
      d = describe(p);
    } catch (const std::exception& e) {
      g_printerr("veltrane-gimp: %s is not registered: %s\n", p.name, e.what());
      continue;
    }
    const std::vector<NamedArgument> named = namedArguments(d);
    std::vector<GimpParamDef> parameters(fixed, fixed + fixedArgumentCount);
    for (const NamedArgument& a : named)
      parameters.push_back({a.isFlag ? GIMP_PDB_INT32 : GIMP_PDB_FLOAT, const_cast<gchar*>(a.name.c_str()),
                            const_cast<gchar*>(a.description.c_str())});
    const std::string help = d.title +
                             ", run through the in-memory host of veltrane: the same pixels as "
                             "'veltrane " + d.label() + "' with the same settings. The selection's bounds are "
                             "filtered, with the selection as mask; alpha is left alone.";
    gimp_install_procedure(p.name, p.blurb, help.c_str(), "Veltrane", "Veltrane", "2026", p.menuLabel,
                           "RGB*, GRAY*", GIMP_PLUGIN, static_cast<gint>(parameters.size()), 1,
                           parameters.data(), returned);
    gimp_plugin_menu_register(p.name, p.menuPath);
  }
}

void query() {
  try {
    installProcedures();
  } catch (const std::exception& e) {
    g_printerr("veltrane-gimp: cannot register its procedures: %s\n", e.what());
  }
}

void run(const gchar* name, gint count, const GimpParam* params, gint* returnCount, GimpParam** returned) {
  static GimpParam values[2];
  static std::string error;
  *returnCount = 1;
  *returned = values;
  values[0].type = GIMP_PDB_STATUS;
  values[0].data.d_status = GIMP_PDB_SUCCESS;

  GimpPDBStatusType status = GIMP_PDB_SUCCESS;
  try {
    const Procedure* procedure = findProcedure(name);
    if (!procedure || count < 3) throw Failure(GIMP_PDB_CALLING_ERROR, "wrong procedure or arguments");
    gegl_init(nullptr, nullptr);
    Run r{*procedure, static_cast<GimpRunMode>(params[0].data.d_int32), params[1].data.d_image,
          params[2].data.d_drawable, {}};
    const host::PluginDescription description = describe(*procedure);
    if (r.mode == GIMP_RUN_NONINTERACTIVE) {
      const std::vector<NamedArgument> named = namedArguments(description);
      if (count != fixedArgumentCount + static_cast<gint>(named.size()))
        throw Failure(GIMP_PDB_CALLING_ERROR, std::string(procedure->name) + " takes " +
                                                  std::to_string(fixedArgumentCount + named.size()) +
                                                  " arguments");
      if (params[3].data.d_string) r.script.settingsFile = params[3].data.d_string;
      if (params[4].data.d_string) r.script.recordedAction = params[4].data.d_string;
      for (std::size_t i = 0; i < named.size(); ++i) {
        const GimpParam& p = params[fixedArgumentCount + static_cast<gint>(i)];
        r.script.values.push_back(named[i].isFlag ? static_cast<double>(p.data.d_int32) : p.data.d_float);
      }
    }
    filter(r, description);
  } catch (const Failure& e) {
    status = e.status;
    error = e.what();
  } catch (const std::bad_alloc&) {
    status = GIMP_PDB_EXECUTION_ERROR;
    error = "out of memory";
  } catch (const std::exception& e) {
    status = GIMP_PDB_EXECUTION_ERROR;
    error = e.what();
  } catch (...) {
    status = GIMP_PDB_EXECUTION_ERROR;
    error = "unexpected error";
  }
  values[0].data.d_status = status;
  if (status != GIMP_PDB_SUCCESS && status != GIMP_PDB_CANCEL) {
    // GIMP shows the returned message itself (and a script's error names it).
    values[1].type = GIMP_PDB_STRING;
    values[1].data.d_string = error.data();
    *returnCount = 2;
  }
}

}  // namespace
}  // namespace veltrane::gimp

extern "C" {
static void veltraneQuery() { veltrane::gimp::query(); }
static void veltraneRun(const gchar* name, gint count, const GimpParam* params, gint* returnCount,
                        GimpParam** returned) {
  veltrane::gimp::run(name, count, params, returnCount, returned);
}
}

const GimpPlugInInfo PLUG_IN_INFO = {nullptr, nullptr, veltraneQuery, veltraneRun};

MAIN()
