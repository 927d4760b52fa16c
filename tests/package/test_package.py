"""The program as a user installs it: `cmake --install` into a temporary
prefix gives a tree that runs where it lies, with a valid menu entry,
metainfo, icon, manual page and help document; the Debian package made by
CPack from the same build passes lintian, installs with apt-get, starts
through its menu entry under Xvfb into the user's data directory, is the
handler that a clicked mailto: link reaches, and removes cleanly.

Usage: test_package.py BUILD_DIR (run by ctest as package:install and
package:deb; a scenario by name as with the window tests)."""

import glob
import os
import re
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "gui"))
from omailgui import Session, check, run, store_path, wait_for  # noqa: E402

BUILD = os.path.abspath(sys.argv.pop(1)) if len(sys.argv) > 1 else ""
APP_ID = "org.orrindel.mail"
LIBRARIES = ["libplatform.so", "libtorvakit.so", "libnetwire.so", "libwhoprobe.so"]


def sh(*args, **kw):
    return subprocess.run(list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, **kw)


def runpath(binary):
    out = sh("readelf", "-d", binary).stdout
    found = re.search(r"\((?:RUNPATH|RPATH)\)\s+Library (?:runpath|rpath): \[([^\]]*)\]", out)
    return found.group(1) if found else ""


def validate_desktop_files(root):
    desktop = os.path.join(root, "share", "applications", APP_ID + ".desktop")
    result = sh("desktop-file-validate", desktop)
    check(result.returncode == 0 and not result.stdout.strip(), "desktop-file-validate: " + result.stdout)
    text = open(desktop).read()
    check("\nMimeType=x-scheme-handler/mailto;\n" in text and "\nExec=omail %u\n" in text, text)
    result = sh("appstreamcli", "validate", "--no-net", os.path.join(root, "share", "metainfo", APP_ID + ".metainfo.xml"))
    check(result.returncode == 0, "appstreamcli: " + result.stdout)
    icon = open(os.path.join(root, "share", "icons", "hicolor", "scalable", "apps", APP_ID + ".svg")).read()
    check("<svg" in icon, "the icon is an SVG")
    man = sh("sh", "-c", "zcat '%s' | MANWIDTH=80 man -l -" % os.path.join(root, "share", "man", "man1", "omail.1.gz"))
    check(man.returncode == 0 and "mailto:" in man.stdout and "orrindel-mail" in man.stdout, man.stdout[:400])
    check(os.path.getsize(os.path.join(root, "share", "doc", "omail", "mail.md")) > 0, "the help document")


def wait_locked(data, process):
    wait_for(lambda: os.path.exists(os.path.join(data, "FILE.LOK")) or process.poll() is not None, 20, 0.1,
             "the program to take its data directory")
    check(process.poll() is None, "the installed program runs")


