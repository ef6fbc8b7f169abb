"""Screenshots of what the user sees: the update dialog and the message box in
front of it, with the frames and title bars that Wine draws on its virtual
desktop (scripts/wine-session.sh puts every window of a session there),
cropped to those windows.

    take(driver, target)    driver: a window_driver.exe session (Driver)

window_driver.exe answers each window's rectangle in the desktop's
coordinates; ImageMagick grabs the desktop's X window and crops it."""
import os
import pathlib
import subprocess
import time

# The X window of Wine's virtual desktop is titled "<desktop name> - Wine
# desktop"; scripts/wine-session.sh names the session's desktop in
# QUILLON_WINE_DESKTOP.
DESKTOP_TITLE = " - Wine desktop"
WINDOWS = ("dialog", "msgbox")


def parse_rect(reply):
    """(left, top, right, bottom) from window_driver's "rect" answer, or None
    when the window is not shown (or the answer is not a rectangle)."""
    fields = reply.split()
    if len(fields) != 4:
        return None
    try:
        left, top, right, bottom = map(int, fields)
    except ValueError:
        return None
    return (left, top, right, bottom) if right > left and bottom > top else None


def crop_geometry(rects, width, height):
    """ImageMagick's WxH+X+Y for the smallest rectangle that holds every
    rectangle, clipped to a desktop of width x height; None when nothing of
    them lies on the desktop."""
    if not rects:
        return None
    left = max(0, min(r[0] for r in rects))
    top = max(0, min(r[1] for r in rects))
    right = min(width, max(r[2] for r in rects))
    bottom = min(height, max(r[3] for r in rects))
    if right <= left or bottom <= top:
        return None
    return f"{right - left}x{bottom - top}+{left}+{top}"


def desktop_window():
    """(X id, width, height) of Wine's virtual desktop, or of the root window
    when the session runs without one (window coordinates are the screen's then)."""
    name = os.environ.get("QUILLON_WINE_DESKTOP")
    # The name is letters, digits and a hyphen: nothing a regular expression reads specially.
    pattern = f"^{name}{DESKTOP_TITLE}$" if name else f"{DESKTOP_TITLE}$"
    found = subprocess.run(["xdotool", "search", "--name", pattern], capture_output=True,
                           text=True, timeout=30).stdout.split()
    window = found[0] if found else "root"
    size = subprocess.run(["xdotool", "getwindowgeometry", "--shell", found[0]] if found
                          else ["xdotool", "getdisplaygeometry", "--shell"],
                          capture_output=True, text=True, timeout=30).stdout
    values = dict(line.split("=", 1) for line in size.splitlines() if "=" in line)
    return window, int(values.get("WIDTH", 0)), int(values.get("HEIGHT", 0))


def take(driver, target, windows=WINDOWS):
    """Saves the shown ones of `windows` ("dialog", "msgbox") to target (PNG),
    cropped to them. Returns target, or None when none of them is shown."""
    target = pathlib.Path(target)
    target.parent.mkdir(parents=True, exist_ok=True)
    time.sleep(0.5)  # let a window that has just opened finish painting
    rects = [rect for rect in (parse_rect(driver(f"rect {which}")) for which in windows) if rect]
    window, width, height = desktop_window()
    geometry = crop_geometry(rects, width, height)
    if geometry is None:
        return None
    target.unlink(missing_ok=True)
    subprocess.run(["import", "-window", window, "-crop", geometry, "+repage", str(target)],
                   capture_output=True, timeout=30)
    return target if target.is_file() else None
