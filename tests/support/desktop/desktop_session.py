"""The real-user harness for the desktop application.

A DesktopSession starts, for one test, what a user's desktop has: an X server (Xvfb) with a window
manager (openbox), a private D-Bus session bus with the accessibility bus (at-spi2-core), and a
tray host's StatusNotifierWatcher, started before the application because Qt looks for a tray only
once. It then starts the real `vistrel` with a temporary data folder and key file. The tests reach
the application only as a user or a screen reader would: the tray icon and its menu over D-Bus
(StatusNotifierItem, com.canonical.dbusmenu), the windows through the AT-SPI tree, and keys
pressed on the X server."""

import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import dbus

HERE = os.path.dirname(os.path.abspath(__file__))

# AT-SPI state bits (atspi-constants.h).
STATE_ACTIVE = 1
STATE_SHOWING = 25
STATE_VISIBLE = 30

# The tray pictures, told apart by their main colour.
TRAY_COLOURS = {
    "capture-on": (0xD9, 0x2D, 0x20),
    "paused": (0xE8, 0x87, 0x0E),
    "capture-off": (0x7A, 0x7A, 0x7A),
    "warning": (0xF2, 0xC2, 0x30),
}


def wait_for(condition, timeout=10.0, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(0.05)


def _read_line(pipe, timeout):
    deadline = time.monotonic() + timeout
    data = b""
    while not data.endswith(b"\n"):
        if time.monotonic() > deadline:
            raise RuntimeError("no answer from a helper")
        chunk = os.read(pipe, 256)
        if not chunk:
            raise RuntimeError("a helper ended early")
        data += chunk
    return data.decode().strip()


class DesktopSession:
    def __init__(self, app_path, config=None, tray=True):
        self.app_path = app_path
        self.with_tray = tray
        self.root = tempfile.mkdtemp(prefix="vistrel-desktop-")
        self.data_dir = os.path.join(self.root, "data")
        self.key_file = os.path.join(self.root, "keys", "history-key")
        os.makedirs(self.data_dir, mode=0o700)
        os.makedirs(os.path.dirname(self.key_file), mode=0o700)
        if config is not None:
            import json
            with open(os.path.join(self.data_dir, "config.json"), "w") as f:
                json.dump(config, f)
        self.helpers = []
        self.apps = []
        self.logs = []
        try:
            self._start()
        except BaseException:
            self.close()
            raise

    # --- start and stop -------------------------------------------------------------------

    def _spawn(self, args, env=None, stderr=subprocess.DEVNULL, **kwargs):
        process = subprocess.Popen(args, env=env or self.env, stdout=subprocess.DEVNULL,
                                   stderr=stderr, **kwargs)
        self.helpers.append(process)
        return process

    def _start(self):
        home = os.path.join(self.root, "home")
        os.makedirs(home)
        self.env = {
            "PATH": os.environ.get("PATH", "/usr/bin:/bin"),
            "HOME": home,
            "XDG_CONFIG_HOME": os.path.join(home, ".config"),
            "XDG_DATA_HOME": os.path.join(home, ".local/share"),
            "XDG_CACHE_HOME": os.path.join(home, ".cache"),
            "XDG_RUNTIME_DIR": self.root,
            "LANG": "C.UTF-8",
        }
        read_end, write_end = os.pipe()
        self._spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1280x800x24",
                     "-nolisten", "tcp"], pass_fds=(write_end,))
        os.close(write_end)
        self.env["DISPLAY"] = ":" + _read_line(read_end, 15)
        os.close(read_end)

        read_end, write_end = os.pipe()
        self._spawn(["dbus-daemon", "--session", "--nofork", "--nopidfile",
                     "--print-address=" + str(write_end)], pass_fds=(write_end,))
        os.close(write_end)
        self.env["DBUS_SESSION_BUS_ADDRESS"] = _read_line(read_end, 15)
        os.close(read_end)
        self.bus = dbus.bus.BusConnection(self.env["DBUS_SESSION_BUS_ADDRESS"])

        self._start_window_manager()
        self._spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately"])
        wait_for(lambda: self.bus.name_has_owner("org.a11y.Bus"), 15, "the accessibility bus")
        if self.with_tray:
            self._spawn([sys.executable, os.path.join(HERE, "sni_watcher.py")])
            wait_for(lambda: self.bus.name_has_owner("org.kde.StatusNotifierWatcher"), 15,
                     "the tray watcher")
        a11y_address = self.bus.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(
            dbus_interface="org.a11y.Bus")
        self.a11y = dbus.bus.BusConnection(a11y_address)

    def app_env(self):
        env = dict(self.env)
        env.update({
            "QT_QPA_PLATFORM": "xcb",
            "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1",
            "QT_ACCESSIBILITY": "1",
            "VISTREL_DATA_DIR": self.data_dir,
            "NO_AT_BRIDGE": "0",
        })
        # In a sanitizer build the application obeys the same sanitizer settings as the test.
        for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"):
            if name in os.environ:
                env[name] = os.environ[name]
        if "LSAN_OPTIONS" in env:
            # Qt is built without frame pointers: only the slow unwinder records the Qt frames
            # that the leak suppressions name.
            env["LSAN_OPTIONS"] += ":fast_unwind_on_malloc=0"
        return env

    def start_app(self, extra_env=None, key_file=True, data_dir=True):
        """Starts the real application; answers its process. Without key_file it picks its key
        store itself (the Secret Service when one runs); without data_dir it uses the default
        data folder under the session's home."""
        env = self.app_env()
        env.update(extra_env or {})
        if not data_dir:
            del env["VISTREL_DATA_DIR"]
        log = open(os.path.join(self.root, "vistrel-%d.out" % len(self.apps)), "w")
        self.logs.append(log)
        args = [self.app_path] + (["--key-file", self.key_file] if key_file else [])
        process = subprocess.Popen(args, env=env, stdout=log, stderr=subprocess.STDOUT)
        self.apps.append(process)
        return process

    def run_app(self, timeout=20):
        """Runs one more `vistrel` to its end; answers its exit status."""
        return subprocess.run([self.app_path, "--key-file", self.key_file], env=self.app_env(),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                              timeout=timeout).returncode

    def start_keyring(self):
        """Starts a real GNOME Keyring (Secret Service) on the session bus with an unlocked login
        keyring, as a desktop session has."""
        keyring = self._spawn(["gnome-keyring-daemon", "--foreground", "--unlock",
                               "--components=secrets"], stdin=subprocess.PIPE)
        keyring.stdin.write(os.urandom(8).hex().encode())
        keyring.stdin.close()
        wait_for(lambda: self.bus.name_has_owner("org.freedesktop.secrets"), 15,
                 "the Secret Service")

    def close(self):
        for process in self.apps + list(reversed(self.helpers)):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
        for process in self.apps + list(reversed(self.helpers)):
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        for log in self.logs:
            log.close()
        shutil.rmtree(self.root, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # --- keyboard and windows ---------------------------------------------------------------

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True,
                              timeout=20).stdout

    def _start_window_manager(self):
        # openbox sometimes ends at once, silently, on a server that has only just started; a
        # window mapped before a window manager runs would never be managed, so wait for it.
        log_path = os.path.join(self.root, "openbox.err")
        for _ in range(5):
            with open(log_path, "w") as log:
                openbox = self._spawn(["openbox", "--sm-disable"], stderr=log)
            try:
                wait_for(lambda: self._window_manager_running() or openbox.poll() is not None,
                         15, "the window manager")
            except AssertionError:
                break
            if openbox.poll() is None:
                return
            time.sleep(0.5)
        with open(log_path) as log:
            raise AssertionError("openbox did not start on %s (exit %s): %s" %
                                 (self.env["DISPLAY"], openbox.poll(), log.read()))

    def _window_manager_running(self):
        answer = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env,
                                capture_output=True, text=True, timeout=10).stdout
        return "window id" in answer

    def close_window(self, title="Vistrel"):
        """Closes the window as a user does, with the window manager's Alt+F4. Key events sent
        while the window manager is still moving the focus can go astray; then the user presses
        again."""
        for _ in range(3):
            self.press("alt+F4", title)
            try:
                return wait_for(lambda: not self.x_windows(title, viewable=True), 5,
                                "the window to close")
            except AssertionError:
                continue
        raise AssertionError("Alt+F4 did not close the window")

    def x_windows(self, title="Vistrel", viewable=False):
        """X windows of that title; only those mapped on screen when viewable."""
        args = ["search"] + (["--onlyvisible"] if viewable else []) + ["--name", "^%s$" % title]
        return self.xdotool(*args).split()

    def press(self, keys, window_title="Vistrel"):
        """Presses keys in the window of that title, after bringing it to the front."""
        window = self.xdotool("search", "--sync", "--onlyvisible", "--name", "^%s$" % window_title)
        window = window.split()[0]
        self.xdotool("windowactivate", "--sync", window)
        self.xdotool("key", "--clearmodifiers", keys)

    # --- the tray -----------------------------------------------------------------------------

    def tray_item(self, timeout=15):
        """The registered StatusNotifierItem as (service, path)."""
        watcher = self.bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher")

        def registered():
            items = watcher.Get("org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems",
                                dbus_interface="org.freedesktop.DBus.Properties")
            return list(items)

        item = wait_for(registered, timeout, "the tray icon")[0]
        if "/" in item:
            service, path = item.split("/", 1)
            return service, "/" + path
        return item, "/StatusNotifierItem"

    def tray_property(self, name):
        service, path = self.tray_item()
        return self.bus.get_object(service, path).Get(
            "org.kde.StatusNotifierItem", name, dbus_interface="org.freedesktop.DBus.Properties")

    def tray_picture(self):
        """Which of the four tray pictures the icon shows now."""
        pixmaps = self.tray_property("IconPixmap")
        width, height, data = max(pixmaps, key=lambda p: p[0])
        data = bytes(data)
        counts = dict.fromkeys(TRAY_COLOURS, 0)
        for i in range(0, len(data), 4):
            alpha, red, green, blue = data[i], data[i + 1], data[i + 2], data[i + 3]
            if alpha < 200:
                continue
            for name, (r, g, b) in TRAY_COLOURS.items():
                if abs(red - r) + abs(green - g) + abs(blue - b) < 40:
                    counts[name] += 1
        best = max(counts, key=counts.get)
        return best if counts[best] > 0 else None

    def tray_tooltip(self):
        _, _, title, text = self.tray_property("ToolTip")
        return str(title) + (" " + str(text) if text else "")

    def _menu(self):
        service, _ = self.tray_item()
        path = self.tray_property("Menu")
        return self.bus.get_object(service, path)

    def tray_menu(self):
        """The menu as a tray host shows it when opened: a list of entries, each a dict with
        label, enabled, visible, shortcut, separator, id and children."""
        menu = self._menu()
        menu.AboutToShow(dbus.Int32(0), dbus_interface="com.canonical.dbusmenu")
        _, layout = menu.GetLayout(dbus.Int32(0), dbus.Int32(-1), dbus.Array([], signature="s"),
                                   dbus_interface="com.canonical.dbusmenu")
        return [_entry(child) for child in layout[2]]

    def click_tray_entry(self, *labels):
        """Clicks the entry reached by following labels through submenus."""
        entries = self.tray_menu()
        entry = None
        for label in labels:
            found = [e for e in entries if e["label"] == label and e["visible"]]
            if not found:
                raise AssertionError("no tray entry %r among %r" %
                                     (label, [e["label"] for e in entries]))
            entry = found[0]
            entries = entry["children"]
        self._menu().Event(dbus.Int32(entry["id"]), "clicked", dbus.Int32(0, variant_level=1),
                           dbus.UInt32(0), dbus_interface="com.canonical.dbusmenu")

    # --- the accessibility tree -------------------------------------------------------------

    def _node(self, service, path):
        return Accessible(self.a11y, service, path)

    def application(self, name="Vistrel", timeout=15):
        root = self._node("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")

        def found():
            for app in root.children():
                try:
                    if app.name() == name:
                        return app
                except dbus.DBusException:
                    continue
            return None

        return wait_for(found, timeout, "the application on the accessibility bus")

    def find(self, role=None, name=None, showing=True, timeout=10):
        """The first accessible of that role and name in the application, waiting for it."""
        def search():
            return self.application().find(role, name, showing)

        return wait_for(search, timeout, "%s %r" % (role, name))

    def find_none(self, role=None, name=None):
        return self.application().find(role, name, True) is None


