#!/usr/bin/env python3
"""The shape of a built executable.

  check_pe.py EXE PE32|PE32+ ALLOWED_IMPORTS VERSION   checks it, one line per check
  check_pe.py --show EXE                                prints its figures and version resource

The checks: PE32 or PE32+, GUI subsystem, the oldest Windows it declares (5.01 for the PE32, the
linker's own 5.02 for the PE32+), the PE32's size, no build time stamped in, imports exactly those of the
allow-list, the icon DEFAULT_ICON at 16 and 32 pixels, the manifest asking for the common
controls 6.0.0.0 of the right processor architecture, and the version resource."""
import os
import re
import struct
import sys

SYSTEM_DLLS = {'kernel32.dll', 'user32.dll', 'gdi32.dll', 'msvcrt.dll'}
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24
# The shipped executable stays a small download; the exception runtime alone would pass this.
MAX_PE32_BYTES = 64 * 1024
PRODUCT_NAME = 'Orvane群发辅助小工具'
# Chinese (PRC), code page 936: the language and code page of the version strings.
VERSION_TRANSLATION = (0x0804, 936)

# Functions no line of the allow-list may name: they read or steer other threads and processes,
# which this tool never does and which is what makes a small program look like an injector.
FORBIDDEN = re.compile(r'ThreadContext|SuspendThread|ResumeThread|OpenProcess|OpenThread|'
                       r'Debug|ProcessMemory|VirtualAllocEx|VirtualProtectEx|RemoteThread|'
                       r'SetWindowsHookEx|VectoredExceptionHandler')
# Functions that came after Windows XP and that a C++ runtime or a careless change pulls in.
# The PE32 must start on XP SP3, so neither its imports nor its allow-list may hold them.
AFTER_XP = re.compile(r'GetTickCount64|CriticalSectionEx|SRWLock|ConditionVariable|InitOnce|'
                      r'^Fls|ClipboardFormatListener|CreateEventEx|CreateMutexEx|'
                      r'CreateSemaphoreEx|GetErrorMode|ThreadErrorMode|'
                      r'QueryFullProcessImageName|GetSystemTimePreciseAsFileTime')


