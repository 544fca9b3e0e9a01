#!/usr/bin/env python3
"""Checks scripts/release.sh on the committed HEAD of a source tree:

  two clean clones, built each from nothing in different folders, with
  different umasks, time zones and file times, must give the same
  Brannoch.exe (otherwise the first differing PE field or section is named);
  the second is signed by a throwaway CA: the signature verifies against it,
  the resources survive it, it is the build plus a signature, one flipped byte
  breaks it; failed signing leaves no exe. The run that fails at signing only
  after building reuses the first clone's build (BRANNOCH_RELEASE_BUILD_DIR),
  so two builds in all.

  release_test.py SOURCE_DIR
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import pe_diff  # noqa: E402

problems = []


def check(ok, what):
    if not ok:
        problems.append(what)
    return ok


def sha256(path):
    return hashlib.sha256(open(path, 'rb').read()).hexdigest()


def clone(source, commit, dest, umask):
    old = os.umask(umask)
    try:
        subprocess.run(['git', 'clone', '--quiet', '--no-hardlinks', source, dest], check=True)
        subprocess.run(['git', '-C', dest, 'checkout', '--quiet', '--detach', commit], check=True)
    finally:
        os.umask(old)


def release(tree, dist, umask=0o022, **env):
    old = os.umask(umask)
    try:
        t0 = time.time()
        r = subprocess.run([os.path.join(tree, 'scripts/release.sh'), dist], capture_output=True, text=True,
                           env=dict(os.environ, **env))
        return r, time.time() - t0
    finally:
        os.umask(old)


def reproducible(source, commit, work, key, kept_build):
    """The two clones; the second signed with key, the first built in kept_build. Its dist folder, or None."""
    runs = [  # folder, umask, time zone, file times, signing and build folder
        ('a/Brannoch', 0o022, 'UTC', None, dict(BRANNOCH_RELEASE_BUILD_DIR=kept_build)),
        ('bb/another/folder/Brannoch-2', 0o077, 'Asia/Shanghai', 981173100, key),
    ]
    exes = []
    for folder, umask, tz, mtime, env in runs:
        tree = os.path.join(work, folder)
        clone(source, commit, tree, umask)
        if mtime is not None:
            for root, dirs, files in os.walk(tree):
                dirs[:] = [d for d in dirs if d != '.git']
                for f in files:
                    os.utime(os.path.join(root, f), (mtime, mtime))
        tmp = os.path.join(work, folder + '-tmp')
        os.makedirs(tmp)
        r, seconds = release(tree, os.path.join(tree, 'dist'), umask, TZ=tz, TMPDIR=tmp, **env)
        exe = os.path.join(tree, 'dist/Brannoch.exe')
        if not check(r.returncode == 0, 'release in %s failed: %s' % (folder, r.stderr[-2000:])):
            return None
        sign = 'BRANNOCH_SIGN_CERT' in env
        if sign:
            # The build the signature was added to: the signed exe without it.
            print(r.stdout.rstrip())
            stripped = os.path.join(work, 'stripped.exe')
            subprocess.run(['osslsigncode', 'remove-signature', '-in', exe, '-out', stripped], capture_output=True,
                           check=True)
            exe = stripped
        else:
            check('UNSIGNED' in r.stdout, 'an unsigned release does not say so: %s' % r.stdout)
            sums = open(os.path.join(tree, 'dist/SHA256SUMS')).read()
            check(sums == '%s  Brannoch.exe\n' % sha256(exe), 'SHA256SUMS: %r' % sums)
            check(sha256(exe) in r.stdout, 'the digest is not printed: %s' % r.stdout)
        print('clone %-34s umask %03o  %s  %d bytes  %.0f s%s' % (folder, umask, sha256(exe), os.path.getsize(exe),
                                                                 seconds, ', signed' if sign else ''))
        exes.append(exe)
    a, b = (open(e, 'rb').read() for e in exes)
    diff = pe_diff.first_difference(a, b)
    check(diff is None, 'the two releases differ; %s' % diff)
    pe = pe_diff.Pe(a)
    stamp = int(subprocess.run(['git', '-C', source, 'log', '-1', '--format=%ct', commit], capture_output=True,
                               text=True, check=True).stdout)
    check(pe.value('TimeDateStamp') == stamp, 'link time stamp %d, commit time %d' % (pe.value('TimeDateStamp'), stamp))
    check(pe.value('CheckSum') == pe.computed_checksum(), 'PE checksum field does not match the bytes')
    return os.path.join(work, runs[1][0], 'dist')


def openssl(*args, cwd):
    subprocess.run(['openssl', *args], cwd=cwd, check=True, capture_output=True)


def make_pki(pki):
    os.makedirs(pki)
    openssl('req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'ca.key', '-out', 'ca.pem', '-days', '2',
            '-subj', '/CN=Brannoch Throwaway CA', '-addext', 'basicConstraints=critical,CA:TRUE',
            '-addext', 'keyUsage=critical,keyCertSign,cRLSign', cwd=pki)
    openssl('req', '-newkey', 'rsa:2048', '-nodes', '-keyout', 'sign.key', '-out', 'sign.csr',
            '-subj', '/CN=Brannoch Test Publisher', cwd=pki)
    with open(os.path.join(pki, 'ext.cnf'), 'w') as f:
        f.write('basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n')
    openssl('x509', '-req', '-in', 'sign.csr', '-CA', 'ca.pem', '-CAkey', 'ca.key', '-CAcreateserial',
            '-out', 'sign.pem', '-days', '2', '-extfile', 'ext.cnf', cwd=pki)
    openssl('genpkey', '-algorithm', 'RSA', '-pkeyopt', 'rsa_keygen_bits:2048', '-out', 'other.key', cwd=pki)


def verify(exe, ca):
    return subprocess.run(['osslsigncode', 'verify', '-CAfile', ca, '-in', exe], capture_output=True, text=True)


def failed_signing(source, work, pki, key, kept_build):
    dist = os.path.join(work, 'dist')
    exe = os.path.join(dist, 'Brannoch.exe')
    # Failures: a key of another certificate (found before building), a
    # time-stamp server that cannot be reached (found after the build, which
    # the first clone's kept build spares). An exe left from an earlier run
    # must not survive either.
    for what, env in (('key of another certificate', dict(key, BRANNOCH_SIGN_KEY=os.path.join(pki, 'other.key'))),
                      ('unreachable time-stamp server', dict(key, BRANNOCH_TIMESTAMP_URL='http://127.0.0.1:9/',
                                                             BRANNOCH_RELEASE_BUILD_DIR=kept_build))):
        os.makedirs(dist, exist_ok=True)
        open(exe, 'wb').write(b'an earlier release')
        r, seconds = release(source, dist, **env)
        check(r.returncode != 0 and 'FAILED' in r.stderr, '%s: exit %d, %s' % (what, r.returncode, r.stderr[-500:]))
        check(not os.path.exists(exe) and not os.path.exists(os.path.join(dist, 'SHA256SUMS')),
              '%s: dist/ still holds %s' % (what, os.listdir(dist)))
        print('failed signing, %s: exit %d, dist/ holds %s (%.0f s)' % (what, r.returncode, os.listdir(dist), seconds))


def signed(dist, work, pki):
    exe = os.path.join(dist, 'Brannoch.exe')
    sums = dict(reversed(l.split('  ')) for l in open(os.path.join(dist, 'SHA256SUMS')).read().splitlines())
    check(sums.get('Brannoch.exe') == sha256(exe), 'SHA256SUMS signed line: %s' % sums)
    v = verify(exe, os.path.join(pki, 'ca.pem'))
    check(v.returncode == 0 and 'Signature verification: ok' in v.stdout, 'verification: %s' % v.stdout[-800:])
    for want in ('Message digest algorithm  : SHA256', 'Text description: Brannoch test build',
                 'URL description: https://brannoch.invalid/', 'Subject: /CN=Brannoch Test Publisher'):
        check(want in v.stdout, 'signature lacks "%s"' % want)
    rc = subprocess.run([sys.executable, os.path.join(HERE, 'resource_check.py'), exe, 'i686'], capture_output=True,
                        text=True)
    check(rc.returncode == 0, 'resources after signing: %s' % rc.stdout)
    pe = pe_diff.Pe(open(exe, 'rb').read())
    check(pe.value('CheckSum') == pe.computed_checksum(), 'PE checksum of the signed exe')
    stripped = os.path.join(work, 'stripped.exe')
    check(sha256(stripped) == sums.get('Brannoch-unsigned.exe'), 'without its signature the exe is not the build')
    data = bytearray(open(exe, 'rb').read())
    text = next(s for s in pe.sections if s[0] == '.text')
    data[text[1] + text[2] // 2] ^= 0x01
    tampered = os.path.join(work, 'tampered.exe')
    open(tampered, 'wb').write(data)
    v = verify(tampered, os.path.join(pki, 'ca.pem'))
    check(v.returncode != 0 and 'MISMATCH' in v.stdout, 'one flipped byte still verifies: %s' % v.stdout[-500:])
    print('signed %d bytes (unsigned %d); verify ok; one flipped byte: verify exit %d'
          % (len(data), os.path.getsize(stripped), v.returncode))


def main():
    source = os.path.abspath(sys.argv[1])
    commit = subprocess.run(['git', '-C', source, 'rev-parse', 'HEAD'], capture_output=True, text=True,
                            check=True).stdout.strip()
    work = tempfile.mkdtemp(prefix='brannoch-release-test-')
    try:
        pki = os.path.join(work, 'pki')
        make_pki(pki)
        key = dict(BRANNOCH_SIGN_CERT=os.path.join(pki, 'sign.pem'), BRANNOCH_SIGN_KEY=os.path.join(pki, 'sign.key'),
                   BRANNOCH_SIGN_NAME='Brannoch test build', BRANNOCH_SIGN_URL='https://brannoch.invalid/')
        kept_build = os.path.join(work, 'kept-build')
        dist = reproducible(source, commit, work, key, kept_build)
        if dist is not None:
            signed(dist, work, pki)
        failed_signing(source, work, pki, key, kept_build)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    for p in problems:
        print('FAIL ' + p)
    print('release at %s: %s' % (commit[:12], 'passed' if not problems else '%d problems' % len(problems)))
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
