#!/usr/bin/env python3
"""The probe table under Wine, compared line by line with the simulator.

  run.py --arch win64|i686 --exe conformance_probes.exe --sim conformance_sim --work DIR

Runs the probes in a fresh prefix (code page 936, then `wineboot -r` and the
after-restart probes, then code page 950), with drive D: on another file
system. Where the table records that Wine differs from Windows, Wine must
still give its recorded line and the simulator Windows' documented one;
everywhere else the simulator must give Wine's line. Prints each recorded
difference with its source, then
  conformance (ARCH): N probes, simulator agrees with Wine on A, follows Windows where Wine differs on D
Exit 0 when A + D = N, 77 when this machine cannot run the build (i686 on a
kernel without 32-bit support), 1 otherwise.
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile

WINE = {'win64': '/usr/lib/wine/wine64', 'i686': '/usr/lib/wine/wine'}
WINESERVER = '/usr/lib/wine/wineserver'
PASSES = [('zh_CN.UTF-8', []), (None, ['restart']), ('zh_TW.UTF-8', [])]


def winpath(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def quiet(cmd, env, timeout=300):
    return subprocess.run(cmd, env=env, timeout=timeout, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode


def make_template(path, arch, env):
    if os.path.exists(os.path.join(path, 'system.reg')):
        return
    shutil.rmtree(path, ignore_errors=True)
    env = dict(env, WINEPREFIX=path)
    quiet([WINE[arch], 'wineboot', '-i'], env, timeout=600)
    quiet([WINESERVER, '-w'], env)


def wine_lines(args):
    work = os.path.abspath(args.work)
    os.makedirs(work, exist_ok=True)
    home = os.path.join(work, 'home')
    os.makedirs(home, exist_ok=True)
    base = dict(os.environ, HOME=home, WINEDEBUG='-all', WINEDLLOVERRIDES='mscoree,mshtml=')
    if args.arch == 'i686':
        base['WINEARCH'] = 'win32'
    template = os.path.join(work, 'template')
    make_template(template, args.arch, base)
    root = tempfile.mkdtemp(prefix='run-', dir=work)
    other = tempfile.mkdtemp(prefix='brannoch-conformance-d-', dir='/dev/shm')
    prefix = os.path.join(root, 'prefix')
    subprocess.run(['cp', '-a', template, prefix], check=True)
    os.symlink(other, os.path.join(prefix, 'dosdevices', 'd:'))
    os.makedirs(os.path.join(prefix, 'drive_c/conf/link.folder'))  # Wine 8 makes no links itself
    os.symlink('target', os.path.join(prefix, 'drive_c/conf/link.folder/link'))
    env = dict(base, WINEPREFIX=prefix)
    lines = []
    try:
        for i, (lang, extra) in enumerate(PASSES):
            if extra == ['restart']:
                quiet([WINE[args.arch], 'wineboot', '-r'], env)
                quiet([WINESERVER, '-w'], env)
            else:
                env['LC_ALL'] = lang
            out = os.path.join(root, 'pass%d.txt' % i)
            rc = quiet([WINE[args.arch], args.exe, winpath(out)] + extra, env)
            quiet([WINESERVER, '-k'], env)
            quiet([WINESERVER, '-w'], env)
            if rc != 0 or not os.path.exists(out):
                raise RuntimeError('probe exe failed in pass %d (exit %d)' % (i, rc))
            lines += open(out, encoding='latin-1').read().splitlines()
    finally:
        shutil.rmtree(other, ignore_errors=True)
    shutil.rmtree(root, ignore_errors=True)
    return lines


def split(lines):
    return {l.split(': ', 1)[0]: l.split(': ', 1)[1] if ': ' in l else '' for l in lines}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--arch', choices=sorted(WINE), required=True)
    ap.add_argument('--exe', required=True)
    ap.add_argument('--sim', required=True)
    ap.add_argument('--work', required=True)
    args = ap.parse_args()
    if args.arch == 'i686':
        runs32 = os.path.join(os.path.dirname(os.path.abspath(__file__)), '../../scripts/runs32.sh')
        if subprocess.run([runs32]).returncode != 0:
            print('SKIPPED: this kernel runs no 32-bit code, so the i686 probes cannot run')
            return 77
        if not os.path.exists(WINE['i686']):
            print('SKIPPED: wine32 is not installed (%s missing), so the i686 probes cannot run' % WINE['i686'])
            return 77
    if not os.environ.get('BRANNOCH_CONFORMANCE_XVFB'):  # windows need an X server
        os.environ['BRANNOCH_CONFORMANCE_XVFB'] = '1'
        # From a display number of its own: it may start beside the Wine scenarios.
        first = {'win64': 4200, 'i686': 4300}[args.arch]
        os.execvp('xvfb-run', ['xvfb-run', '-a', '-n', str(first), '-s', '-screen 0 640x480x24', sys.executable]
                  + sys.argv)

    sim_out = subprocess.run([args.sim], stdout=subprocess.PIPE, check=True).stdout.decode('latin-1')
    known, sim, unprobed = {}, [], []
    for line in sim_out.splitlines():
        if line.startswith('known\t'):
            _, name, wine, windows, source = line.split('\t')
            known[name] = (wine, windows, source)
        elif line.startswith('unprobed\t'):
            unprobed.append(line.split('\t')[1:])
        else:
            sim.append(line)
    wine = wine_lines(args)
    with open(os.path.join(args.work, 'wine-lines.txt'), 'w', encoding='latin-1') as f:
        f.write('\n'.join(wine) + '\n')
    s, w = split(sim), split(wine)
    agree = differs = 0
    for name in s:
        if name not in w:
            print('%-36s missing from the Wine run' % name)
            continue
        if name in known:
            kw, kwin, source = known[name]
            if w[name] != kw:
                print('%-36s Wine no longer gives its recorded line\n    wine:     %s\n    recorded: %s'
                      % (name, w[name], kw))
            elif s[name] != kwin:
                print('%-36s simulator differs from Windows\n    sim:      %s\n    windows:  %s'
                      % (name, s[name], kwin))
            elif kw == kwin:
                agree += 1
                print('%-36s Wine gives the newest Windows\' line (%s)' % (name, source))
            else:
                differs += 1
                print('%-36s Wine differs from Windows (%s); simulator follows Windows' % (name, source))
            continue
        if s[name] == w[name]:
            agree += 1
        else:
            print('%-36s differs\n    sim:  %s\n    wine: %s' % (name, s[name], w[name]))
    extra = sorted(set(w) - set(s))
    for name in extra:
        print('%-36s only in the Wine run: %s' % (name, w[name]))
    for name, wine_does, windows_does, source in unprobed:
        print('%-36s no probe can show it: Wine: %s; Windows: %s (%s)' % (name, wine_does, windows_does, source))
    print('conformance (%s): %d probes, simulator agrees with Wine on %d, follows Windows where Wine differs on %d'
          % (args.arch, len(s), agree, differs))
    return 0 if agree + differs == len(s) and not extra else 1


if __name__ == '__main__':
    sys.exit(main())
