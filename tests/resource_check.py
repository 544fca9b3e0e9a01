#!/usr/bin/env python3
"""Checks a built Brannoch.exe, read with pefile: PE type, imports (Known
DLLs only: the system takes them from the system directory whatever lies next
to the exe; both the A and the W form of the calls that make the dialogs and
the menu entry; for the i686 product, every import in imports-i686.txt and a
subsystem version Windows XP loads) and every resource, compared field by
field: both dialog templates whole, the string table, each icon image, the
version block with its fixed part, the manifest; nothing more, and all in
language 0x0804.

  resource_check.py EXE i686|x86_64
  resource_check.py --self-test SOURCE_DIR EXE   changes made to a copy of the resource
                                                 script, icon, i686 exe and link map must each be caught,
                                                 and a link map holding only the runtime's table bounds passes
"""
import os
import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

import pefile

# Imported only what Windows takes from the system directory whatever lies
# next to the exe (KnownDLLs). comctl32 is not one: it is loaded at run time.
SYSTEM_DLLS = {'advapi32.dll', 'gdi32.dll', 'kernel32.dll', 'msvcrt.dll', 'ole32.dll', 'shell32.dll', 'shlwapi.dll', 'user32.dll'}
BOTH_FORMS = ['DialogBoxParam', 'LoadString', 'AppendMenu']  # W on NT, A on Windows 9x
# Today's imports of the product, DLL!function: a new one is a conscious change
# of the oldest Windows it loads on.
ALLOWED_IMPORTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'imports-i686.txt')
# The i686 product's size in bytes, set just above what it is: runtime code
# it does not use (C++ exception support, the runtime's start-up code, printf)
# shows at once as a failure here.
SIZE_CEILING = 83456
LANG = 0x0804
RT_ICON, RT_DIALOG, RT_STRING, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 5, 6, 14, 16, 24
BUTTON, STATIC = 0x80, 0x82
CLASS_ORDINALS = {'BUTTON': BUTTON, 'EDIT': 0x81, 'STATIC': STATIC, 'LISTBOX': 0x83, 'SCROLLBAR': 0x84,
                  'COMBOBOX': 0x85}
NOTICE = None  # the About box's notice: our wording, checked to fit its control

# control: (class, id, text, style, extended style, (x, y, cx, cy), extra bytes)
ABOUT = dict(kind='DIALOG', help=0, style=0x80C800C0, exstyle=0, rect=(0, 0, 235, 55), menu='', cls='',
             title='关于 Brannoch', font=(9, 0, 0, 1, '宋体'), controls=[
                 (STATIC, -1, 128, 0x50000003, 0, (11, 17, 20, 20), 0),
                 (STATIC, -1, 'Brannoch 1.0 版', 0x50020080, 0, (40, 10, 119, 8), 0),
                 (STATIC, -1, NOTICE, 0x50020000, 0, (40, 25, 119, 8), 0),
                 (BUTTON, 1, '确定', 0x50030001, 0, (178, 7, 50, 14), 0)])
CLEANUP = dict(kind='DIALOGEX', help=0, style=0x90C800C0, exstyle=0x40000, rect=(0, 0, 257, 106), menu='',
               cls='', title='Brannoch', font=(9, 0, 0, 1, '宋体'), controls=[
                   (BUTTON, 1, '卸载旧版本', 0x50010001, 0, (47, 80, 56, 19), 0),
                   (BUTTON, 2, '取消', 0x50010000, 0, (155, 80, 56, 19), 0),
                   (STATIC, -1, '本工具会静默卸载Tokara旧版程序，如果IE打开，请关闭IE，再点击“卸载旧版本”按钮',
                    0x50020000, 0, (51, 27, 157, 25), 0),
                   # the step line first: the bar's accessible name is the static before it
                   (STATIC, 1001, '', 0x40000081, 0, (7, 68, 243, 9), 0),
                   ('MSCTLS_PROGRESS32', 1000, '', 0x40000000, 0, (51, 56, 157, 9), 0)])
