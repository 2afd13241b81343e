#!/usr/bin/python3
"""Opens every Brindle window by keyboard and prints what a screen reader sees in each.

A developer's tool, not part of the test suite. It starts build/bin/brindle on a private
X display (xvfb-run) and a private session bus (dbus-run-session), with fresh
XDG_CONFIG_HOME and XDG_RUNTIME_DIR and sound files made with sox, then opens in turn the
error list, the main window, the options, the WAV information, the player, the about box,
the MPEG information and tag editor and the conversion window (three jobs at once), and
walks each window's accessibility tree: every object's role and name, then every
focusable object whose name is empty (a list's cells excepted: blank is a value there).
Exit status 1 when there is any such object, 2 when a window did not open.

Needs (Debian 12): python3-pyatspi at-spi2-core dbus-x11 xvfb xdotool sox
(libsox-fmt-mp3 for the MPEG files), x11-apps for --shots (xwd) and imagemagick to turn
the pictures into PNG.

Usage: scripts/atspi-dump [--program PATH] [--output FILE] [--shots DIR]
  --shots DIR  also saves a picture of every window as DIR/<window>.png; QT_SCALE_FACTOR,
               QT_QPA_PLATFORMTHEME and GTK_THEME pass through to the program (for a dark
               desktop: QT_QPA_PLATFORMTHEME=gtk3 GTK_THEME=Adwaita:dark, which needs
               qt6-gtk-platformtheme).
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

INNER = "BRINDLE_ATSPI_INNER"
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", default=os.path.join(ROOT, "build", "bin", "brindle"))
    parser.add_argument("--output", help="write the dump here as well as to stdout")
    parser.add_argument("--shots", help="folder for a picture of every window")
    return parser.parse_args()


def restart_inside_private_session():
    """Runs this script again on its own X display and session bus."""
    for tool in ("xvfb-run", "dbus-run-session", "xdotool", "sox"):
        if shutil.which(tool) is None:
            sys.exit(f"atspi-dump: {tool} is missing; see the header of this script")
    env = dict(os.environ, **{INNER: "1"})
    command = ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24", "dbus-run-session", "--",
               sys.executable, os.path.abspath(__file__)] + sys.argv[1:]
    sys.exit(subprocess.call(command, env=env))


def run(*command):
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def make_media(folder):
    """Three long WAV files keep three jobs busy; short ones fill the lists."""
    waves = os.path.join(folder, "wave")
    mpegs = os.path.join(folder, "mpeg")
    os.makedirs(waves)
    os.makedirs(mpegs)
    for name, pitch in (("Harbour Field Recording", 220), ("Morning Raga", 330),
                        ("Symphony No 4 - Allegro", 440)):
        run("sox", "-n", "-r", "44100", "-c", "2", "-b", "16",
            os.path.join(waves, f"{name}.wav"), "synth", "900", "sine", str(pitch))
    run("sox", "-n", "-r", "22050", "-c", "1", "-b", "16", os.path.join(waves, "Doorbell.wav"),
        "synth", "3", "sine", "880")
    for name, pitch in (("Evening Song", 523), ("Night Train", 659)):
        run("sox", "-n", "-r", "44100", "-c", "2", os.path.join(mpegs, f"{name}.mp3"),
            "synth", "5", "sine", str(pitch))
    # A playlist naming a file that is gone: the program lists what it could not read.
    with open(os.path.join(folder, "gone.m3u"), "w", encoding="utf-8") as playlist:
        playlist.write(os.path.join(waves, "gone.wav") + "\n")
    return sorted(os.path.join(waves, name) for name in os.listdir(waves)) + \
        sorted(os.path.join(mpegs, name) for name in os.listdir(mpegs)) + \
        [os.path.join(folder, "gone.m3u")]


def write_settings(program, env, output_folder):
    """Lets the program write its settings file once, then sets the values needed here."""
    probe = subprocess.Popen([program], env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    window = wait_for_x_window(probe.pid, "^Brindle$")
    run("xdotool", "windowfocus", "--sync", window)
    run("xdotool", "key", "alt+f", "x")
    probe.wait(timeout=30)
    found = []
    for folder, _, names in os.walk(env["XDG_CONFIG_HOME"]):
        found += [os.path.join(folder, name) for name in names]
    if len(found) != 1:
        sys.exit(f"atspi-dump: expected one settings file, found {found}")
    with open(found[0], encoding="utf-8") as settings:
        lines = settings.read().splitlines()
    wanted = {"ConvertJobs": "3", "OpenOutputFolder": "0", "PromptCheckOption": "0",
              "SpecifyOutputFolder": "1", "PlaySound": "0", "OutputFolder": output_folder}
    changed = []
    for line in lines:
        key = line.split("=", 1)[0]
        if key in wanted:
            line = f"{key}={wanted.pop(key)}"
        changed.append(line)
    if wanted:
        sys.exit(f"atspi-dump: the settings file has no {sorted(wanted)}")
    with open(found[0], "w", encoding="utf-8") as settings:
        settings.write("\n".join(changed) + "\n")


def wait_for_x_window(pid, title, timeout=30):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        result = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid),
                                 "--name", title], capture_output=True, text=True)
        ids = result.stdout.split()
        if ids:
            return ids[-1]
        time.sleep(0.2)
    raise TimeoutError(f"no window titled {title}")


class Walker:
    def __init__(self, pyatspi, pid, out):
        self.pyatspi = pyatspi
        self.pid = pid
        self.out = out
        self.nameless = []

    def application(self, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            desktop = self.pyatspi.Registry.getDesktop(0)
            for index in range(desktop.childCount):
                app = desktop.getChildAtIndex(index)
                try:
                    if app is not None and app.get_process_id() == self.pid:
                        return app
                except Exception:
                    pass
            time.sleep(0.3)
        raise TimeoutError("the program never showed up on the accessibility bus")

    def top_levels(self):
        """The program's windows now on screen."""
        app = self.application()
        shown = []
        for index in range(app.childCount):
            window = app.getChildAtIndex(index)
            if window is not None and window.getState().contains(self.pyatspi.STATE_SHOWING):
                shown.append(window)
        return shown

    def wait_for_window(self, accept, what, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            for window in self.top_levels():
                if accept(window):
                    return window
            time.sleep(0.3)
        shown = ", ".join(self.describe(window) for window in self.top_levels())
        raise TimeoutError(f"the {what} did not open; on screen: {shown}")

    def focused(self, node):
        """The object that has the keyboard, searched below node."""
        for index in range(node.childCount):
            child = node.getChildAtIndex(index)
            if child is None:
                continue
            if child.getState().contains(self.pyatspi.STATE_FOCUSED):
                return child
            found = self.focused(child)
            if found is not None:
                return found
        return None

    def describe(self, node):
        role = node.getRoleName()
        name = node.name or ""
        return f'{role} "{name}"'

    def dump(self, window, heading):
        self.out(f"== {heading}: {self.describe(window)}")
        self.walk(window, 1, [self.describe(window)])
        self.out("")

    def walk(self, node, depth, path):
        for index in range(node.childCount):
            child = node.getChildAtIndex(index)
            if child is None:
                continue
            line = self.describe(child)
            states = child.getState()
            focusable = states.contains(self.pyatspi.STATE_FOCUSABLE)
            marks = ("  [focusable]" if focusable else "") + (
                "  [focused]" if states.contains(self.pyatspi.STATE_FOCUSED) else "")
            self.out("  " * depth + line + marks)
            # A list's cell is named by what it holds: blank is a value there, not a control
            # without a name.
            is_cell = child.getRole() == self.pyatspi.ROLE_TABLE_CELL
            if focusable and not is_cell and not (child.name or "").strip():
                self.nameless.append(" > ".join(path + [line]))
            self.walk(child, depth + 1, path + [line])


class Session:
    def __init__(self, arguments):
        self.arguments = arguments
        self.temp = tempfile.mkdtemp(prefix="brindle-atspi-")
        self.lines = []
        self.process = None
        self.program = os.path.abspath(arguments.program)

    def out(self, line):
        # The same dump from every run, wherever the temporary files went.
        line = line.replace(self.temp, "<temp>")
        print(line, flush=True)
        self.lines.append(line)

    def environment(self):
        config = os.path.join(self.temp, "config")
        runtime = os.path.join(self.temp, "runtime")
        os.makedirs(config)
        os.makedirs(runtime, mode=0o700)
        env = dict(os.environ)
        env.pop(INNER, None)
        env.update({"XDG_CONFIG_HOME": config, "XDG_RUNTIME_DIR": runtime,
                    "QT_LINUX_ACCESSIBILITY_ALWAYS_ON": "1", "QT_ACCESSIBILITY": "1",
                    "SDL_AUDIODRIVER": "dummy",
                    # GTK, loaded by its platform theme, would join the bus as a second,
                    # empty application of the same process.
                    "NO_AT_BRIDGE": "1"})
        env.pop("QT_QPA_PLATFORM", None)
        return env

    def key(self, window, *keys):
        """Gives the window the keyboard (no window manager here) and types."""
        title = "^" + (window.name or "").replace("\\", "\\\\").replace(".", "\\.") + "$"
        x_window = wait_for_x_window(self.process.pid, title)
        run("xdotool", "windowfocus", "--sync", x_window)
        time.sleep(0.3)
        for key in keys:
            run("xdotool", "key", "--clearmodifiers", key)
            time.sleep(0.4)

    def tab_to(self, walker, window, role):
        """Moves the keyboard with Tab to the first control of that role."""
        for _ in range(20):
            focused = walker.focused(window)
            if focused is not None and focused.getRoleName() == role:
                return
            self.key(window, "Tab")
        raise TimeoutError(f"Tab never reached a {role} in {window.name}")

    def shoot(self, window, name):
        if not self.arguments.shots:
            return
        title = "^" + (window.name or "").replace(".", "\\.") + "$"
        x_window = wait_for_x_window(self.process.pid, title)
        time.sleep(0.8)  # let the window finish painting
        os.makedirs(self.arguments.shots, exist_ok=True)
        target = os.path.join(self.arguments.shots, name + ".png")
        xwd = subprocess.run(["xwd", "-id", x_window, "-silent"], check=True,
                             capture_output=True)
        subprocess.run(["convert", "xwd:-", target], input=xwd.stdout, check=True)

    def main(self):
        import pyatspi

        env = self.environment()
        files = make_media(os.path.join(self.temp, "media"))
        output_folder = os.path.join(self.temp, "converted")
        os.makedirs(output_folder)
        write_settings(self.program, env, output_folder)

        # The registry must be up before the program starts, or the program never joins it.
        pyatspi.Registry.getDesktop(0)
        self.process = subprocess.Popen([self.program] + files, env=env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        walker = Walker(pyatspi, self.process.pid, self.out)
        role = pyatspi

        def main_window(window):
            return window.getRole() == role.ROLE_FRAME and window.name == "Brindle"

        def other_than(*known):
            names = set(known)
            return lambda window: not main_window(window) and (
                not names or window.name in names)

        def open_dialog(what, keys, accept, shot):
            main = walker.wait_for_window(main_window, "main window")
            self.key(main, *keys)
            dialog = walker.wait_for_window(accept, what)
            time.sleep(0.5)
            walker.dump(dialog, what)
            self.shoot(dialog, shot)
            self.key(dialog, "Escape")
            walker_wait_closed(dialog.name)

        def walker_wait_closed(name, timeout=15):
            deadline = time.monotonic() + timeout
            while time.monotonic() < deadline:
                if not any(w.name == name and not main_window(w) for w in walker.top_levels()):
                    return
                time.sleep(0.3)
            raise TimeoutError(f"{name} did not close")

        try:
            # The broken file is reported in the error list as soon as the files are listed.
            errors = walker.wait_for_window(other_than(), "error list")
            time.sleep(0.5)
            walker.dump(errors, "error list")
            self.shoot(errors, "errors")
            self.key(errors, "Escape")
            walker_wait_closed(errors.name)

            main = walker.wait_for_window(main_window, "main window")
            walker.dump(main, "main window (WAV list)")
            self.shoot(main, "main-wave")

            open_dialog("options", ["F4"], other_than("Options"), "options")
            # The first file of the list (Home alone selects nothing when the first row is
            # current already), its information, then the player on it.
            self.tab_to(walker, main, "tree")
            open_dialog("WAV information", ["Home", "space", "alt+a", "v"], other_than("WAV file info"),
                        "wave-info")
            open_dialog("player", ["alt+a", "p"],
                        other_than("", "Stopped", "Playing...", "Paused", "Eof"), "player")
            open_dialog("about box", ["alt+h", "a"], other_than("About Brindle"), "about")
            main = walker.wait_for_window(main_window, "main window")
            # Ctrl+Tab from the list goes to the other list.
            self.key(main, "ctrl+Tab")
            walker.dump(main, "main window (MPEG list)")
            self.shoot(main, "main-mpeg")
            # The MPEG information shares its window with the tag editor.
            open_dialog("MPEG information and tag editor", ["Home", "space", "alt+a", "v"],
                        other_than("MPEG File Info & ID3 Tag Editor"), "mpeg-info")

            main = walker.wait_for_window(main_window, "main window")
            self.key(main, "ctrl+Tab")

            # Every WAV file at once: three long ones run side by side.
            main = walker.wait_for_window(main_window, "main window")
            self.key(main, "ctrl+a", "F9")
            conversion = walker.wait_for_window(
                lambda w: not main_window(w) and (w.name or "").startswith("File "),
                "conversion window")
            time.sleep(2)
            walker.dump(conversion, "conversion window")
            self.shoot(conversion, "conversion")
        except TimeoutError as error:
            self.out(f"atspi-dump: {error}")
            return 2
        finally:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.process.kill()
            shutil.rmtree(self.temp, ignore_errors=True)

        self.out("== focusable objects without a name")
        for path in walker.nameless:
            self.out(path)
        self.out(f"{len(walker.nameless)} found")
        return 1 if walker.nameless else 0


def main():
    arguments = parse_arguments()
    if not os.environ.get(INNER):
        restart_inside_private_session()
    session = Session(arguments)
    status = session.main()
    if arguments.output:
        with open(arguments.output, "w", encoding="utf-8") as output:
            output.write("\n".join(session.lines) + "\n")
    return status


if __name__ == "__main__":
    sys.exit(main())
