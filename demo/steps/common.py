"""What every step of the demo shares: the Demo object with the facts and the
running processes of one run, the account printed for the user, the failure
that ends a step, and small helpers around Wine."""
import pathlib
import subprocess
import time

from steps import ROOT  # noqa: F401 (the steps take it from here)
from updater_e2e_test import INSTALLER, VERSION_FILE, texts  # noqa: F401 (the file names, for the steps too)

PRODUCT_KEY = r"HKLM\Software\Orvanta\58P7M_WRZ"
PRODUCT_PROCESS = "TokenManager.exe"
PRODUCT_DLL = "R7Token.dll"
INSTALLED_VERSION, NEW_VERSION = 3, 9
ATTACKER_VERSION = 10  # what an attacker's edited announcement offers
DOWNLOAD_SECONDS = 6  # how long the installer takes to arrive, at the rate nginx is held to
IDOK, IDCANCEL, IDRETRY = 1, 2, 4

# The lead-in of the installer's prompt, langs\<id>.ini in the install folder.
# The plug-in reads the file of the system's default language.
PROMPT_LEAD_INS = {
    1033: "The Orvanta token software is being updated. Close these programs, then click Retry:",
    1031: "Die Orvanta-Token-Software wird aktualisiert. Schließen Sie diese Programme und klicken Sie "
          "dann auf Wiederholen:",
    1036: "Le logiciel du jeton Orvanta est en cours de mise à jour. Fermez ces programmes, puis cliquez "
          "sur Réessayer :",
    2052: "正在更新 Orvanta 令牌软件。请关闭以下程序，然后单击“重试”：",
}


class DemoFailed(Exception):
    pass


class Account:
    """The running account printed for the user: one line per thing that
    happened, with the time since the start."""

    def __init__(self):
        self.start = time.monotonic()
        self.step = "starting"

    def begin(self, step):
        self.step = step
        self.say(step)

    def say(self, text):
        elapsed = int(time.monotonic() - self.start)
        print(f"[{elapsed // 60}:{elapsed % 60:02d}] {text}", flush=True)

    def detail(self, text):
        print(f"       {text}", flush=True)


class Demo:
    """One run of the demo: where things are, and what the steps have made
    and started so far. A step reads what earlier steps left here and adds
    its own."""

    def __init__(self, args, account):
        self.account = account
        self.bin = pathlib.Path(args.build_dir) / "bin"
        self.prefix = pathlib.Path(args.prefix)
        self.wow64 = args.arch == "win64"
        self.work = pathlib.Path(args.work_dir)
        self.shots = pathlib.Path(args.screenshots_dir)
        program_files = "Program Files (x86)" if self.wow64 else "Program Files"
        self.install_win = f"C:\\{program_files}\\Orvanta\\Token"
        self.install_dir = self.prefix / "drive_c" / program_files / "Orvanta" / "Token"
        self.shared_dir = self.prefix / "drive_c" / "ProgramData" / "Orvanta" / "TokenShared"
        self.english = texts(1033)
        # Made by the steps: publishing
        self.pki = None             # the throw-away code-signing authority
        self.installer = None       # the signed installer, as built
        self.served = None          # the folder nginx serves
        # prefix and server
        self.server = None          # nginx
        self.base_url = None
        self.system_language = None
        self.holder_ready = None    # the file TokenManager.exe writes once it holds its DLL
        self.holder = None          # TokenManager.exe
        # windows
        self.driver = None          # window_driver.exe
        self.updater = None         # the running Quillon.exe

    def read_install_log(self):
        try:
            text = (self.install_dir / "update.log").read_text(encoding="utf-16")
        except (OSError, UnicodeError):
            return {}
        return dict(line.split("=", 1) for line in text.splitlines() if "=" in line)


def windows_path(path):
    """Wine maps the Unix root to drive Z:."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def wait_until(predicate, timeout, interval=0.2):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(interval)
    return predicate()


def quiet(command, timeout=120, check=True):
    done = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=timeout)
    if check and done.returncode != 0:
        raise DemoFailed(f"{' '.join(map(str, command))} failed ({done.returncode}): "
                         f"{(done.stdout + done.stderr).strip()}")
    return done


def reg(wow64, action, key, *args, check=True):
    """wine reg on the view the 32-bit updater sees."""
    view = ["/reg:32"] if wow64 else []
    return quiet(["wine", "reg", action, key, *args, *view], check=check)


def reg_value(wow64, key, name):
    """The value's data as reg prints it (DWORDs as 0x..), or None."""
    done = reg(wow64, "query", key, "/v", name, check=False)
    for line in done.stdout.splitlines():
        fields = line.split(None, 2)
        if len(fields) == 3 and fields[0] == name:
            return fields[2].strip()
    return None