def _entry(item):
    item_id, props, children = item
    return {
        "id": int(item_id),
        "label": str(props.get("label", "")).replace("_", ""),
        "enabled": bool(props.get("enabled", True)),
        "visible": bool(props.get("visible", True)),
        "separator": str(props.get("type", "")) == "separator",
        "shortcut": ["+".join(str(k) for k in keys) for keys in props.get("shortcut", [])],
        "children": [_entry(child) for child in children],
    }


class Accessible:
    def __init__(self, bus, service, path):
        self.bus = bus
        self.service = service
        self.path = path
        self.proxy = bus.get_object(service, path, introspect=False)

    def _get(self, interface, name):
        return self.proxy.Get(interface, name, dbus_interface="org.freedesktop.DBus.Properties")

    def name(self):
        return str(self._get("org.a11y.atspi.Accessible", "Name"))

    def description(self):
        return str(self._get("org.a11y.atspi.Accessible", "Description"))

    def role(self):
        return str(self.proxy.GetRoleName(dbus_interface="org.a11y.atspi.Accessible"))

    def states(self):
        low, high = self.proxy.GetState(dbus_interface="org.a11y.atspi.Accessible")
        bits = int(low) | (int(high) << 32)
        return {bit for bit in range(64) if bits & (1 << bit)}

    def showing(self):
        return STATE_SHOWING in self.states()

    def children(self):
        return [Accessible(self.bus, str(s), str(p)) for s, p in
                self.proxy.GetChildren(dbus_interface="org.a11y.atspi.Accessible")]

    def text(self):
        count = int(self._get("org.a11y.atspi.Text", "CharacterCount"))
        return str(self.proxy.GetText(0, count, dbus_interface="org.a11y.atspi.Text"))

    def do_action(self, action):
        names = [str(a[0]) for a in self.proxy.GetActions(dbus_interface="org.a11y.atspi.Action")]
        self.proxy.DoAction(names.index(action), dbus_interface="org.a11y.atspi.Action")

    def find(self, role, name, showing):
        try:
            matches = ((role is None or self.role() == role) and
                       (name is None or self.name() == name) and
                       (not showing or self.showing()))
            if matches:
                return self
            if showing and not self.showing() and self.role() not in ("application",):
                return None
            for child in self.children():
                found = child.find(role, name, showing)
                if found:
                    return found
        except dbus.DBusException:
            return None
        return None

    def all(self, role=None, showing=True):
        """Every accessible below this one with that role."""
        result = []
        try:
            if showing and self.role() != "application" and not self.showing():
                return result
            if role is None or self.role() == role:
                result.append(self)
            for child in self.children():
                result.extend(child.all(role, showing))
        except dbus.DBusException:
            pass
        return result
