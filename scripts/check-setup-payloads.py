#!/usr/bin/env python3
"""Checks, from the host, the manifest (execution level requireAdministrator,
uiAccess false) and the payloads an installer carries: raw-data
resources (type 10) with exactly the ids 105, 107..111, each in language 1049
only, each a PE image of the given machine ("i386": PE32, "x86_64": PE32+)
and byte-identical to the build output given for its id.

  check-setup-payloads.py SETUP.exe MACHINE ID=FILE [ID=FILE ...]

Prints one line per payload; exits non-zero on the first difference.
"""

import struct
import sys

MACHINES = {"i386": (0x14C, 0x10B), "x86_64": (0x8664, 0x20B)}


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections = struct.unpack_from("<HH", data, self.pe + 4)
        optional_size = struct.unpack_from("<H", data, self.pe + 20)[0]
        self.optional = self.pe + 24
        self.magic = struct.unpack_from("<H", data, self.optional)[0]
        table = self.optional + optional_size
        self.sections = [struct.unpack_from("<8sIIII", data, table + 40 * i)
                         for i in range(sections)]

    def offset(self, rva):
        for _, vsize, vaddr, rawsize, rawptr in self.sections:
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rawptr + rva - vaddr
        raise ValueError("rva %#x outside every section" % rva)

    def resource_root(self):
        directories = self.optional + (96 if self.magic == 0x10B else 112)
        rva, size = struct.unpack_from("<II", self.data, directories + 2 * 8)
        if size == 0:
            raise ValueError("no resource directory")
        return self.offset(rva)

    def entries(self, base, directory):
        """(id, is_directory, offset of the entry's target) of one table."""
        named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
        result = []
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
            ident = None if name & 0x80000000 else name
            result.append((ident, bool(target & 0x80000000), base + (target & 0x7FFFFFFF)))
        return result

    def resources(self, wanted_type):
        """{id: [(language, bytes)]} of the resources of one type."""
        base = self.resource_root()
        found = {}
        for type_id, _, names in self.entries(base, base):
            if type_id != wanted_type:
                continue
            for ident, _, languages in self.entries(base, names):
                for language, _, leaf in self.entries(base, languages):
                    rva, size = struct.unpack_from("<II", self.data, leaf)
                    start = self.offset(rva)
                    found.setdefault(ident, []).append(
                        (language, self.data[start:start + size]))
        return found


def main(argv):
    if len(argv) < 4 or argv[2] not in MACHINES:
        print(__doc__.strip())
        return 2
    with open(argv[1], "rb") as f:
        setup = Pe(f.read())
    machine, magic = MACHINES[argv[2]]
    expected = {}
    for pair in argv[3:]:
        ident, path = pair.split("=", 1)
        with open(path, "rb") as f:
            expected[int(ident)] = (path, f.read())
    manifests = setup.resources(24)
    manifest = manifests.get(1, [(0, b"")])[0][1]
    if (b'level="requireAdministrator"' not in manifest or b'uiAccess="false"' not in manifest):
        print("FAIL: no manifest 1 asking for requireAdministrator without uiAccess")
        return 1
    print("ok manifest: requireAdministrator, uiAccess false")
    found = setup.resources(10)
    if sorted(found) != sorted(expected):
        print("FAIL: raw-data ids %s, expected %s" % (sorted(found), sorted(expected)))
        return 1
    for ident in sorted(expected):
        path, want = expected[ident]
        languages = [language for language, _ in found[ident]]
        if languages != [1049]:
            print("FAIL: %d in languages %s, expected [1049]" % (ident, languages))
            return 1
        data = found[ident][0][1]
        payload = Pe(data)
        if (payload.machine, payload.magic) != (machine, magic):
            print("FAIL: %d is machine %#x magic %#x" % (ident, payload.machine, payload.magic))
            return 1
        if data != want:
            print("FAIL: %d differs from %s" % (ident, path))
            return 1
        print("ok %d %s: %d bytes, language 1049, %s" % (ident, path, len(data), argv[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
