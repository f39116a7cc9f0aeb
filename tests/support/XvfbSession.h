#pragma once

// Test support: a private X server (Xvfb) with the openbox window manager, real client windows
// made with xcb, and small helpers to run X tools against them.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcb_icccm.h>

#include <QCoreApplication>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "Vistrel/platform/linux/XcbHandles.h"

extern char** environ;

namespace vistrel::testing {

// One QCoreApplication for the whole test program: socket notifiers and D-Bus need it. A widget
// test's own QApplication serves when there is one.
inline QCoreApplication& qtApplication() {
  static int argc = 1;
  static char name[] = "vistrel-tests";
  static char* argv[] = {name, nullptr};
  static QCoreApplication* application = QCoreApplication::instance()
                                             ? QCoreApplication::instance()
                                             : new QCoreApplication(argc, argv);
  return *application;
}

// Runs the Qt event loop until `done` holds or `timeout` passes; answers `done()`.
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return false;
    }
    if (QCoreApplication::instance()) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A child process, ended (SIGTERM, then SIGKILL) and reaped when the object goes.
class ChildProcess {
 public:
  ChildProcess() = default;
  ChildProcess(const std::vector<std::string>& arguments, const std::vector<int>& keptFds = {},
               bool quiet = true) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
      posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    for (const int fd : keptFds) {
      // Re-duplicating onto itself clears close-on-exec in the child.
      posix_spawn_file_actions_adddup2(&actions, fd, fd);
    }
    std::vector<char*> argv;
    for (const auto& argument : arguments) {
      argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const int failed = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
      throw std::runtime_error("cannot start " + arguments.front());
    }
  }
  ChildProcess(ChildProcess&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}
  ChildProcess& operator=(ChildProcess&& other) noexcept {
    stop();
    pid_ = std::exchange(other.pid_, -1);
    return *this;
  }
  ~ChildProcess() { stop(); }

  pid_t pid() const { return pid_; }

  // Waits for the process to end by itself; its exit status, or -1.
  int wait() {
    int status = 0;
    const pid_t ended = waitpid(pid_, &status, 0);
    pid_ = -1;
    return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  void stop() {
    if (pid_ <= 0) {
      return;
    }
    kill(pid_, SIGTERM);
    for (int i = 0; i < 200; ++i) {
      if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
        pid_ = -1;
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// Runs a command to its end; its exit status.
inline int run(const std::vector<std::string>& arguments) {
  return ChildProcess(arguments).wait();
}

// Reads one line that a child writes to the pipe `fd`, waiting at most `timeout`.
inline std::optional<std::string> readLine(int fd, std::chrono::milliseconds timeout) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd waitFor{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&waitFor, 1, int(left.count())) <= 0) {
      return std::nullopt;
    }
    char c = 0;
    if (read(fd, &c, 1) != 1) {
      return std::nullopt;
    }
    if (c == '\n') {
      return line;
    }
    line += c;
  }
}

// Xvfb on a display number of its own choosing (-displayfd), optionally with openbox, for one
// test program. DISPLAY points at it while the session lives, so X tools find it.
class XvfbSession {
 public:
  struct Options {
    bool windowManager = true;
    std::string screen = "1920x1080x24";
  };

  XvfbSession() : XvfbSession(Options{}) {}

