#!/usr/bin/env python3
"""The release checker's rules on the built program and on copies of it with one fault each.

    check_pe_test.py PROGRAM.exe

The program must pass as built; a copy without ASLR, and copies that import a DLL the agent's computers
may not have, must not.
"""

import os
import struct
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import check_pe  # noqa: E402

PROGRAM = ""


def dll_characteristics_offset(data):
    (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
    return pe_offset + 4 + 20 + 70


def import_name_offset(data, dll):
    """File offset of the name of the import descriptor for dll."""
    image = check_pe.read_pe(data)
    rva, _ = image.directories[check_pe.DIRECTORY_IMPORT]
    descriptor = check_pe._file_offset(image, rva)
    while True:
        name_rva = struct.unpack_from("<I", data, descriptor + 12)[0]
        if name_rva == 0:
            raise AssertionError(f"{dll} is not imported")
        offset = check_pe._file_offset(image, name_rva)
        if check_pe._c_string(data, offset).lower() == dll.lower():
            return offset
        descriptor += 20


class CheckPeTest(unittest.TestCase):
    def setUp(self):
        with open(PROGRAM, "rb") as program:
            self.data = bytearray(program.read())
        self.name = os.path.basename(PROGRAM)

    def problems(self, data):
        return check_pe.problems(check_pe.read_pe(bytes(data)), self.name)

    def test_built_program_passes(self):
        self.assertEqual(self.problems(self.data), [])

    def test_program_without_dynamic_base_is_refused(self):
        offset = dll_characteristics_offset(self.data)
        (flags,) = struct.unpack_from("<H", self.data, offset)
        struct.pack_into("<H", self.data, offset, flags & ~check_pe.DYNAMIC_BASE)
        self.assertEqual(self.problems(self.data), ["no ASLR: DYNAMIC_BASE is not set"])

    def test_program_importing_another_dll_is_refused(self):
        offset = import_name_offset(self.data, "advapi32.dll")
        # Names no longer than "ADVAPI32.dll", written over it with their terminating NUL.
        for dll, expected in (("WS2_32.dll", "imports WS2_32.dll, which is not one of"),
                              ("libgcc_s.dll", "needs the MinGW runtime DLL libgcc_s.dll")):
            with self.subTest(dll=dll):
                altered = bytearray(self.data)
                altered[offset:offset + len(dll) + 1] = dll.encode("ascii") + b"\0"
                found = self.problems(altered)
                self.assertEqual(len(found), 1, found)
                self.assertTrue(found[0].startswith(expected), found)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: check_pe_test.py PROGRAM.exe")
    PROGRAM = sys.argv.pop(1)
    unittest.main()
