#!/usr/bin/env bash
# The Debian package in a fresh Debian 12 root: install it with apt (its dependencies from the
# mirror), start the scheduler there, run two consoles headless against the reference service
# (on this machine's loopback, which the root shares), let bob's console make the queue for
# alice's shared file printer, print a PDF on it as bob with lp, see the pages arrive in alice's
# file, then remove and purge the package and check that it took away what it made and nothing
# else. Run as root; needs a Debian mirror and several minutes, so it is not part of CI.
#
#   scripts/package-check-root.sh build/package/velmora_1.6.1_amd64.deb /srv/velmora-root
#
# ROOT is made with "debootstrap bookworm" when it does not exist or is empty; an existing root
# must be one debootstrap made that has never had the package. The mirror is
# VELMORA_MIRROR (default http://deb.debian.org/debian). Nothing is installed on this machine.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck source=scripts/demo/lib.sh
source scripts/demo/lib.sh

fail() {
    echo "package-check-root.sh: $*" >&2
    exit 1
}

[ "$#" -eq 2 ] || fail "usage: $0 PACKAGE.deb ROOT"
deb="$(realpath "$1")"
root="$(realpath -m "$2")"
mirror="${VELMORA_MIRROR:-http://deb.debian.org/debian}"
[ "$(id -u)" -eq 0 ] || fail "run as root: it makes a root with debootstrap and chroots into it"
[ -f "$deb" ] || fail "no package at $deb"
[ "$root" != / ] || fail "the root must not be /"
command -v debootstrap >/dev/null || fail "debootstrap is missing (apt-get install debootstrap)"

printer_id="5b0e9d3c-7a41-4f2e-8c6d-1e2f3a4b5c6d"
remote_queue="Velmora_$printer_id"
file_queue="Alice_Printer"
printed="/var/spool/velmora-check/alice-printer.pdf"
work="$(mktemp -d /tmp/velmora-root-check-XXXXXX)"
chmod 0755 "$work"
mounted=()
service_pid=""
console_pids=()

