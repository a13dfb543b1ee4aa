"""What the benchmark scripts do with a generated tree's files: list them, and read them once."""
import os


def files_under(path):
    out = []
    for folder, _, names in os.walk(path):
        out += [os.path.join(folder, n) for n in names]
    return out


def warm(path):
    """Reads every file once, so that the timings come from the page cache."""
    for f in files_under(path):
        with open(f, "rb") as fh:
            while fh.read(1 << 20):
                pass
