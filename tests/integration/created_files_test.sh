#!/usr/bin/env bash
# Which files the library creates, traced with strace (-f, every file syscall,
# descriptors decoded) while twctl runs tune, firstboot, disks provision (one
# loop disk named in sTidewallTestDisks) and metrics --textfile: no file may be
# created in a directory other accounts can write (/tmp, /var/tmp, /run/lock,
# /dev/shm; the initiator-name backup at its fixed path aside), and none may be
# left group- or world-writable. Creations count when made by twctl itself or
# by the shell of a command it runs; what the tools it runs do inside is theirs
# (listed, not judged).
set -euo pipefail
: "${TWCTL:?}"
[ -n "${TW_IN_SANDBOX:-}" ] || { echo "run through sandbox.sh: this test writes /etc and /tw" >&2; exit 1; }
for tool in strace losetup mkfs.xfs python3; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: $tool missing"; exit 77; }
done
fail() { echo "FAIL: $*" >&2; exit 1; }

# Nothing of the test itself under /tmp: its own files would be traced too.
work=/srv/twcreated
rm -rf "$work" && mkdir -p "$work/bin" "$work/textfile"
disk="" ddb=""
cleanup() {
  set +e
  umount /tw/disk1 2>/dev/null
  umount /tw/ddb 2>/dev/null
  [ -n "$disk" ] && losetup -d "$disk"
  [ -n "$ddb" ] && losetup -d "$ddb"
  rm -rf "$work"
}
trap cleanup EXIT
cd /

reg=/etc/TessalineRegistry/Tolvan/Instance001
mkdir -p "$reg/EventManager" "$reg/Dockwright" /opt/tessaline/Dockwright /etc/iscsi /etc/logrotate.d \
  /etc/lvm /etc/modprobe.d /etc/sysconfig/network-scripts /etc/abrt /var/log/tessaline /var/log/bmrlogs
truncate -s 512M "$work/disk.img"
disk=$(losetup -f --show "$work/disk.img")
# First boot finds the DDB file system mounted, as the imaging left it.
truncate -s 512M "$work/ddb.img"
ddb=$(losetup -f --show "$work/ddb.img")
mkfs.xfs -q -f "$ddb"
mkdir -p /tw/ddb
mount -o noatime "$ddb" /tw/ddb
# No appliance type yet: tuning a node without GlusterFS needs no gluster answers.
printf 'sTidewallTestDisks %s\ndHOME /opt/tessaline/Dockwright\n' "$disk" > "$reg/Dockwright/registry.conf"
printf 'UUID=0000 / ext4 defaults 1 1\n' > /etc/fstab
printf 'InitiatorName=iqn.imaged:old\n' > /etc/iscsi/initiatorname.iscsi
printf 'kernel.sem = 250 32000 32 128\n' > /etc/sysctl.conf
echo restored > /var/log/bmrlogs/restore.log
# Tools this machine lacks or must not run for real: they succeed quietly.
for tool in systemctl ifconfig ethtool sysctl tuned-adm multipath gluster python iscsi-iname; do
  printf '#!/bin/sh\n[ "$(basename "$0")" = iscsi-iname ] && echo iqn.1994-05.com.redhat:c0ffee42\nexit 0\n' > "$work/bin/$tool"
