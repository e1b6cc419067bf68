#!/usr/bin/env python3
"""Checks the shipped program as a reviewer would, from the file alone (Python's standard library,
and osslsigncode for a signature's cryptography).

    check_pe.py [--release] [--version X.Y.Z] [--timestamp N]
                [--signer SUBJECT [--ca-file FILE] [--unsigned FILE]] FILE
    check_pe.py --prepare-for-signing FILE

Always: a 32-bit (i386, PE32) console program (subsystem 3); ASLR (DYNAMIC_BASE) with its base
relocations kept, DEP (NX_COMPAT); one manifest, embedded as resource 1, requesting
requireAdministrator and declaring no supported Windows versions; imports only from the system DLLs
the agent's computers always have (everything else is looked up at first use); no MinGW runtime DLL.
A version resource whose fixed file and product versions are X.Y.Z(.0) and whose original file name
is the file's own, when --version is given. --release also: no debug sections left, a .gnu_debuglink
that names FILE.debug beside it with that file's CRC, a length that is a multiple of 8 and the
header checksum of the file's bytes (what signing gives a file), and the header's time stamp equal
to N when --timestamp is given. --signer also: an Authenticode signature with SHA-256 throughout over
the file's own bytes, by a certificate with that subject (as Windows writes it), that osslsigncode
verifies (the chain ending at --ca-file, else at the system's store), and, with --unsigned, that
removing it gives exactly that file's bytes.

--prepare-for-signing pads FILE to a multiple of 8 bytes and writes its checksum, and checks nothing.

Prints one line per problem and exits 1, or one "ok" line and exits 0. The reading (read_pe,
read_signature) and the rules (problems, signature_problems) are separate so that the rules can be
tried on altered copies of a good file.
"""

import argparse
import array
import hashlib
import os
import struct
import subprocess
import sys
import tempfile
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
DIRECTORY_SECURITY = 4
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
        self.manifests = []  # (name id, language id, bytes) of every RT_MANIFEST resource
        self.debuglink = None  # (file name, crc) or None
        self.size = 0
        self.checksum_offset = 0  # file offset of the optional header's checksum
        self.checksum = 0  # as written
        self.computed_checksum = 0  # as the file's bytes give it
        self.directories_offset = 0  # file offset of the data directories


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
            # Below a name, one leaf per language; a leaf directly below the name counts as language 0.
            leaves = list(entries(name_target & 0x7FFFFFFF)) if name_target & 0x80000000 else [(0, name_target)]
            for language, target in leaves:
                if target & 0x80000000:
                    raise PeError(f"resource {type_id}/{name_id} nests deeper than a language")
                data_rva, data_size, _, _ = _read(data, root + target, "<4I")
                start = _file_offset(image, data_rva)
                content = data[start:start + data_size]
                image.resources.setdefault((type_id, name_id), content)
                if type_id == RT_MANIFEST:
                    image.manifests.append((name_id, language, content))


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
    image.size, image.checksum_offset, image.directories_offset = len(data), optional + 64, directories_at
    (image.checksum,) = _read(data, image.checksum_offset, "<I")
    image.computed_checksum = pe_checksum(data, image.checksum_offset)
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

# Authenticode. The certificate table (data directory 4, whose address is a file offset) holds one
# WIN_CERTIFICATE with a PKCS#7 SignedData; its content is an SpcIndirectDataContent whose digest is
# that of the file without the checksum, the directory entry and the table itself. The reading here
# finds what was signed, with which digest and by whom; whether the signature over it is valid and
# its certificate trusted is osslsigncode's to say (the standard library has no public-key code).
DIGESTS = {"1.2.840.113549.2.5": "md5", "1.3.14.3.2.26": "sha1", "2.16.840.1.101.3.4.2.1": "sha256",
           "2.16.840.1.101.3.4.2.2": "sha384", "2.16.840.1.101.3.4.2.3": "sha512"}
# Attribute names as Windows writes a certificate's subject (Get-AuthenticodeSignature, file properties).
NAME_ATTRIBUTES = {"2.5.4.3": "CN", "2.5.4.11": "OU", "2.5.4.10": "O", "2.5.4.7": "L", "2.5.4.8": "S",
                   "2.5.4.6": "C", "2.5.4.9": "STREET", "2.5.4.5": "SERIALNUMBER", "2.5.4.4": "SN",
                   "2.5.4.42": "G", "2.5.4.12": "T", "2.5.4.17": "PostalCode",
                   "1.2.840.113549.1.9.1": "E", "0.9.2342.19200300.100.1.25": "DC"}