def installed_tree_is_complete_and_runs_where_it_lies():
    work = tempfile.mkdtemp(prefix="omail-install-")
    try:
        prefix = os.path.join(work, "first")
        result = sh("cmake", "--install", BUILD, "--prefix", prefix)
        check(result.returncode == 0, result.stdout)
        for lib in LIBRARIES:
            path = os.path.join(prefix, "lib", "omail", lib)
            check(os.path.isfile(path), "installed: " + path)
            check(runpath(path) == "$ORIGIN", "%s finds its siblings: %r" % (lib, runpath(path)))
        check(runpath(os.path.join(prefix, "bin", "omail")) == "$ORIGIN/../lib/omail", "the program's run path")
        validate_desktop_files(prefix)
        # Moved elsewhere, the tree still finds its own libraries, not the build's.
        moved = os.path.join(work, "moved")
        os.rename(prefix, moved)
        program = os.path.join(moved, "bin", "omail")
        ldd = sh("ldd", program).stdout
        check("not found" not in ldd, ldd)
        check(re.search(r"libtorvakit\.so => %s/(bin/\.\./)?lib/omail/libtorvakit\.so" % re.escape(moved), ldd), ldd)
        data = os.path.join(work, "data")
        os.mkdir(data)
        env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=work)
        app = subprocess.Popen([program, data], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            wait_locked(data, app)
        finally:
            app.send_signal(signal.SIGTERM)
            app.wait(10)
    finally:
        shutil.rmtree(work, ignore_errors=True)


def menu_command(desktop_file):
    """The installed menu entry's command as a launcher runs it without a
    link: Exec with its field codes dropped, found on PATH."""
    with open(desktop_file) as f:
        exec_line = re.search(r"^Exec=(.*)$", f.read(), re.M).group(1)
    words = [w for w in exec_line.split() if not re.fullmatch(r"%[a-zA-Z]", w)]
    return [shutil.which(words[0]) or words[0]] + words[1:]


class InstalledSession(Session):
    """The installed program started as the menu starts it: its entry's
    command in the home directory."""

    def __init__(self, home, command):
        super().__init__(home, "installed")
        self.command = command
        self.env["HOME"] = home
        self.env.pop("XDG_DATA_HOME", None)

    def launch(self):
        self.log = open(self.data + ".log", "ab")
        self.app = subprocess.Popen(self.command, cwd=self.data, env=self.env, stdout=self.log, stderr=self.log)


def clicking_a_mailto_link_opens_the_installed_programs_compose_window(home, command):
    """xdg-open, as a browser or a desktop hands over a clicked link, finds
    the installed entry as the handler of mailto: and the running program
    opens the compose window."""
    data = os.path.join(home, ".local", "share", "orrindel-mail")
    with open(os.path.join(data, "omail.ini"), "w") as f:
        f.write("[general]\nmleft=0\nmtop=0\nmwidth=640\nmheight=480\nrname=Ann\nemail=ann@gui.test\n"
                "user=ann\npop=gui.test\ntimez=+0000\n")
    handler = sh("xdg-mime", "query", "default", "x-scheme-handler/mailto", env=dict(os.environ, HOME=home))
    check(handler.stdout.strip() == APP_ID + ".desktop", "the mailto: handler: " + handler.stdout)
    with InstalledSession(home, command) as s:
        link = "mailto:bob@gui.test?subject=from%20a%20page&body=clicked"
        opened = sh("xdg-open", link, cwd=home, env=s.env, timeout=30)
        check(opened.returncode == 0, "xdg-open: " + opened.stdout)
        compose = wait_for(lambda: s.find_window(r"^compose - orrindel mail - new message$"), 20, 0.1,
                           "the compose window of the running program")
        s.screenshot_png("clicked-link")
        s.focus(compose)
        s.key("alt+c")
        s.focus(compose)
        s.key("Return")  # "&compose", "&ok"
        header = os.path.join(store_path(data, "out"), "N0000000.omh")
        wait_for(lambda: os.path.exists(header), 10, 0.1, "the item in the outbox")
        text = open(header, newline="").read()
        check(text.startswith("To: bob@gui.test\r\n") and "\r\nSubject: from a page\r\n" in text, text)


def apt(*args):
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    return sh("apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=300", *args, env=env)


def debian_package_passes_lintian_installs_starts_and_removes():
    work = tempfile.mkdtemp(prefix="omail-deb-")
    try:
        result = sh("cpack", "-G", "DEB", "-B", work, "--config", os.path.join(BUILD, "CPackConfig.cmake"))
        check(result.returncode == 0, result.stdout)
        debs = glob.glob(os.path.join(work, "omail_*.deb"))
        check(len(debs) == 1, "one package: %s" % os.listdir(work))
        deb = debs[0]
        fields = sh("dpkg-deb", "-f", deb).stdout
        depends = re.search(r"^Depends: (.*)$", fields, re.M)
        check(depends and all(p in depends.group(1) for p in ("libqt6widgets6", "libssl3", "qt6-qpa-plugins")),
              "dependencies found from the libraries: " + fields)
        lint = sh("lintian", "--tag-display-limit", "0", deb)
        print(lint.stdout, end="")
        check(not re.search(r"^E: ", lint.stdout, re.M), "lintian reports errors")
        if os.geteuid() != 0:
            print("SKIP: installing the package needs root")
            return
        if sh("dpkg-query", "-W", "-f=${Status}", "omail").stdout.startswith("install ok"):
            print("SKIP: omail is already installed on this machine; not touching it")
            return
        result = apt("install", "--no-install-recommends", deb)
        check(result.returncode == 0, result.stdout)
        try:
            check(os.access("/usr/bin/omail", os.X_OK), "installed in /usr/bin")
            check(sh("desktop-file-validate", "/usr/share/applications/%s.desktop" % APP_ID).returncode == 0,
                  "the installed menu entry")
            home = os.path.join(work, "home")
            os.mkdir(home)
            command = menu_command("/usr/share/applications/%s.desktop" % APP_ID)
            check(command == ["/usr/bin/omail"], "the menu starts the installed program: %s" % command)
            with InstalledSession(home, command) as s:
                s.screenshot_png("started")
                data = os.path.join(home, ".local", "share", "orrindel-mail")
                check(stat.S_IMODE(os.stat(data).st_mode) == 0o700, "the user's data directory, private")
                check(os.path.exists(os.path.join(data, "FILE.LOK")), "in use by the installed program")
            clicking_a_mailto_link_opens_the_installed_programs_compose_window(home, command)
        finally:
            result = apt("purge", "omail")
            check(result.returncode == 0, result.stdout)
        left = [p for p in ("/usr/bin/omail", "/usr/lib/omail", "/usr/share/doc/omail",
                            "/usr/share/applications/%s.desktop" % APP_ID) if os.path.exists(p)]
        check(not left, "removed cleanly, yet left: %s" % left)
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    check(os.path.isfile(os.path.join(BUILD, "CPackConfig.cmake")), "usage: test_package.py BUILD_DIR [SCENARIO]")
    run([installed_tree_is_complete_and_runs_where_it_lies, debian_package_passes_lintian_installs_starts_and_removes])