done
printf '#!/bin/sh\nexit 0\n' > /opt/tessaline/Dockwright/tsgeneratelvmfilter.py
chmod +x "$work/bin"/* /opt/tessaline/Dockwright/tsgeneratelvmfilter.py
ln -sf "$work/bin/iscsi-iname" /usr/sbin/iscsi-iname
export PATH="$work/bin:$PATH"

trace() {  # NAME CMD...: runs CMD under strace; its exit status is only reported
  local name=$1 rc=0
  shift
  strace -f -qq -y -s 4096 -e trace=%file -e signal=none -o "$work/$name.trace" "$@" > "$work/$name.out" 2>&1 || rc=$?
  echo "$name: exit $rc"
  [ $rc = 0 ] || { tail -3 "$work/$name.out"; grep -h '\[-1\]' /var/log/tessaline/TSTidewall.log | tail -4; }
}
trace tune "$TWCTL" tune
trace firstboot "$TWCTL" firstboot
echo 'sArrowfieldApplianceType RM-110' >> "$reg/Dockwright/registry.conf"
trace provision "$TWCTL" disks provision --yes
trace metrics "$TWCTL" metrics --textfile "$work/textfile"
[ -s "$work/textfile/tidewall.prom" ] || fail "metrics wrote no textfile: $(cat "$work/metrics.out")"
mountpoint -q /tw/disk1 || echo "note: the disk was not provisioned: $(tail -3 "$work/provision.out")"

python3 - "$work"/*.trace <<'EOF' || fail "files created where they must not be (above)"
import os, re, stat, sys

SHARED = ("/tmp", "/var/tmp", "/run/lock", "/dev/shm")
ALLOWED = {"/var/tmp/initiatorname.iscsi.backup"}
LINE = re.compile(r'^(\d+)\s+(\w+)\((.*)\)\s+=\s+(-?\d+)(<[^>]*>)?')
CREATE_ARG = {"mkdir": 0, "mkdirat": 1, "creat": 0, "mknod": 0, "mknodat": 1, "link": 1, "linkat": 3,
              "symlink": 1, "symlinkat": 2, "rename": 1, "renameat": 3, "renameat2": 3}

def args_of(text):  # top-level comma split, strings kept whole
    out, cur, depth, quoted, esc = [], "", 0, False, False
    for ch in text:
        if quoted:
            cur += ch
            if esc: esc = False
            elif ch == "\\": esc = True
            elif ch == '"': quoted = False
            continue
        if ch == '"': quoted = True
        elif ch in "[{(": depth += 1
        elif ch in "]})": depth -= 1
        if ch == "," and depth == 0:
            out.append(cur.strip()); cur = ""
        else:
            cur += ch
    if cur.strip(): out.append(cur.strip())
    return out

def unquote(a):
    return a[1:-1].encode().decode("unicode_escape") if a.startswith('"') else None

def resolve(dirfd, path):
    if path is None: return None
    if path.startswith("/"): return os.path.normpath(path)
    m = re.match(r'^\d+<(.*)>$', dirfd or "")
    return os.path.normpath(m.group(1) + "/" + path) if m else None

bad, tools, judged = [], set(), 0
for trace in sys.argv[1:]:
    name = os.path.basename(trace)[:-6]
    program = {}
    for line in open(trace, errors="replace"):
        m = LINE.match(line)
        if not m: continue
        pid, call, raw, ret, retpath = m.groups()
        a = args_of(raw)
        if call == "execve" and int(ret) == 0:
            program[pid] = unquote(a[0])
            continue
        if int(ret) < 0: continue
        created = None
        if call in ("open", "openat"):
            flags = a[1] if call == "open" else a[2]
            if "O_CREAT" not in flags: continue
            created = retpath[1:-1] if retpath else resolve(a[0] if call == "openat" else None, unquote(a[-2 if len(a) > 2 + (call == "openat") else -1]))
        elif call in CREATE_ARG:
            i = CREATE_ARG[call]
            dirfd = a[i - 1] if call.endswith("at") or call == "renameat2" else None
            created = resolve(dirfd, unquote(a[i]))
        else:
            continue
        if created is None: continue
        prog = program.get(pid, "twctl")
        ours = prog is None or prog.endswith("/twctl") or prog in ("/bin/sh", "/usr/bin/sh", "/bin/dash")
        if not ours:
            if any(created == d or created.startswith(d + "/") for d in SHARED):
                tools.add("%s: %s created %s" % (name, prog, created))
            continue
        judged += 1
        if created not in ALLOWED and any(created == d or created.startswith(d + "/") for d in SHARED):
            bad.append("%s: %s %s in a directory others can write (%s)" % (name, call, created, prog))
        try:
            st = os.lstat(created)
        except OSError:
            continue
        if not stat.S_ISLNK(st.st_mode) and st.st_mode & 0o022 and not (stat.S_ISDIR(st.st_mode) and st.st_mode & stat.S_ISVTX):
            bad.append("%s: %s left mode %o (%s)" % (name, created, st.st_mode & 0o7777, call))
for t in sorted(tools): print("tool (not judged):", t)
print("judged %d creations by twctl and its command shells" % judged)
for b in bad: print("FOUND:", b)
sys.exit(1 if bad else 0)
EOF
echo "created_files: no file created in a shared directory, none group- or world-writable"