class Pe:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from('<I', data, 0x3C)[0]
        assert data[pe:pe + 4] == b'PE\0\0', 'no PE signature'
        (self.machine, sections, self.timestamp, _, _, opt_size,
         _) = struct.unpack_from('<HHIIIHH', data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from('<H', data, opt)[0]
        self.os_version = struct.unpack_from('<HH', data, opt + 40)
        self.subsystem_version = struct.unpack_from('<HH', data, opt + 48)
        self.checksum = struct.unpack_from('<I', data, opt + 64)[0]
        self.subsystem = struct.unpack_from('<H', data, opt + 68)[0]
        dirs = opt + (96 if self.magic == 0x10B else 112)
        self.dirs = [struct.unpack_from('<II', data, dirs + 8 * i) for i in range(16)]
        self.sections = []
        for i in range(sections):
            s = opt + opt_size + 40 * i
            name = data[s:s + 8].rstrip(b'\0').decode('latin-1')
            vsize, va, rsize, raw = struct.unpack_from('<IIII', data, s + 8)
            self.sections.append((name, va, max(vsize, rsize), raw, rsize))

    def off(self, rva):
        for _, va, size, raw, _ in self.sections:
            if va <= rva < va + size:
                return rva - va + raw
        raise ValueError('rva %#x outside every section' % rva)

    def cstr(self, rva):
        o = self.off(rva)
        return self.data[o:self.data.index(b'\0', o)].decode('latin-1')

    def imports(self):
        """[(dll in lower case, function name or '#ordinal')] in the file's order."""
        rva = self.dirs[1][0]
        wide = self.magic == 0x20B
        entry, ordinal_flag = (8, 1 << 63) if wide else (4, 1 << 31)
        out = []
        while rva:
            lookup, _, _, name, thunks = struct.unpack_from('<IIIII', self.data, self.off(rva))
            if name == 0:
                break
            dll = self.cstr(name).lower()
            t = lookup or thunks
            while True:
                value = struct.unpack_from('<Q' if wide else '<I', self.data, self.off(t))[0]
                if value == 0:
                    break
                out.append((dll, '#%d' % (value & 0xFFFF) if value & ordinal_flag
                            else self.cstr((value & 0x7FFFFFFF) + 2)))
                t += entry
            rva += 20
        return out

    def resources(self):
        """{(type, name): (language, data)}, names as ints or strings, first language only."""
        base_rva = self.dirs[2][0]
        if not base_rva:
            return {}
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
                for language, leaf in entries(base + (n & 0x7FFFFFFF)):
                    rva, size = struct.unpack_from('<II', self.data, base + leaf)
                    out[(rtype, name)] = (language,
                                          self.data[self.off(rva):self.off(rva) + size])
                    break
        return out


def parse_version(block):
    """VS_VERSIONINFO -> (file version, product version, {(lang, codepage): {key: value}},
    [(lang, codepage)] of VarFileInfo's Translation)."""
    def node(o):
        length, value_length, kind = struct.unpack_from('<HHH', block, o)
        end = block.index(b'\0\0', o + 6)
        while (end - o - 6) % 2:
            end = block.index(b'\0\0', end + 1)
        key = block[o + 6:end].decode('utf-16-le')
        value = (end + 2 + 3) & ~3
        children = (value + (value_length * (2 if kind == 1 else 1)) + 3) & ~3
        return length, value_length, kind, key, value, children

    def walk(o, stop):
        while o < stop:
            length = node(o)[0]
            if length == 0:
                break
            yield o
            o = (o + length + 3) & ~3

    length, value_length, _, key, value, children = node(0)
    assert key == 'VS_VERSION_INFO', key
    signature, _, ms, ls, pms, pls = struct.unpack_from('<IIIIII', block, value)
    assert signature == 0xFEEF04BD, 'no VS_FIXEDFILEINFO'
    fixed = lambda hi, lo: (hi >> 16, hi & 0xFFFF, lo >> 16, lo & 0xFFFF)
    strings, translations = {}, []
    for o in walk(children, length):
        n_length, _, _, n_key, _, n_children = node(o)
        if n_key == 'StringFileInfo':
            for t in walk(n_children, o + n_length):
                t_length, _, _, t_key, _, t_children = node(t)
                table = strings.setdefault((int(t_key[:4], 16), int(t_key[4:], 16)), {})
                for s in walk(t_children, t + t_length):
                    _, s_value_length, _, s_key, s_value, _ = node(s)
                    text = block[s_value:s_value + 2 * s_value_length].decode('utf-16-le')
                    table[s_key] = text.rstrip('\0')
        elif n_key == 'VarFileInfo':
            for v in walk(n_children, o + n_length):
                _, v_value_length, _, v_key, v_value, _ = node(v)
                if v_key == 'Translation':
                    for i in range(0, v_value_length, 4):
                        translations.append(struct.unpack_from('<HH', block, v_value + i))
    return fixed(ms, ls), fixed(pms, pls), strings, translations


def read_allowed(path, kind):
    """{(dll, function): (since, reason)} for the lines of this kind's architecture."""
    arch = 'x86' if kind == 'PE32' else 'x64'
    allowed = {}
    with open(path, encoding='utf-8') as f:
        for number, line in enumerate(f, 1):
            line = line.split('#', 1)[0].strip()
            if not line:
                continue
            fields = line.split(None, 4)
            if len(fields) < 5:
                raise SystemExit('%s:%d: want DLL FUNCTION ARCH SINCE REASON' % (path, number))
            dll, function, arches, since, reason = fields
            if arches not in ('both', 'x86', 'x64'):
                raise SystemExit('%s:%d: architecture %r is not both, x86 or x64'
                                 % (path, number, arches))
            if arches in ('both', arch):
                allowed[(dll.lower(), function)] = (since, reason)
    return allowed


def main(path, kind, allowed_path, version):
    pe = Pe(open(path, 'rb').read())
    results = []

    def check(name, ok, detail=''):
        results.append(ok)
        print(('ok - ' if ok else 'FAIL - ') + name + ('' if ok else ': ' + detail))

    want_magic, want_arch = (0x10B, 'x86') if kind == 'PE32' else (0x20B, 'amd64')
    check('format is ' + kind, pe.magic == want_magic, 'magic %#x' % pe.magic)
    check('GUI subsystem', pe.subsystem == 2, 'subsystem %d' % pe.subsystem)
    if kind == 'PE32':
        # Windows XP is 5.1: its loader refuses a higher subsystem version.
        check('declares Windows XP (5.01) as its oldest, OS and subsystem version',
              pe.os_version == (5, 1) and pe.subsystem_version == (5, 1),
              'OS %d.%02d, subsystem %d.%02d' % (pe.os_version + pe.subsystem_version))
        check('at most %d bytes' % MAX_PE32_BYTES, len(pe.data) <= MAX_PE32_BYTES,
              '%d bytes' % len(pe.data))
    else:
        # The first 64-bit Windows was 5.2, the linker's own minimum for a PE32+.
        check('subsystem version 5.02', pe.subsystem_version == (5, 2),
              'subsystem %d.%02d' % pe.subsystem_version)
    check('no build time stamped in', pe.timestamp == 0, 'time stamp %#x' % pe.timestamp)

    imports = pe.imports()
    allowed = read_allowed(allowed_path, kind)
    check('imports only system DLLs', {d for d, _ in imports} <= SYSTEM_DLLS,
          ', '.join(sorted({d for d, _ in imports})))
    unexplained = sorted(set(imports) - set(allowed))
    check('every import is on the allow-list', not unexplained,
          'not on %s: %s' % (os.path.basename(allowed_path),
                             ', '.join('%s %s' % i for i in unexplained)))
    stale = sorted(set(allowed) - set(imports))
    check('every line of the allow-list is imported', not stale,
          'no longer imported, remove the line: ' + ', '.join('%s %s' % i for i in stale))
    bad = sorted(f for _, f in set(allowed) | set(imports) if FORBIDDEN.search(f))
    check('no thread-context, suspend, process-opening or debugger function', not bad,
          ', '.join(bad))
    if kind == 'PE32':
        late = sorted(f for (_, f), (since, _) in allowed.items()
                      if tuple(map(int, since.split('.'))) > (5, 1))
        late += sorted(f for _, f in set(allowed) | set(imports) if AFTER_XP.search(f))
        check('every import exists on Windows XP SP3', not late, ', '.join(sorted(set(late))))

    res = pe.resources()
    group = res.get((RT_GROUP_ICON, 'DEFAULT_ICON'), (0, None))[1]
    check('icon DEFAULT_ICON present', group is not None, 'names %s' % sorted(map(str, res)))
    if group:
        count = struct.unpack_from('<H', group, 4)[0]
        sizes = sorted(group[6 + 14 * i] or 256 for i in range(count))
        check('icon has 16 and 32 pixel images', sizes == [16, 32], str(sizes))
    manifest = res.get((RT_MANIFEST, 1), (0, b''))[1].decode('utf-8', 'replace')
    check('manifest is resource 1', bool(manifest))
    deps = re.findall(r'name="([^"]+)"\s+version="([^"]+)"\s+processorArchitecture="([^"]+)"',
                      manifest)
    check('manifest asks for common controls 6.0.0.0 for ' + want_arch,
          deps == [('Microsoft.Windows.Common-Controls', '6.0.0.0', want_arch)], str(deps))
    check('manifest declares nothing else',
          not re.search(r'dpiAware|requestedExecutionLevel|supportedOS', manifest), manifest)

    language, block = res.get((RT_VERSION, 1), (0, None))
    check('version resource present', block is not None, 'names %s' % sorted(map(str, res)))
    if block is not None:
        file_version, product_version, strings, translations = parse_version(block)
        numbers = tuple(int(n) for n in version.split('.')) + (0,) * (4 - version.count('.') - 1)
        check('version resource is Chinese (PRC), code page 936',
              language == VERSION_TRANSLATION[0] and translations == [VERSION_TRANSLATION]
              and list(strings) == [VERSION_TRANSLATION],
              'language %#x, translations %s, string tables %s'
              % (language, translations, list(strings)))
        check('fixed file and product version are ' + version,
              file_version == numbers and product_version == numbers,
              '%s, %s' % (file_version, product_version))
        table = strings.get(VERSION_TRANSLATION, {})
        check('version strings FileVersion and ProductVersion are ' + version,
              table.get('FileVersion') == version and table.get('ProductVersion') == version,
              str(table))
        check('ProductName is ' + PRODUCT_NAME, table.get('ProductName') == PRODUCT_NAME,
              repr(table.get('ProductName')))
        description = table.get('FileDescription', '')
        chinese = (re.search('[\u4e00-\u9fff]', description) is not None
                   and description.encode('gbk', 'replace').decode('gbk') == description)
        check('FileDescription is Chinese that code page 936 can hold', chinese, repr(description))
        check('LegalCopyright names the holder',
              re.match(r'(Copyright )?(\(C\)|©) \d{4}', table.get('LegalCopyright', '')) is not None,
              repr(table.get('LegalCopyright')))
        check('OriginalFilename is orvane.exe', table.get('OriginalFilename') == 'orvane.exe',
              repr(table.get('OriginalFilename')))

    failed = results.count(False)
    print('%d passed, %d failed' % (len(results) - failed, failed))
    return 1 if failed else 0


def show(path):
    data = open(path, 'rb').read()
    pe = Pe(data)
    kind = {0x10B: 'PE32', 0x20B: 'PE32+'}.get(pe.magic, hex(pe.magic))
    print('%s: %s, %d bytes' % (path, kind, len(data)))
    print('subsystem %d, subsystem version %d.%02d, OS version %d.%02d, time stamp %#x, '
          'checksum %#x' % ((pe.subsystem,) + pe.subsystem_version + pe.os_version
                            + (pe.timestamp, pe.checksum)))
    print('sections: ' + ', '.join('%s %d' % (s[0], s[4]) for s in pe.sections))
    imports = pe.imports()
    print('imports: %d' % len(imports))
    for dll in sorted({d for d, _ in imports}):
        names = sorted(f for d, f in imports if d == dll)
        print('  %s (%d): %s' % (dll, len(names), ' '.join(names)))
    language, block = pe.resources().get((RT_VERSION, 1), (0, None))
    if block is None:
        print('version resource: none')
        return 0
    file_version, product_version, strings, translations = parse_version(block)
    print('version resource (language %#06x):' % language)
    print('  FILEVERSION %d.%d.%d.%d' % file_version)
    print('  PRODUCTVERSION %d.%d.%d.%d' % product_version)
    for (lang, codepage), table in strings.items():
        print('  StringFileInfo %04X%04X (language %#06x, code page %d)'
              % (lang, codepage, lang, codepage))
        for key, value in table.items():
            print('    %-17s %s' % (key, value))
    print('  VarFileInfo Translation ' + ', '.join('%#06x %d' % t for t in translations))
    return 0


if __name__ == '__main__':
    if len(sys.argv) == 3 and sys.argv[1] == '--show':
        sys.exit(show(sys.argv[2]))
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
