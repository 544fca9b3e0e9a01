#!/usr/bin/env python3
"""A small PE reader for the release checks.

  pe_diff.py A.exe B.exe    names the first header field, section or trailing
                            data where the two differ (exit 1), or says they
                            are identical (exit 0)
  pe_diff.py --check A.exe  the link time stamp and whether the checksum field
                            matches the file's bytes (exit 1 when it does not)
"""
import struct
import sys

DIRECTORIES = ['export', 'import', 'resource', 'exception', 'certificate', 'base relocation', 'debug',
               'architecture', 'global pointer', 'TLS', 'load config', 'bound import', 'import address table',
               'delay import', 'CLR runtime', 'reserved']
COFF = [('Machine', 'H'), ('NumberOfSections', 'H'), ('TimeDateStamp', 'I'), ('PointerToSymbolTable', 'I'),
        ('NumberOfSymbols', 'I'), ('SizeOfOptionalHeader', 'H'), ('Characteristics', 'H')]
OPTIONAL = [('Magic', 'H'), ('MajorLinkerVersion', 'B'), ('MinorLinkerVersion', 'B'), ('SizeOfCode', 'I'),
            ('SizeOfInitializedData', 'I'), ('SizeOfUninitializedData', 'I'), ('AddressOfEntryPoint', 'I'),
            ('BaseOfCode', 'I'), ('BaseOfData', 'I'), ('ImageBase', 'I'), ('SectionAlignment', 'I'),
            ('FileAlignment', 'I'), ('MajorOperatingSystemVersion', 'H'), ('MinorOperatingSystemVersion', 'H'),
            ('MajorImageVersion', 'H'), ('MinorImageVersion', 'H'), ('MajorSubsystemVersion', 'H'),
            ('MinorSubsystemVersion', 'H'), ('Win32VersionValue', 'I'), ('SizeOfImage', 'I'),
            ('SizeOfHeaders', 'I'), ('CheckSum', 'I'), ('Subsystem', 'H'), ('DllCharacteristics', 'H'),
            ('SizeOfStackReserve', 'I'), ('SizeOfStackCommit', 'I'), ('SizeOfHeapReserve', 'I'),
            ('SizeOfHeapCommit', 'I'), ('LoaderFlags', 'I'), ('NumberOfRvaAndSizes', 'I')]
SECTION = [('VirtualSize', 'I'), ('VirtualAddress', 'I'), ('SizeOfRawData', 'I'), ('PointerToRawData', 'I'),
           ('PointerToRelocations', 'I'), ('PointerToLinenumbers', 'I'), ('NumberOfRelocations', 'H'),
           ('NumberOfLinenumbers', 'H'), ('Characteristics', 'I')]