# signature, structure version, file version, product version, flags mask,
# flags, OS, type, subtype, date
FIXED = (0xFEEF04BD, 0x10000, 0x10000, 1, 0x10000, 1, 0x3F, 0, 4, 1, 0, 0, 0)
STRINGS = [('Comments', ''), ('CompanyName', ''), ('FileDescription', 'Brannoch*'), ('FileVersion', '1, 0, 0, 1'),
           ('InternalName', 'Brannoch'), ('LegalCopyright', '*'), ('LegalTrademarks', ''),
           ('OriginalFilename', 'Brannoch.EXE'), ('PrivateBuild', ''), ('ProductName', 'Brannoch 应用程序'),
           ('ProductVersion', '1, 0, 0, 1'), ('SpecialBuild', '')]  # '*': any one line
ICONS = sorted((size, size, bits) for size in (48, 32, 24, 16) for bits in (4, 8, 32))
MENU_TEXT = '关于 Brannoch(&A)...'


class Reader:
    def __init__(self, data, pos=0):
        self.data, self.pos = data, pos

    def take(self, fmt):
        values = struct.unpack_from('<' + fmt, self.data, self.pos)
        self.pos += struct.calcsize('<' + fmt)
        return values if len(values) > 1 else values[0]

    def wstr(self):
        end = self.pos
        while self.data[end:end + 2] != b'\0\0':
            end += 2
        text = self.data[self.pos:end].decode('utf-16-le')
        self.pos = end + 2
        return text

    def sz_or_ord(self):
        first = struct.unpack_from('<H', self.data, self.pos)[0]
        if first == 0xFFFF:
            self.pos += 2
            return self.take('H')
        return self.wstr()

    def align(self):
        self.pos = (self.pos + 3) & ~3


def pe_resources(pe):
    """{(type, name, language): bytes} from a PE image's resource section."""
    key = lambda entry: str(entry.name) if entry.name is not None else entry.id  # noqa: E731
    root = getattr(pe, 'DIRECTORY_ENTRY_RESOURCE', None)
    return {(key(kind), key(name), lang.id): pe.get_data(lang.data.struct.OffsetToData, lang.data.struct.Size)
            for kind in (root.entries if root else []) for name in kind.directory.entries
            for lang in name.directory.entries}


def parse_dialog(data):
    r = Reader(data)
    ex = data[:4] == b'\x01\x00\xff\xff'
    d = dict(kind='DIALOGEX' if ex else 'DIALOG', help=0)
    if ex:
        _, _, d['help'], d['exstyle'], d['style'] = r.take('HHIII')
    else:
        d['style'], d['exstyle'] = r.take('II')
    count = r.take('H')
    d['rect'] = r.take('hhhh')
    d['menu'], d['cls'], d['title'] = r.sz_or_ord(), r.sz_or_ord(), r.sz_or_ord()
    d['font'] = None
    if d['style'] & 0x40:  # DS_SETFONT
        point = r.take('H')
        weight, italic, charset = r.take('HBB') if ex else (0, 0, 1)
        d['font'] = (point, weight, italic, charset, r.wstr())
    d['controls'] = []
    for _ in range(count):
        r.align()
        if ex:
            helpid, exstyle, style = r.take('III')
            rect, cid = r.take('hhhh'), r.take('i')
        else:
            style, exstyle = r.take('II')
            rect, cid = r.take('hhhh'), r.take('h')
        cls, text, extra = r.sz_or_ord(), r.sz_or_ord(), r.take('H')
        cls = CLASS_ORDINALS.get(cls.upper(), cls) if isinstance(cls, str) else cls  # the same class either way
        r.pos += extra
        d['controls'].append((cls, cid, text, style, exstyle, rect, extra))
    d['trailing'] = len(data) - r.pos > 3
    return d


def text_cells(text):
    """Width in 9-point 宋体, in half-width character cells: 宋体 is fixed pitch,
    a half-width character one average character width (4 dialog units), a
    full-width one two."""
    return sum(2 if ord(c) > 0x7F else 1 for c in text)


