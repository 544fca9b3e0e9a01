#!/usr/bin/env python3
"""End-to-end scenarios: the real Brannoch.exe under Wine, headless, against
old editions seeded into a throwaway prefix. Each scenario drives the dialog
and its message boxes like a user, then checks the registry, the files and the
pending restart operations, restarts the prefix and checks again.

Three settings (--arch): win64, the x86_64 build in a 64-bit prefix; wow64,
the i686 product in a 64-bit prefix, as on 64-bit Windows (its Program Files
is "Program Files (x86)", its system32 is SysWOW64, its registry view
Wow6432Node; seeded by 32-bit helpers as the old 32-bit installers wrote);
win32, the i686 product in a 32-bit prefix. The i686 settings need a kernel
that runs 32-bit code and wine32; without them they exit with SKIP (77).

  e2e.py --build-dir DIR [--arch A] [--only NAME...]   run the scenarios (exit 1 on failure)
  e2e.py --list                                 the scenario names
  e2e.py --build-dir DIR --demo OUT_DIR        the demo: a run and its pictures, and a table
  e2e.py --build-dir DIR --bench               figures: start-up and run overhead
  e2e.py --build-dir DIR [--arch A] --template  boot the setting's template prefix only (scripts/test.sh,
                                                during the builds; the scenarios then find it ready)
"""
import argparse
import fcntl
import getpass
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile
import time
import zlib

WINESERVER = '/usr/lib/wine/wineserver'
SKIP = 77
ARCHES = {  # setting: Wine loader, prefix kind, where the product's Program Files and system32 are
    'win64': dict(loader='/usr/lib/wine/wine64', winearch='win64', pf='Program Files', sys='windows/system32',
                  regedit='regedit'),
    'wow64': dict(loader='/usr/lib/wine/wine', winearch='win64', pf='Program Files (x86)', sys='windows/syswow64',
                  regedit='C:\\windows\\syswow64\\regedit.exe'),
    'win32': dict(loader='/usr/lib/wine/wine', winearch='win32', pf='Program Files', sys='windows/system32',
                  regedit='regedit'),
}
ARCH = ARCHES['win64']
WINE = ARCH['loader']

LANGS = {  # scenario language: (LC_ALL, code page codec, UI language index)
    'zh-CN': ('zh_CN.UTF-8', 'gbk', 0),
    'en': ('en_US.UTF-8', 'cp1252', 1),
    'zh-TW': ('zh_TW.UTF-8', 'cp950', 2),
}

# What each old installer created, written independently of the program.
NAMES = {  # edition: UI language: (window title, program group, desktop shortcut)
    1: {0: ('凯斯托瓦银行tokara管理工具 ', '凯斯托瓦银行网上银行tokara管理工具', '凯斯托瓦银行tokara管理工具.lnk'),
        1: ('USBKey MANAGE OF KESTOVA', 'Internet banking Key MANAGE OF KESTOVA', 'USBKey MANAGE OF KESTOVA.lnk'),
        2: ('凱斯托瓦銀行tokara管理工具', '凱斯托瓦銀行網上銀行tokara管理工具', '凱斯托瓦銀行tokara管理工具.lnk')},
    2: {0: ('凯斯托瓦银行Tokara管理工具2.0', '凯斯托瓦银行网上银行Tokara管理工具2.0', '凯斯托瓦银行Tokara管理工具2.0.lnk'),
        1: ('Kestovanet Key Manager Tool 2.0', 'Internet banking Key MANAGE OF KESTOVA2.0',
            'USBKey MANAGE OF KESTOVA2.0.lnk'),
        2: ('凱斯托瓦銀行Tokara管理工具2.0', '凱斯托瓦銀行網上銀行Tokara管理工具2.0', '凱斯托瓦銀行Tokara管理工具2.0.lnk')},
    3: {0: ('凯斯托瓦银行Tokara管理工具 3.0', '凯斯托瓦银行网上银行Tokara管理工具 3.0', '凯斯托瓦银行Tokara管理工具 3.0.lnk'),
        1: ('Kestovanet Key Manager Tool 3.0', 'Internet banking Key MANAGE OF KESTOVA 3.0',
            'Kestovanet Key Manager Tool 3.0.lnk'),
        2: ('凱斯托瓦銀行Tokara管理工具 3.0', '凱斯托瓦銀行網上銀行Tokara管理工具 3.0', '凱斯托瓦銀行Tokara管理工具 3.0.lnk')},
}
UNINSTALL = 'SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\'
PROFILES = {
    1: dict(key=UNINSTALL + 'Uninstall\\{5D21A7E0-3B9C-4F62-A18D-7C04E9B2F615}', exe='Keyloft_User.exe',
            cmd=32867, run=['Keyloft_User.exe'], folder='Kestovanet'),
    2: dict(key=UNINSTALL + 'UnInstall\\DorwynforKSTV', exe='DWReg_kstv.exe', cmd=32772,
            run=['KSKeyloft2_0.exe', 'DWReg_kstv(user)'], folder='Kestovanet2.0'),
    3: dict(key=UNINSTALL + 'UnInstall\\DorwynforKSTV_V3', exe='DWReg_kstv.exe', cmd=32772,
            run=['KSKeyloft3_0.exe', 'DWReg_kstv(user)'], folder='Kestovanet3.0'),
}
RUN_KEY = 'SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run'
LIBS = ['ZenfoResv3_kstv.dll', 'ZenfoResv3E_kstv.dll', 'ZenfoResv3T_kstv.dll']
# What the user must read; each prompt with the code page it is stored in, the fixed texts in 936.
PROMPTS = [
    ('程序检测到浏览器正在运行,确认关闭所有浏览器窗口后,点“是”继续,或者不关闭浏览器窗口,点“否”退出程序', 'gbk'),
    ('The Browser is running ,please close it before continue,select <YES> to continue,<NO> to quit', 'ascii'),
    ('程序檢測到瀏覽器正在運行,確認關閉所有瀏覽器窗口后,點“是”繼續,或者不關閉瀏覽器窗口,點“否”退出程序', 'cp950'),
]
SUCCESS_TEXT = '卸载成功'
ADMIN_TEXT = '部分旧版本未能卸载，请以管理员身份运行本工具'
ADMIN_RESTART_TEXT = '部分旧版本未能卸载。请重新启动计算机，然后以管理员身份再运行一次本工具。'
NOTICE_CAPTION = '提示'
# After either: the restart finishes the removal.
RESTART_TAILS = ('。重新启动计算机后即可完成卸载。',)
# Where something stays: "：", what stays a line each, then close what holds it and run
# again; run again; ask the administrator.
LEFTOVER_TEXT = '部分旧版文件未能删除'
LEFTOVER_TAILS = ('请关闭正在使用这些文件的程序，然后再运行一次本工具。', '请再运行一次本工具。', '请联系计算机管理员处理。')
TITLE = '凯瓦银行Tokara旧版卸载工具'

NSIS_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'leftover_uninstaller.nsi')


def nsis_target(exe):
    """The NSIS stub that matches the build under test: amd64 or x86."""
    with open(exe, 'rb') as f:
        head = f.read(4096)
    pe = struct.unpack_from('<I', head, 0x3C)[0]
    return 'amd64-unicode' if struct.unpack_from('<H', head, pe + 4)[0] == 0x8664 else 'x86-unicode'


NEIGHBOUR_FILES = ['{pf}/OtherVendor/app.exe', '{pf}/Kestovanet2.0 backup/keep.dll',
                   'ProgramData/Microsoft/Windows/Start Menu/Programs/OtherVendor/Other.lnk',
                   'users/Public/Desktop/Other.lnk', '{sys}/ZenfoResv3X_kstv.dll', '{sys}/unins000.exe']
# Under WoW64 the 64-bit side is a neighbour too: a 32-bit program never sees it.
NEIGHBOUR_FILES_WOW64 = ['Program Files/Kestovanet/keep64.dll', 'windows/system32/ZenfoResv3_kstv.dll',
                         'windows/system32/capicom.dll']
