#!/bin/sh
# The package's install and purge scripts, loaded as functions and run against a private
# scheduler and a copy of its configuration: only our queues go, the policy block is added
# once, replaced when it changes and removed again, and the scheduler restarts only then.
# The scripts are loaded at run time and read the variables set here.
# shellcheck disable=SC1091,SC2034,SC2154,SC2317
set -eu
source_dir="$1"
scripts="$source_dir/packaging/debian"
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root to run a scheduler"; exit 77; }
command -v cupsd >/dev/null 2>&1 || [ -x /usr/sbin/cupsd ] || { echo "skipped: no cupsd"; exit 77; }

work=$(mktemp -d /tmp/velmora-maintscript-XXXXXX)
cupsd_pid=""
cleanup() {
    [ -z "$cupsd_pid" ] || kill "$cupsd_pid" 2>/dev/null || true
    [ -z "$cupsd_pid" ] || wait "$cupsd_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
chmod 0755 "$work"
failures=0
check() {
    description="$1"
    shift
    if "$@"; then
        echo "ok: $description"
    else
        echo "FAILED: $description"
        failures=$((failures + 1))
    fi
}

# A scheduler of our own, with the system's backends and a "velmora" one so that velmora:/ is
# an accepted device.
cups="$work/cups"
mkdir -p "$cups/spool" "$cups/cache" "$cups/state" "$cups/log" "$cups/ppd" "$cups/ssl" \
    "$cups/serverbin/backend"
install -d -m 1777 "$cups/tmp"
for entry in /usr/lib/cups/*; do
    [ "$(basename "$entry")" = backend ] || ln -s "$entry" "$cups/serverbin/"
done
ln -s /usr/lib/cups/backend/file "$cups/serverbin/backend/file"
install -m 0700 /bin/true "$cups/serverbin/backend/velmora"
chmod 0755 "$work" "$cups" "$cups/serverbin" "$cups/serverbin/backend"
cat >"$cups/cupsd.conf" <<CONF
Listen $cups/cups.sock
LogLevel warn
Browsing Off
WebInterface No
<Location />
  Order allow,deny
  Allow all
</Location>
CONF
cat >"$cups/cups-files.conf" <<CONF
FileDevice Yes
ServerRoot $cups
RequestRoot $cups/spool
CacheDir $cups/cache
StateDir $cups/state
TempDir $cups/tmp
ServerBin $cups/serverbin
DataDir /usr/share/cups
AccessLog $cups/log/access_log
ErrorLog $cups/log/error_log
PageLog $cups/log/page_log
User lp
Group lp
SystemGroup root
CONF
/usr/sbin/cupsd -f -c "$cups/cupsd.conf" -s "$cups/cups-files.conf" &
cupsd_pid=$!
CUPS_SERVER="$cups/cups.sock"
export CUPS_SERVER
tries=0
until LC_ALL=C lpstat -r 2>/dev/null | grep -q "scheduler is running"; do
    tries=$((tries + 1))
    [ "$tries" -lt 100 ] || { cat "$cups/log/error_log" 2>/dev/null; exit 1; }
    sleep 0.2
done

ours="Velmora_0f6a7c52-3d1e-4b8a-9c27-5e4d3b2a1f00"
lpadmin -p "$ours" -v velmora:/ -m raw -E 2>/dev/null
# Named like ours but printing elsewhere, ours by device but named otherwise, and a name that
# only starts like ours after a prefix.
lpadmin -p "Velmora_local" -v file:///dev/null -m raw -E 2>/dev/null
lpadmin -p "Office" -v velmora:/ -m raw -E 2>/dev/null
lpadmin -p "xVelmora_1" -v velmora:/ -m raw -E 2>/dev/null

queues() { LC_ALL=C lpstat -v 2>/dev/null | sed -n 's/^device for \([^:]*\): .*/\1/p' | sort | tr '\n' ' '; }

VELMORA_MAINTSCRIPT_FUNCTIONS_ONLY=1
# shellcheck source=/dev/null
. "$scripts/postrm"
restarts=0
restart_scheduler() { restarts=$((restarts + 1)); }

remove_queues
check "purge removes only Velmora_ queues printing to velmora:/" \
    test "$(queues)" = "Office Velmora_local xVelmora_1 "

# The policy block, on a copy of a scheduler configuration.
. "$scripts/postinst"
# Set after loading: the scripts name the system's files, which a test must never touch.
cupsd_conf="$work/cupsd.conf"
policy="$source_dir/packaging/cups/velmora-policy.conf"
printf 'LogLevel warn\nListen /run/cups/cups.sock\n' >"$cupsd_conf"
cp "$cupsd_conf" "$work/original.conf"
restarts=0
restart_scheduler() { restarts=$((restarts + 1)); }

install_policy
check "install adds the policy block and restarts the scheduler" \
    test "$(grep -c '^<Policy velmora>' "$cupsd_conf"):$restarts" = "1:1"
install_policy
check "installing again changes nothing and does not restart" \
    test "$(grep -c '^<Policy velmora>' "$cupsd_conf"):$restarts" = "1:1"
changed="$work/changed-policy.conf"
sed 's/JobPrivateAccess default/JobPrivateAccess all/' "$source_dir/packaging/cups/velmora-policy.conf" >"$changed"
policy="$changed"
install_policy
check "an upgrade with a changed policy replaces the block once and restarts" \
    test "$(grep -c '^<Policy velmora>' "$cupsd_conf"):$(grep -c 'JobPrivateAccess all' "$cupsd_conf"):$restarts" = "1:1:2"
printf 'ServerAlias example\n' >>"$cupsd_conf"

. "$scripts/postrm"
restart_scheduler() { restarts=$((restarts + 1)); }
cupsd_conf="$work/cupsd.conf"
remove_policy
check "purge removes the block and keeps the administrator's lines" \
    test "$(cat "$cupsd_conf")" = "$(cat "$work/original.conf"; echo 'ServerAlias example')"
check "purge restarted the scheduler" test "$restarts" = 3
remove_policy
check "a second purge finds nothing to do and does not restart" test "$restarts" = 3

# Configurations with a lone or doubled marker: neither install nor purge may drop the lines that
# follow a begin marker without its end, and neither restarts the scheduler for them.
. "$scripts/postinst"
cupsd_conf="$work/cupsd.conf"
policy="$source_dir/packaging/cups/velmora-policy.conf"
restart_scheduler() { restarts=$((restarts + 1)); }
admin_lines='Listen /run/cups/cups.sock
<Location />
  Order allow,deny
</Location>'
for case in "lone begin:$begin_mark" "doubled begin:$begin_mark
$begin_mark
$end_mark" "lone end:$end_mark"; do
    name=${case%%:*}
    markers=${case#*:}
    printf 'LogLevel warn\n%s\n%s\n' "$markers" "$admin_lines" >"$cupsd_conf"
    cp "$cupsd_conf" "$work/marked.conf"
    restarts=0
    install_policy 2>/dev/null
    check "install leaves a configuration with a $name marker as it is" \
        cmp -s "$cupsd_conf" "$work/marked.conf"
    cp "$work/marked.conf" "$cupsd_conf"
    restarts=0
    . "$scripts/postrm"
    cupsd_conf="$work/cupsd.conf"
    restart_scheduler() { restarts=$((restarts + 1)); }
    remove_policy 2>/dev/null
    check "purge leaves a configuration with a $name marker as it is, unrestarted" \
        test "$(cmp -s "$cupsd_conf" "$work/marked.conf" && echo same):$restarts" = "same:0"
    . "$scripts/postinst"
    cupsd_conf="$work/cupsd.conf"
    policy="$source_dir/packaging/cups/velmora-policy.conf"
    restart_scheduler() { restarts=$((restarts + 1)); }
done

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
