#!/usr/bin/env python3
"""The release checks' view of a PE image, read with pefile.

  pe_diff.py A.exe B.exe    names the first header field, section or trailing
                            data where the two differ (exit 1), or says they
                            are identical (exit 0)
  pe_diff.py --check A.exe  the link time stamp and whether the checksum field
                            matches the file's bytes (exit 1 when it does not)
"""
import sys

import pefile

DIRECTORIES = ['export', 'import', 'resource', 'exception', 'certificate', 'base relocation', 'debug',
               'architecture', 'global pointer', 'TLS', 'load config', 'bound import', 'import address table',
               'delay import', 'CLR runtime', 'reserved']
# The PE format's names where pefile's differ.
NAMES = {'Misc_VirtualSize': 'VirtualSize', 'Reserved1': 'Win32VersionValue'}
DIRECTORY_NAMES = {'VirtualAddress': 'address', 'Size': 'size'}


def fields_of(structure, prefix='', names=NAMES):
    """(name, file offset, size, value) of each field of a pefile structure, aliases merged."""
    at = {v['FileOffset']: (k, getattr(structure, k)) for k, v in structure.dump_dict().items() if k != 'Structure'}
    starts = sorted(at)
    ends = starts[1:] + [structure.get_file_offset() + structure.sizeof()]
    return [(prefix + names.get(at[s][0], at[s][0]), s, e - s, at[s][1] if isinstance(at[s][1], int) else None)
            for s, e in zip(starts, ends)]


class Pe:
    """Every named field with its file offset and size, in file order."""

    def __init__(self, data):
        self.data = data
        try:
            self.pe = pe = pefile.PE(data=data, fast_load=True)
        except pefile.PEFormatError as e:
            raise ValueError(str(e)) from e
        self.fields = fields_of(pe.DOS_HEADER)  # (name, offset, size, value)
        self.add('DOS stub', 0x40, pe.DOS_HEADER.e_lfanew - 0x40)
        self.fields += fields_of(pe.FILE_HEADER) + fields_of(pe.OPTIONAL_HEADER)
        for name, directory in zip(DIRECTORIES, pe.OPTIONAL_HEADER.DATA_DIRECTORY):
            self.fields += fields_of(directory, name + ' directory ', DIRECTORY_NAMES)
        self.sections = []
        for section in sorted(pe.sections, key=lambda s: s.get_file_offset()):
            name = section.Name.rstrip(b'\0').decode('latin-1')
            header = fields_of(section, 'section %s ' % name)
            self.fields += [('section header ' + name,) + header[0][1:3] + (None,)] + header[1:]
            self.sections.append((name, section.PointerToRawData, section.SizeOfRawData))
        pos = self.fields[-1][1] + self.fields[-1][2]
        self.add('header padding', pos, self.value('SizeOfHeaders') - pos)
        end = self.value('SizeOfHeaders')
        for name, raw, size in sorted(self.sections, key=lambda s: s[1]):
            if size:
                self.add('section %s contents' % name, raw, size)
                end = max(end, raw + size)
        cert = pe.OPTIONAL_HEADER.DATA_DIRECTORY[4]
        if cert.VirtualAddress and cert.VirtualAddress > end:
            self.add('padding before the certificate table', end, cert.VirtualAddress - end)
        if cert.VirtualAddress:
            self.add('certificate table (the signature)', cert.VirtualAddress, cert.Size)
            end = max(end, cert.VirtualAddress + cert.Size)
        if end < len(data):
            self.add('data after the image', end, len(data) - end)

    def add(self, name, offset, size, value=None):
        self.fields.append((name, offset, size, value))

    def value(self, name):
        return next(f[3] for f in self.fields if f[0] == name)

    def computed_checksum(self):
        """The image checksum from the bytes, the field itself skipped."""
        return self.pe.generate_checksum()


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
