"""tarvok-convert run with its standard error on a pseudo-terminal."""

import fcntl
import os
import pty
import select
import signal
import struct
import subprocess
import termios

def set_size(fd, rows, cols):
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))


def run_on_pty(tool, arguments, size=None, resize_to=None, resize_when=None):
    """What the program drew, its exit status, and the offset in what was
    drawn where the terminal took resize_to (once resize_when(shown) held)."""
    leader, follower = pty.openpty()
    if size is not None:
        set_size(follower, *size)
    process = subprocess.Popen([tool, *arguments], stdout=subprocess.DEVNULL, stderr=follower)
    os.close(follower)
    shown = b""
    resized_at = None
    try:
        while True:
            ready, _, _ = select.select([leader], [], [], 30)
            if not ready:
                break
            try:
                chunk = os.read(leader, 65536)
            except OSError:  # EIO once the last writer is gone
                break
            if not chunk:
                break
            shown += chunk
            if resize_to is not None and resized_at is None and resize_when(shown):
                set_size(leader, *resize_to)
                resized_at = len(shown)
                process.send_signal(signal.SIGWINCH)
    finally:
        os.close(leader)
    return shown, process.wait(timeout=60), resized_at
