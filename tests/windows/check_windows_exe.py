#!/usr/bin/env python3
"""Checks a built korrind_bootloader_update.exe without running it: a console
program for the expected machine, its version resource and embedded manifest,
and that it imports only DLLs that every Windows has (it is linked statically).

Usage: check_windows_exe.py --machine i386|amd64 EXE
"""
import argparse
import re
import sys
import xml.etree.ElementTree as ElementTree

import pefile

MACHINES = {  # machine: (file header machine, optional header magic)
    "i386": (0x014C, 0x10B),   # PE32
    "amd64": (0x8664, 0x20B),  # PE32+
}
VOS_NT_WINDOWS32 = 0x00040004
VFT_APP = 0x1
RT_MANIFEST = 24
VERSION = (0x00010000, 0x00000008)  # 1.0 and 0.8: 1.0.0.8
VERSION_TEXT = "1.0.0.8"
DESCRIPTION = "Upgrade the bootloader of Korrind"
SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "ucrtbase.dll", "setupapi.dll", "hid.dll",
               "user32.dll", "advapi32.dll"}
CRT_API_SET = re.compile(r"api-ms-win-crt-[a-z0-9-]+\.dll")
ASM_V1 = "{urn:schemas-microsoft-com:asm.v1}"
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"
SMI_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"


def string_table(pe):
    strings = {}
    for info in getattr(pe, "FileInfo", []):
        for entry in info:
            if getattr(entry, "Key", b"") == b"StringFileInfo":
                for table in entry.StringTable:
                    strings.update({k.decode(): v.decode() for k, v in table.entries.items()})
    return strings


def manifest_text(pe):
    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for resource_type in resources.entries if resources is not None else []:
        if resource_type.id != RT_MANIFEST:
            continue
        for resource in resource_type.directory.entries:
            if resource.id == 1:
                data = resource.directory.entries[0].data.struct
                return pe.get_data(data.OffsetToData, data.Size).decode("utf-8")
    return None


def check(path, machine):
    problems = []

    def expect(condition, what):
        if not condition:
            problems.append(what)

    pe = pefile.PE(path)
    file_machine, magic = MACHINES[machine]
    expect(pe.FILE_HEADER.Machine == file_machine, f"machine {pe.FILE_HEADER.Machine:#x}")
    expect(pe.OPTIONAL_HEADER.Magic == magic, f"optional header magic {pe.OPTIONAL_HEADER.Magic:#x}")
    expect(not pe.is_dll(), "a DLL, not a program")
    expect(pe.OPTIONAL_HEADER.Subsystem == pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"],
           f"subsystem {pe.OPTIONAL_HEADER.Subsystem}, not the console")

    fixed = pe.VS_FIXEDFILEINFO[0] if hasattr(pe, "VS_FIXEDFILEINFO") else None
    expect(fixed is not None, "no version resource")
    if fixed is not None:
        expect((fixed.FileVersionMS, fixed.FileVersionLS) == VERSION,
               f"file version {fixed.FileVersionMS:#x}.{fixed.FileVersionLS:#x}")
        expect((fixed.ProductVersionMS, fixed.ProductVersionLS) == VERSION,
               f"product version {fixed.ProductVersionMS:#x}.{fixed.ProductVersionLS:#x}")
        expect(fixed.FileOS == VOS_NT_WINDOWS32, f"file OS {fixed.FileOS:#x}")
        expect(fixed.FileType == VFT_APP, f"file type {fixed.FileType:#x}")
    strings = string_table(pe)
    expect(strings.get("FileVersion") == VERSION_TEXT, f"FileVersion {strings.get('FileVersion')!r}")
    expect(strings.get("ProductVersion") == VERSION_TEXT,
           f"ProductVersion {strings.get('ProductVersion')!r}")
    expect(strings.get("FileDescription") == DESCRIPTION,
           f"FileDescription {strings.get('FileDescription')!r}")
    for key in ("CompanyName", "LegalCopyright", "InternalName", "OriginalFilename", "ProductName"):
        expect(bool(strings.get(key)), f"no {key}")

    text = manifest_text(pe)
    expect(text is not None, "no embedded manifest (RT_MANIFEST 1)")
    if text is not None:
        root = ElementTree.fromstring(text.encode("utf-8"))
        level = root.find(f"{ASM_V3}trustInfo/{ASM_V3}security/{ASM_V3}requestedPrivileges/"
                          f"{ASM_V3}requestedExecutionLevel")
        expect(root.tag == f"{ASM_V1}assembly", f"manifest root {root.tag}")
        expect(level is not None and level.get("level") == "asInvoker", "execution level not asInvoker")
        expect(level is not None and level.get("uiAccess") == "false", "uiAccess not false")
        dpi = root.find(f"{ASM_V3}application/{ASM_V3}windowsSettings/{SMI_2005}dpiAware")
        expect(dpi is not None and dpi.text.strip().lower() == "true", "not dpiAware")

    pe.parse_data_directories()
    imports = [entry.dll.decode().lower() for entry in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])]
    expect("kernel32.dll" in imports, "does not import kernel32.dll")
    for dll in imports:
        expect(dll in SYSTEM_DLLS or CRT_API_SET.fullmatch(dll), f"imports {dll}, not a system DLL")
    return problems, imports


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    parser.add_argument("exe")
    arguments = parser.parse_args()
    problems, imports = check(arguments.exe, arguments.machine)
    print(f"{arguments.exe}: imports {', '.join(imports)}")
    for problem in problems:
        print(f"FAIL: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
