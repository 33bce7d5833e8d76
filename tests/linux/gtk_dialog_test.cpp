// The GTK dialog of each plug-in, opened by `veltrane --dialog` on a virtual
// display and worked through the X server as a user would: real pointer and
// key events at the controls' places. The stored values and the output are
// then checked against a silent run, and a screenshot of each dialog lands
// in the build folder. Every wait is bounded; a watchdog ends a hung dialog.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "host/imageio/image_file.h"
#include "platform/gtk/gtk_toolkit.h"
#include "shell/filter_parameters.h"
#include "shell/parameter_tables.h"
#include "shell/parameters.h"
#include "ui/dialog_template.h"
#include "ui/number_text.h"
#include "ui/preview.h"

// Last: the X headers define macros (None, Bool, Status) that clash with
// names in the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

extern char** environ;

namespace veltrane {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using platform::Rect;

// --- the command ---

struct Child {
  pid_t pid = -1;
  int status = -1;  // exit status once ended; -1 while running or when killed
};

// Starts veltrane ARGS with standard error into errFile; without display
// variables when `headless`.
Child start(const std::vector<std::string>& args, const std::string& errFile, bool headless = false) {
  std::vector<std::string> words{VELTRANE_CLI};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (headless && (entry.rfind("DISPLAY=", 0) == 0 || entry.rfind("WAYLAND_DISPLAY=", 0) == 0)) continue;
    env.push_back(entry);
  }
  // GTK keeps its chooser's settings in memory: no desktop session here.
  env.emplace_back("GSETTINGS_BACKEND=memory");
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  Child child;
  if (posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) child.pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return child;
}

