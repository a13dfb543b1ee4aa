"""Reads a Windows program's PE file, independently of the C++ code: the machine, the header's
time stamp, imports, resources, the file properties (VERSIONINFO), the manifest and dialog
templates. With the shipped checker's goals, which the checker image test and the release test
both hold it to.
"""
import struct
import xml.etree.ElementTree as ElementTree

# The shipped checker runs on a bare Windows installation and stays small without a packer:
# 16,384 bytes until it took paths beyond 260 bytes (17,408), then names in UTF-8 (17,920),
# then named its own path too long where it does not fit (18,432).
SIZE_GOAL = 20480
ALLOWED_DLLS = {"KERNEL32.DLL", "USER32.DLL"}

LANG_JAPANESE = 0x0411
RT_ICON, RT_DIALOG, RT_RCDATA, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 10, 14, 16, 24
DS_SETFONT = 0x40


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE header")
        self.machine, sections, self.timestamp, _, _, optional_size, _ = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        self.subsystem = struct.unpack_from("<H", data, optional + 68)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(16)]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            name, vsize, va, rawsize, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("ascii", "replace"), va, max(vsize, rawsize), raw))

    def offset(self, rva):
        for _, va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError("RVA 0x%x outside every section" % rva)

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        """{dll: [function names]} from the import directory."""
        rva, _ = self.directories[1]
        result = {}
        if rva == 0:
            return result
        at = self.offset(rva)
        while True:
            lookup, _, _, name, first = struct.unpack_from("<IIIII", self.data, at)
            if name == 0:
                break
            functions = []
            thunk = self.offset(lookup or first)
            # PE32+ (x86-64) thunks are 64 bits wide, with the ordinal flag in the top bit.
            wide = self.magic == 0x20B
            width, ordinal_flag = (8, 1 << 63) if wide else (4, 0x80000000)
            while True:
                entry = struct.unpack_from("<Q" if wide else "<I", self.data, thunk)[0]
                if entry == 0:
                    break
                functions.append("#%d" % (entry & 0xFFFF) if entry & ordinal_flag else self.cstring(entry + 2))
                thunk += width
            result[self.cstring(name)] = functions
            at += 20
        # Delay-loaded DLLs would bring in libraries behind the import table's back.
        delay_rva, _ = self.directories[13]
        if delay_rva:
            result["<delay-load directory>"] = []
        return result

    def resources(self):
        """{(type, name, language): bytes}; names are ints or upper-case strings."""
        rva, _ = self.directories[2]
        if rva == 0:
            return {}
        base = self.offset(rva)
        found = {}

        def label(entry_name):
            if entry_name & 0x80000000:
                at = base + (entry_name & 0x7FFFFFFF)
                length = struct.unpack_from("<H", self.data, at)[0]
                return self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le").upper()
            return entry_name

        def walk(at, path):
            named, ids = struct.unpack_from("<HH", self.data, at + 12)
            for i in range(named + ids):
                entry_name, target = struct.unpack_from("<II", self.data, at + 16 + 8 * i)
                key = path + (label(entry_name),)
                if target & 0x80000000:
                    walk(base + (target & 0x7FFFFFFF), key)
                else:
                    data_rva, size = struct.unpack_from("<II", self.data, base + target)
                    start = self.offset(data_rva)
                    found[key] = self.data[start:start + size]

        walk(base, ())
        return found


# Windows Vista, 7, 8, 8.1 and 10/11, as the compatibility section names them.
SUPPORTED_OS = {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}