RUN_FOLDER = 'Brannoch.pending'  # the run's own folder, in the Windows folder
RUN_PATH = 'c:\\windows\\' + RUN_FOLDER.lower()


def in_run_folder(p, below=''):
    """A pending name in one of the run's folders (Brannoch.pending, .2 to .16), below `below` there."""
    m = re.match(re.escape(RUN_PATH) + r'(\.\d+)?(\\.*)?$', bare(p))
    return bool(m) and (m.group(2) or '').startswith(below)


def bare(p):
    """A pending name as a lower-case path, without the NT prefix."""
    return p.lower()[4:] if p.startswith('\\??\\') else p.lower()


def neighbour_files():
    extra = NEIGHBOUR_FILES_WOW64 if ARCH is ARCHES['wow64'] else []
    return [f.format(pf=ARCH['pf'], sys=ARCH['sys']) for f in NEIGHBOUR_FILES] + extra
NEIGHBOUR_KEYS = [UNINSTALL + 'Uninstall\\OtherProduct', UNINSTALL + 'UnInstall\\DorwynforKSTV_V4',
                  RUN_KEY + '|OtherTool.exe']


def winpath(linux_path, prefix):
    """The path as Windows programs in the prefix see it: C: inside, Z: outside."""
    linux_path = os.path.abspath(linux_path)
    drive_c = os.path.join(prefix, 'drive_c')
    if linux_path.startswith(drive_c + os.sep):
        return 'C:\\' + os.path.relpath(linux_path, drive_c).replace('/', '\\')
    return 'Z:' + linux_path.replace('/', '\\')


