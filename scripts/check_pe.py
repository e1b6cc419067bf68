#!/usr/bin/env python3
"""Checks the shipped program as a reviewer would, from the file alone (Python's standard library).

    check_pe.py [--release] [--version X.Y.Z] [--timestamp N] FILE

Always: a 32-bit (i386, PE32) console program (subsystem 3); ASLR (DYNAMIC_BASE) with its base
relocations kept, DEP (NX_COMPAT); the manifest embedded as resource 1 and requesting
requireAdministrator; imports only from the system DLLs the agent's computers always have
(everything else is looked up at first use); no MinGW runtime DLL. A version resource whose fixed
file and product versions are X.Y.Z(.0) and whose original file name is the file's own, when
--version is given. --release also: no debug sections left, a .gnu_debuglink that names
FILE.debug beside it with that file's CRC, and the header's time stamp equal to N when --timestamp
is given.

Prints one line per problem and exits 1, or one "ok" line and exits 0. The reading (read_pe) and the
rules (problems) are separate so that the rules can be tried on altered copies of a good file.
"""

import argparse
import os
import struct
import sys
import xml.etree.ElementTree as ElementTree
import zlib

ALLOWED_IMPORTS = ("kernel32.dll", "advapi32.dll", "msvcrt.dll")
MINGW_RUNTIME_PREFIXES = ("libstdc++", "libgcc", "libwinpthread")

IMAGE_FILE_MACHINE_I386 = 0x14C
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
PE32_MAGIC = 0x10B
IMAGE_SUBSYSTEM_WINDOWS_CUI = 3
DYNAMIC_BASE = 0x0040
NX_COMPAT = 0x0100
DIRECTORY_IMPORT = 1
DIRECTORY_RESOURCE = 2
DIRECTORY_BASERELOC = 5
RT_VERSION = 16
RT_MANIFEST = 24


class PeError(Exception):
    """The file is not a PE image this reader understands."""


class PeImage:
    """What the rules look at, read from one PE32 or PE32+ file."""

    def __init__(self):
        self.machine = 0
        self.characteristics = 0
        self.timestamp = 0
        self.magic = 0
        self.subsystem = 0
        self.dll_characteristics = 0
        self.directories = []  # (rva, size) per data directory
        self.sections = []  # (name, rva, virtual size, file offset, raw size)
        self.imports = []  # DLL names as written
        self.resources = {}  # (type id, name id) -> bytes of the first language
        self.debuglink = None  # (file name, crc) or None


def _read(data, offset, fmt):
    size = struct.calcsize(fmt)
    if offset < 0 or offset + size > len(data):
        raise PeError(f"truncated at offset {offset:#x}")
    return struct.unpack_from(fmt, data, offset)


def _c_string(data, offset):
    end = data.find(b"\0", offset)
    if offset >= len(data) or end < 0:
        raise PeError(f"unterminated name at offset {offset:#x}")
    return data[offset:end].decode("latin-1")


def _file_offset(image, rva):
    for _, section_rva, virtual_size, raw_offset, raw_size in image.sections:
        if section_rva <= rva < section_rva + max(virtual_size, raw_size):
            return raw_offset + rva - section_rva
    raise PeError(f"address {rva:#x} lies in no section")


def _read_imports(data, image):
    rva, size = image.directories[DIRECTORY_IMPORT]
    if size == 0:
        return
    offset = _file_offset(image, rva)
    while True:
        lookup, _, _, name_rva, thunk = _read(data, offset, "<5I")
        if lookup == 0 and name_rva == 0 and thunk == 0:
            return
        image.imports.append(_c_string(data, _file_offset(image, name_rva)))
        offset += 20


def _read_resources(data, image):
    rva, size = image.directories[DIRECTORY_RESOURCE]
    if size == 0:
        return
    root = _file_offset(image, rva)

    def entries(directory):
        named, numbered = _read(data, root + directory + 12, "<HH")
        for index in range(named + numbered):
            name, target = _read(data, root + directory + 16 + 8 * index, "<II")
            yield name, target

    for type_id, type_target in entries(0):
        if not type_target & 0x80000000:
            continue
        for name_id, name_target in entries(type_target & 0x7FFFFFFF):
            target = name_target
            while target & 0x80000000:  # the first language of this name
                target = next(entries(target & 0x7FFFFFFF), (0, 0))[1]
            data_rva, data_size, _, _ = _read(data, root + target, "<4I")
            start = _file_offset(image, data_rva)
            image.resources[(type_id, name_id)] = data[start:start + data_size]