def manifest_checks(resources):
    """[(what, ok, detail)] for the program manifest (resource 1 of type 24): runs as the
    invoker, names Vista to 10/11, per-monitor v2 DPI awareness falling back to system-wide."""
    found = [v for k, v in resources.items() if k[0] == RT_MANIFEST and k[1] == 1]
    if len(found) != 1:
        return [("one manifest, resource 1", False, sorted(k for k in resources if k[0] == RT_MANIFEST))]
    root = ElementTree.fromstring(found[0])
    everything = list(root.iter())

    def named(local):
        return [e for e in everything if e.tag.rsplit("}", 1)[-1] == local]

    levels = [e.get("level") for e in named("requestedExecutionLevel")]
    systems = {e.get("Id") for e in named("supportedOS")}
    aware = [(e.text or "").strip() for e in named("dpiAware")]
    awareness = [[w.strip() for w in (e.text or "").split(",")] for e in named("dpiAwareness")]
    return [
        ("manifest: asInvoker", levels == ["asInvoker"], levels),
        ("manifest: supportedOS Vista to 10/11", systems == SUPPORTED_OS, sorted(systems)),
        ("manifest: per-monitor v2 DPI awareness, system-wide before it",
         awareness == [["PerMonitorV2", "System"]] and aware == ["true"], (awareness, aware)),
    ]


def parse_version_info(block):
    """VS_VERSIONINFO: ({"FileVersion": (major, minor, patch, build), "ProductVersion": ...},
    {string-table key: {name: value}}, [translations as (language, code page)])."""
    def node(at):
        length, value_length, is_text = struct.unpack_from("<HHH", block, at)
        end = block.index(b"\0\0", at + 6)
        while (end - at) % 2:
            end = block.index(b"\0\0", end + 1)
        key = block[at + 6:end].decode("utf-16-le")
        value_at = (end + 2 + 3) & ~3
        value_size = value_length * 2 if is_text else value_length
        value = block[value_at:value_at + value_size]
        children = []
        child = (value_at + value_size + 3) & ~3
        while child < at + length:
            children.append(node(child))
            child = (child + children[-1][3] + 3) & ~3
        return key, (value.decode("utf-16-le").rstrip("\0") if is_text else value), children, length

    key, fixed, children, _ = node(0)
    if key != "VS_VERSION_INFO" or len(fixed) < 52 or struct.unpack_from("<I", fixed, 0)[0] != 0xFEEF04BD:
        raise ValueError("no VS_VERSION_INFO block")
    ms, ls, pms, pls = struct.unpack_from("<IIII", fixed, 8)
    numbers = {"FileVersion": (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF),
               "ProductVersion": (pms >> 16, pms & 0xFFFF, pls >> 16, pls & 0xFFFF)}
    tables, translations = {}, []
    for name, _, kids, _ in children:
        if name == "StringFileInfo":
            for table, _, strings, _ in kids:
                tables[table] = {k: v for k, v, _, _ in strings}
        elif name == "VarFileInfo":
            for _, value, _, _ in kids:
                translations += [struct.unpack_from("<HH", value, i) for i in range(0, len(value), 4)]
    return numbers, tables, translations


def parse_dialog(template):
    """The classic DIALOG template: style, size, caption, font and controls."""
    def ordinal_or_text(at):
        first = struct.unpack_from("<H", template, at)[0]
        if first == 0xFFFF:
            return struct.unpack_from("<H", template, at + 2)[0], at + 4
        end = at
        while struct.unpack_from("<H", template, end)[0] != 0:
            end += 2
        return template[at:end].decode("utf-16-le"), end + 2

    style, exstyle, count, x, y, cx, cy = struct.unpack_from("<IIHhhhh", template, 0)
    at = 18
    menu, at = ordinal_or_text(at)
    klass, at = ordinal_or_text(at)
    caption, at = ordinal_or_text(at)
    font = None
    if style & DS_SETFONT:
        points = struct.unpack_from("<H", template, at)[0]
        face, at = ordinal_or_text(at + 2)
        font = (face, points)
    controls = []
    for _ in range(count):
        at = (at + 3) & ~3
        cstyle, cex, cx0, cy0, ccx, ccy, cid = struct.unpack_from("<IIhhhhH", template, at)
        at += 18
        cclass, at = ordinal_or_text(at)
        text, at = ordinal_or_text(at)
        extra = struct.unpack_from("<H", template, at)[0]
        at += 2 + extra
        controls.append({"id": cid, "class": cclass, "text": text, "rect": (cx0, cy0, ccx, ccy),
                         "style": cstyle})
    return {"style": style, "rect": (x, y, cx, cy), "caption": caption, "font": font,
            "menu": menu, "class": klass, "controls": controls}