def check_dialog(name, data, want, problems):
    got = parse_dialog(data)
    for field in ('kind', 'help', 'style', 'exstyle', 'rect', 'menu', 'cls', 'title', 'font'):
        if got[field] != want[field]:
            problems.append('%s %s: %r, expected %r' % (name, field, got[field], want[field]))
    if got['trailing']:
        problems.append('%s: bytes after the last control' % name)
    if len(got['controls']) != len(want['controls']):
        problems.append('%s: %d controls, expected %d' % (name, len(got['controls']), len(want['controls'])))
    for i, (g, w) in enumerate(zip(got['controls'], want['controls'])):
        if w[2] is NOTICE and isinstance(g[2], str):
            cells, width = text_cells(g[2]), w[5][2]
            if not g[2] or cells * 4 > width:
                problems.append('%s notice %r: %d cells, its control holds %d' % (name, g[2], cells, width // 4))
            w = w[:2] + (g[2],) + w[3:]
        if g != w:
            problems.append('%s control %d: %r, expected %r' % (name, i + 1, g, w))


def parse_block(data, pos):
    """One node of the version block: (key, value, children)."""
    r = Reader(data, pos)
    length, value_length, kind = r.take('HHH')
    key = r.wstr()
    r.align()
    if kind == 1:
        value = data[r.pos:r.pos + 2 * value_length].decode('utf-16-le').rstrip('\0')
        r.pos += 2 * value_length
    else:
        value = data[r.pos:r.pos + value_length]
        r.pos += value_length
    r.align()
    children = []
    while r.pos < pos + length:
        child, end = parse_block(data, r.pos)
        children.append(child)
        r.pos = (end + 3) & ~3
    return (key, value, children), pos + length


def check_version(data, problems):
    (key, fixed, children), _ = parse_block(data, 0)
    if key != 'VS_VERSION_INFO' or len(fixed) != 52 or struct.unpack('<13I', fixed) != FIXED:
        problems.append('version fixed part: %s' % ([hex(v) for v in struct.unpack('<13I', fixed)]
                                                     if len(fixed) == 52 else fixed,))
    blocks = {k: c for k, _, c in children}
    tables = blocks.get('StringFileInfo', [])
    if [t[0] for t in tables] != ['080404b0']:
        problems.append('version string tables: %s' % [t[0] for t in tables])
    got = [(k, v) for k, v, _ in tables[0][2]] if tables else []
    if [k for k, _ in got] != [k for k, _ in STRINGS]:
        problems.append('version keys: %s' % [k for k, _ in got])
    for (k, v), (_, w) in zip(got, STRINGS):
        ok = (v == w if not w.endswith('*') else v.startswith(w[:-1]) and v and '\n' not in v)
        if not ok:
            problems.append('version %s: %r' % (k, v))
    translation = [v for k, v, _ in blocks.get('VarFileInfo', [])]
    if translation != [struct.pack('<HH', LANG, 1200)]:
        problems.append('version translation: %s' % translation)
    if set(blocks) != {'StringFileInfo', 'VarFileInfo'}:
        problems.append('version blocks: %s' % sorted(blocks))


def check_icons(group, images, problems):
    r = Reader(group)
    reserved, kind, count = r.take('HHH')
    entries = [r.take('BBBBHHIH') for _ in range(count)]
    got = []
    for width, height, colours, _, planes, bits, size, icon_id in entries:
        width, height = width or 256, height or 256
        got.append((width, height, bits))
        image = images.get(icon_id, b'')
        header = struct.unpack_from('<IiiHH', image) if len(image) >= 16 else None
        if (header != (40, width, 2 * height, 1, bits) or planes != 1 or size != len(image) or
                colours != (1 << bits if bits < 8 else 0)):
            problems.append('icon %d: entry %s, image %s' % (icon_id, (width, height, colours, planes, bits, size),
                                                             header))
    if (reserved, kind) != (0, 1) or sorted(got) != ICONS:
        problems.append('icon group: %s' % sorted(got))
    if sorted(images) != sorted(e[7] for e in entries):
        problems.append('icon images %s, group names %s' % (sorted(images), sorted(e[7] for e in entries)))


def check_strings(data, problems):
    r, texts = Reader(data), []
    for _ in range(16):
        n = r.take('H')
        texts.append(data[r.pos:r.pos + 2 * n].decode('utf-16-le'))
        r.pos += 2 * n
    if texts != ['' if i != 101 % 16 else MENU_TEXT for i in range(16)] or r.pos != len(data):
        problems.append('string table: %s' % [t for t in texts if t])


def check_manifest(data, arch, problems):
    ns = {'v1': 'urn:schemas-microsoft-com:asm.v1', 'v3': 'urn:schemas-microsoft-com:asm.v3',
          'ws5': 'http://schemas.microsoft.com/SMI/2005/WindowsSettings',
          'ws16': 'http://schemas.microsoft.com/SMI/2016/WindowsSettings',
          'c': 'urn:schemas-microsoft-com:compatibility.v1'}
    try:
        root = ET.fromstring(data)
    except ET.ParseError as e:
        problems.append('manifest: %s' % e)
        return
    name = 'Brannoch.Cleanup.Tool'
    want = [
        ('v1:assemblyIdentity', dict(type='win32', processorArchitecture=arch, version='5.1.0.0', name=name)),
        ('v1:description', None),
        ('v1:dependency/v1:dependentAssembly/v1:assemblyIdentity',
         dict(type='win32', name='Microsoft.Windows.Common-Controls', version='6.0.0.0', processorArchitecture=arch,
              publicKeyToken='6595b64144ccf1df', language='*')),
        ('v3:trustInfo/v3:security/v3:requestedPrivileges/v3:requestedExecutionLevel',
         dict(level='requireAdministrator', uiAccess='false')),
        ('v3:application/v3:windowsSettings/ws5:dpiAware', 'true'),
        ('v3:application/v3:windowsSettings/ws16:dpiAwareness', 'PerMonitorV2, System')]
    for path, attributes in want:
        found = root.findall(path, ns)
        text = attributes if isinstance(attributes, str) else name if attributes is None else None
        if len(found) != 1 or (text is None and found[0].attrib != attributes) or \
                (text is not None and (found[0].text != text or found[0].attrib)):
            problems.append('manifest %s: %s' % (path, [(f.attrib, f.text) for f in found]))
    # Vista, 7, 8, 8.1, 10 and 11
    systems = [f.get('Id') for f in root.findall('c:compatibility/c:application/c:supportedOS', ns)]
    if systems != ['{e2011457-1546-43c5-a5fe-008deee3d3f0}', '{35138b9a-5d96-4fbd-8e2d-a2440225f93a}',
                   '{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}', '{1f676c76-80e1-4239-95bb-83d0f6d0da78}',
                   '{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}']:
        problems.append('manifest supportedOS: %s' % systems)


def check_resources(res, arch, problems):
    if {k[2] for k in res} != {LANG}:
        problems.append('languages %s' % sorted({k[2] for k in res}))
    icons = {k[1]: v for k, v in res.items() if k[0] == RT_ICON}
    want = {(RT_GROUP_ICON, 128), (RT_DIALOG, 100), (RT_DIALOG, 102), (RT_STRING, 101 // 16 + 1),
            (RT_VERSION, 1), (RT_MANIFEST, 1)} | {(RT_ICON, i) for i in icons}
    got = {k[:2]: v for k, v in res.items()}
    if set(got) != want:
        problems.append('resources %s, expected %s' % (sorted(got, key=str), sorted(want, key=str)))
    if not want <= set(got):
        return
    check_dialog('About box', got[(RT_DIALOG, 100)], ABOUT, problems)
    check_dialog('main dialog', got[(RT_DIALOG, 102)], CLEANUP, problems)
    check_strings(got[(RT_STRING, 7)], problems)
    check_icons(got[(RT_GROUP_ICON, 128)], icons, problems)
    check_version(got[(RT_VERSION, 1)], problems)
    check_manifest(got[(RT_MANIFEST, 1)], 'x86' if arch == 'i686' else 'amd64', problems)


def imports_of(pe):
    """{'dll!function'} of the import table, DLL names in lower case."""
    return {'%s!%s' % (d.dll.decode().lower(), i.name.decode() if i.name else '#%d' % i.ordinal)
            for d in getattr(pe, 'DIRECTORY_ENTRY_IMPORT', []) for i in d.imports}


def check_exe(exe, arch):
    problems = []
    pe = pefile.PE(exe)
    want_format = 'pei-i386' if arch == 'i686' else 'pei-x86-64'
    if (pe.FILE_HEADER.Machine, pe.OPTIONAL_HEADER.Magic) != ((0x14C, 0x10B) if arch == 'i686' else (0x8664, 0x20B)):
        problems.append('not ' + want_format)
    imports = imports_of(pe)
    dlls = {i.split('!')[0] for i in imports}
    if not dlls or not dlls <= SYSTEM_DLLS:
        problems.append('imports beyond the system DLLs: %s' % sorted(dlls - SYSTEM_DLLS))
    imported = {i.split('!')[1] for i in imports}
    for call in BOTH_FORMS:
        if not {call + 'A', call + 'W'} <= imported:
            problems.append('imports lack %sA or %sW' % (call, call))
    if not pe.OPTIONAL_HEADER.DllCharacteristics & 0x8000:
        problems.append('not Terminal-Server-aware: GetWindowsDirectoryA would name a per-user folder')
    if arch == 'i686':
        version = (pe.OPTIONAL_HEADER.MajorSubsystemVersion, pe.OPTIONAL_HEADER.MinorSubsystemVersion)
        if version > (5, 1):
            problems.append('subsystem version %d.%02d: above 5.01, Windows XP would not load it' % version)
        allowed = {line.strip() for line in open(ALLOWED_IMPORTS) if line.strip() and not line.startswith('#')}
        if imports - allowed:
            problems.append('imports not in %s: %s' % (os.path.basename(ALLOWED_IMPORTS), sorted(imports - allowed)))
        # The build itself: a signature appended to it is not counted.
        size = os.path.getsize(exe) - pe.OPTIONAL_HEADER.DATA_DIRECTORY[4].Size
        if size > SIZE_CEILING:
            problems.append('%d bytes unsigned: above the ceiling of %d' % (size, SIZE_CEILING))
    check_resources(pe_resources(pe), arch, problems)
    return problems


# A change to the resource script or the icon that the check must catch:
# (what, file, old text, new text); icon changes patch its directory.
MUTATIONS = [
    ('main dialog charset 1 -> 0x86', 'Brannoch.rc', '"宋体", 0, 0, 0x1', '"宋体", 0, 0, 0x86'),
    ('main dialog weight 700 and italic', 'Brannoch.rc', '"宋体", 0, 0, 0x1', '"宋体", 700, 1, 0x1'),
    ('version flags 0 -> 1', 'Brannoch.rc', 'FILEFLAGS 0x0L', 'FILEFLAGS 0x1L'),
    ('version subtype 0 -> 1', 'Brannoch.rc', 'FILESUBTYPE 0x0L', 'FILESUBTYPE 0x1L'),
    ('extended style on the About box', 'Brannoch.rc', 'CAPTION "关于 Brannoch"',
     'EXSTYLE WS_EX_TOOLWINDOW\nCAPTION "关于 Brannoch"'),
    ('extended style on an About box control', 'Brannoch.rc', 'SS_ICON, 11, 17, 20, 20',
     'SS_ICON, 11, 17, 20, 20, WS_EX_STATICEDGE'),
    ('an extra control', 'Brannoch.rc', 'BS_DEFPUSHBUTTON, 178, 7, 50, 14',
     'BS_DEFPUSHBUTTON, 178, 7, 50, 14\n    CONTROL "", IDC_STATIC, "Static", WS_CHILD, 0, 0, 1, 1'),
    ('static text height 25 -> 250', 'Brannoch.rc', '51, 27, 157, 25', '51, 27, 157, 250'),
    ('a notice too wide for its control', 'Brannoch.rc', None, 'Removes old editions of the USB-key tool.'),
    ('an added string', 'Brannoch.rc', '    IDS_ABOUT_MENU "', '    102 "x"\n    IDS_ABOUT_MENU "'),
    ('manifest without administrator rights', 'Brannoch.manifest', 'requireAdministrator', 'asInvoker'),
    ('manifest not DPI-aware', 'Brannoch.manifest', '>true</dpiAware>', '>false</dpiAware>'),
    ('manifest per-monitor v1', 'Brannoch.manifest', 'PerMonitorV2, System', 'PerMonitor'),
    ('manifest without Windows 10 and 11', 'Brannoch.manifest', '8e0f7a12', '8e0f7a13'),
    ('icon depths 4/8/32 -> 8/8/32', 'Brannoch.ico', 4, 8),
    ('icon sizes 48 -> 64', 'Brannoch.ico', 48, 64),
    ('an import not in the list (GetTickCount64, Vista)', 'Brannoch.exe', 'GetModuleFileNameA', 'GetTickCount64'),
    ('subsystem version 4.0 -> 6.0', 'Brannoch.exe', 'MajorSubsystemVersion', 6),
    ('4 KB more than the ceiling allows', 'Brannoch.exe', 'size', 4096),
    ('not Terminal-Server-aware', 'Brannoch.exe', 'DllCharacteristics', 0x140),
    ('a static constructor of priority 200', 'Brannoch.map', None, 'S s __attribute__((init_priority(200)));'),
    ('a constructor function', 'Brannoch.map', None, '__attribute__((constructor)) void g() { f(); }'),
    ('a .ctor entry', 'Brannoch.map', None, '__attribute__((section(".ctor"), used)) void (*g)() = f;'),
    ('a C++ initialiser in .CRT$XCU', 'Brannoch.map', None, '__attribute__((section(".CRT$XCU"), used)) void (*g)() = f;'),
    ('a C initialiser in .CRT$XIU', 'Brannoch.map', None,
     'int h() { f(); return 0; }\n__attribute__((section(".CRT$XIU"), used)) int (*g)() = h;'),
]
# The runtime's own bounds of its initialiser tables: no initialiser, never caught.
RUNTIME_BOUNDS = ''.join('__attribute__((section(".CRT$X%s"), used)) void (*%s)() = 0;\n' % (b, b) for b in ('CA', 'CZ', 'IA', 'IZ'))


def check_link_map(source, link_map, planted=None):
    """What the build's check (cmake/no_static_constructors.cmake) finds in a link map, or in
    that of an object holding the planted code."""
    if planted:
        src, out = link_map + '.cpp', link_map + '.exe'
        with open(src, 'w') as f:
            f.write('volatile int v;\nvoid f() { v = v + 1; }\nstruct S { S() { f(); } };\n' + planted + '\n')
        subprocess.run(['i686-w64-mingw32-g++', '-Oz', '-c', src, '-o', src + '.o'], check=True)
        subprocess.run(['i686-w64-mingw32-ld', '-Map', link_map, '-o', out, src + '.o'], check=True, capture_output=True)
    r = subprocess.run(['cmake', '-DMAP=' + link_map, '-P', os.path.join(source, 'cmake', 'no_static_constructors.cmake')],
                       capture_output=True, text=True)
    return [] if r.returncode == 0 else [r.stderr.strip().splitlines()[-1]]


def mutate_icon(data, old, new):
    """Changes the bit depth (4 -> 8) or the size (48 -> 64) of the icon's
    directory entries and of the images they describe."""
    data = bytearray(data)
    for i in range(struct.unpack_from('<H', data, 4)[0]):
        entry = 6 + 16 * i
        offset = struct.unpack_from('<I', data, entry + 12)[0]
        if old in (4, 8, 32) and struct.unpack_from('<H', data, entry + 6)[0] == old:
            struct.pack_into('<BB', data, entry + 2, 0, 0)  # colours, reserved
            struct.pack_into('<H', data, entry + 6, new)
            struct.pack_into('<H', data, offset + 14, new)
        elif old == 48 and data[entry] == old:
            data[entry] = data[entry + 1] = new
            struct.pack_into('<ii', data, offset + 4, new, 2 * new)
    return bytes(data)


def mutate_exe(data, old, new):
    """Renames the import old to new, sets the optional header's field old to
    new, or (old 'size') appends new bytes."""
    if old == 'size':
        return data + b'\0' * new
    pe = pefile.PE(data=data)
    if isinstance(new, int):
        setattr(pe.OPTIONAL_HEADER, old, new)
        return bytes(pe.write())
    at = next(i.name_offset for d in pe.DIRECTORY_ENTRY_IMPORT for i in d.imports if i.name == old.encode())
    return data[:at] + new.encode().ljust(len(old), b'\0') + data[at + len(old):]


def self_test(source, exe, verbose):
    app = os.path.join(source, 'app')
    files = {'Brannoch.rc': open(os.path.join(app, 'Brannoch.rc'), encoding='utf-8').read(),
             'Brannoch.manifest': open(os.path.join(app, 'Brannoch.manifest'), encoding='utf-8').read(),
             'resource.h': open(os.path.join(app, 'resource.h'), encoding='utf-8').read(),
             'Brannoch.ico': open(os.path.join(app, 'res', 'Brannoch.ico'), 'rb').read(),
             'Brannoch.exe': open(exe, 'rb').read()}
    notice = re.search(r'CONTROL\s+"([^"]*)", IDC_STATIC, "Static", [^\n]*SS_LEFT, 40, 25, 119, 8', files['Brannoch.rc'])

    def build(changed, work):
        os.makedirs(os.path.join(work, 'res'), exist_ok=True)
        if 'Brannoch.map' in changed:
            return check_link_map(source, work + '.map', changed['Brannoch.map'])
        if changed['Brannoch.exe'] != files['Brannoch.exe']:
            with open(os.path.join(work, 'Brannoch.exe'), 'wb') as f:
                f.write(changed['Brannoch.exe'])
            return check_exe(os.path.join(work, 'Brannoch.exe'), 'i686')
        for name, content in changed.items():
            path = os.path.join(work, 'res', name) if name.endswith('.ico') else os.path.join(work, name)
            if name == 'Brannoch.rc':
                content = content.encode('gbk')
            with open(path, 'wb') as f:
                f.write(content if isinstance(content, bytes) else content.encode('utf-8'))
        obj, out = os.path.join(work, 'res.o'), os.path.join(work, 'out.exe')
        subprocess.run(['i686-w64-mingw32-windres', '-c', '936', '-I', work, '-i', os.path.join(work, 'Brannoch.rc'),
                        '-O', 'coff', '-o', obj], check=True, cwd=work, capture_output=True)
        subprocess.run(['i686-w64-mingw32-ld', '-o', out, obj], check=True, capture_output=True)
        problems = []
        check_resources(pe_resources(pefile.PE(out)), 'i686', problems)
        return problems

    failures = []
    with tempfile.TemporaryDirectory() as tmp:
        baseline = (build(files, os.path.join(tmp, 'baseline')) + check_exe(exe, 'i686') +
                    check_link_map(source, os.path.join(os.path.dirname(exe), 'Brannoch.map')))
        if baseline:
            failures.append('the unchanged resources fail: %s' % baseline)
        bounds = check_link_map(source, os.path.join(tmp, 'bounds.map'), RUNTIME_BOUNDS)
        if bounds:
            failures.append('the runtime\'s table bounds are taken for constructors: %s' % bounds)
        for n, (what, name, old, new) in enumerate(MUTATIONS):
            changed = dict(files)
            if name.endswith('.map'):
                changed[name] = new
            elif name.endswith('.ico'):
                changed[name] = mutate_icon(files[name], old, new)
            elif name.endswith('.exe'):
                changed[name] = mutate_exe(files[name], old, new)
            else:
                old = notice.group(1) if old is None else old
                if changed[name].count(old) != 1:
                    failures.append('%s: the text to change is not there once' % what)
                    continue
                changed[name] = changed[name].replace(old, new)
            caught = build(changed, os.path.join(tmp, str(n)))
            if changed[name] == files.get(name) or not caught:
                failures.append('not caught: ' + what)
            elif verbose:
                print('%-40s caught: %s' % (what, caught[0]))
    for f in failures:
        print('FAIL ' + f)
    print('resource check self-test: %d changes, %d caught' % (len(MUTATIONS), len(MUTATIONS) -
                                                               len([f for f in failures if 'caught' in f])))
    return 1 if failures else 0


def main():
    if sys.argv[1] == '--self-test':
        return self_test(sys.argv[2], sys.argv[3], '-v' in sys.argv)
    exe, arch = sys.argv[1], sys.argv[2]
    problems = check_exe(exe, arch)
    for p in problems:
        print('FAIL ' + p)
    print('%s %s: %s' % (exe, arch, 'resources and imports as specified' if not problems else '%d problems' % len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