class Pe:
    """Every named field with its file offset and size, in file order."""

    def __init__(self, data):
        self.data = data
        self.fields = []  # (name, offset, size, value)
        if data[:2] != b'MZ':
            raise ValueError('no MZ header')
        self.add('DOS header', 0, 0x3C)
        pe = self.read('e_lfanew', 0x3C, 'I')
        self.add('DOS stub', 0x40, pe - 0x40)
        if data[pe:pe + 4] != b'PE\0\0':
            raise ValueError('no PE signature')
        pos = pe + 4
        for name, fmt in COFF:
            self.read(name, pos, fmt)
            pos += struct.calcsize(fmt)
        opt = pos
        magic = struct.unpack_from('<H', data, opt)[0]
        wide = magic == 0x20B  # PE32+: no BaseOfData, 64-bit image base and sizes
        for name, fmt in OPTIONAL:
            if wide and name == 'BaseOfData':
                continue
            if wide and (name == 'ImageBase' or name.startswith('SizeOfStack') or name.startswith('SizeOfHeap')):
                fmt = 'Q'
            self.read(name, pos, fmt)
            pos += struct.calcsize(fmt)
        self.checksum_offset = self.offset('CheckSum')
        self.directories = {}
        for i in range(self.value('NumberOfRvaAndSizes')):
            rva = self.read('%s directory address' % DIRECTORIES[i], pos, 'I')
            size = self.read('%s directory size' % DIRECTORIES[i], pos + 4, 'I')
            self.directories[DIRECTORIES[i]] = (rva, size)
            pos += 8
        pos = opt + self.value('SizeOfOptionalHeader')
        self.sections = []
        for _ in range(self.value('NumberOfSections')):
            name = data[pos:pos + 8].rstrip(b'\0').decode('latin-1')
            self.add('section header %s' % name, pos, 8)
            p = pos + 8
            values = {}
            for field, fmt in SECTION:
                values[field] = self.read('section %s %s' % (name, field), p, fmt)
                p += struct.calcsize(fmt)
            self.sections.append((name, values['PointerToRawData'], values['SizeOfRawData']))
            pos += 40
        self.add('header padding', pos, self.value('SizeOfHeaders') - pos)
        end = self.value('SizeOfHeaders')
        for name, raw, size in sorted(self.sections, key=lambda s: s[1]):
            if size:
                self.add('section %s contents' % name, raw, size)
                end = max(end, raw + size)
        cert_at, cert_size = self.directories.get('certificate', (0, 0))
        if cert_at and cert_at > end:
            self.add('padding before the certificate table', end, cert_at - end)
        if cert_at:
            self.add('certificate table (the signature)', cert_at, cert_size)
            end = max(end, cert_at + cert_size)
        if end < len(data):
            self.add('data after the image', end, len(data) - end)

    def add(self, name, offset, size, value=None):
        self.fields.append((name, offset, size, value))

    def read(self, name, offset, fmt):
        value = struct.unpack_from('<' + fmt, self.data, offset)[0]
        self.add(name, offset, struct.calcsize(fmt), value)
        return value

    def value(self, name):
        return next(f[3] for f in self.fields if f[0] == name)

    def offset(self, name):
        return next(f[1] for f in self.fields if f[0] == name)

    def computed_checksum(self):
        """The image checksum: 16-bit one's-complement-style sum, field itself skipped, plus the length."""
        data = self.data + (b'\0' if len(self.data) % 2 else b'')
        total = 0
        for (word,) in struct.iter_unpack('<H', data):
            total += word
        skipped = struct.unpack_from('<HH', self.data, self.checksum_offset)
        total -= skipped[0] + skipped[1]
        while total >> 16:
            total = (total & 0xFFFF) + (total >> 16)
        return total + len(self.data)


def first_difference(a, b):
    """A description of the first difference in file order, or None."""
    if a == b:
        return None
    pa, pb = Pe(a), Pe(b)
    for fa, fb in zip(pa.fields, pb.fields):
        if fa[0] != fb[0] or fa[2] != fb[2]:
            return 'layout: %s (%d bytes) against %s (%d bytes)' % (fa[0], fa[2], fb[0], fb[2])
        ca, cb = a[fa[1]:fa[1] + fa[2]], b[fb[1]:fb[1] + fb[2]]
        if ca != cb:
            if fa[3] is not None:
                return '%s: 0x%X against 0x%X' % (fa[0], fa[3], fb[3])
            at = next(i for i in range(min(len(ca), len(cb))) if ca[i] != cb[i]) if len(ca) == len(cb) else 0
            return '%s, at offset 0x%X into it (file offset 0x%X)' % (fa[0], at, fa[1] + at)
    return 'sizes: %d bytes against %d bytes' % (len(a), len(b))


def main(argv):
    if len(argv) == 3 and argv[1] == '--check':
        data = open(argv[2], 'rb').read()
        pe = Pe(data)
        stored, computed = pe.value('CheckSum'), pe.computed_checksum()
        print('%s: %d bytes, TimeDateStamp %d, CheckSum 0x%08X, computed 0x%08X%s'
              % (argv[2], len(data), pe.value('TimeDateStamp'), stored, computed,
                 '' if stored == computed else ' MISMATCH'))
        return 0 if stored == computed else 1
    if len(argv) == 3:
        diff = first_difference(open(argv[1], 'rb').read(), open(argv[2], 'rb').read())
        print('identical' if diff is None else 'first difference: ' + diff)
        return 0 if diff is None else 1
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
