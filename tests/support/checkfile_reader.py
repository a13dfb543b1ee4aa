"""Reads a checker file independently of the C++ code, and names the default messages it holds."""
import struct

# The messages a checker carries when it is given none: for a missing folder and for a missing
# file both lines, for a damaged file the first one alone.
LINE1 = "ダウンロードからやり直してください."
LINE2 = "また、フォルダ構造ごと解凍しているか確認してください."
TWO_LINES = LINE1 + "\n" + LINE2
DEFAULT_MESSAGES = [TWO_LINES, TWO_LINES, LINE1]


class CheckFile:
    def __init__(self, data: bytes):
        if len(data) < 16 or data[-16:-12] != b"VXR!":
            raise ValueError("no trailer")
        self.size, self.total = struct.unpack("<IQ", data[-12:])
        self.image = data[: len(data) - 16 - self.size]
        block = data[len(data) - 16 - self.size : len(data) - 16]
        self.block = block
        if not block.endswith(b"\0"):
            raise ValueError("block does not end with a NUL")
        strings = block[:-1].split(b"\0")
        # As the readers made before any extension: everything after a third separator is skipped.
        sections = [[], [], []]
        section = 0
        for at, s in enumerate(strings):
            if s == b"|":
                section += 1
                if section == 3:
                    break
                continue
            sections[section].append(s)
        self.folders = sections[0]
        self.records = sections[1]
        self.messages = sections[2]
        # path (cp932 bytes) -> digest text
        self.files = {r[33:]: r[:32].decode("ascii") for r in self.records}
        # The extension of the names code page 932 cannot write, read on its own: its name, the
        # UTF-8 folders, a separator, the UTF-8 file records, a separator.
        self.utf8_folders, self.utf8_files = [], {}
        rest = strings[at + 1:] if section == 3 else []
        if rest[:1] == [b"utf8"]:
            end = rest.index(b"|", 1)
            close = rest.index(b"|", end + 1)
            self.utf8_folders = [f.decode("utf-8") for f in rest[1:end]]
            self.utf8_files = {r[33:].decode("utf-8"): r[:32].decode("ascii") for r in rest[end + 1:close]}

    @classmethod
    def load(cls, path):
        with open(path, "rb") as f:
            return cls(f.read())