  explicit XvfbSession(Options options) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe");
    }
    server_ =
        ChildProcess({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", options.screen,
                      "+extension", "RANDR", "-nolisten", "tcp", "-wr", "-noreset"},
                     {fds[1]});
    close(fds[1]);
    const auto number = readLine(fds[0], std::chrono::seconds(20));
    close(fds[0]);
    if (!number) {
      throw std::runtime_error("Xvfb did not start");
    }
    display_ = ":" + *number;
    if (const char* previous = std::getenv("DISPLAY")) {
      previousDisplay_ = previous;
    }
    setenv("DISPLAY", display_.c_str(), 1);
    if (options.windowManager) {
      windowManager_ = ChildProcess({"openbox", "--sm-disable"});
      if (!waitUntil([this] { return windowManagerRunning(); }, std::chrono::seconds(20)) ||
          !windowManagerFramesNewWindows()) {
        throw std::runtime_error("openbox did not start");
      }
    }
  }

  ~XvfbSession() {
    windowManager_.stop();
    server_.stop();
    if (previousDisplay_) {
      setenv("DISPLAY", previousDisplay_->c_str(), 1);
    } else {
      unsetenv("DISPLAY");
    }
  }

  XvfbSession(const XvfbSession&) = delete;
  XvfbSession& operator=(const XvfbSession&) = delete;

  const std::string& display() const { return display_; }

  // The display goes away under whoever is connected, as when the X server ends mid-run.
  void stopServer() {
    windowManager_.stop();
    server_.stop();
  }

 private:
  bool windowManagerRunning() const {
    int screenNumber = 0;
    XcbConnection c = connectToDisplay(display_, &screenNumber);
    if (!c) {
      return false;
    }
    const xcb_screen_t* screen = screenOfDisplay(c.get(), screenNumber);
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    XcbReply<xcb_intern_atom_reply_t> atom{xcb_intern_atom_reply(
        c.get(), xcb_intern_atom(c.get(), 0, sizeof name - 1, name), nullptr)};
    if (!screen || !atom) {
      return false;
    }
    XcbReply<xcb_get_property_reply_t> check{xcb_get_property_reply(
        c.get(), xcb_get_property(c.get(), 0, screen->root, atom->atom, XCB_ATOM_WINDOW, 0, 1),
        nullptr)};
    return check && xcb_get_property_value_length(check.get()) == 4;
  }

  // The window manager announces itself before it handles new windows, and a window mapped in
  // between stays without a frame. A fresh window of our own that it frames shows it is ready.
  bool windowManagerFramesNewWindows() const {
    int screenNumber = 0;
    XcbConnection c = connectToDisplay(display_, &screenNumber);
    const xcb_screen_t* screen = c ? screenOfDisplay(c.get(), screenNumber) : nullptr;
    if (!screen) {
      return false;
    }
    for (int attempt = 0; attempt < 40; ++attempt) {
      const xcb_window_t window = xcb_generate_id(c.get());
      xcb_create_window(c.get(), XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 10, 10, 0,
                        XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
      xcb_map_window(c.get(), window);
      xcb_flush(c.get());
      const bool framed = waitUntil(
          [&] {
            XcbReply<xcb_query_tree_reply_t> tree{
                xcb_query_tree_reply(c.get(), xcb_query_tree(c.get(), window), nullptr)};
            return tree && tree->parent != screen->root;
          },
          std::chrono::milliseconds(500));
      xcb_destroy_window(c.get(), window);
      XcbReply<xcb_get_input_focus_reply_t> sync{
          xcb_get_input_focus_reply(c.get(), xcb_get_input_focus(c.get()), nullptr)};
      if (framed) {
        return true;
      }
    }
    return false;
  }

  ChildProcess server_;
  ChildProcess windowManager_;
  std::string display_;
  std::optional<std::string> previousDisplay_;
};

// A rectangle in root coordinates.
struct Area {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;

  bool contains(int px, int py) const {
    return px >= x && px < x + width && py >= y && py < y + height;
  }
};

// A client window of its own connection, as another application would make it: solid colour,
// WM_CLASS, titles and the other properties the probes read.
class TestWindow {
 public:
  struct Spec {
    std::string instance;
    std::string className;
    std::optional<std::string> title;        // _NET_WM_NAME (UTF-8)
    std::optional<std::string> legacyTitle;  // WM_NAME (Latin-1)
    Area area{100, 100, 400, 300};
    std::uint32_t color = 0x3366CC;
    std::optional<std::uint32_t> pid;
    std::string machine;
    std::string gtkApplicationID;
    // _NET_WM_WINDOW_TYPE atom names, best first; none for an ordinary window.
    std::vector<std::string> windowTypes;
    // Sets _NET_WM_WINDOW_TYPE even when windowTypes is empty, as an empty list.
    bool typesListed = false;
    bool skipTaskbar = false;  // _NET_WM_STATE_SKIP_TASKBAR
    bool mapped = true;
  };