in_root() {
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@"
}
# Replaces the calling (sub)shell with a program run as a user of the root: that user's ids
# and groups, a clean environment. Call it as "( as_root_user USER PROGRAM ARGS... )", with "&"
# after it if need be: "$!" then names the program itself, so that it can be stopped.
as_root_user() {
    local user="$1"
    shift
    exec chroot "$root" setpriv --reuid="$user" --regid="$user" --init-groups \
        env -i PATH=/usr/bin:/bin HOME="/home/$user" LANG=C.UTF-8 "$@"
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    [ "$status" -eq 0 ] || echo "package-check-root.sh: FAILED at step: $current_step" >&2
    local pid
    for pid in "${console_pids[@]}"; do
        stop_process "$pid" "a console"
    done
    stop_process "$service_pid" "the reference service"
    if [ -x "$root/etc/init.d/cups" ]; then
        in_root /etc/init.d/cups stop >/dev/null 2>&1 || true
    fi
    local index
    for ((index = ${#mounted[@]} - 1; index >= 0; index--)); do
        umount "${mounted[index]}" 2>/dev/null || umount -l "${mounted[index]}" || true
    done
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mount_in_root() {
    local target="$root$1"
    shift
    mount "$@" "$target"
    mounted+=("$target")
}

# The tree outside the places that change by themselves (logs, caches, package lists, the
# scheduler's spool and state, users' homes): type, mode, owner, size of files, and a digest
# of every file under /etc.
snapshot() {
    (cd "$root" && find . -xdev \( -path ./proc -o -path ./sys -o -path ./dev -o -path ./run \
        -o -path ./tmp -o -path ./home -o -path ./var/log -o -path ./var/cache \
        -o -path ./var/lib/apt -o -path ./var/lib/dpkg -o -path ./var/spool/cups \
        -o -path ./var/spool/velmora-check -o -path ./etc/cups/printers.conf \
        -o -path ./etc/cups/printers.conf.O -o -path ./etc/cups/subscriptions.conf \
        -o -path ./etc/cups/subscriptions.conf.O \) -prune \
        -o -type d -printf '%y %m %U:%G - %p\n' -o -printf '%y %m %U:%G %s %p\n' | sort)
    (cd "$root" && find ./etc -xdev -type f ! -path './etc/cups/printers.conf*' \
        ! -path './etc/cups/subscriptions.conf*' \
        -exec sha256sum {} + | sort -k2)
}

step "Debian 12 root in $root"
if [ ! -d "$root" ] || [ -z "$(ls -A "$root")" ]; then
    debootstrap --variant=minbase bookworm "$root" "$mirror"
fi
[ -f "$root/etc/debian_version" ] || fail "$root is not empty and holds no Debian root"
echo "Debian $(cat "$root/etc/debian_version")"
mount_in_root /proc -t proc proc
mount_in_root /sys -t sysfs sysfs
mount_in_root /dev --bind /dev
mount_in_root /dev/pts --bind /dev/pts
cp /etc/resolv.conf "$root/etc/resolv.conf"
if in_root dpkg-query -W velmora >/dev/null 2>&1; then
    fail "the package was installed in $root before: make a fresh root"
fi
# No service manager runs in a chroot: invoke-rc.d may start the scheduler (through its init
# script, which starts /usr/sbin/cupsd as root) and nothing else.
cat >"$root/usr/sbin/policy-rc.d" <<'POLICY'
#!/bin/sh
[ "$1" = cups ] && exit 0
exit 101
POLICY
chmod 0755 "$root/usr/sbin/policy-rc.d"

step "The package's dependencies from $mirror"
echo "deb $mirror bookworm main" >"$root/etc/apt/sources.list"
in_root apt-get update
depends="$(dpkg-deb -f "$deb" Depends)"
recommends="$(dpkg-deb -f "$deb" Recommends)"
echo "Depends: $depends"
echo "Recommends: $recommends"
# Installed first, so that what the package itself adds and removes can be told apart.
in_root apt-get satisfy -y "$depends, $recommends"

step "The scheduler: /etc/init.d/cups restart (starts /usr/sbin/cupsd as root)"
# Files are the device of the test printer only; nothing else changes in the configuration.
# The scheduler's package started it already; it reads the change on its restart.
sed -i 's/^#*FileDevice.*/FileDevice Yes/' "$root/etc/cups/cups-files.conf"
grep -q '^FileDevice Yes' "$root/etc/cups/cups-files.conf" ||
    echo "FileDevice Yes" >>"$root/etc/cups/cups-files.conf"
in_root /etc/init.d/cups restart
scheduler_up() { in_root lpstat -r | grep -q "scheduler is running"; }
wait_for 30 scheduler_up || fail "the scheduler did not start"
in_root lpstat -r

step "Users alice (shares a file printer) and bob (prints), and alice's printer"
for user in alice bob; do
    in_root useradd --create-home --user-group --shell /bin/bash "$user"
done
# Not in a chroot: polkit, which would let a user outside lpadmin change queues through
# pkexec. Bob's console makes a queue, so bob administers the scheduler.
in_root usermod -a -G lpadmin bob
in_root id alice
in_root id bob
install -d -o 7 -g 7 -m 0755 "$root$(dirname "$printed")"
install -m 0644 scripts/demo/file-printer.ppd "$root/tmp/file-printer.ppd"
in_root lpadmin -p "$file_queue" -E -v "file://$printed" -P /tmp/file-printer.ppd \
    -D "Alice's printer" -o printer-is-shared=false
in_root lpstat -v
cp -a "$root/etc/cups/cupsd.conf" "$work/cupsd.conf.before"
snapshot >"$work/before.txt"

step "apt install ./$(basename "$deb")"
cp "$deb" "$root/tmp/"
in_root apt-get install -y "/tmp/$(basename "$deb")" | tee "$work/install.log"
grep -q "^0 upgraded, 1 newly installed" "$work/install.log" ||
    fail "installing the package brought more than the package"
in_root dpkg-query -W velmora

step "Installed files, owners and modes"
while IFS= read -r path; do
    [ -e "$root$path" ] && [ ! -d "$root$path" ] && stat -c '%A %U:%G %s %n' "$root$path" |
        sed "s|$root||"
done < <(in_root dpkg -L velmora)
stat -c '%A %U:%G %n' "$root/var/lib/velmora" "$root/var/spool/velmora" | sed "s|$root||"
echo "the policy block in /etc/cups/cupsd.conf:"
sed -n '/^# BEGIN velmora queue policy/,/^# END velmora queue policy/p' \
    "$root/etc/cups/cupsd.conf"
grep -q "^<Policy velmora>" "$root/etc/cups/cupsd.conf" || fail "no velmora policy"
[ -z "$(ls -A "$root/var/lib/velmora")" ] || fail "the package put files in the shared folder"
in_root man -w velmora 2>/dev/null || zcat "$root/usr/share/man/man1/velmora.1.gz" | head -3
scheduler_up || fail "the scheduler did not come back after the install"
echo "the scheduler has the policy: $(in_root lpstat -r)"

step "Reference service on this machine's loopback (accounts alice and bob)"
cat >"$work/seed.json" <<SEED
{
  "accounts": [
    {"login": "alice", "password": "alice-password", "token": "alice-check-token",
     "nick": "Alice", "permissions": [{"client": "bob", "permission": "Allow"}]},
    {"login": "bob", "password": "bob-password", "token": "bob-check-token", "nick": "Bob",
     "favorites": ["$printer_id"], "default_printer": "$printer_id"}
  ],
  "printers": [
    {"public_id": "$printer_id", "owner": "alice", "title": "Alice's printer",
     "location": "Room 2", "shared": true, "online": false, "details": true,
     "capabilities": {"pack": "true", "enc-type": "AES,AES0", "transport": "bmp",
                      "collate": "1", "color": "1", "duplex": "0", "copies": "10"},
     "papers": [{"name": "Letter", "format": "Letter", "width": 2159, "height": 2794}]}
  ]
}
SEED
coproc SERVICE {
    exec python3 tools/refservice/refservice.py --port 0 --seed "$work/seed.json" \
        --job-password-prefix Vm4k 2>"$work/service.log"
}
# shellcheck disable=SC2153 # set by coproc
service_pid=$SERVICE_PID
read -r -t 30 port <&"${SERVICE[0]}" || fail "the reference service did not start"
base="http://127.0.0.1:$port"
service_url="$base/tdService.asmx"
echo "listening on $base"

step "What each console keeps after a sign-in: setup files, alice's sharing profile"
shared="$root/var/lib/velmora"
# write_setup_file and write_sharing_profile name users by this machine's user database.
write_root_file() {
    local user="$1" file="$2"
    cat >"$file"
    chown "$(in_root id -u "$user"):$(in_root id -g "$user")" "$file"
    chmod 0600 "$file"
}
for entry in "alice alice-check-token" "bob bob-check-token"; do
    read -r user token <<<"$entry"
    setup_file_text "$token" "$user.127.0.0.1" 2 | write_root_file "$user" "$shared/setup.$user.xml"
done
install -d -o "$(in_root id -u alice)" -g "$(in_root id -g alice)" -m 0700 \
    "$shared/alice.127.0.0.1"
write_root_file alice "$shared/alice.127.0.0.1/config.xml" <<PROFILE
<?xml version="1.0"?>
<config version="1601">
	<printers>
		<printer hidden="false">
			<public-id>$printer_id</public-id>
			<title>Alice's printer</title>
			<local-title>$file_queue</local-title>
		</printer>
	</printers>
</config>
PROFILE
ls -lan "$shared" "$shared/alice.127.0.0.1"

service_lists_printer() { service_lists_shared_printer "$base" "$printer_id"; }

step "velmora --headless as alice: shares \"$file_queue\""
(as_root_user alice /usr/bin/velmora --headless >"$work/console-alice.log" 2>&1) &
console_pids+=($!)
wait_for 60 service_lists_printer ||
    fail "alice's console did not share her printer: $(cat "$work/console-alice.log")"
echo "the service lists alice's printer as shared and online"

step "velmora --headless as bob: makes $remote_queue"
(as_root_user bob /usr/bin/velmora --headless >"$work/console-bob.log" 2>&1) &
console_pids+=($!)
wait_for 60 in_root lpstat -p "$remote_queue" ||
    fail "bob's console did not make $remote_queue: $(cat "$work/console-bob.log")"
in_root lpstat -v "$remote_queue"
in_root lpoptions -p "$remote_queue" | tr ' ' '\n' | grep -E '^(printer-is-shared|device-uri)='

step "bob prints a three-page PDF: lp -d $remote_queue"
python3 scripts/demo/make_pdf.py "$work/document.pdf" 3
install -m 0644 "$work/document.pdf" "$root/tmp/document.pdf"
pdfinfo "$root/tmp/document.pdf" | grep -E '^(Pages|Page size):'
(as_root_user bob /usr/bin/lp -d "$remote_queue" -t "Package check" /tmp/document.pdf)
printed_complete() {
    [ -s "$root$printed" ] && [ -z "$(in_root lpstat -o "$file_queue")" ] &&
        [ "$(pdfinfo "$root$printed" 2>/dev/null | sed -n 's/^Pages: *//p')" = 3 ]
}
if ! wait_for 300 printed_complete; then
    echo "--- alice's console"; tail -40 "$work/console-alice.log"
    echo "--- bob's console"; tail -40 "$work/console-bob.log"
    echo "--- scheduler"; tail -40 "$root/var/log/cups/error_log" 2>/dev/null || true
    in_root lpstat -W all -o || true
    fail "the pages did not arrive in $printed within 300 s"
fi

step "What alice's printer printed"
in_root lpstat -W completed -o
ls -l "$root$printed"
pdfinfo "$root$printed" | grep -E '^(Pages|Page size|Producer|Creator):'
for page in 1 2 3; do
    pdfinfo -f "$page" -l "$page" "$root$printed" | grep "^Page *$page size"
done
# Each page carries ink, not just a blank sheet of the right size.
pdftoppm -r 30 -gray "$root$printed" "$work/page"
python3 - "$work"/page-*.pgm <<'INK'
import sys
for name in sys.argv[1:]:
    with open(name, "rb") as image:
        data = image.read()
    header = data.split(maxsplit=4)  # P5, width, height, maximum value, pixels
    width, height = int(header[1]), int(header[2])
    pixels = data[-width * height:]
    dark = sum(1 for value in pixels if value < 128)
    print(f"{name.rsplit('/', 1)[-1]}: {width}x{height} at 30 dpi, {100 * dark / len(pixels):.1f}% dark")
    if dark == 0:
        sys.exit(f"{name}: a blank page")
INK
echo "--- alice's console (last lines)"; tail -15 "$work/console-alice.log"
echo "--- bob's console (last lines)"; tail -15 "$work/console-bob.log"

step "The queue as the scheduler keeps it (written within its 30 s cleaning interval)"
queue_written() {
    sed -n "/^<Printer $remote_queue>/,/^<\/Printer>/p" "$root/etc/cups/printers.conf" |
        grep -q '^OpPolicy velmora$'
}
wait_for 60 queue_written || fail "$remote_queue does not have the velmora policy"
sed -n "/^<Printer $remote_queue>/,/^<\/Printer>/p" "$root/etc/cups/printers.conf" |
    grep -E '^(<Printer|DeviceURI|OpPolicy|Shared) '

step "Consoles stop on SIGTERM"
for pid in "${console_pids[@]}"; do
    kill -TERM "$pid"
    status=0
    wait "$pid" || status=$?
    echo "console $pid ended with status $status"
    [ "$status" -eq 0 ] || fail "a console did not end cleanly"
done
console_pids=()

step "apt remove velmora"
in_root apt-get remove -y velmora
# shellcheck disable=SC2016
in_root dpkg-query -W -f '${db:Status-Status}\n' velmora
for path in /usr/bin/velmora /usr/lib/cups/backend/velmora /usr/lib/velmora \
    /usr/share/velmora /usr/share/man/man1/velmora.1.gz; do
    [ ! -e "$root$path" ] || fail "$path is still there after remove"
done
echo "after remove (configuration and users' files stay until purge):"
in_root lpstat -v
ls -lan "$root/var/lib/velmora"
grep -c "^# BEGIN velmora queue policy" "$root/etc/cups/cupsd.conf"

step "apt purge velmora"
in_root apt-get purge -y velmora
scheduler_up || fail "the scheduler did not come back after the purge"
in_root lpstat -v
if in_root lpstat -v | grep -q Velmora_; then fail "a Velmora_ queue is left"; fi
in_root lpstat -v "$file_queue" >/dev/null || fail "alice's own printer went"
for path in /var/lib/velmora /var/spool/velmora; do
    [ ! -e "$root$path" ] || fail "$path is still there after purge"
done
if grep -q "velmora" "$root/etc/cups/cupsd.conf"; then fail "the policy block is left"; fi
cmp "$work/cupsd.conf.before" "$root/etc/cups/cupsd.conf" ||
    fail "cupsd.conf differs from before the install"
echo "cupsd.conf is byte for byte what it was before the install"
if in_root dpkg-query -W velmora >/dev/null 2>&1; then fail "dpkg still knows the package"; fi
snapshot >"$work/after.txt"
if ! diff -u "$work/before.txt" "$work/after.txt"; then
    fail "the root differs from before the install (above)"
fi
echo "the root outside logs, caches, package lists, spool and homes is as before the install"
current_step="done"
echo
echo "== All checks passed"
