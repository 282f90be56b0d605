#!/usr/bin/env python3
"""Checks the shape of a built executable: PE32 or PE32+, GUI subsystem, imports only from
Windows' own DLLs, the icon DEFAULT_ICON at 16 and 32 pixels, and the manifest asking for the
common controls 6.0.0.0 of the right processor architecture. Prints one line per check."""
import re
import struct
import sys

SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'msvcrt.dll'}
RT_ICON, RT_GROUP_ICON, RT_MANIFEST = 3, 14, 24


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        assert data[pe:pe + 4] == b'PE\0\0', 'no PE signature'
        self.machine, sections, _, _, _, opt_size, _ = struct.unpack_from('<HHIIIHH', data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from('<H', data, opt)[0]
        self.subsystem = struct.unpack_from('<H', data, opt + 68)[0]
        dirs = opt + (96 if self.magic == 0x10B else 112)
        self.dirs = [struct.unpack_from('<II', data, dirs + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(sections):
            s = opt + opt_size + 40 * i
            vsize, va, rsize, raw = struct.unpack_from('<IIII', data, s + 8)
            self.sections.append((va, max(vsize, rsize), raw))

    def off(self, rva):
        for va, size, raw in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError('rva %#x outside every section' % rva)

    def cstr(self, rva):
        o = self.off(rva)
        return self.data[o:self.data.index(b'\0', o)].decode('latin-1')

    def imports(self):
        rva = self.dirs[1][0]
        names = []
        while rva:
            desc = struct.unpack_from('<IIIII', self.data, self.off(rva))
            if desc[3] == 0:
                break
            names.append(self.cstr(desc[3]))
            rva += 20
        return names

    def resources(self):
        """{(type, name): data}, names as ints or strings, first language only."""
        base_rva = self.dirs[2][0]
        base = self.off(base_rva)
        out = {}

        def entries(o):
            named, ids = struct.unpack_from('<HH', self.data, o + 12)
            for i in range(named + ids):
                key, target = struct.unpack_from('<II', self.data, o + 16 + 8 * i)
                if key & 0x80000000:
                    p = base + (key & 0x7FFFFFFF)
                    n = struct.unpack_from('<H', self.data, p)[0]
                    key = self.data[p + 2:p + 2 + 2 * n].decode('utf-16-le')
                yield key, target

        for rtype, t in entries(base):
            for name, n in entries(base + (t & 0x7FFFFFFF)):
                for _, leaf in entries(base + (n & 0x7FFFFFFF)):
                    rva, size = struct.unpack_from('<II', self.data, base + leaf)
                    out[(rtype, name)] = self.data[self.off(rva):self.off(rva) + size]
                    break
        return out


def main(path, kind):
    pe = Pe(open(path, 'rb').read())
    results = []

    def check(name, ok, detail=''):
        results.append(ok)
        print(('ok - ' if ok else 'FAIL - ') + name + ('' if ok else ': ' + detail))

    want_magic, want_arch = (0x10B, 'x86') if kind == 'PE32' else (0x20B, 'amd64')
    check('format is ' + kind, pe.magic == want_magic, 'magic %#x' % pe.magic)
    check('GUI subsystem', pe.subsystem == 2, 'subsystem %d' % pe.subsystem)
    dlls = [d.lower() for d in pe.imports()]
    check('imports only system DLLs', set(dlls) <= SYSTEM_DLLS, ', '.join(dlls))
    res = pe.resources()
    group = res.get((RT_GROUP_ICON, 'DEFAULT_ICON'))
    check('icon DEFAULT_ICON present', group is not None, 'names %s' % sorted(map(str, res)))
    if group:
        count = struct.unpack_from('<H', group, 4)[0]
        sizes = sorted(group[6 + 14 * i] or 256 for i in range(count))
        check('icon has 16 and 32 pixel images', sizes == [16, 32], str(sizes))
    manifest = res.get((RT_MANIFEST, 1), b'').decode('utf-8', 'replace')
    check('manifest is resource 1', bool(manifest))
    deps = re.findall(r'name="([^"]+)"\s+version="([^"]+)"\s+processorArchitecture="([^"]+)"',
                      manifest)
    check('manifest asks for common controls 6.0.0.0 for ' + want_arch,
          deps == [('Microsoft.Windows.Common-Controls', '6.0.0.0', want_arch)], str(deps))
    check('manifest declares nothing else',
          not re.search(r'dpiAware|requestedExecutionLevel|supportedOS', manifest), manifest)
    failed = results.count(False)
    print('%d passed, %d failed' % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main(sys.argv[1], sys.argv[2]))