OID_SIGNED_DATA = "1.2.840.113549.1.7.2"
OID_SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
WIN_CERT_REVISION_2 = 0x0200
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 2


class Signature:
    def __init__(self):
        self.digest_algorithms = set()  # every digest the signature names: its own, the signer's, the file's
        self.file_digest = b""  # the file's digest as signed
        self.file_digest_algorithm = ""
        self.subject = ""  # the signer's certificate subject, as Windows writes it


def _der(data, offset, end):
    """(tag, start of content, end of content) of the DER element at offset."""
    if offset + 2 > end:
        raise PeError("truncated signature")
    tag, length = data[offset], data[offset + 1]
    offset += 2
    if length & 0x80:
        count = length & 0x7F
        if count == 0 or count > 4 or offset + count > end:
            raise PeError("unreadable length in the signature")
        length = int.from_bytes(data[offset:offset + count], "big")
        offset += count
    if offset + length > end:
        raise PeError("truncated signature")
    return tag, offset, offset + length


def _children(data, start, end):
    found = []
    while start < end:
        element = _der(data, start, end)
        found.append(element)
        start = element[2]
    return found


def _oid(data, element):
    tag, start, end = element
    if tag != 0x06 or start == end:
        raise PeError("the signature has no object identifier where one belongs")
    raw = data[start:end]
    numbers, value = [], 0
    for byte in raw:
        value = (value << 7) | (byte & 0x7F)
        if not byte & 0x80:
            numbers.append(value)
            value = 0
    first = min(numbers[0] // 40, 2)
    return ".".join(map(str, [first, numbers[0] - 40 * first] + numbers[1:]))


def _name_text(data, element):
    """A Name as Windows writes it: the last RDN first, "TYPE=value" joined by ", "."""
    rdns = []
    for _, rdn_start, rdn_end in _children(data, element[1], element[2]):
        parts = []
        for _, start, end in _children(data, rdn_start, rdn_end):
            kind, value = _children(data, start, end)[:2]
            oid = _oid(data, kind)
            raw = data[value[1]:value[2]]
            text = raw.decode("utf-16-be" if value[0] == 0x1E else "utf-8" if value[0] == 0x0C else "latin-1")
            if text != text.strip() or any(mark in text for mark in ',+="\n<>#;'):
                text = '"' + text.replace('"', '""') + '"'
            parts.append(f"{NAME_ATTRIBUTES.get(oid, 'OID.' + oid)}={text}")
        rdns.append(" + ".join(parts))
    return ", ".join(reversed(rdns))


def read_signature(data, image):
    """The Authenticode signature of the file, or None when it has no certificate table."""
    offset, size = image.directories[DIRECTORY_SECURITY]
    if size == 0:
        return None
    if offset % 8 or offset + size != len(data):
        raise PeError(f"the certificate table ({offset:#x}, {size} bytes) is not 8-aligned at the file's end")
    length, revision, kind = _read(data, offset, "<IHH")
    if revision != WIN_CERT_REVISION_2 or kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA or length < 8:
        raise PeError(f"the certificate table holds revision {revision:#x}, type {kind}, not a PKCS#7 signature")
    if (length + 7) & ~7 != size:
        raise PeError("the certificate table holds more than one signature")
    end = offset + length
    content_info = _children(data, *_der(data, offset + 8, end)[1:])
    if len(content_info) < 2 or _oid(data, content_info[0]) != OID_SIGNED_DATA:
        raise PeError("the certificate table holds no PKCS#7 SignedData")
    signed_data = _children(data, *_der(data, content_info[1][1], content_info[1][2])[1:])
    if len(signed_data) < 4:
        raise PeError("the signature's SignedData is incomplete")
    signature = Signature()
    for _, start, end in _children(data, signed_data[1][1], signed_data[1][2]):
        signature.digest_algorithms.add(_oid(data, _der(data, start, end)))
    content = _children(data, signed_data[2][1], signed_data[2][2])
    if len(content) < 2 or _oid(data, content[0]) != OID_SPC_INDIRECT_DATA:
        raise PeError("the signature does not sign a PE file's digest (no SpcIndirectDataContent)")
    indirect = _children(data, *_der(data, content[1][1], content[1][2])[1:])
    digest_info = _children(data, indirect[-1][1], indirect[-1][2])
    signature.file_digest_algorithm = _oid(data, _der(data, digest_info[0][1], digest_info[0][2]))
    signature.digest_algorithms.add(signature.file_digest_algorithm)
    signature.file_digest = data[digest_info[1][1]:digest_info[1][2]]
    certificates = [element for element in signed_data[3:] if element[0] == 0xA0]
    signer_infos = _children(data, signed_data[-1][1], signed_data[-1][2])
    if len(signer_infos) != 1:
        raise PeError(f"the signature has {len(signer_infos)} signers, not one")
    signer = _children(data, signer_infos[0][1], signer_infos[0][2])
    signature.digest_algorithms.add(_oid(data, _der(data, signer[2][1], signer[2][2])))
    issuer, serial = _children(data, signer[1][1], signer[1][2])[:2]
    wanted = data[issuer[1]:issuer[2]], data[serial[1]:serial[2]]
    for _, start, end in (_children(data, certificates[0][1], certificates[0][2]) if certificates else []):
        tbs = _children(data, *_der(data, start, end)[1:])
        fields = tbs[1:] if tbs[0][0] == 0xA0 else tbs  # without the explicit version
        if (data[fields[2][1]:fields[2][2]], data[fields[0][1]:fields[0][2]]) == wanted:
            signature.subject = _name_text(data, fields[4])
    if not signature.subject:
        raise PeError("the signature does not carry its signer's certificate")
    return signature


def authenticode_digest(data, image, algorithm):
    """The digest Authenticode signs: the file up to its certificate table, without the checksum and
    the certificate table's directory entry."""
    checksum_at = image.checksum_offset
    security_at = image.directories_offset + 8 * DIRECTORY_SECURITY
    table_at, size = image.directories[DIRECTORY_SECURITY]
    digest = hashlib.new(algorithm)
    digest.update(data[:checksum_at])
    digest.update(data[checksum_at + 4:security_at])
    digest.update(data[security_at + 8:table_at if size else len(data)])
    return digest.digest()


def pe_checksum(data, checksum_offset):
    """The optional header's checksum of a file: its 16-bit words summed with end-around carry, the
    checksum field counted as zero, plus the file's length."""
    words = array.array("H", bytes(data[:checksum_offset]) + bytes(4) + bytes(data[checksum_offset + 4:]) +
                        bytes(len(data) % 2))
    if sys.byteorder == "big":
        words.byteswap()
    total = sum(words)
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def prepare_for_signing(path):
    """Pads the unsigned file at path to a multiple of 8 bytes and writes its checksum, as signing
    does, so that removing a signature later gives back exactly these bytes."""
    with open(path, "rb") as program:
        data = bytearray(program.read())
    data += bytes(-len(data) % 8)
    image = read_pe(bytes(data))
    struct.pack_into("<I", data, image.checksum_offset, pe_checksum(data, image.checksum_offset))
    with open(path, "wb") as program:
        program.write(data)


def signature_problems(data, image, signer):
    """What a reviewer would refuse in the file's signature, read from the file alone: none, a digest
    other than SHA-256, a signed digest that is not the file's own, or another signer than signer."""
    try:
        signature = read_signature(data, image)
    except (PeError, ValueError, IndexError) as error:
        return [f"unreadable signature: {error}"]
    if signature is None:
        return ["not signed: no certificate table"]
    found = []
    names = sorted(DIGESTS.get(oid, oid) for oid in signature.digest_algorithms)
    if names != ["sha256"]:
        found.append(f"signed with {', '.join(names)}, not SHA-256 alone")
    algorithm = DIGESTS.get(signature.file_digest_algorithm)
    if algorithm and authenticode_digest(data, image, algorithm) != signature.file_digest:
        found.append(f"the signed digest {signature.file_digest.hex()} is not the file's "
                     f"({authenticode_digest(data, image, algorithm).hex()}): its bytes changed after signing")
    if signature.subject != signer:
        found.append(f"signed by {signature.subject!r}, not {signer!r}")
    return found


def _failure_lines(result):
    """The lines of a failed osslsigncode run that say what failed, joined."""
    lines = [line.strip() for line in (result.stdout + result.stderr).splitlines() if line.strip()]
    telling = [line for line in lines if any(word in line.lower() for word in ("mismatch", "error", "fail", "no "))]
    return "; ".join((telling or lines)[:4])


def osslsigncode_problems(path, ca_file=None, unsigned=None, tool="osslsigncode"):
    """What osslsigncode refuses in the signed file at path: a signature that does not verify (its
    certificate chained to ca_file, else to the system's store), and, when unsigned is given, removing
    the signature not giving exactly the bytes of that file."""
    found = []
    command = [tool, "verify", "-in", path] + (["-CAfile", ca_file] if ca_file else [])
    try:
        result = subprocess.run(command, capture_output=True, text=True, check=False)
    except OSError as error:
        return [f"{tool} cannot be run ({error}): the signature is not verified"]
    if result.returncode != 0:
        found.append(f"osslsigncode verify fails ({_failure_lines(result)})")
    if unsigned is not None:
        with tempfile.TemporaryDirectory() as scratch:
            stripped = os.path.join(scratch, "unsigned.exe")
            result = subprocess.run([tool, "remove-signature", "-in", path, "-out", stripped],
                                    capture_output=True, text=True, check=False)
            if result.returncode != 0 or not os.path.exists(stripped):
                found.append(f"osslsigncode remove-signature fails ({_failure_lines(result)})")
            else:
                with open(stripped, "rb") as left, open(unsigned, "rb") as right:
                    if left.read() != right.read():
                        found.append(f"removing the signature does not give the bytes of {unsigned}")
    return found


def _manifest_problems(manifests):
    """One manifest, resource 1, that requests requireAdministrator and declares no supported Windows
    versions: such a declaration changes the version the system reports to the program, and a second
    manifest (another name or language, such as the default one a toolchain may link) leaves it to
    the loader which one counts."""
    if len(manifests) > 1:
        listed = ", ".join(f"{name}/{language:#06x}" for name, language, _ in manifests)
        return [f"{len(manifests)} manifest resources ({listed}), not one"]
    if not manifests or manifests[0][0] != 1:
        return ["no embedded manifest (RT_MANIFEST 1)"]
    try:
        elements = list(ElementTree.fromstring(manifests[0][2]).iter())
    except ElementTree.ParseError as error:
        return [f"the manifest does not request requireAdministrator (unreadable manifest: {error})"]
    found = []
    levels = [element.get("level") for element in elements if element.tag.endswith("}requestedExecutionLevel")]
    if levels != ["requireAdministrator"]:
        found.append(f"the manifest does not request requireAdministrator (found {levels or 'nothing'})")
    systems = [element.get("Id") for element in elements if element.tag.rpartition("}")[2] == "supportedOS"]
    if systems:
        found.append(f"the manifest declares supported Windows versions ({', '.join(map(str, systems))})")
    return found


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

    found += _manifest_problems(image.manifests)

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
        # Signing pads the file to 8 bytes and writes its checksum; removing the signature keeps both.
        if image.size % 8:
            found.append(f"{image.size} bytes, not a multiple of 8: a signed copy would not give these bytes back")
        if image.checksum != image.computed_checksum:
            found.append(f"header checksum {image.checksum:#x}, not the file's {image.computed_checksum:#x}: "
                         "a signed copy would not give these bytes back")
        if timestamp is not None and image.timestamp != timestamp:
            found.append(f"PE time stamp {image.timestamp}, not {timestamp}")
    return found


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file")
    parser.add_argument("--version", help="the project's version, X.Y.Z or X.Y.Z.W")
    parser.add_argument("--release", action="store_true", help="stripped, with its debug file beside it")
    parser.add_argument("--timestamp", type=int, help="the PE time stamp the release carries")
    parser.add_argument("--signer", help="the subject the signature's certificate must have, as Windows writes it")
    parser.add_argument("--ca-file", help="with --signer: the certificates the signer's chain ends at")
    parser.add_argument("--unsigned", help="with --signer: the file that removing the signature must give")
    parser.add_argument("--prepare-for-signing", action="store_true",
                        help="only pad the file to 8 bytes and write its checksum")
    arguments = parser.parse_args(argv)
    if arguments.prepare_for_signing:
        prepare_for_signing(arguments.file)
        return 0

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
        if arguments.signer is not None:
            found += signature_problems(data, image, arguments.signer)
            found += osslsigncode_problems(arguments.file, arguments.ca_file, arguments.unsigned)
    except (PeError, struct.error, UnicodeDecodeError) as error:
        found = [f"unreadable: {error}"]
    for problem in found:
        print(f"check_pe: {arguments.file}: {problem}")
    if found:
        return 1
    print(f"check_pe: {arguments.file}: ok (i386 console program, ASLR with relocations, DEP, "
          f"requireAdministrator, imports {', '.join(image.imports)}"
          f"{', version ' + arguments.version if arguments.version else ''}"
          f"{', stripped with its debug link' if arguments.release else ''}"
          f"{', signed with SHA-256 by ' + repr(arguments.signer) if arguments.signer is not None else ''}"
          f"{', without its signature the bytes of ' + arguments.unsigned if arguments.unsigned else ''})")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
