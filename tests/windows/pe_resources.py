"""Reads the resources of a Windows program (PE32+) straight from its file:
the version resource's fixed version and strings, the icon sizes and the
manifest. No Windows or Wine needed.

    python3 pe_resources.py PROGRAM.exe    # prints what it found as JSON
"""
import json
import struct
import sys

RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 14, 16, 24


class PEFile:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError(f"{path}: not a Windows program")
        pe = struct.unpack_from("<I", d, 0x3C)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError(f"{path}: no PE header")
        sections, optional_size = struct.unpack_from("<H12xH", d, pe + 6)
        opt = pe + 24
        magic = struct.unpack_from("<H", d, opt)[0]
        dirs = opt + (112 if magic == 0x20B else 96)
        self.resource_rva = struct.unpack_from("<I", d, dirs + 2 * 8)[0]
        self.sections = []
        for i in range(sections):
            s = opt + optional_size + 40 * i
            vsize, va, rsize, raw = struct.unpack_from("<IIII", d, s + 8)
            self.sections.append((va, max(vsize, rsize), raw))

    def offset(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return raw + rva - va
        raise ValueError(f"address {rva:#x} is in no section")

    def resources(self):
        """{type: {name or id: bytes}}, the first language of each."""
        if not self.resource_rva:
            return {}
        base = self.offset(self.resource_rva)
        d = self.data

        def entries(table):
            named, ids = struct.unpack_from("<12xHH", d, base + table)
            for i in range(named + ids):
                name, target = struct.unpack_from("<II", d, base + table + 16 + 8 * i)
                if name & 0x80000000:
                    at = base + (name & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", d, at)[0]
                    name = d[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield name, target

        found = {}
        for rtype, t in entries(0):
            for name, n in entries(t & 0x7FFFFFFF):
                lang_target = next(entries(n & 0x7FFFFFFF))[1] if n & 0x80000000 else n
                rva, size = struct.unpack_from("<II", d, base + lang_target)
                at = self.offset(rva)
                found.setdefault(rtype, {})[name] = d[at:at + size]
        return found


def _version_info(block):
    """The fixed file and product versions and the strings of a VS_VERSIONINFO."""
    result = {"strings": {}}

    def walk(at, end, path):
        while at + 6 <= end:
            length, value_length, kind = struct.unpack_from("<HHH", block, at)
            if length == 0:
                break
            key_end = at + 6
            while block[key_end:key_end + 2] != b"\0\0":
                key_end += 2
            key = block[at + 6:key_end].decode("utf-16-le")
            value_at = (key_end + 2 + 3) & ~3
            if key == "VS_VERSION_INFO" and value_length:
                sig, _, fms, fls, pms, pls = struct.unpack_from("<IIIIII", block, value_at)
                if sig == 0xFEEF04BD:
                    result["file_version"] = f"{fms >> 16}.{fms & 0xFFFF}.{fls >> 16}.{fls & 0xFFFF}"
                    result["product_version"] = f"{pms >> 16}.{pms & 0xFFFF}.{pls >> 16}.{pls & 0xFFFF}"
            if len(path) == 2 and path[0] == "StringFileInfo":
                # A string: value_length counts UTF-16 units, the ending zero included.
                text = block[value_at:value_at + 2 * value_length].decode("utf-16-le").rstrip("\0")
                result["strings"][key] = text
            else:
                children = value_at + (value_length if kind == 0 else 2 * value_length)
                walk((children + 3) & ~3, at + length, (path + [key]) if key != "VS_VERSION_INFO" else [])
            at = (at + length + 3) & ~3

    walk(0, len(block), [])
    return result


def read(path):
    res = PEFile(path).resources()
    info = {"version": None, "icon_sizes": [], "manifest": None}
    if RT_VERSION in res:
        info["version"] = _version_info(next(iter(res[RT_VERSION].values())))
    for group in res.get(RT_GROUP_ICON, {}).values():
        count = struct.unpack_from("<4xH", group)[0]
        for i in range(count):
            w = group[6 + 14 * i]
            info["icon_sizes"].append(w or 256)
        break
    if RT_MANIFEST in res:
        info["manifest"] = next(iter(res[RT_MANIFEST].values())).decode("utf-8", "replace")
    return info


if __name__ == "__main__":
    print(json.dumps(read(sys.argv[1]), ensure_ascii=False, indent=2))
