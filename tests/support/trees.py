"""Folders of files for the programs under test to build checkers over."""
import os


def write_tree(folder, files):
    """Fills `folder` (made if missing) with `files`: {relative path: bytes, or an int for a
    sparse file of that size, which costs no disk}; a relative path ending in "/" is an empty
    folder. Returns `folder`."""
    os.makedirs(folder, exist_ok=True)
    for relative, content in files.items():
        full = os.path.join(folder, relative)
        if relative.endswith("/"):
            os.makedirs(full, exist_ok=True)
            continue
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            if isinstance(content, int):
                f.truncate(content)
            else:
                f.write(content)
    return folder
