"""Reading what a program started on a pseudo-terminal (pty.fork) writes there."""
import os


def read_to_end(fd):
    """What a program on the pseudo-terminal `fd` still writes, up to the end of its side."""
    out = b""
    while True:
        try:
            chunk = os.read(fd, 4096)
        except OSError:  # EIO: the program has ended and its terminal is gone
            break
        if not chunk:
            break
        out += chunk
    return out