  explicit TestWindow(Spec spec) : spec_(std::move(spec)) {
    int screenNumber = 0;
    connection_ = connectToDisplay("", &screenNumber);
    if (!connection_) {
      throw std::runtime_error("no X display for a test window");
    }
    xcb_connection_t* c = connection_.get();
    const xcb_screen_t* screen = screenOfDisplay(c, screenNumber);
    root_ = screen->root;
    window_ = xcb_generate_id(c);
    const std::uint32_t values[] = {spec_.color};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window_, root_, std::int16_t(spec_.area.x),
                      std::int16_t(spec_.area.y), std::uint16_t(spec_.area.width),
                      std::uint16_t(spec_.area.height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      screen->root_visual, XCB_CW_BACK_PIXEL, values);
    if (!spec_.instance.empty() || !spec_.className.empty()) {
      std::string wmClass = spec_.instance + '\0' + spec_.className + '\0';
      setProperty(XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8, wmClass.data(), wmClass.size());
    }
    if (spec_.title) {
      setProperty(atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, spec_.title->data(),
                  spec_.title->size());
    }
    if (spec_.legacyTitle) {
      setProperty(XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, spec_.legacyTitle->data(),
                  spec_.legacyTitle->size());
    }
    if (spec_.pid) {
      setProperty(atom("_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, &*spec_.pid, 1);
    }
    if (!spec_.machine.empty()) {
      setProperty(XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, 8, spec_.machine.data(),
                  spec_.machine.size());
    }
    if (!spec_.gtkApplicationID.empty()) {
      setProperty(atom("_GTK_APPLICATION_ID"), atom("UTF8_STRING"), 8,
                  spec_.gtkApplicationID.data(), spec_.gtkApplicationID.size());
    }
    if (!spec_.windowTypes.empty() || spec_.typesListed) {
      std::vector<xcb_atom_t> types;
      for (const std::string& type : spec_.windowTypes) {
        types.push_back(atom(type.c_str()));
      }
      setProperty(atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM, 32, types.data(), types.size());
    }
    if (spec_.skipTaskbar) {
      const xcb_atom_t state = atom("_NET_WM_STATE_SKIP_TASKBAR");
      setProperty(atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 32, &state, 1);
    }
    // Asks the window manager to keep the requested position.
    xcb_size_hints_t hints{};
    xcb_icccm_size_hints_set_position(&hints, 1, spec_.area.x, spec_.area.y);
    xcb_icccm_size_hints_set_size(&hints, 1, spec_.area.width, spec_.area.height);
    xcb_icccm_set_wm_normal_hints(c, window_, &hints);
    if (spec_.mapped) {
      xcb_map_window(c, window_);
    }
    xcb_flush(c);
    if (spec_.mapped) {
      waitUntil([this] { return isViewable(); });
    }
  }

  ~TestWindow() {
    xcb_destroy_window(connection_.get(), window_);
    xcb_flush(connection_.get());
    sync();
  }

  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  xcb_window_t id() const { return window_; }

  // The window's own area (without decorations) in root coordinates.
  Area clientArea() const {
    xcb_connection_t* c = connection_.get();
    XcbReply<xcb_get_geometry_reply_t> geometry{
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window_), nullptr)};
    XcbReply<xcb_translate_coordinates_reply_t> position{xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, window_, root_, 0, 0), nullptr)};
    return Area{position->dst_x, position->dst_y, geometry->width, geometry->height};
  }

  // The window with its window-manager frame, border included, in root coordinates.
  Area frameArea() const {
    xcb_connection_t* c = connection_.get();
    xcb_window_t top = window_;
    while (true) {
      XcbReply<xcb_query_tree_reply_t> tree{
          xcb_query_tree_reply(c, xcb_query_tree(c, top), nullptr)};
      if (!tree || tree->parent == root_) {
        break;
      }
      top = tree->parent;
    }
    XcbReply<xcb_get_geometry_reply_t> geometry{
        xcb_get_geometry_reply(c, xcb_get_geometry(c, top), nullptr)};
    const int border = geometry->border_width;
    return Area{geometry->x, geometry->y, geometry->width + 2 * border,
                geometry->height + 2 * border};
  }

  // Makes it the active window through the window manager and waits until it is.
  void activate() {
    run({"xdotool", "windowactivate", "--sync", std::to_string(window_)});
    waitUntil([this] { return activeWindow() == window_; });
  }

  xcb_window_t activeWindow() const {
    XcbReply<xcb_get_property_reply_t> reply{
        xcb_get_property_reply(connection_.get(),
                               xcb_get_property(connection_.get(), 0, root_,
                                                atom("_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1),
                               nullptr)};
    if (!reply || xcb_get_property_value_length(reply.get()) != 4) {
      return XCB_NONE;
    }
    return *static_cast<xcb_window_t*>(xcb_get_property_value(reply.get()));
  }

  // Gives it the input focus directly, as happens without a window manager.
  void focus() const {
    xcb_set_input_focus(connection_.get(), XCB_INPUT_FOCUS_POINTER_ROOT, window_, XCB_CURRENT_TIME);
    sync();
  }

  // Writes `window` into the root's _NET_ACTIVE_WINDOW, as a window manager would.
  void claimActive() const { setRootWindowProperty("_NET_ACTIVE_WINDOW", window_); }

  void setRootWindowProperty(const char* name, xcb_window_t value) const {
    xcb_change_property(connection_.get(), XCB_PROP_MODE_REPLACE, root_, atom(name),
                        XCB_ATOM_WINDOW, 32, 1, &value);
    sync();
  }

  bool isViewable() const {
    XcbReply<xcb_get_window_attributes_reply_t> attributes{xcb_get_window_attributes_reply(
        connection_.get(), xcb_get_window_attributes(connection_.get(), window_), nullptr)};
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
  }

  xcb_connection_t* connection() const { return connection_.get(); }

 private:
  xcb_atom_t atom(const char* name) const {
    XcbReply<xcb_intern_atom_reply_t> reply{xcb_intern_atom_reply(
        connection_.get(), xcb_intern_atom(connection_.get(), 0, std::strlen(name), name),
        nullptr)};
    return reply ? reply->atom : XCB_NONE;
  }

  void setProperty(xcb_atom_t property, xcb_atom_t type, int format, const void* data,
                   std::size_t count) {
    xcb_change_property(connection_.get(), XCB_PROP_MODE_REPLACE, window_, property, type,
                        std::uint8_t(format), std::uint32_t(count), data);
  }

  // Waits until the server has handled everything sent so far.
  void sync() const {
    XcbReply<xcb_get_input_focus_reply_t> reply{xcb_get_input_focus_reply(
        connection_.get(), xcb_get_input_focus(connection_.get()), nullptr)};
  }

  Spec spec_;
  XcbConnection connection_;
  xcb_window_t root_ = XCB_NONE;
  xcb_window_t window_ = XCB_NONE;
};

}  // namespace vistrel::testing
