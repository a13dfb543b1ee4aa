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
        sections = [[], [], []]
        section = 0
        for s in strings:
            if s == b"|":
                section += 1
                continue
            sections[section].append(s)
        self.folders = sections[0]
        self.records = sections[1]
        self.messages = sections[2]
        # path (cp932 bytes) -> digest text
        self.files = {r[33:]: r[:32].decode("ascii") for r in self.records}

    @classmethod
    def load(cls, path):
        with open(path, "rb") as f:
            return cls(f.read())
