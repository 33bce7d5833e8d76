// GIMP in batch mode on a virtual display runs halvane interactively: the
// module's GTK dialog opens inside the GIMP plug-in process and is answered
// through the X server, Escape first (the call ends as cancelled and the
// image stays as it was) and Enter next (the remembered settings, seeded by
// veltrane, are applied: veltrane's pixels). Every wait is bounded; GIMP runs
// under a watchdog.
#include <chrono>
#include <filesystem>
#include <thread>

#include "command_runner.h"
#include "shell/parameter_tables.h"

// Last: the X headers define macros that clash with names above.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

namespace veltrane::e2e {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// Answers the dialogs titled `title` with the given keys, one dialog per
// key, each within 60 s of the one before; true when every key was given.
bool answerDialogs(const std::string& title, const std::vector<const char*>& keys) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return false;
  XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // windows come and go between requests
  const auto shownDialog = [&]() -> Window {
    Window root = 0, parent = 0, *children = nullptr, found = 0;
    unsigned int count = 0;
    XSync(display, False);
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count) == 0) return 0;
    for (unsigned int i = 0; i < count && found == 0; ++i) {
      XWindowAttributes a{};
      char* name = nullptr;
      if (XGetWindowAttributes(display, children[i], &a) != 0 && a.map_state == IsViewable &&
          XFetchName(display, children[i], &name) != 0 && name != nullptr && title == name)
        found = children[i];
      if (name != nullptr) XFree(name);
    }
    if (children != nullptr) XFree(children);
    return found;
  };
  std::size_t answered = 0;
  for (const char* key : keys) {
    Window dialog = 0;
    for (const auto begin = Clock::now(); dialog == 0 && Clock::now() - begin < 60s; std::this_thread::sleep_for(100ms))
      dialog = shownDialog();
    if (dialog == 0) break;
    // The pointer onto the dialog gives it the keys (no window manager here).
    XWindowAttributes a{};
    XGetWindowAttributes(display, dialog, &a);
    XTestFakeMotionEvent(display, -1, a.x + a.width / 2, a.y + 10, CurrentTime);
    XSync(display, False);
    std::this_thread::sleep_for(1500ms);  // the first paint and preview
    const KeyCode code = XKeysymToKeycode(display, XStringToKeysym(key));
    XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, code, False, CurrentTime);
    XSync(display, False);
    bool gone = false;
    for (const auto begin = Clock::now(); !gone && Clock::now() - begin < 60s; std::this_thread::sleep_for(100ms))
      gone = shownDialog() != dialog;
    if (!gone) break;
    ++answered;
  }
  XCloseDisplay(display);
  return answered == keys.size();
}

class GimpDialogTest : public CommandTest {};

TEST_F(GimpDialogTest, EscapeLeavesTheImageAndEnterAppliesAndRemembersTheDialogsSettings) {
  const std::string in = writeNoisy(path("in.png"), 64, 48, 3, host::SampleDepth::u8);
  // Where the plug-in remembers its settings (the test's XDG_CONFIG_HOME):
  // nothing there yet.
  const std::string registry = (fs::path(configDir()) / "veltrane" / "registry.json").string();
  fs::create_directories(path("gimp-config/plug-ins"));
  fs::create_symlink(VELTRANE_GIMP_PLUGIN_DIR, path("gimp-config/plug-ins/veltrane-gimp"));
  const auto call = [&](const std::string& out) {
    return "(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"" + in + "\" \"" + in + "\")))"
           " (drawable (car (gimp-image-get-active-drawable image))))"
           " (plug-in-veltrane-halvane RUN-INTERACTIVE image drawable \"\" \"\" -1 -1 -1 -1 -1 -1 -1 -1 -1 -1)"
           " (gimp-file-save RUN-NONINTERACTIVE image drawable \"" + path(out) + "\" \"" + path(out) + "\")"
           " (gimp-image-delete image))";
  };
  // Script-Fu takes a cancelled call for a finished one; what Cancel leaves
  // is checked instead: the image as it was, no settings remembered.
  const std::string script = call("cancelled.png") +
                             " (gimp-message (string-append \"remembered after Cancel: \" (number->string"
                             " (car (file-glob \"" + registry + "\" 0)))))" + call("ok.png");
  bool answered = false;
  std::thread user([&] { answered = answerDialogs(halvaneDeliverable().aboutTitle, {"Escape", "Return"}); });
  const CommandResult gimp =
      run("/usr/bin/timeout", {"-s", "KILL", "240", "/usr/bin/env", "GIMP2_DIRECTORY=" + path("gimp-config"),
                               "XDG_CACHE_HOME=" + path("cache"), "GSETTINGS_BACKEND=memory", VELTRANE_GIMP, "-i",
                               "-n", "-d", "-f", "-b", script, "-b", "(gimp-quit 0)"});
  user.join();
  ASSERT_EQ(gimp.status, 0) << gimp.out << gimp.err;
  EXPECT_TRUE(answered) << "the dialog did not show, or did not go on Escape and Enter\n" << gimp.err;
  EXPECT_EQ(gimp.err.find("execution error"), std::string::npos) << gimp.err;
  EXPECT_EQ(gimp.err.find("last values were used"), std::string::npos) << gimp.err;
  EXPECT_NE(gimp.err.find("remembered after Cancel: 0"), std::string::npos) << gimp.err;

  const host::HostImage input = readImage(in);
  EXPECT_EQ(readImage(path("cancelled.png")).pixels, input.pixels);
  // OK remembered the dialog's settings; veltrane applies them as the dialog
  // did (GIMP hands its plug-ins tiles of 128 x 128 pixels).
  ASSERT_TRUE(fs::exists(registry));
  fs::copy_file(registry, path("remembered.json"));
  const CommandResult v = veltrane({"halvane", in, path("veltrane.png"), "--tile", "128,128", "--registry",
                                    path("remembered.json")});
  ASSERT_EQ(v.status, 0) << v.err;
  const host::HostImage ok = readImage(path("ok.png"));
  EXPECT_EQ(ok.pixels, readImage(path("veltrane.png")).pixels);
  EXPECT_NE(ok.pixels, input.pixels);
}

}  // namespace
}  // namespace veltrane::e2e