def read_pe(data):
    """Reads the headers, sections, imports, resources and debug link of a PE file's bytes."""
    image = PeImage()
    if data[:2] != b"MZ":
        raise PeError("no MZ header")
    (pe_offset,) = _read(data, 0x3C, "<I")
    if data[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    coff = pe_offset + 4
    image.machine, section_count, image.timestamp, _, _, optional_size, image.characteristics = _read(
        data, coff, "<HHIIIHH")
    optional = coff + 20
    (image.magic,) = _read(data, optional, "<H")
    if image.magic == PE32_MAGIC:
        directories_at, count_at = optional + 96, optional + 92
    elif image.magic == 0x20B:
        directories_at, count_at = optional + 112, optional + 108
    else:
        raise PeError(f"unknown optional header magic {image.magic:#x}")
    image.subsystem, image.dll_characteristics = _read(data, optional + 68, "<HH")
    (directory_count,) = _read(data, count_at, "<I")
    image.directories = [_read(data, directories_at + 8 * index, "<II") for index in range(min(directory_count, 16))]
    image.directories += [(0, 0)] * (16 - len(image.directories))
    section_table = optional + optional_size
    string_table = None
    symbol_table, symbol_count = _read(data, coff + 8, "<II")
    if symbol_table:
        string_table = symbol_table + 18 * symbol_count
    for index in range(section_count):
        raw_name, virtual_size, rva, raw_size, raw_offset = _read(data, section_table + 40 * index, "<8sIIII")
        name = raw_name.rstrip(b"\0").decode("latin-1")
        if name.startswith("/") and string_table is not None:  # long name in the COFF string table
            name = _c_string(data, string_table + int(name[1:]))
        image.sections.append((name, rva, virtual_size, raw_offset, raw_size))
    _read_imports(data, image)
    _read_resources(data, image)
    for name, _, virtual_size, raw_offset, raw_size in image.sections:
        if name == ".gnu_debuglink":
            content = data[raw_offset:raw_offset + min(virtual_size or raw_size, raw_size)]
            file_name = content.split(b"\0", 1)[0].decode("latin-1")
            crc_at = (len(file_name) + 1 + 3) & ~3
            (crc,) = struct.unpack_from("<I", content, crc_at)
            image.debuglink = (file_name, crc)
    return image


def version_info(block):
    """The fixed file and product versions and the string values of a VS_VERSIONINFO resource."""

    def node(offset):
        length, value_length, value_type = struct.unpack_from("<HHH", block, offset)
        key_end = offset + 6
        while block[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        key = block[offset + 6:key_end].decode("utf-16-le")
        value_at = (key_end + 2 + 3) & ~3
        value_bytes = value_length * 2 if value_type == 1 else value_length
        children_at = (value_at + value_bytes + 3) & ~3
        return key, length, value_at, value_length, value_type, children_at

    key, length, value_at, value_length, _, children_at = node(0)
    if key != "VS_VERSION_INFO" or value_length < 52:
        raise PeError("version resource without VS_VERSION_INFO")
    signature, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", block, value_at)
    if signature != 0xFEEF04BD:
        raise PeError("version resource without VS_FIXEDFILEINFO")

    def parts(most, least):
        return (most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF)

    strings = {}

    def walk(offset, end, depth):
        while offset < end:
            child_key, child_length, child_value_at, child_value_length, child_type, child_children = node(offset)
            if child_length == 0:
                return
            if depth == 2 and child_type == 1 and child_value_length:
                text = block[child_value_at:child_value_at + 2 * child_value_length].decode("utf-16-le")
                strings[child_key] = text.rstrip("\0")
            walk(child_children, offset + child_length, depth + 1)
            offset = (offset + child_length + 3) & ~3

    walk(children_at, length, 0)
    return parts(file_ms, file_ls), parts(product_ms, product_ls), strings


def problems(image, file_name, version=None, release=False, timestamp=None, debug_file_crc=None):
    """What a reviewer would refuse in the image, one text per problem; empty when it passes."""
    found = []
    if image.machine != IMAGE_FILE_MACHINE_I386 or image.magic != PE32_MAGIC:
        found.append(f"not a 32-bit x86 program (machine {image.machine:#x}, optional header {image.magic:#x})")
    if image.subsystem != IMAGE_SUBSYSTEM_WINDOWS_CUI:
        found.append(f"subsystem {image.subsystem}, not a console program (3)")
    if not image.dll_characteristics & DYNAMIC_BASE:
        found.append("no ASLR: DYNAMIC_BASE is not set")
    if image.characteristics & IMAGE_FILE_RELOCS_STRIPPED or image.directories[DIRECTORY_BASERELOC][1] == 0:
        found.append("no base relocations: the loader cannot move the image")
    if not image.dll_characteristics & NX_COMPAT:
        found.append("no DEP: NX_COMPAT is not set")

    manifest = image.resources.get((RT_MANIFEST, 1))
    if manifest is None:
        found.append("no embedded manifest (RT_MANIFEST 1)")
    else:
        try:
            levels = [element.get("level") for element in ElementTree.fromstring(manifest).iter()
                      if element.tag.endswith("}requestedExecutionLevel")]
        except ElementTree.ParseError as error:
            levels = [f"unreadable manifest ({error})"]
        if levels != ["requireAdministrator"]:
            found.append(f"the manifest does not request requireAdministrator (found {levels or 'nothing'})")

    for dll in image.imports:
        if dll.lower().startswith(MINGW_RUNTIME_PREFIXES):
            found.append(f"needs the MinGW runtime DLL {dll}")
        elif dll.lower() not in ALLOWED_IMPORTS:
            found.append(f"imports {dll}, which is not one of {', '.join(ALLOWED_IMPORTS)}")

    if version is not None:
        expected = tuple(int(part) for part in version.split(".")) + (0,) * (4 - len(version.split(".")))
        block = image.resources.get((RT_VERSION, 1))
        if block is None:
            found.append("no version resource (RT_VERSION 1)")
        else:
            file_version, product_version, strings = version_info(block)
            if file_version != expected or product_version != expected:
                found.append(f"version resource says file {file_version}, product {product_version}, not {expected}")
            if strings.get("OriginalFilename", "").lower() != file_name.lower():
                found.append(f"version resource names {strings.get('OriginalFilename')!r}, not {file_name!r}")

    if release:
        debug_sections = [name for name, *_ in image.sections if name.startswith((".debug", ".zdebug"))]
        if debug_sections:
            found.append(f"not stripped: {', '.join(debug_sections)}")
        if image.debuglink is None or image.debuglink[0] != file_name + ".debug":
            found.append(f"no .gnu_debuglink to {file_name}.debug (found {image.debuglink})")
        elif debug_file_crc is not None and image.debuglink[1] != debug_file_crc:
            found.append(f"the debug link's CRC {image.debuglink[1]:#010x} is not that of the debug file "
                         f"({debug_file_crc:#010x})")
        if timestamp is not None and image.timestamp != timestamp:
            found.append(f"PE time stamp {image.timestamp}, not {timestamp}")
    return found


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file")
    parser.add_argument("--version", help="the project's version, X.Y.Z or X.Y.Z.W")
    parser.add_argument("--release", action="store_true", help="stripped, with its debug file beside it")
    parser.add_argument("--timestamp", type=int, help="the PE time stamp the release carries")
    arguments = parser.parse_args(argv)

    with open(arguments.file, "rb") as program:
        data = program.read()
    file_name = os.path.basename(arguments.file)
    debug_file_crc = None
    debug_path = arguments.file + ".debug"
    if arguments.release and os.path.exists(debug_path):
        with open(debug_path, "rb") as debug_file:
            debug_file_crc = zlib.crc32(debug_file.read())
    try:
        image = read_pe(data)
        found = problems(image, file_name, arguments.version, arguments.release, arguments.timestamp,
                         debug_file_crc)
    except (PeError, struct.error, UnicodeDecodeError) as error:
        found = [f"unreadable: {error}"]
    for problem in found:
        print(f"check_pe: {arguments.file}: {problem}")
    if found:
        return 1
    print(f"check_pe: {arguments.file}: ok (i386 console program, ASLR with relocations, DEP, "
          f"requireAdministrator, imports {', '.join(image.imports)}"
          f"{', version ' + arguments.version if arguments.version else ''}"
          f"{', stripped with its debug link' if arguments.release else ''})")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