class Prefix:
    """A throwaway Wine prefix copied from a booted template."""

    def __init__(self, template, lang, work):
        self.lang = lang
        self.lc_all, self.codec, self.ui = LANGS[lang]
        self.root = tempfile.mkdtemp(prefix='brannoch-e2e-', dir=work)
        self.prefix = os.path.join(self.root, 'prefix')
        subprocess.run(['cp', '-a', template, self.prefix], check=True)
        self.home = os.path.join(self.root, 'home')
        os.makedirs(self.home)
        self.env = dict(os.environ, WINEPREFIX=self.prefix, HOME=self.home, LC_ALL=self.lc_all,
                        WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=')
        self.c = os.path.join(self.prefix, 'drive_c')
        self.pf = os.path.join(self.c, ARCH['pf'])
        self.programs = os.path.join(self.c, 'ProgramData/Microsoft/Windows/Start Menu/Programs')
        self.desktop = os.path.join(self.c, 'users/Public/Desktop')
        self.system = os.path.join(self.c, ARCH['sys'])
        self.windows = os.path.join(self.c, 'windows')
        self.e2e = os.path.join(self.c, 'e2e')
        os.makedirs(self.e2e)
        self.background = []

    def wine(self, *args, timeout=180):
        return subprocess.run([WINE, *args], env=self.env, timeout=timeout, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode

    def start(self, exe, *args, ready=None):
        """Starts a helper and waits until it reports that it is set up."""
        marker = os.path.join(self.e2e, 'ready-%d' % len(self.background))
        p = subprocess.Popen([WINE, exe, *args, '--ready', winpath(marker, self.prefix)], env=self.env,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.background.append(p)
        for _ in range(300):
            if os.path.exists(marker):
                return p
            time.sleep(0.05)
        raise RuntimeError('helper did not start: %s %s' % (exe, args))

    def file(self, path, data=b'x', readonly=False):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, 'wb') as f:
            f.write(data)
        if readonly:
            os.chmod(path, stat.S_IRUSR | stat.S_IRGRP | stat.S_IROTH)

    def copy(self, src, dst):
        os.makedirs(os.path.dirname(dst), exist_ok=True)
        shutil.copyfile(src, dst)

    def regedit(self, lines):
        reg = os.path.join(self.e2e, 'seed.reg')
        with open(reg, 'w', encoding='ascii', newline='\r\n') as f:
            f.write('REGEDIT4\n\n' + '\n'.join(lines) + '\n')
        self.wine(ARCH['regedit'], '/S', winpath(reg, self.prefix))

    def close(self):
        subprocess.run([WINESERVER, '-k'], env=self.env, stderr=subprocess.DEVNULL)
        subprocess.run([WINESERVER, '-w'], env=self.env, stderr=subprocess.DEVNULL)
        for p in self.background:
            try:
                p.wait(timeout=10)
            except subprocess.TimeoutExpired:
                p.kill()
        self.background = []


class Scenario:
    def __init__(self, name, lang, editions, answers, expect_boxes, seed_browser=False, no_at_two=False,
                 deny=None, held_file=False, expect_removed=None, win98=False, subfolder=False, nsis=None,
                 cut=None, planted=False, arches=None, delays=None, during=None, probe=False, links=False,
                 dpi=None, pf_link=False, opens=None):
        self.name, self.lang, self.editions, self.answers = name, lang, editions, answers
        self.expect_boxes = expect_boxes
        self.seed_browser, self.no_at_two, self.deny, self.held_file = seed_browser, no_at_two, deny, held_file
        self.expect_removed = editions if expect_removed is None else expect_removed
        self.win98 = win98  # Wine reports Windows 98: shortcuts are looked for at the 9x place
        self.subfolder = subfolder  # each program folder holds sub\inner.txt, which must stay there
        # Real NSIS uninstallers in the system directory instead of the dummy:
        # file name -> milliseconds their copy works.
        self.nsis = nsis or {}
        self.cut = cut  # end the program once nsis.log holds this text, then run again
        self.planted = planted  # run from a Downloads folder that holds a planted DLL
        self.arches = arches or sorted(ARCHES)  # the settings it runs in
        self.delays = delays or {}  # uninstaller name: how long it works, in ms
        self.during = during  # what the user does in the dialog while uninst.exe runs (driver --during)
        self.probe = probe  # WM_NULL to the dialog every 20 ms during the run
        self.links = links  # edition 1's folder and one in edition 3.0's are links to other files
        self.dpi = dpi  # the screen's DPI (LogPixels); the About box is measured too
        self.pf_link = pf_link  # Program Files moved and reached through a link at its old name (mklink /J)
        self.opens = opens or {}  # uninstaller: the exe in C:\e2e it starts and leaves running
        self.problems = []
        self.restart_said = []
        self.leftover_lines = []  # what the final box names as staying
        self.report = {}
        self.note = ''
        self.taken = []  # the pictures taken, by stage

    def check(self, ok, what):
        if not ok:
            self.problems.append(what)

    # --- seeding ---------------------------------------------------------
    def seed(self, px, bins):
        tool = os.path.join(bins, 'dummy_tool.exe')
        uninstaller = os.path.join(bins, 'dummy_uninstaller.exe')
        reg = []
        for n in NEIGHBOUR_KEYS:
            key, _, value = n.partition('|')
            reg.append('[HKEY_LOCAL_MACHINE\\%s]' % key)
            if value:
                reg.append('"%s"="C:\\\\other.exe"' % value)
        for path in neighbour_files():
            px.file(os.path.join(px.c, path))
        px.copy(tool, os.path.join(px.e2e, 'holder.exe'))
        if self.pf_link:
            os.makedirs(os.path.join(px.c, 'Data'), exist_ok=True)
            os.symlink(shutil.move(px.pf, os.path.join(px.c, 'Data', 'PF-moved')), px.pf)
        holds = []
        for e in self.editions:
            p = PROFILES[e]
            title, group, shortcut = NAMES[e][px.ui]
            reg += ['[HKEY_LOCAL_MACHINE\\%s]' % p['key'], '"DisplayName"="old edition %d"' % e,
                    '[HKEY_LOCAL_MACHINE\\%s\\Components]' % p['key'], '"x"="y"', '[HKEY_LOCAL_MACHINE\\%s]' % RUN_KEY]
            reg += ['"%s"="C:\\\\Program Files\\\\%s\\\\%s"' % (v, p['folder'], p['exe']) for v in p['run']]
            folder = os.path.join(px.pf, p['folder'])
            px.copy(tool, os.path.join(folder, p['exe']))
            px.file(os.path.join(folder, 'readme.txt'), readonly=True)
            if self.subfolder:
                px.file(os.path.join(folder, 'sub', 'inner.txt'))
            px.copy(tool, os.path.join(folder, 'inuse.dll'))
            holds.append(('--map', os.path.join(folder, 'inuse.dll')))
            px.file(os.path.join(px.programs, group, 'Dorwyn', 'Tool.lnk'))
            px.file(os.path.join(px.programs, group, 'Dorwyn', 'Uninstall.lnk'), readonly=True)
            px.file(os.path.join(px.desktop, shortcut))
            px.copy(tool, os.path.join(px.e2e, 'ToolWindow%d.exe' % e))
        if self.links:
            self.seed_links(px)
        if self.editions:
            for lib in LIBS:
                px.file(os.path.join(px.system, lib), readonly=(lib == LIBS[1]))
            px.copy(tool, os.path.join(px.system, LIBS[2]))
            holds.append(('--map', os.path.join(px.system, LIBS[2])))
            px.file(os.path.join(px.system, 'capicom.dll'))
            px.copy(uninstaller, os.path.join(px.windows, 'unins000.exe'))
            px.copy(uninstaller, os.path.join(px.system, 'uninst.exe'))
            px.file(os.path.join(px.e2e, 'unins000.exe.marker'))
            px.file(os.path.join(px.e2e, 'uninst.exe.marker'))
            for name, ms in self.delays.items():
                px.file(os.path.join(px.e2e, name + '.delay'), b'%d' % ms)
            for name, left in self.opens.items():
                px.copy(tool, os.path.join(px.e2e, left))
                px.file(os.path.join(px.e2e, name + '.opens'), b'C:\\e2e\\' + left.encode())
        for name, ms in self.nsis.items():
            self.seed_nsis(px, name, ms)
        if self.held_file:
            px.file(os.path.join(px.pf, PROFILES[self.editions[0]]['folder'], 'held-open.dat'))
            holds.append(('--hold', os.path.join(px.pf, PROFILES[self.editions[0]]['folder'], 'held-open.dat')))
        if self.win98:
            reg += ['[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\Brannoch.exe]', '"Version"="win98"']
            for e in self.editions:
                px.file(os.path.join(px.windows, 'ALL Users', 'Desktop', NAMES[e][px.ui][2]))
        px.regedit(reg)
        if self.deny:
            log = os.path.join(px.e2e, 'deny.log')
            px.wine(os.path.join(bins, 'driver.exe'), 'deny', winpath(log, px.prefix), PROFILES[self.deny]['key'])
            self.check(open(log).read().startswith('deny set=0'), 'deny: ' + open(log).read().strip())
        # The running old programs, their windows and the files they hold.
        for e in self.editions:
            title = NAMES[e][px.ui][0].encode(px.codec).hex().upper()
            args = ['--title-hex', title, '--log', 'C:\\e2e\\window%d.log' % e]
            if self.no_at_two and e == 1:
                args += ['--on-command-run', 'C:\\e2e\\firefox.exe']
            px.start(os.path.join(px.e2e, 'ToolWindow%d.exe' % e), *args)
        started = set()
        for e in self.editions:
            exe = PROFILES[e]['exe']
            if exe not in started:
                px.start(os.path.join(px.pf, PROFILES[e]['folder'], exe))
                started.add(exe)
        for mode, path in holds:
            px.start(os.path.join(px.e2e, 'holder.exe'), mode, winpath(path, px.prefix))
        if self.seed_browser or self.no_at_two:
            px.copy(tool, os.path.join(px.e2e, 'firefox.exe'))
        if self.seed_browser:
            px.start(os.path.join(px.e2e, 'firefox.exe'))

    def seed_links(self, px):
        """Edition 1's files moved elsewhere on the drive and its folder made a directory symlink to them
        (Wine reports it as a junction, 0x410), and one more such link in edition 3.0's folder."""
        target = os.path.join(px.c, 'Data', 'Keep')
        shutil.move(os.path.join(px.pf, 'Kestovanet'), target)
        os.symlink(target, os.path.join(px.pf, 'Kestovanet'))
        os.symlink(target, os.path.join(px.pf, 'Kestovanet3.0', 'linked'))

    def check_links(self, px, pending, when):
        """The target keeps its files (one in use), each link is a link still (or gone, as on Windows),
        and nothing is scheduled in the target or through a link."""
        target = os.path.join(px.c, 'Data', 'Keep')
        left = sorted(os.listdir(target)) if os.path.isdir(target) else []
        self.check(left == ['Keyloft_User.exe', 'inuse.dll', 'readme.txt'], 'link target holds %s %s' % (left, when))
        for link in (os.path.join(px.pf, 'Kestovanet'), os.path.join(px.pf, 'Kestovanet3.0', 'linked')):
            self.check(os.path.islink(link) or not os.path.lexists(link), 'link %s replaced %s' % (link, when))
        inside = [p for p in pending if '\\data\\keep' in p.lower() or p.endswith(('\\Kestovanet', '\\linked'))]
        self.check(not inside, 'scheduled through a link %s: %s' % (when, inside))

    def seed_nsis(self, px, name, ms):
        """Builds an NSIS uninstaller with makensis and has its installer write it."""
        out = os.path.join(px.e2e, 'nsis-' + name)
        os.makedirs(out)
        writer = os.path.join(out, 'writer.exe')
        subprocess.run(['makensis', '-V1', '-DTARGET=' + nsis_target(self.exe), '-DUNNAME=' + name,
                        '-DMS=%d' % ms, '-DOUT=' + writer, NSIS_SCRIPT], check=True, stdout=subprocess.DEVNULL)
        px.wine(writer, '/S')
        px.copy(os.path.join(out, name), os.path.join(px.system, name))
        marker = os.path.join(px.e2e, name + '.marker')
        if os.path.exists(marker):
            os.remove(marker)  # no dummy by that name

    # --- checks ------------------------------------------------------------
    def regcheck(self, px, bins):
        log = os.path.join(px.e2e, 'regcheck.log')
        args = [p['key'] for p in PROFILES.values()] + ['%s|%s' % (RUN_KEY, v) for p in PROFILES.values()
                                                        for v in p['run']] + NEIGHBOUR_KEYS
        px.wine(os.path.join(bins, 'driver.exe'), 'regcheck', winpath(log, px.prefix), *args)
        present, pending = set(), []
        for line in open(log, encoding='utf-8', errors='replace'):
            word, _, rest = line.rstrip('\n').partition(' ')
            if word in ('present', 'process'):
                present.add(rest if word == 'present' else 'process:' + rest.lower())
            elif word == 'pending':
                pending.append(rest.split(' -> ')[0])
        return present, pending

    def shown(self, px, text, codec='gbk'):
        """The text itself; on Windows 9x (A calls) its bytes as the system's code page reads them."""
        return text.encode(codec).decode(px.codec) if self.win98 else text

    def check_boxes(self, px, lines):
        boxes = []
        read = lambda h: bytes.fromhex(h).decode('utf-8', errors='replace')
        for line in lines:
            if line.startswith('box '):
                fields = dict(f.split('=', 1) for f in line.split(' ')[1:] if '=' in f)
                boxes.append(fields)
            if line.startswith('dialog title='):
                self.check(read(line[13:]) == self.shown(px, TITLE), 'dialog title reads %r' % read(line[13:]))
            if line.startswith('error'):
                self.problems.append('driver: ' + line)
        kinds = []
        for b in boxes:
            caption, text = read(b['caption']), read(b['text'])
            if caption == 'Information':
                self.check(text == self.shown(px, *PROMPTS[px.ui]), 'prompt reads %r' % text)
                self.check(b['owner'] == 'none' and b['yes'] == '1' and b['no'] == '1', 'prompt form: %s' % b)
                kinds.append('prompt')
            elif caption == self.shown(px, NOTICE_CAPTION) and text in [self.shown(px, t) for t in (
                    SUCCESS_TEXT, SUCCESS_TEXT + RESTART_TAILS[0], ADMIN_TEXT, ADMIN_RESTART_TEXT)]:
                self.check(b['owner'] == 'main' and b['okbtn'] == '1' and b['yes'] == '0', 'final box form: %s' % b)
                kinds.append('success' if text.startswith(self.shown(px, SUCCESS_TEXT)) else 'admin')
                # The administrator's text is never followed by the restart's: one request instead.
                restarts = text in (self.shown(px, SUCCESS_TEXT + RESTART_TAILS[0]), self.shown(px, ADMIN_RESTART_TEXT))
                self.restart_said = list(RESTART_TAILS[:1]) if restarts else []
            elif caption == self.shown(px, NOTICE_CAPTION) and text.startswith(self.shown(px, LEFTOVER_TEXT + '：\n')) \
                    and any(text.endswith(self.shown(px, t)) for t in LEFTOVER_TAILS):
                self.check(b['owner'] == 'main' and b['okbtn'] == '1' and b['yes'] == '0', 'final box form: %s' % b)
                # What holds it cannot be told under Wine (its Restart Manager lists no one) and
                # Wine names the user as every folder's owner: nothing another run could mend.
                kinds.append('leftover' if text.endswith(self.shown(px, LEFTOVER_TAILS[-1])) else 'run-again')
                self.leftover_lines = text.split('\n')[1:-1]
            else:
                kinds.append('unknown: %r %r' % (caption, text))
        self.check(kinds == self.expect_boxes, 'boxes %s, expected %s' % (kinds, self.expect_boxes))

    def check_window(self, lines):
        """The dialog answers throughout the run and holds the user's requests until its end."""
        fields = lambda word: [dict(f.split('=', 1) for f in l.split()[1:] if '=' in f) for l in lines
                               if l.startswith(word + ' ')]
        closing = bool(self.during and set(self.during.split(',')) & {'esc', 'close', 'altf4', 'cancel'})
        closed = 'dialog closed by itself after the run' in lines
        self.check(closed == closing, 'dialog closed by itself: %s' % closed)
        self.check(closed or 'dialog enabled=1' in lines, 'dialog disabled after the run')
        # Windows 9x offers most W calls as stubs: there the dialog is made with the A calls.
        self.check(('dialog unicode=%d' % (not self.win98)) in lines, 'dialog made with the wrong calls')
        # Every text fits its control, at the DPI the scenario sets.
        fit = [l for l in lines if l.startswith('fit ')]
        self.check(fit and all(' ok=1 ' in l for l in fit) and ('fit-dpi main dpi=%d' % (self.dpi or 96)) in lines and
                   (not self.dpi or any(l.startswith('fit about ') for l in fit)), 'texts against their controls: %s' % fit)
        if self.probe:
            # A blocked dialog leaves every probe of an uninstaller's seconds
            # unanswered; one probe a little late is the host's scheduling (seen
            # once: 117 ms on two cores shared by several builds).
            probe = fields('probe')
            self.check(probe and int(probe[0]['count']) >= 50 and int(probe[0]['late']) <= 1 and
                       float(probe[0]['longest_ms']) < 250, 'WM_NULL answered within 100 ms during the run: %s' % probe)
            if probe:
                self.note = ' (longest unanswered %s ms of %s probes)' % (probe[0]['longest_ms'], probe[0]['count'])
        if self.during:
            d = fields('during-run')
            self.check(d and (d[0]['dialog'], d[0]['other-window'], d[0]['uninstaller-still-running']) ==
                       ('1', '0', '1'), 'during the run: %s' % d)
            # The main button disabled, the keyboard on "取消" (id 2); both back after the run.
            for word, want in [('during-state', '0 2')] + ([] if closing else [('after-run', '1 1')]):
                got = ['%s %s' % (f['ok-enabled'], f['focus']) for f in fields(word)]
                self.check(got == [want], '%s: main button enabled, focus: %s' % (word, got))
        if self.during and 'second' in self.during.split(','):  # it ended by itself, the dialog back in front
            got = [' '.join(f[k] for k in ('minimised', 'exited', 'code', 'iconic', 'foreground')) for f in fields('second')]
            self.check(got == ['1 1 0 0 1'], 'second start: minimised exited code iconic foreground %s' % got)
        if self.during and 'progress' in self.during.split(','):
            # The uninstaller step of edition 1 (4 of 40), its line read back as Unicode; hidden after the box.
            p, after = fields('progress'), fields('progress-after')
            read = [bytes.fromhex(f['line']).decode('utf-8', errors='replace') for f in p]
            waited = re.fullmatch('正在运行卸载程序 uninst\\.exe，已等待 ([3-9]) 秒', read[-1]) if read else None
            self.check([(f['shown'], f['pos'], f['max']) for f in p] == [('1', '4', '40')] * 2 and
                       read[0] == '正在运行卸载程序 uninst.exe' and waited and
                       [(f['shown'], f['pos']) for f in after] == [('0', '40')],
                       'progress: %s %s %s' % (p, read, after))
        if self.during and 'line' in self.during.split(','):
            # After a close request the line says the run's end closes the window, read back as
            # Unicode: in an 'en' setting a line set through the A call reads otherwise.
            read = [bytes.fromhex(f['line']).decode('utf-8', errors='replace') for f in fields('line')]
            self.check(read == [self.shown(self.prefix, '正在运行卸载程序 uninst.exe，卸载结束后将自动关闭窗口')],
                       'line after a close request: %s' % read)
        # The line's events as a screen reader hears them: Wine 8 shows none (no live region
        # change, no name change) to an out-of-context hook that is in place.
        ev = fields('events')
        self.check([f['hooked'] for f in ev] == ['1'], 'event hook: %s' % ev)
        self.note += ' (step line events: %s)' % ' '.join('%s=%s' % kv for kv in sorted(ev[0].items())) if ev else ''
        if self.expect_boxes and self.expect_boxes[-1] in ('success', 'admin', 'leftover', 'run-again'):
            # Behind the final box: the line says the run has ended, the bar full. Its paused or
            # error state is not seen here: Wine 8's bar answers PBST_NORMAL to every PBM_GETSTATE.
            got = [(f['shown'], f['pos'], bytes.fromhex(f['line']).decode('utf-8', errors='replace'))
                   for f in fields('at-box')[-1:]]
            self.check(got == [('1', '40', self.shown(self.prefix, '卸载已结束'))], 'behind the final box: %s' % got)
        if self.during and 'cursor' in self.during.split(','):
            c = fields('cursor')
            self.check(c and c[0]['before'] not in ('0', '0000000000000000') and
                       c[0]['during'] != c[0]['before'] and c[0]['after'] == c[0]['before'],
                       'wait cursor during the run only: %s' % c)

    def run(self, template, bins, exe, work, shots=None):
        """shots: a stage of the driver's (idle, run, box1...) -> the picture to take of the screen then."""
        px = Prefix(template, self.lang, work)
        self.prefix = px
        self.exe = exe
        try:
            self.seed(px, bins)
            if self.planted:
                exe = self.plant(px, exe, os.path.join(px.c, 'users/Public/Downloads'), bins)
            before = self.edition_state(px)
            if self.cut:
                self.end_mid_run(px, bins, exe)
            log = os.path.join(px.e2e, 'driver.log')
            ready, go = os.path.join(px.e2e, 'dialog-ready'), os.path.join(px.e2e, 'go')
            cmd = [WINE, os.path.join(bins, 'driver.exe'), 'run', winpath(exe, px.prefix), winpath(log, px.prefix)]
            if shots:
                cmd += ['--ready', winpath(ready, px.prefix), '--go', winpath(go, px.prefix)]
            cmd += ['--probe'] if self.probe else []
            if self.dpi:
                px.regedit(['[HKEY_CURRENT_USER\\Control Panel\\Desktop]', '"LogPixels"=dword:%08x' % self.dpi])
                cmd += ['--about']
            cmd += ['--during', self.during] if self.during else []
            driver = subprocess.Popen(cmd + self.answers, env=px.env, stdout=subprocess.DEVNULL,
                                      stderr=subprocess.DEVNULL)
            while shots and driver.poll() is None:
                if not os.path.exists(ready):
                    time.sleep(0.05)
                    continue
                stage = open(ready).read().strip()
                os.remove(ready)
                if stage in shots:
                    time.sleep(0.5)  # painted
                    subprocess.run(['import', '-window', 'root', '-trim', '+repage', shots[stage]], env=px.env,
                                   stderr=subprocess.DEVNULL)
                    self.taken.append(stage)
                open(go, 'w').close()
            driver.wait(timeout=300)
            lines = open(log, encoding='utf-8').read().splitlines()
            self.driver_lines = lines
            self.check_boxes(px, lines)
            self.check_window(lines)
            present, pending = self.regcheck(px, bins)
            after = self.edition_state(px)
            self.check_after_run(px, present, pending)
            if self.links:
                self.check_links(px, pending, 'after the run')
            if self.planted:
                self.check_planted(px, bins, os.path.dirname(exe))
            px.close()
            px.wine('wineboot', '-r')
            subprocess.run([WINESERVER, '-w'], env=px.env)
            present2, pending2 = self.regcheck(px, bins)
            px.close()
            restarted = self.edition_state(px)
            self.check_after_restart(px, pending, pending2, present2)
            if self.links:
                self.check_links(px, pending2, 'after the restart')
            self.report = dict(before=before, after=after, restarted=restarted, pending=pending, lines=lines)
        finally:
            px.close()
        return not self.problems

    def end_mid_run(self, px, bins, exe):
        """The first run, ended from outside while an uninstaller works."""
        log = os.path.join(px.e2e, 'cut.log')
        px.wine(os.path.join(bins, 'driver.exe'), 'cut', winpath(exe, px.prefix), winpath(log, px.prefix),
                'C:\\e2e\\nsis.log', self.cut, timeout=300)
        lines = open(log).read().splitlines()
        self.cut_lines = lines
        self.check(any(l.startswith('ended=1') for l in lines), 'program not ended mid-run: %s' % lines)
        # Answered while the uninstaller runs: needs the responsive window
        # (branch app); fails before that is merged.
        self.check(any(l.startswith('probe answered=1') for l in lines),
                   'RESPONSIVE-WINDOW: dialog did not answer WM_NULL within 100 ms during the uninstaller: %s'
                   % [l for l in lines if l.startswith('probe')])

    def check_nsis(self, px):
        path = os.path.join(px.e2e, 'nsis.log')
        lines = [l.strip() for l in open(path, encoding='utf-8', errors='replace')] if os.path.exists(path) else []
        self.nsis_lines = lines
        for l in lines:
            if ' start ' in l:  # the work is done by the copy in the run's TEMP, not the user's
                self.check(in_run_folder(l.split(' start ', 1)[1], '\\temp\\'),
                           'NSIS uninstaller\'s copy outside the run\'s TEMP: ' + l)
        names = list(self.nsis)
        events = [' '.join(l.split()[:2]) for l in lines]
        if not self.cut:
            # One at a time, each to the end of its copy's work, and each once:
            # the copy deletes its original.
            want = [e for n in names for e in (n + ' start', n + ' end')]
            self.check(events == want, 'NSIS uninstallers %s, expected %s' % (events, want))
        last = names[-1]
        ends = [l for l in lines if l.startswith(last + ' end')]
        # capicom.dll and the libraries still there when the last copy ended:
        # deleted only after it.
        self.check(ends and ends[-1].endswith('capicom=1 libs=3'), 'NSIS %s ended with %s' % (last, ends))
        for n in names:
            self.check(not os.path.exists(os.path.join(px.system, n)), n + ' still there')

    # --- a DLL planted next to the exe -------------------------------------
    # Under Wine, loading comctl32 loads uxtheme.dll by name, and comctl32
    # delay-loads it again at the first themed control: both with the standard
    # search that starts in the program's folder unless the search was
    # narrowed first. Only a load that stays counts: Wine's comctl32 frees a
    # uxtheme.dll that lacks its functions at once. Not usable here: delay
    # loads of Wine's built-in DLLs (msimg32.dll from uxtheme) keep the
    # process's initial search path whatever the program set (ntdll's
    # LdrResolveDelayLoadedAPI passes no path to LdrLoadDll).
    PLANTED = 'uxtheme.dll'

    def plant(self, px, exe, folder, bins):
        px.copy(exe, os.path.join(folder, 'Brannoch.exe'))
        px.copy(os.path.join(bins, 'planted.dll'), os.path.join(folder, self.PLANTED))
        # Native first, as Windows takes a DLL found in the search path.
        px.env['WINEDLLOVERRIDES'] += ';%s=n,b' % self.PLANTED[:-4]
        return os.path.join(folder, 'Brannoch.exe')

    def planted_loads_kept(self, folder):
        marker = os.path.join(folder, self.PLANTED + '.loaded')
        events = [l.split(' ')[0] for l in open(marker).read().splitlines()] if os.path.exists(marker) else []
        return events.count('attach') - events.count('release'), events

    def check_planted(self, px, bins, folder):
        kept, events = self.planted_loads_kept(folder)
        self.check(kept == 0, 'Brannoch.exe loaded the planted %s: %s' % (self.PLANTED, events))
        # The same program without the narrowed search, in the same folder
        # set-up, must load it, or this scenario could not fail.
        control = self.plant(px, os.path.join(bins, 'brannoch_unhardened.exe'), os.path.join(folder, 'control'), bins)
        log = os.path.join(px.e2e, 'control.log')
        px.wine(os.path.join(bins, 'driver.exe'), 'run', winpath(control, px.prefix), winpath(log, px.prefix), 'ok',
                timeout=300)
        ran = os.path.exists(log) and any(l.startswith('box ') for l in open(log, encoding='utf-8'))
        kept, events = self.planted_loads_kept(os.path.dirname(control))
        self.check(ran and kept > 0, 'the program without the narrowed search did not load the planted %s '
                   '(ran=%s, %s): the scenario proves nothing' % (self.PLANTED, ran, events))

    def edition_state(self, px):
        """Per edition: registry key, Run values, folders, shortcut; and the libraries."""
        state = {}
        present, _ = self.regcheck(px, os.path.dirname(self.bins_driver))
        for e in (1, 2, 3):
            p = PROFILES[e]
            _, group, shortcut = NAMES[e][px.ui]
            state[e] = dict(
                key=p['key'] in present,
                run=sum(('%s|%s' % (RUN_KEY, v)) in present for v in p['run']),
                folder=os.path.exists(os.path.join(px.pf, p['folder'])),
                menu=os.path.exists(os.path.join(px.programs, group)),
                shortcut=os.path.exists(os.path.join(px.desktop, shortcut)),
                proc=('process:' + p['exe'].lower()) in present)
        state['libs'] = sum(os.path.exists(os.path.join(px.system, lib)) for lib in LIBS)
        temp = os.path.join(px.c, 'users', getpass.getuser(), 'Temp')
        state['temp'] = len([f for f in os.listdir(temp) if f.startswith('_@')]) if os.path.isdir(temp) else 0
        return state

    def check_after_run(self, px, present, pending):
        # The final box names the restart when the run left the restart something; a second run may find it listed.
        self.check(self.cut or not self.expect_boxes[-1:] in (['success'], ['admin']) or
                   self.restart_said == (list(RESTART_TAILS[:1]) if pending else []), 'restart said %s, pending %s' %
                   (self.restart_said, pending))
        for e in (1, 2, 3):
            p = PROFILES[e]
            _, group, shortcut = NAMES[e][px.ui]
            removed = e in self.expect_removed
            seeded = e in self.editions
            if not seeded:
                continue
            # A file it could neither remove nor hand to the restart keeps the key only where closing
            # its holder and running again can help; under Wine nothing can tell who holds it.
            kept = False
            self.check((p['key'] in present) != (removed and not kept), 'edition %d key present=%s' % (e, p['key'] in present))
            for v in p['run']:
                if v == 'DWReg_kstv(user)' and 5 - e in self.editions and (5 - e in self.expect_removed) != removed:
                    continue  # shared by 2.0 and 3.0, one of them left
                self.check((('%s|%s' % (RUN_KEY, v)) in present) != removed, 'edition %d Run value %s' % (e, v))
            self.check(os.path.exists(os.path.join(px.programs, group)) != removed, 'edition %d menu' % e)
            if self.win98:
                self.check(not os.path.exists(os.path.join(px.windows, 'ALL Users', 'Desktop', shortcut)),
                           'edition %d shortcut at the Windows 9x place' % e)
                self.check(os.path.exists(os.path.join(px.desktop, shortcut)), 'edition %d: NT desktop touched' % e)
            else:
                self.check(os.path.exists(os.path.join(px.desktop, shortcut)) != removed, 'edition %d shortcut' % e)
            if removed:  # stopped, after the checks on the open handle (owner, image name)
                self.check(('process:' + p['exe'].lower()) not in present, 'edition %d: %s still runs' % (e, p['exe']))
            wlog = os.path.join(px.e2e, 'window%d.log' % e)
            got = open(wlog).read().split() if os.path.exists(wlog) else []
            want = [str(p['cmd'])] if removed else []
            # An edition redone after the cut sends its command once more.
            self.check(got == want or (self.cut and got == want * 2), 'edition %d window commands %s' % (e, got))
            folder = os.path.join(px.pf, p['folder'])
            if removed and not (self.links and e == 1):  # a link: check_links
                left = sorted(os.listdir(folder)) if os.path.exists(folder) else []
                want = (['held-open.dat'] if self.held_file and e == self.editions[0] else [])
                want += ['linked'] if self.links and e == 3 else []
                self.check(left == sorted(want + (['sub'] if self.subfolder else [])),
                           'edition %d program folder holds %s' % (e, left))
        for left in self.opens.values():  # the run ended while it runs, and was not held by it (120 s at most)
            self.check('process:' + left.lower() in present, '%s left by an uninstaller no longer runs' % left)
            at = [float(l.split()[1][6:]) for l in self.driver_lines if l.startswith('box ')]
            self.check(at and at[-1] < 60000, '%s held the run: the final box came after %s ms' % (left, at))
        self.check_subfolders(px, 'after the run')
        for n in NEIGHBOUR_KEYS:
            self.check(n in present, 'neighbour key %s' % n)
        for f in neighbour_files():
            self.check(os.path.exists(os.path.join(px.c, f)), 'neighbour file %s' % f)
        if self.expect_removed:
            self.check(not os.path.exists(os.path.join(px.system, 'capicom.dll')), 'capicom.dll still there')
            ulog = os.path.join(px.e2e, 'uninstallers.log')
            runs = open(ulog).read().splitlines() if os.path.exists(ulog) else []
            dummies = [m for m in ('unins000.exe', 'uninst.exe') if m not in self.nsis]
            expected = len(dummies) * len(self.expect_removed) + (1 if self.cut else 0)
            self.check(len(runs) == expected and all(r.endswith(' /S') for r in runs),
                       'uninstaller runs %s' % runs)
            for marker in dummies:
                self.check(not os.path.exists(os.path.join(px.e2e, marker + '.marker')), marker + ' not deleted')
            if self.nsis:
                self.check_nsis(px)
            for lib in LIBS:
                self.check(not os.path.exists(os.path.join(px.system, lib)), '%s still there' % lib)
        temp_dir = os.path.join(px.c, 'users', getpass.getuser(), 'Temp')
        litter = [f for f in os.listdir(temp_dir) if f.startswith('_@')] if os.path.isdir(temp_dir) else []
        scheduled = set(os.path.basename(p.replace('\\', '/')) for p in pending if '\\_@' in p)
        # Every temporary file is scheduled (a name may be scheduled with
        # nothing under it: a move that failed after the scheduling).
        self.check(all(f in scheduled for f in litter), 'temporary names %s, scheduled %s' % (litter, scheduled))
        for p in pending:
            ok = '\\_@' in p or any(p.endswith('\\' + PROFILES[e]['folder']) for e in self.editions)
            ok = ok or (self.nsis and '\\Temp\\~nsu' in p)  # the NSIS copy schedules its own removal
            if self.cut:  # folders the first run removed: the second schedules their names, harmlessly
                groups = [NAMES[e][px.ui][1] for e in self.editions]
                ok = ok or any(p.endswith('\\' + g) or p.endswith('\\' + g + '\\Dorwyn') for g in groups)
            ok = ok or in_run_folder(p, '') and (bare(p).count('\\') == 2 or '\\temp' in bare(p))  # and its TEMP
            self.check(ok, 'unexpected pending operation %s' % p)
        if self.held_file:
            # The box names the file that stays, read back as the window shows it.
            self.check(any(l.endswith('held-open.dat') for l in self.leftover_lines),
                       'the box names %s' % self.leftover_lines)
            # Each "_@" name handed over holds a file, once, in the run's folder below the Windows folder, which
            # follows them once (Wine 8 keeps no security descriptor: the parent is trusted for what it is).
            run = RUN_PATH
            names = [p for p in pending if '\\_@' in p]
            inside = [i for i, p in enumerate(pending) if bare(p).startswith(run + '\\')]
            at = [i for i, p in enumerate(pending) if bare(p) == run]
            self.check(names and len(names) == len(set(n.lower() for n in names)), 'names scheduled: %s' % names)
            for n in names:
                linux = os.path.join(px.c, n.split(':\\', 1)[1].replace('\\', '/'))
                self.check(os.path.isfile(linux), '%s holds no file' % n)
                self.check(bare(n).startswith(run + '\\'), 'stray %s' % n)
            self.check(inside and len(at) == 1 and at[0] > max(inside), 'the run\'s folder scheduled %s' % at)

    def check_subfolders(self, px, when):
        """The seeded subfolders stay where they are; no "_@" name is a folder."""
        if not self.subfolder:
            return
        for e in self.editions:
            inner = os.path.join(px.pf, PROFILES[e]['folder'], 'sub', 'inner.txt')
            self.check(os.path.isfile(inner), 'edition %d: sub\\inner.txt gone %s' % (e, when))
        temp = os.path.join(px.c, 'users', getpass.getuser(), 'Temp')
        for d in (temp, px.c):
            for f in os.listdir(d) if os.path.isdir(d) else []:
                if f.startswith('_@'):
                    self.check(not os.path.isdir(os.path.join(d, f)), 'folder moved to %s %s' % (f, when))

    def check_after_restart(self, px, pending, pending2, present2):
        self.check(not pending2, 'pending operations left after restart: %s' % pending2)
        # Wine 8 names the user as the owner of every folder: the folder the cut run made is
        # not to be trusted by the next (on Windows it reads as the administrators'), and stays.
        left = [f for d in (px.c, px.windows) for f in os.listdir(d) if f.lower().startswith(RUN_FOLDER.lower())]
        self.check(left == ([RUN_FOLDER] if self.cut else []), 'run folder left: %s' % left)
        self.check_subfolders(px, 'after the restart')
        for p in pending:
            linux = os.path.join(px.c, p.split(':\\', 1)[1].replace('\\', '/'))
            if os.path.basename(linux).startswith('_@'):
                self.check(not os.path.exists(linux), 'scheduled %s survived the restart' % p)
        for f in neighbour_files():
            self.check(os.path.exists(os.path.join(px.c, f)), 'neighbour file %s after restart' % f)
        for n in NEIGHBOUR_KEYS:
            self.check(n in present2, 'neighbour key %s after restart' % n)


def scenarios():
    full = dict(editions=[1, 2, 3], answers=['ok'], expect_boxes=['success'])
    return [
        # A file held open by a program the run does not stop: it stays, and the box says so.
        Scenario('all-editions-zh-CN', 'zh-CN', held_file=True, editions=[1, 2, 3], answers=['ok'],
                 expect_boxes=['leftover']),
        Scenario('all-editions-en', 'en', pf_link=True, **full),
        Scenario('all-editions-zh-TW', 'zh-TW', **full),
        Scenario('nothing-installed', 'zh-CN', [], ['ok'], ['success'], dpi=144),
        Scenario('browser-closed-after-second-prompt', 'en', [3], ['click+yes', 'kill:firefox.exe+yes', 'ok'],
                 ['prompt', 'prompt', 'success'], seed_browser=True),
        Scenario('no-during-edition-2', 'zh-CN', [1, 2, 3], ['no'], ['prompt'], no_at_two=True,
                 expect_removed=[1]),
        # 2.0's key refuses full access: 1 and 3.0 removed, and the box that asks for administrator rights.
        Scenario('key-without-all-access', 'zh-CN', [1, 2, 3], ['ok'], ['admin'], deny=2, expect_removed=[1, 3]),
        Scenario('windows-98-shortcut-place', 'en', [1], ['ok'], ['success'], win98=True),
        Scenario('program-folder-with-subfolder', 'zh-CN', [1, 3], ['ok'], ['success'], subfolder=True),
        Scenario('nsis-uninstallers', 'en', [1, 2, 3], ['ok'], ['success'],
                 nsis={'Uninstall.exe': 2000, 'uninst.exe': 1000}),
        Scenario('run-ended-during-uninstaller', 'zh-CN', [1, 2, 3], ['ok'], ['success'],
                 nsis={'Uninstall.exe': 6000, 'uninst.exe': 1000}, cut='Uninstall.exe start'),
        # The x86_64 setting and WoW64 only: it passes in a 32-bit prefix too, kept out of that matrix for time.
        Scenario('planted-dll-in-downloads', 'en', planted=True, arches=['win64', 'wow64'], **full),
        # A slow uninstaller: the window answers, the main button is disabled with the
        # focus on "取消", a second click and About do nothing, the busy cursor shows, a
        # second start brings the dialog forward and ends; then every
        # way of closing is held until the run has ended.
        Scenario('window-answers-during-run', 'zh-CN', [1], ['ok'], ['success'], delays={'uninst.exe': 9000},
                 during='progress,cursor,click,about,second', probe=True),
        Scenario('close-during-run-waits-for-its-end', 'en', [2], ['ok'], ['success'],
                 delays={'uninst.exe': 3000}, during='esc,close,altf4,cancel,line', probe=True),
        Scenario('program-folders-with-links', 'zh-CN', [1, 3], ['ok'], ['success'], links=True),
        # unins000.exe opens a page in a browser and ends: "卸载成功" while the browser still runs.
        Scenario('page-left-open-by-uninstaller', 'en', [1], ['ok'], ['success'], opens={'unins000.exe': 'firefox.exe'}),
    ]


def make_template(path):
    # Scenarios run side by side: the first to come boots the template, the others wait for it.
    with open(path + '.lock', 'w') as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not os.path.exists(os.path.join(path, 'system.reg')):
            boot_template(path)


def boot_template(path):
    shutil.rmtree(path, ignore_errors=True)
    home = path + '-home'
    os.makedirs(home, exist_ok=True)
    env = dict(os.environ, WINEPREFIX=path, WINEARCH=ARCH['winearch'], HOME=home, WINEDEBUG='-all',
               WINEDLLOVERRIDES='mscoree,mshtml=')
    subprocess.run([WINE, 'wineboot', '-i'], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run([WINE, 'reg', 'add', 'HKCU\\Software\\Wine\\X11 Driver', '/v', 'Managed', '/d', 'N', '/f'],
                   env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    fonts = os.path.join(path, 'drive_c/windows/Fonts')
    os.makedirs(fonts, exist_ok=True)
    if os.path.exists('/usr/share/wine/fonts/marlett.ttf'):
        shutil.copy('/usr/share/wine/fonts/marlett.ttf', fonts)
    subprocess.run([WINESERVER, '-w'], env=env)


def table(report):
    b, a, r = report['before'], report['after'], report['restarted']
    yes = lambda v: 'yes' if v else '-'
    cols = ('Uninstall key', 'Run values', 'program folder', 'Start-menu group', 'desktop shortcut',
            'process running')
    fields = ('key', 'run', 'folder', 'menu', 'shortcut', 'proc')
    rows = ['%-8s %-18s %-8s %-10s %-14s' % ('edition', 'item', 'before', 'after run', 'after restart')]
    for e in (1, 2, 3):
        for col, f in zip(cols, fields):
            v = lambda s: str(s[e][f]) if f == 'run' else yes(s[e][f])
            rows.append('%-8s %-18s %-8s %-10s %-14s' % (['1', '2.0', '3.0'][e - 1] if f == 'key' else '', col,
                                                        v(b), v(a), v(r)))
    rows.append('%-8s %-18s %-8d %-10d %-14d' % ('all', 'vendor libraries', b['libs'], a['libs'], r['libs']))
    rows.append('%-8s %-18s %-8d %-10d %-14d' % ('', '"_@" temp files', b['temp'], a['temp'], r['temp']))
    rows.append('scheduled for restart: %d' % len(report['pending']))
    rows += ['  ' + p for p in report['pending']]
    return '\n'.join(rows)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--list', action='store_true', help='print the scenario names, one a line')
    ap.add_argument('--build-dir', help='the build directory of the exe under test')
    ap.add_argument('--arch', choices=sorted(ARCHES), default='win64')
    ap.add_argument('--only', nargs='*')
    ap.add_argument('--demo', metavar='OUT_DIR')
    ap.add_argument('--bench', action='store_true')
    ap.add_argument('--template', action='store_true', help='boot the template prefix, run nothing')
    args = ap.parse_args()
    if args.list:
        # "timed": the scenario measures how fast the dialog answers, so it runs alone.
        print('\n'.join(s.name + (' timed' if s.probe else '') for s in scenarios() if args.arch in s.arches))
        return 0
    if not args.build_dir:
        ap.error('--build-dir is required')
    global ARCH, WINE
    ARCH, WINE = ARCHES[args.arch], ARCHES[args.arch]['loader']
    if args.arch != 'win64':
        runs32 = os.path.join(os.path.dirname(os.path.abspath(__file__)), '../../scripts/runs32.sh')
        if subprocess.run([runs32]).returncode != 0:
            print('SKIPPED: this kernel runs no 32-bit code, so the i686 product cannot run (%s)' % args.arch)
            return SKIP
        if not os.access(WINE, os.X_OK):
            why = os.path.join(os.path.dirname(os.path.abspath(__file__)), '../../build/wine32-missing')
            why = open(why).read().strip() if os.path.exists(why) else 'wine32 is not installed'
            print('SKIPPED: %s (%s missing), so the i686 product cannot run' % (why, WINE))
            return SKIP
    if not os.environ.get('BRANNOCH_E2E_XVFB'):  # one private X server for every Wine command of the run
        os.environ['BRANNOCH_E2E_XVFB'] = '1'
        # Scenarios run side by side, each with its own display: each run
        # looks for a free one from a number of its own, so that two starting
        # at once do not take the same.
        first = 100 + zlib.crc32(' '.join(sys.argv[1:]).encode()) % 4000
        os.execvp('xvfb-run', ['xvfb-run', '-a', '-n', str(first), '-s', '-screen 0 1024x768x24', sys.executable]
                  + sys.argv)
    build = os.path.abspath(args.build_dir)
    bins = os.path.join(build, 'tests/e2e/helpers')
    exe = os.path.join(build, 'app/Brannoch.exe')
    work = os.path.join(build, 'e2e-work')
    os.makedirs(work, exist_ok=True)
    template = os.path.join(work, 'template-' + ARCH['winearch'])
    make_template(template)
    if args.template:
        return 0
    Scenario.bins_driver = os.path.join(bins, 'driver.exe')

    if args.bench:
        return bench(template, bins, exe, work)
    chosen = [s for s in scenarios() if (not args.only or s.name in args.only) and args.arch in s.arches]
    if args.demo:
        os.makedirs(args.demo, exist_ok=True)
        out = lambda name: os.path.join(os.path.abspath(args.demo), name)
        # The run as the user sees it: the dialog, its bar and step line while an uninstaller
        # works, and the final box (the library held by the running tool waits for the restart).
        s = Scenario('demo', 'zh-CN', [1, 2, 3], ['ok'], ['success'], delays={'uninst.exe': 8000}, during='shot')
        shots = {'idle': out('dialog.png'), 'run': out('run.png'), 'box1': out('box-success.png')}
        ok = s.run(template, bins, exe, work, shots=shots)
        s.check(s.restart_said, 'the final box does not ask for the restart')
        print(table(s.report))
        inside = [p for p in s.report['pending'] if bare(p).startswith(RUN_PATH + '\\')]
        print('moved-aside files: %s' % ('in C:\\Windows\\%s, scheduled before the folder' % RUN_FOLDER if inside else
              'NOT in the run\'s folder C:\\Windows\\%s' % RUN_FOLDER))
        for line in s.report.get('lines', []):
            if line.startswith('box '):
                f = dict(x.split('=', 1) for x in line.split(' ') if '=' in x)
                print('message box: caption "%s", text "%s", owner %s' % (
                    bytes.fromhex(f['caption']).decode('utf-8'), bytes.fromhex(f['text']).decode('utf-8'), f['owner']))
        print('neighbours (another vendor\'s folders, other Run values, Uninstall keys and shortcuts): %s'
              % ('intact' if not [p for p in s.problems if 'neighbour' in p] else 'DAMAGED'))
        # A file held open by a program the run does not stop: the box names it and what to do.
        left = Scenario('demo-leftover', 'zh-CN', held_file=True, editions=[1, 2, 3], answers=['ok'],
                        expect_boxes=['leftover'])
        shots['leftover'] = out('box-leftover.png')
        left.run(template, bins, exe, work, shots={'box1': shots['leftover']})
        big = Scenario('demo-144dpi', 'zh-CN', [], ['ok'], ['success'], dpi=144)
        shots['144'] = out('dialog-144dpi.png')
        big.run(template, bins, exe, work, shots={'idle': shots['144']})
        for other in (left, big):
            s.problems += ['%s: %s' % (other.name, p) for p in other.problems]
        taken = s.taken + ['leftover' for _ in left.taken] + ['144' for _ in big.taken]
        s.check(taken == ['idle', 'run', 'box1', 'leftover', '144'], 'pictures taken: %s' % taken)
        for stage, what in [('idle', 'the dialog'), ('run', 'during the run'), ('box1', 'the final box'),
                            ('leftover', 'the final box when something stays'),
                            ('144', 'the dialog at 144 DPI (150 %), every text within its control')]:
            print('picture of %s: %s' % (what, shots[stage]))
        ok = not s.problems
        print('demo %s%s' % ('PASSED' if ok else 'FAILED', '' if ok else ': ' + '; '.join(s.problems)))
        return 0 if ok else 1
    failed = 0
    for s in chosen:
        t0 = time.time()
        ok = s.run(template, bins, exe, work)
        print('%-40s %s (%.1f s)%s%s' % (s.name, 'PASS' if ok else 'FAIL', time.time() - t0, s.note,
                                         '' if ok else '\n    ' + '\n    '.join(s.problems)), flush=True)
        failed += not ok
        if ok:
            shutil.rmtree(s.prefix.root, ignore_errors=True)
    print('e2e: %d scenarios, %d failed' % (len(chosen), failed))
    return 1 if failed else 0


STARTUP_RUNS = 15


def bench(template, bins, exe, work):
    px = Prefix(template, 'zh-CN', work)
    try:
        # Taken in turns, so that whatever else the machine does weighs on both alike.
        exes = (('Brannoch.exe', exe), ('bare dialog', os.path.join(bins, 'bare_dialog.exe')),
                ('bare dialog with its manifest', os.path.join(bins, 'bare_dialog_manifest.exe')))
        samples = {name: [] for name, _ in exes}
        for run in range(-1, STARTUP_RUNS):  # the first, not counted, starts the prefix's services
            for name, path in exes if run >= 0 else exes[1:]:
                log = os.path.join(px.e2e, 'startup.log')
                px.wine(os.path.join(bins, 'driver.exe'), 'startup', winpath(path, px.prefix), winpath(log, px.prefix))
                if run >= 0:
                    samples[name].append(dict(f.split('=') for f in open(log).read().split()))
        mid = lambda values: sorted(values)[len(values) // 2]
        ms = lambda name, key='startup_ms': [float(f[key]) for f in samples[name]]
        for name, _ in exes:
            print('time to dialog shown, %-29s median of %d: %6.1f ms (processor %5.1f ms)'
                  % (name, STARTUP_RUNS, mid(ms(name)), mid(ms(name, 'cpu_ms'))))
        # Each start against the one beside it, then the median.
        for name in ('bare dialog', 'bare dialog with its manifest'):
            print('ratio Brannoch / %-29s median of %d: %.2f'
                  % (name, STARTUP_RUNS, mid([b / a for b, a in zip(ms('Brannoch.exe'), ms(name))])))
    finally:
        px.close()
    # One full run with a slow uninstaller: uninst.exe works 6 s each time it
    # runs (once per edition), while another thread probes the dialog.
    slow = 6000
    s = Scenario('bench', 'zh-CN', [1, 2, 3], ['ok'], ['success'], delays={'uninst.exe': slow}, probe=True)
    s.run(template, bins, exe, work)
    # From the click to the success box, which the run shows as its last step.
    run_ms = [float(l.split('at_ms=')[1].split()[0]) for l in s.report['lines'] if l.startswith('box ')][-1]
    # The waits a full run is obliged to make: two tool processes terminated
    # (Keyloft_User.exe, DWReg_kstv.exe once), each 500 ms of Sleep after a
    # wait of up to 100 ms for its exit, and 100 ms before each of the three
    # program groups; per edition unins000.exe (300 ms) and uninst.exe.
    fixed = 2 * 500 + 3 * 100
    uninstallers = 3 * (300 + slow)
    print('full run of three editions: %.0f ms; fixed waits %d ms; uninstallers %d ms; overhead %.0f ms'
          % (run_ms, fixed, uninstallers, run_ms - fixed - uninstallers))
    probe = [l for l in s.report['lines'] if l.startswith('probe ')]
    f = dict(x.split('=', 1) for x in probe[0].split()[1:]) if probe else {'longest_ms': 'nan', 'count': '0'}
    print('longest unanswered interval during a run: %s ms (WM_NULL every 20 ms, %s probes, uninst.exe %d s)'
          % (f['longest_ms'], f['count'], slow // 1000))
    # The same waits and launches, in the same order, by a program that does nothing else.
    px = s.prefix
    windows, system = winpath(px.windows, px.prefix), winpath(px.system, px.prefix)
    edition = ['run:%s\\unins000.exe' % windows, 'run:%s\\uninst.exe' % system]
    steps = (['sleep:500', 'sleep:100'] + edition) * 2 + ['sleep:100'] + edition
    log = os.path.join(px.e2e, 'launcher.log')
    px.wine(os.path.join(bins, 'bare_launcher.exe'), winpath(log, px.prefix), *steps, timeout=300)
    launcher_ms = float(open(log).read().split('=')[1])
    px.close()
    print('run against a bare launcher doing the same waits and launches: ratio %.3f (Brannoch %.0f ms, '
          'launcher %.0f ms)' % (run_ms / launcher_ms, run_ms, launcher_ms))
    for name, path in (('Brannoch.exe (x86_64)', exe), ('bare dialog (x86_64)', os.path.join(bins, 'bare_dialog.exe'))):
        print('size %-24s %7d bytes' % (name, os.path.getsize(path)))
    shutil.rmtree(s.prefix.root, ignore_errors=True)
    return 0


if __name__ == '__main__':
    sys.exit(main())
