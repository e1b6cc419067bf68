#!/usr/bin/env python3
"""The release checker's rules on the built program and on copies of it with one fault each.

    check_pe_test.py PROGRAM.exe

The program must pass as built; copies without ASLR, importing a DLL the agent's computers may not
have, with a second manifest or with a manifest that declares supported Windows versions must not.
Copies signed with a throwaway certificate (scripts/throwaway-certificate.sh) must pass the signature
checks as signed and fail them when anything about the signature or the signed bytes is not as wanted.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")
sys.path.insert(0, SCRIPTS)
import check_pe  # noqa: E402

PROGRAM = ""


def without_dynamic_base(data):
    (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
    offset = pe_offset + 4 + 20 + 70
    struct.pack_into("<H", data, offset, struct.unpack_from("<H", data, offset)[0] & ~check_pe.DYNAMIC_BASE)


def importing(dll):
    """Writes dll, no longer than "ADVAPI32.dll", over that import's name."""
    def alter(data):
        image = check_pe.read_pe(bytes(data))
        descriptor = check_pe._file_offset(image, image.directories[check_pe.DIRECTORY_IMPORT][0])
        while True:
            offset = check_pe._file_offset(image, struct.unpack_from("<I", data, descriptor + 12)[0])
            if check_pe._c_string(data, offset).lower() == "advapi32.dll":
                data[offset:offset + len(dll) + 1] = dll.encode("ascii") + b"\0"
                return
            descriptor += 20
    return alter


def version_resource_as_manifest(data):
    """Renumbers the version resource's type as RT_MANIFEST: a second manifest."""
    image = check_pe.read_pe(bytes(data))
    root = check_pe._file_offset(image, image.directories[check_pe.DIRECTORY_RESOURCE][0])
    named, numbered = struct.unpack_from("<HH", data, root + 12)
    for entry in range(root + 16, root + 16 + 8 * (named + numbered), 8):
        if struct.unpack_from("<I", data, entry)[0] == check_pe.RT_VERSION:
            struct.pack_into("<I", data, entry, check_pe.RT_MANIFEST)


def manifest_with_supported_os(data):
    """Writes a Windows 10 compatibility declaration over the manifest's identity and description."""
    start = data.index(b"<assemblyIdentity")
    end = data.index(b"</description>") + len(b"</description>")
    declaration = (b'<compatibility xmlns="urn:schemas-microsoft-com:compatibility.v1"><application>'
                   b'<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/></application></compatibility>')
    data[start:end] = declaration.ljust(end - start)


def changed_at(position):
    def alter(data):
        data[position(check_pe.read_pe(bytes(data)))] ^= 0x01
    return alter


class CheckPeTest(unittest.TestCase):
    def setUp(self):
        with open(PROGRAM, "rb") as program:
            self.data = bytearray(program.read())
        self.name = os.path.basename(PROGRAM)

    def problems(self, data):
        return check_pe.problems(check_pe.read_pe(bytes(data)), self.name)

    def test_built_program_passes(self):
        self.assertEqual(self.problems(self.data), [])

    def test_copies_with_one_fault_are_refused(self):
        for fault, alter, expected in (
                ("no ASLR", without_dynamic_base, "no ASLR: DYNAMIC_BASE is not set"),
                ("WS2_32", importing("WS2_32.dll"), "imports WS2_32.dll, which is not one of"),
                ("libgcc_s", importing("libgcc_s.dll"), "needs the MinGW runtime DLL libgcc_s.dll"),
                ("second manifest", version_resource_as_manifest, "2 manifest resources (1/0x0409, 1/0x0409)"),
                ("supportedOS", manifest_with_supported_os,
                 "the manifest declares supported Windows versions ({8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a})")):
            with self.subTest(fault=fault):
                altered = bytearray(self.data)
                alter(altered)
                found = self.problems(altered)
                self.assertEqual(len(found), 1, found)
                self.assertTrue(found[0].startswith(expected), found)

    def test_signed_copies(self):
        if not shutil.which("osslsigncode") or not shutil.which("openssl"):
            self.skipTest("osslsigncode or openssl is not installed (scripts/install-deps.sh installs both)")
        with tempfile.TemporaryDirectory() as scratch:
            signer = subprocess.run([os.path.join(SCRIPTS, "throwaway-certificate.sh"), scratch], check=True,
                                    capture_output=True, text=True).stdout.strip()
            unsigned = os.path.join(scratch, "unsigned.exe")
            shutil.copyfile(PROGRAM, unsigned)
            check_pe.prepare_for_signing(unsigned)

            def copy(name, alter=None, digest="sha256", source=unsigned):
                path = os.path.join(scratch, name)
                if digest:
                    subprocess.run(["osslsigncode", "sign", "-pkcs12", os.path.join(scratch, "signer.p12"),
                                    "-readpass", os.path.join(scratch, "signer.pass"), "-h", digest,
                                    "-in", source, "-out", path], check=True, capture_output=True)
                else:
                    shutil.copyfile(source, path)
                if alter:
                    with open(path, "r+b") as file:
                        data = bytearray(file.read())
                        alter(data)
                        file.seek(0)
                        file.write(data)
                return path

            in_code = changed_at(lambda image: image.sections[0][3] + 0x100)
            for row, path, wanted_signer, expected in (
                    ("signed", copy("signed.exe"), signer, []),
                    ("changed after signing", copy("changed.exe", in_code), signer,
                     ["the signed digest", "osslsigncode verify fails", "removing the signature does not give"]),
                    ("SHA-1", copy("sha1.exe", digest="sha1"), signer, ["signed with sha1, not SHA-256 alone"]),
                    ("another signer", copy("other.exe"), "CN=Someone else", ["signed by '" + signer]),
                    ("another build", copy("build.exe", source=copy("build-unsigned.exe", in_code, None)), signer,
                     ["removing the signature does not give"]),
                    ("unsigned", unsigned, signer, ["not signed", "osslsigncode verify fails",
                                                    "osslsigncode remove-signature fails"])):
                with self.subTest(row=row):
                    with open(path, "rb") as file:
                        data = file.read()
                    found = check_pe.signature_problems(data, check_pe.read_pe(data), wanted_signer)
                    found += check_pe.osslsigncode_problems(path, os.path.join(scratch, "ca.pem"), unsigned)
                    self.assertEqual([text[:len(prefix)] for text, prefix in zip(found, expected)], expected, found)
                    self.assertEqual(len(found), len(expected), found)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: check_pe_test.py PROGRAM.exe")
    PROGRAM = sys.argv.pop(1)
    unittest.main()