// Waits at most `limit` for the command; a command still running then is
// killed and counts as failed.
int finish(Child& child, std::chrono::seconds limit) {
  if (child.pid <= 0) return -1;
  for (const auto begin = Clock::now(); Clock::now() - begin < limit; std::this_thread::sleep_for(50ms)) {
    int status = 0;
    if (waitpid(child.pid, &status, WNOHANG) == child.pid) {
      child.pid = -1;
      return child.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
  }
  kill(child.pid, SIGKILL);
  waitpid(child.pid, nullptr, 0);
  child.pid = -1;
  return -1;
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

nlohmann::json readJson(const std::string& path) {
  try {
    return nlohmann::json::parse(readText(path));
  } catch (const std::exception&) {
    return nlohmann::json::object();
  }
}

// A 320 x 240 picture: the left half pure noise of a known size (every
// neighbouring pair of samples differs by 2 around mid grey), the right half
// a noisy gradient.
host::HostImage testImage() {
  host::HostImage image;
  image.width = 320;
  image.height = 240;
  image.channels = 3;
  image.pixels.resize(static_cast<std::size_t>(image.pixelBytes()));
  std::uint32_t s = 11;
  for (std::int32_t y = 0; y < image.height; ++y) {
    for (std::int32_t x = 0; x < image.width; ++x) {
      for (std::int32_t p = 0; p < 3; ++p) {
        s = s * 1664525u + 1013904223u;
        const int v = x < 160 ? 128 + 2 * ((x + y) % 2) : 40 + (x - 160) + p * 20 + static_cast<int>(s >> 28);
        image.pixels[static_cast<std::size_t>((y * image.width + x) * 3 + p)] = static_cast<std::uint8_t>(v);
      }
    }
  }
  return image;
}

// Half the size, each pixel the mean of a 2 x 2 square.
host::HostImage halved(const host::HostImage& image) {
  host::HostImage out;
  out.width = image.width / 2;
  out.height = image.height / 2;
  out.channels = 3;
  out.pixels.resize(static_cast<std::size_t>(out.pixelBytes()));
  const auto at = [&](std::int32_t x, std::int32_t y, std::int32_t p) {
    return int{image.pixels[static_cast<std::size_t>((y * image.width + x) * 3 + p)]};
  };
  for (std::int32_t y = 0; y < out.height; ++y)
    for (std::int32_t x = 0; x < out.width; ++x)
      for (std::int32_t p = 0; p < 3; ++p)
        out.pixels[static_cast<std::size_t>((y * out.width + x) * 3 + p)] = static_cast<std::uint8_t>(
            (at(2 * x, 2 * y, p) + at(2 * x + 1, 2 * y, p) + at(2 * x, 2 * y + 1, p) + at(2 * x + 1, 2 * y + 1, p) + 2) /
            4);
  return out;
}

// --- the user, through the X server ---

class User {
 public:
  User() : display_(XOpenDisplay(nullptr)) {
    // A window that went between two requests is an answer, not a failure.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
  }
  ~User() {
    if (display_ != nullptr) XCloseDisplay(display_);
  }
  User(const User&) = delete;
  User& operator=(const User&) = delete;
  bool ready() const { return display_ != nullptr; }

  // The first shown top-level window that `wanted` accepts within `limit`,
  // or 0; the pointer is then moved onto it, so that it gets the keys.
  template <typename Wanted>
  Window waitFor(Wanted wanted, std::chrono::seconds limit) {
    for (const auto begin = Clock::now(); Clock::now() - begin < limit; std::this_thread::sleep_for(100ms)) {
      Window root = 0, parent = 0;
      Window* children = nullptr;
      unsigned int count = 0;
      if (XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count) == 0) continue;
      Window found = 0;
      for (unsigned int i = 0; i < count && found == 0; ++i)
        if (shown(children[i]) && wanted(children[i])) found = children[i];
      if (children != nullptr) XFree(children);
      if (found != 0) {
        XWindowAttributes a{};
        XGetWindowAttributes(display_, found, &a);
        XTestFakeMotionEvent(display_, -1, a.x + a.width / 2, a.y + a.height / 2, CurrentTime);
        settle(1000ms);  // the first paint
        return found;
      }
    }
    return 0;
  }
  // The dialog, by its title.
  Window waitForWindow(const std::string& title) {
    return window_ = waitFor(
               [&](Window w) {
                 char* name = nullptr;
                 const bool same = XFetchName(display_, w, &name) != 0 && name != nullptr && title == name;
                 if (name != nullptr) XFree(name);
                 return same;
               },
               60s);
  }
  // A window shown over the dialog: a message box, a file chooser.
  Window waitForChild() {
    return waitFor([&](Window w) { Window owner = 0; return XGetTransientForHint(display_, w, &owner) != 0 && owner == window_; },
                   30s);
  }
  bool shown(Window w) {
    XSync(display_, False);
    XWindowAttributes a{};
    return XGetWindowAttributes(display_, w, &a) != 0 && a.map_state == IsViewable;
  }
  // Waits up to 30 s for a window to go.
  bool waitUntilGone(Window w) {
    for (const auto begin = Clock::now(); Clock::now() - begin < 30s; std::this_thread::sleep_for(100ms))
      if (!shown(w)) return true;
    return false;
  }
  Window dialog() const { return window_; }
  // Resizes the dialog as a window manager does when its border is dragged.
  void resize(std::int32_t width, std::int32_t height) {
    XResizeWindow(display_, window_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    settle(1500ms);
  }

  Rect client() {
    XWindowAttributes a{};
    XGetWindowAttributes(display_, window_, &a);
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(display_, window_, DefaultRootWindow(display_), 0, 0, &x, &y, &child);
    return Rect{x, y, a.width, a.height};
  }

  void moveTo(std::int32_t x, std::int32_t y) {
    const Rect c = client();
    XTestFakeMotionEvent(display_, -1, c.left + x, c.top + y, CurrentTime);
    settle(60ms);
  }
  void press(unsigned int button) {
    XTestFakeButtonEvent(display_, button, True, CurrentTime);
    settle(60ms);
  }
  void release(unsigned int button) {
    XTestFakeButtonEvent(display_, button, False, CurrentTime);
    settle(60ms);
  }
  void click(std::int32_t x, std::int32_t y, unsigned int button = 1) {
    moveTo(x, y);
    press(button);
    release(button);
    settle(300ms);
  }
  void clickCentre(const Rect& r) { click(r.left + r.width / 2, r.top + r.height / 2); }
  void doubleClick(std::int32_t x, std::int32_t y) {
    moveTo(x, y);
    for (int i = 0; i < 2; ++i) {
      XTestFakeButtonEvent(display_, 1, True, CurrentTime);
      XTestFakeButtonEvent(display_, 1, False, CurrentTime);
      settle(20ms);
    }
    settle(300ms);
  }
  void drag(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
    moveTo(x0, y0);
    press(1);
    for (int step = 1; step <= 4; ++step) moveTo(x0 + (x1 - x0) * step / 4, y0 + (y1 - y0) * step / 4);
    release(1);
    settle(500ms);
  }
  void key(const char* name, const char* modifier = nullptr) {
    const KeyCode mod = modifier != nullptr ? XKeysymToKeycode(display_, XStringToKeysym(modifier)) : 0;
    const KeyCode code = XKeysymToKeycode(display_, XStringToKeysym(name));
    if (mod != 0) XTestFakeKeyEvent(display_, mod, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, True, CurrentTime);
    XTestFakeKeyEvent(display_, code, False, CurrentTime);
    if (mod != 0) XTestFakeKeyEvent(display_, mod, False, CurrentTime);
    settle(60ms);
  }
  void type(const std::string& text) {
    for (const char c : text) {
      const std::string one(1, c);
      key(c == '.' ? "period" : c == '-' ? "minus" : one.c_str());
    }
    settle(300ms);
  }

  // The window's client area as an 8-bit RGB image.
  host::HostImage screenshot() {
    settle(500ms);
    const Rect c = client();
    host::HostImage image;
    XImage* x = XGetImage(display_, window_, 0, 0, static_cast<unsigned>(c.width), static_cast<unsigned>(c.height),
                          AllPlanes, ZPixmap);
    if (x == nullptr) return image;
    image.width = c.width;
    image.height = c.height;
    image.channels = 3;
    image.pixels.resize(static_cast<std::size_t>(image.pixelBytes()));
    for (std::int32_t y = 0; y < c.height; ++y) {
      for (std::int32_t col = 0; col < c.width; ++col) {
        const unsigned long p = XGetPixel(x, col, y);
        std::uint8_t* out = &image.pixels[static_cast<std::size_t>((y * c.width + col) * 3)];
        out[0] = static_cast<std::uint8_t>((p & x->red_mask) >> 16);
        out[1] = static_cast<std::uint8_t>((p & x->green_mask) >> 8);
        out[2] = static_cast<std::uint8_t>(p & x->blue_mask);
      }
    }
    XDestroyImage(x);
    return image;
  }

 private:
  void settle(std::chrono::milliseconds pause) {
    XSync(display_, False);
    std::this_thread::sleep_for(pause);
  }

  Display* display_;
  Window window_ = 0;
};

// Where the toolkit puts the template's controls: the dialog units of the
// template at the base units the toolkit measures on this display.
class Layout {
 public:
  explicit Layout(const Deliverable& d) : template_(ui::dialogTemplate(d)) {
    void* library = dlopen(VELTRANE_GTK_LIBRARY, RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    const auto entry = library != nullptr ? reinterpret_cast<platform::gtk::EntryFunction>(
                                                reinterpret_cast<std::uintptr_t>(dlsym(library, platform::gtk::entryName)))
                                          : nullptr;
    const platform::gtk::EntryPoints* points = entry != nullptr ? entry(platform::gtk::interfaceVersion) : nullptr;
    if (points != nullptr) base_ = points->baseUnits(template_.font, template_.fontSize);
  }
  bool ready() const { return base_.width > 0; }

  Rect at(std::int32_t id) const {
    for (const platform::ControlSpec& c : template_.controls)
      if (c.id == id) return platform::gtk::dialogUnitsToPixels(c.x, c.y, c.width, c.height, base_);
    ADD_FAILURE() << "no control " << id;
    return {};
  }
  // The view pane grown with the window, as the preview grows it.
  Rect viewPane(const Rect& client) const {
    const Rect initial = platform::gtk::dialogUnitsToPixels(0, 0, template_.width, template_.height, base_);
    Rect pane = at(ui::control::viewPane);
    pane.width = client.width - (initial.width - pane.left - pane.width) - pane.left;
    pane.height = client.height - (initial.height - pane.top - pane.height) - pane.top;
    return pane;
  }

 private:
  const platform::DialogTemplate& template_;
  platform::Size base_;
};

// The slots whose controls show while the advanced controls are hidden.
std::vector<std::size_t> visibleSlots(const Deliverable& d) {
  std::vector<std::size_t> slots;
  for (std::size_t i = 0; i < realSlotCount; ++i) {
    const RealControl& c = d.controls.reals[i];
    if (c.hasControl() && c.label != nullptr && !c.advanced) slots.push_back(i);
  }
  return slots;
}

class GtkDialog : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(VELTRANE_TEST_DIR) / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    host::writeImageFile(file("in.png"), testImage(), host::FileInfo{});
  }
  std::string file(const std::string& name) const { return (dir_ / name).string(); }

  void runDialog(const Deliverable& d);

  fs::path dir_;
};

void GtkDialog::runDialog(const Deliverable& d) {
  User user;
  ASSERT_TRUE(user.ready()) << "no display: run under xvfb-run";
  const Layout layout(d);
  ASSERT_TRUE(layout.ready()) << "the GTK toolkit does not load from " << VELTRANE_GTK_LIBRARY;

  Child dialog = start({d.name, file("in.png"), file("dialog.png"), "--dialog", "--registry", file("registry.json"),
                        "--params-out", file("dialog.json")},
                       file("dialog.err"));
  ASSERT_GT(dialog.pid, 0);
  // Whatever happens below, the command does not outlive the test.
  struct Watchdog {
    Child& child;
    ~Watchdog() { finish(child, 1s); }
  } watchdog{dialog};

  ASSERT_NE(user.waitForWindow(d.aboutTitle), 0u) << "no dialog within 60 s: " << readText(file("dialog.err"));
  const Rect client = user.client();
  EXPECT_GT(client.width, 0);

  const std::vector<std::size_t> slots = visibleSlots(d);
  ASSERT_GE(slots.size(), 2u);
  const std::size_t typedSlot = slots.back();
  const std::size_t movedSlot = slots[slots.size() - 2];
  const RealControl& typed = d.controls.reals[typedSlot];
  const RealControl& moved = d.controls.reals[movedSlot];

  // Zoom by the buttons and the wheel, and pan by dragging the view pane.
  user.clickCentre(layout.at(ui::control::zoom200));
  const Rect pane = layout.viewPane(client);
  user.moveTo(pane.left + pane.width / 2, pane.top + pane.height / 2);
  user.press(4);  // wheel away from the user: zoom in
  user.release(4);
  user.drag(pane.left + pane.width / 2, pane.top + pane.height / 2, pane.left + pane.width / 2 - 60,
            pane.top + pane.height / 2 - 40);
  user.clickCentre(layout.at(ui::control::zoom100));

  // Select noise manually over the left half, which holds only noise.
  const bool selects = d.name == std::string("halvane");
  if (selects) {
    const ui::PreviewWindow w = ui::computePreviewWindow(veltrane::Rect{0, 0, 240, 320}, pane.width, pane.height, 1, 0, 0);
    ASSERT_EQ(w.window, (veltrane::Rect{0, 0, 240, 320})) << "the pane does not show the whole picture";
    const platform::Rect block = ui::centredIn(pane, 2 * w.viewWidth, w.viewHeight);
    user.clickCentre(layout.at(ui::control::selectNoise));
    user.drag(block.left + 16, block.top + 16, block.left + 150, block.top + 200);
    // A rectangle too small to measure: a message box over the dialog,
    // and nothing changes.
    user.drag(block.left + 20, block.top + 20, block.left + 40, block.top + 30);
    const Window message = user.waitForChild();
    ASSERT_NE(message, 0u) << "no message box over the dialog";
    user.key("Return");
    EXPECT_TRUE(user.waitUntilGone(message));
  }

  // Load Settings opens GTK's file chooser over the dialog; Escape cancels it.
  user.clickCentre(layout.at(ui::control::loadSettings));
  const Window chooser = user.waitForChild();
  ASSERT_NE(chooser, 0u) << "no file chooser over the dialog";
  user.key("Escape");
  EXPECT_TRUE(user.waitUntilGone(chooser));

  // Type a value into an edit box: all of its text replaced.
  const std::string typedText = ui::FormatNumber(positionToValue(typed.minPosition + (typed.maxPosition - typed.minPosition) / 3, typed.scale));
  user.clickCentre(layout.at(typed.editId));
  user.key("a", "Control_L");
  user.type(typedText);

  // Move a slider: a click on its right part, then three steps left.
  const Rect slider = layout.at(moved.sliderId);
  user.click(slider.left + slider.width * 3 / 4, slider.top + slider.height / 2);
  for (int i = 0; i < 3; ++i) user.key("Left");

  // A double click on a slot's label puts back its default, after a slider
  // moved it (a slot the profile does not set).
  std::size_t resetSlot = realSlotCount;
  for (const std::size_t slot : slots)
    if (slot != typedSlot && slot != movedSlot && slot != real::overallNoiseLevel && slot != real::highlightsNoiseLevel)
      resetSlot = slot;
  if (resetSlot != realSlotCount) {
    const RealControl& reset = d.controls.reals[resetSlot];
    const Rect resetSlider = layout.at(reset.sliderId);
    user.click(resetSlider.left + resetSlider.width * 7 / 8, resetSlider.top + resetSlider.height / 2);
    const Rect label = layout.at(ui::labelIdOf(reset));
    user.doubleClick(label.left + 8, label.top + label.height / 2);
  }

  // Toggle a check box: Always profile where it is on (a silent run would
  // profile again), else Despeckle.
  const std::size_t toggledFlag = d.factoryDefaults.flags[flag::alwaysProfile] != 0 ? flag::alwaysProfile : flag::despeckle;
  user.click(layout.at(d.controls.flags[toggledFlag].checkBoxId).left + 6,
             layout.at(d.controls.flags[toggledFlag].checkBoxId).top + layout.at(d.controls.flags[toggledFlag].checkBoxId).height / 2);

  // A smaller window: the panes follow, and the dialog keeps the size.
  user.resize(1200, 860);
  const host::HostImage shot = user.screenshot();
  ASSERT_GT(shot.width, 0);
  fs::create_directories(VELTRANE_SCREENSHOT_DIR);
  host::writeImageFile(std::string(VELTRANE_SCREENSHOT_DIR) + "/gtk-" + d.name + ".png", shot, host::FileInfo{});
  host::writeImageFile(std::string(VELTRANE_SCREENSHOT_DIR) + "/gtk-" + d.name + "-small.png", halved(shot),
                       host::FileInfo{});
  {
    // The host drew the picture into the resized view pane: unprocessed on
    // the left, exactly, and processed on the right.
    const Rect view = layout.viewPane(Rect{0, 0, shot.width, shot.height});
    const ui::PreviewWindow w = ui::computePreviewWindow(veltrane::Rect{0, 0, 240, 320}, view.width, view.height, 1, 0, 0);
    ASSERT_EQ(w.window, (veltrane::Rect{0, 0, 240, 320}));
    const platform::Rect block = ui::centredIn(view, 2 * w.viewWidth, w.viewHeight);
    const host::HostImage in = testImage();
    std::size_t sameLeft = 0, sameRight = 0;
    for (std::int32_t y = 0; y < 240; ++y)
      for (std::int32_t x = 0; x < 320; ++x) {
        const auto at = [&](std::int32_t sx) {
          return &shot.pixels[static_cast<std::size_t>(((block.top + y) * shot.width + sx) * 3)];
        };
        const std::uint8_t* original = &in.pixels[static_cast<std::size_t>((y * 320 + x) * 3)];
        sameLeft += std::memcmp(at(block.left + x), original, 3) == 0 ? 1u : 0u;
        sameRight += std::memcmp(at(block.left + 320 + x), original, 3) == 0 ? 1u : 0u;
      }
    EXPECT_EQ(sameLeft, 320u * 240u);
    EXPECT_LT(sameRight, 320u * 240u / 2);
  }

  // Enter in the edit box presses OK, the default button.
  user.clickCentre(layout.at(typed.editId));
  user.key("Return");
  ASSERT_EQ(finish(dialog, 120s), 0) << readText(file("dialog.err"));
  EXPECT_TRUE(user.waitUntilGone(user.dialog()));

  // The values the dialog stored.
  const nlohmann::json stored = readJson(file("dialog.json"));
  ASSERT_TRUE(stored.contains("reals")) << readText(file("dialog.err"));
  const auto real = [&](std::size_t slot) { return stored["reals"][d.realFieldNames[slot]].get<double>(); };
  const auto flagOf = [&](std::size_t slot) { return stored["flags"][d.flagFieldNames[slot]].get<int>(); };
  EXPECT_EQ(ui::FormatNumber(real(typedSlot)), typedText);
  EXPECT_NE(real(movedSlot), d.factoryDefaults.reals[movedSlot]);
  if (resetSlot != realSlotCount) {
    EXPECT_EQ(real(resetSlot), d.factoryDefaults.reals[resetSlot]) << d.realFieldNames[resetSlot];
  }
  EXPECT_EQ(flagOf(toggledFlag), d.factoryDefaults.flags[toggledFlag] != 0 ? 0 : 1);
  if (selects) {
    // Digital (the dialog profiled nothing else), blocks of fine measure
    // 5760 x 2 around brightness 128.
    const double x = 5760.0 * 2 / (1.0 - 0.8 * 128.0 / 255.0) / 5766.0;
    EXPECT_NEAR(real(real::overallNoiseLevel), 35.0 * x - 15.0, 1e-6);
  }

  const nlohmann::json registry = readJson(file("registry.json"));
  bool sized = false;
  for (const auto& entry : registry["entries"].items())
    for (const auto& value : entry.value())
      if (value["key"] == "Zmpw") sized = value["value"] == 1200;
  EXPECT_TRUE(sized) << "the dialog's size was not kept";

  // A silent run with the stored values gives the same values and pixels.
  Child silent = start({d.name, file("in.png"), file("silent.png"), "--registry", file("registry.json"),
                        "--params-out", file("silent.json")},
                       file("silent.err"));
  ASSERT_EQ(finish(silent, 120s), 0) << readText(file("silent.err"));
  EXPECT_EQ(readJson(file("silent.json")), stored);
  const host::HostImage a = host::readImageFile(file("dialog.png"));
  const host::HostImage b = host::readImageFile(file("silent.png"));
  EXPECT_EQ(a.pixels, b.pixels);
  EXPECT_NE(a.pixels, testImage().pixels);
}

TEST_F(GtkDialog, Halvane) { runDialog(halvaneDeliverable()); }
TEST_F(GtkDialog, Mirelle) { runDialog(mirelleDeliverable()); }

// Escape cancels: no output, the run fails as cancelled.
TEST_F(GtkDialog, EscapeCancels) {
  User user;
  ASSERT_TRUE(user.ready()) << "no display: run under xvfb-run";
  Child dialog = start({"mirelle", file("in.png"), file("dialog.png"), "--dialog", "--no-registry"},
                       file("dialog.err"));
  struct Watchdog {
    Child& child;
    ~Watchdog() { finish(child, 1s); }
  } watchdog{dialog};
  ASSERT_NE(user.waitForWindow(mirelleDeliverable().aboutTitle), 0u) << readText(file("dialog.err"));
  user.moveTo(20, 20);
  user.key("Escape");
  EXPECT_GT(finish(dialog, 60s), 0);  // an exit status, not a kill
  EXPECT_FALSE(fs::exists(file("dialog.png")));
}

// Without a display the command says so in one line and runs as if OK had
// been pressed.
TEST_F(GtkDialog, WithoutADisplayTheRunGoesOnWithANotice) {
  Child dialog = start({"halvane", file("in.png"), file("dialog.png"), "--dialog", "--no-registry"},
                       file("dialog.err"), /*headless=*/true);
  ASSERT_EQ(finish(dialog, 120s), 0);
  const std::string err = readText(file("dialog.err"));
  EXPECT_NE(err.find("Veltrane: no display"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_TRUE(fs::exists(file("dialog.png")));
}

}  // namespace
}  // namespace veltrane
