#!/usr/bin/env python3
"""Checks a built Brannoch.exe: PE type, imports (Known DLLs only)
and its resources read back from the executable with windres: dialogs,
string table, icon group, version block and manifest, all language 0x0804.

  resource_check.py EXE i686|x86_64
"""
import re
import subprocess
import sys

# Imported only what Windows takes from the system directory whatever lies
# next to the exe (KnownDLLs). comctl32 is not one: it is loaded at run time.
SYSTEM_DLLS = {'advapi32.dll', 'gdi32.dll', 'kernel32.dll', 'msvcrt.dll', 'shell32.dll', 'shlwapi.dll', 'user32.dll'}

EXPECTED_LINES = [  # in this order in the dump
    '100 DIALOG 0, 0, 235, 55',
    'STYLE 0x80c800c0',  # DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU
    'CAPTION "关于 Brannoch"',
    'FONT 9, "宋体"',
    'CONTROL 128, 65535, "STATIC", 0x50000003, 11, 17, 20, 20',
    'CONTROL "Brannoch 1.0 版", 65535, "STATIC", 0x50020080, 40, 10, 119, 8',
    # the notice line's wording is ours; its form is checked below
    'CONTROL "确定", 1, "BUTTON", 0x50030001, 178, 7, 50, 14',
    '102 DIALOGEX 0, 0, 257, 106',
    'STYLE 0x90c800c0',  # ... | WS_VISIBLE
    'EXSTYLE 0x40000',  # WS_EX_APPWINDOW
    'CAPTION "Brannoch"',
    'FONT 9, "宋体"',
    'CONTROL "卸载旧版本", 1, "BUTTON", 0x50010001, 47, 80, 56, 19',
    'CONTROL "取消", 2, "BUTTON", 0x50010000, 155, 80, 56, 19',
    'CONTROL "本工具会静默卸载Tokara旧版程序，如果IE打开，请关闭IE，再点击“卸载旧版本”按钮", -1, "STATIC", '
    '0x50020000, 51, 27, 157, 25',
    'STRINGTABLE',
    '101, "关于 Brannoch(&A)..."',
    '128 14 /* RT_GROUP_ICON */',
    '0, 1, 12,	 /* Has 12 elements.  */',
    '1 VERSIONINFO',
    'FILEVERSION 1, 0, 0, 1',
    'PRODUCTVERSION 1, 0, 0, 1',
    'FILEFLAGSMASK 0x3f',
    'FILEOS 0x4',
    'FILETYPE 0x1',
    'BLOCK "080404b0"',
    'VALUE "Comments", ""',
    'VALUE "CompanyName", ""',
    'VALUE "FileDescription", "Brannoch',  # prefix: the rest is ours
    'VALUE "FileVersion", "1, 0, 0, 1"',
    'VALUE "InternalName", "Brannoch"',
    'VALUE "LegalCopyright", "',
    'VALUE "LegalTrademarks", ""',
    'VALUE "OriginalFilename", "Brannoch.EXE"',
    'VALUE "PrivateBuild", ""',
    'VALUE "ProductName", "Brannoch 应用程序"',
    'VALUE "ProductVersion", "1, 0, 0, 1"',
    'VALUE "SpecialBuild", ""',
    'VALUE "Translation", 0x804, 1200',
    '1 24 /* RT_MANIFEST */',
]

MANIFEST_PARTS = [
    '<assemblyIdentity type="win32" processorArchitecture="{arch}" version="5.1.0.0" name="Brannoch.Cleanup.Tool"/>',
    '<assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0" '
    'processorArchitecture="{arch}" publicKeyToken="6595b64144ccf1df" language="*"/>',
    '<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>',
]


def unescape(line):
    """windres writes Unicode strings as L"\\x5173..."; make them plain text."""
    def wide(m):
        return '"' + re.sub(r'\\x([0-9a-fA-F]{4})', lambda h: chr(int(h.group(1), 16)), m.group(1)) + '"'
    return re.sub(r'L"((?:[^"\\]|\\.)*)"', wide, line).strip()


def main():
    exe, arch = sys.argv[1], sys.argv[2]
    prefix = 'i686-w64-mingw32-' if arch == 'i686' else 'x86_64-w64-mingw32-'
    problems = []
    pe = subprocess.run([prefix + 'objdump', '-p', exe], capture_output=True, text=True, check=True).stdout
    want_format = 'pei-i386' if arch == 'i686' else 'pei-x86-64'
    if 'file format ' + want_format not in pe:
        problems.append('not ' + want_format)
    dlls = {m.lower() for m in re.findall(r'DLL Name: (\S+)', pe)}
    if not dlls or not dlls <= SYSTEM_DLLS:
        problems.append('imports beyond the system DLLs: %s' % sorted(dlls - SYSTEM_DLLS))
    dump = subprocess.run([prefix + 'windres', '-J', 'coff', '-i', exe, '-O', 'rc'], capture_output=True,
                          check=True).stdout.decode('latin-1')
    lines = [unescape(l) for l in dump.splitlines()]
    if [l for l in lines if l.startswith('LANGUAGE')] != ['LANGUAGE 4, 2']:
        problems.append('resources not all in language 0x0804')
    pos = 0
    for want in EXPECTED_LINES:
        for i in range(pos, len(lines)):
            if lines[i].startswith(want):
                pos = i + 1
                break
        else:
            problems.append('missing or out of order: %s' % want)
    notice = [l for l in lines if l.startswith('CONTROL "') and ', 65535, "STATIC", 0x50020000, 40, 25, 119, 8' in l]
    if len(notice) != 1:
        problems.append('About box notice line missing')
    if sum(1 for l in lines if l.startswith('STRINGTABLE')) != 1 or sum(1 for l in lines if l.startswith('101,')) != 1:
        problems.append('the string table must hold exactly one string')
    manifest = ''.join(re.findall(r'^\s*"(.*)"$', dump.split('RT_MANIFEST */', 1)[-1], re.M)).replace('""', '"')
    manifest = manifest.replace('\\n', '\n')
    arch_name = 'x86' if arch == 'i686' else 'amd64'
    for part in MANIFEST_PARTS:
        if part.format(arch=arch_name) not in manifest:
            problems.append('manifest lacks: ' + part.format(arch=arch_name))
    for p in problems:
        print('FAIL ' + p)
    print('%s %s: %s' % (exe, arch, 'resources and imports as specified' if not problems else '%d problems' % len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
