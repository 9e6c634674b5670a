#!/usr/bin/env bash
# The whole system on one machine, as root on a fresh Debian 12: the reference service with two
# accounts, alice and bob; two local users, each running the console headless and signed in to
# one account; a private print scheduler with bob's file printer, which bob's console shares and
# for which alice's console makes the queue Velmora_<id>. Alice's user prints a PDF on that
# queue, and the job goes backend -> kestroVLConvert -> velmora-sender -> service -> bob's
# console -> bob's printer. Each step is shown as it happens; the printed file, its page count
# and a PNG of its first page are named at the end. Everything the demo set up is removed on
# exit, also after a failure, which names the step that failed.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
# shellcheck source=scripts/demo/lib.sh
source scripts/demo/lib.sh

[ "$(id -u)" -eq 0 ] || fail "run as root: the demo creates users and runs a print scheduler"

# The programs read the shared folder, and the backend runs the converter and sender, from
# paths compiled into them; the demo's build points them at an installation of its own that
# the demo users can reach (a checkout under /root could not be).
prefix="/opt/velmora-demo"
shared="$prefix/shared"
build="$root/build/demo"
results="$build/output"
admin_group="lpadmin"
user_a="velmora-demo-a"
user_b="velmora-demo-b"
printer_id="0f6a7c52-3d1e-4b8a-9c27-5e4d3b2a1f00"
remote_queue="Velmora_$printer_id"
printer_queue="Office_Printer"
poll_seconds=2

work=""
service_pid=""
cupsd_pid=""
console_a_pid=""
console_b_pid=""
follow_pid=""
installed=""

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    if [ "$status" -ne 0 ]; then
        echo
        if [ "$status" -ge 128 ]; then
            echo "demo.sh: stopped by a signal at step: $current_step" >&2
        else
            echo "demo.sh: FAILED at step: $current_step (exit status $status)" >&2
        fi
        if [ -n "$work" ] && [ -d "$work" ]; then
            mkdir -p "$results"
            cp -f "$work"/*.log "$results/" 2>/dev/null || true
            cp -f "$work/cups/log/error_log" "$results/cupsd-error_log" 2>/dev/null || true
            echo "demo.sh: the logs are kept in $results" >&2
        fi
    fi
    echo
    echo "== Cleaning up"
    stop_process "$follow_pid" "the step follower"
    stop_process "$console_a_pid" "alice's console"
    stop_process "$console_b_pid" "bob's console"
    stop_process "$cupsd_pid" "the scheduler"
    stop_process "$service_pid" "the reference service"
    remove_demo_users
    [ -z "$installed" ] || rm -rf "$prefix"
    [ -z "$work" ] || rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

step "Dependencies"
bash scripts/setup-deps.sh

step "Build (build/demo) and install ($prefix)"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DVELMORA_SYSTEM_DIR="$shared" -DVELMORA_BACKEND_SPOOL_DIR="$prefix/spool" \
    -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
installed=yes
# A fresh installation each time: nothing another user left in the shared folder of an earlier,
# interrupted run is taken over.
rm -rf "$prefix"
cmake --install "$build" >/dev/null
# The spool folder takes one folder per job, made by the backend as root and handed to the job's
# user. The shared folder becomes writable for all (like /tmp) only once the demo has written the
# users' files into it; until then no one else can plant a link there for root to follow.
install -d -m 0755 "$shared" "$prefix/spool"
work="$(mktemp -d /tmp/velmora-demo-XXXXXX)"
chmod 0755 "$work"
rm -rf "$results"
mkdir -p "$results"

step "Reference service (accounts alice and bob; bob's printer \"Office Printer\", offline)"
coproc SERVICE {
    exec python3 tools/refservice/refservice.py --port 0 --seed scripts/demo-seed.json \
        --job-password-prefix Vm4k 2>"$work/service.log"
}
service_pid=$SERVICE_PID
read -r -t 30 port <&"${SERVICE[0]}" || fail "the reference service did not start"
base="http://127.0.0.1:$port"
service_url="$base/tdService.asmx"
echo "listening on $base"

step "Demo users"
ensure_demo_user "$user_a"
ensure_demo_user "$user_b"

step "Private scheduler (cupsd in $work/cups) with bob's file printer"
cups="$work/cups"
cups_socket="$cups/cups.sock"
make_server_bin "$cups/serverbin" "$prefix/lib/cups/backend/velmora"
write_scheduler_config "$cups" "$cups/serverbin"
/usr/sbin/cupsd -f -c "$cups/cupsd.conf" -s "$cups/cups-files.conf" &
cupsd_pid=$!
export CUPS_SERVER="$cups_socket"
scheduler_running() { [[ "$(lpstat -r 2>/dev/null)" == *"scheduler is running"* ]]; }
wait_for 20 scheduler_running || fail "the scheduler did not start: $(cat "$cups/log/error_log" 2>/dev/null)"
install -d -m 0755 "$work/printed"
printed="$work/printed/office-printer.pdf"
lpadmin -p "$printer_queue" -E -v "file://$printed" -P scripts/demo/file-printer.ppd \
    -D "Office Printer" -L "Second floor"
lpstat -v

# From here on every console log line, scheduler change and service request is shown as it
# happens, until bob's printer has printed the job.
python3 scripts/demo/follow.py --service "$base" --printer "$printer_queue" --output "$printed" \
    --log "console A=$work/console-a.log" --log "console B=$work/console-b.log" --timeout 300 &
follow_pid=$!

step "What each console keeps after a sign-in: setup files and bob's profile"
write_setup_file "$user_b" bob-demo-token "bob.127.0.0.1" "$poll_seconds"
write_sharing_profile "$user_b" "bob.127.0.0.1" "$printer_queue" "$printer_id" "Office Printer"
write_setup_file "$user_a" alice-demo-token "alice.127.0.0.1" "$poll_seconds"
chmod 01777 "$shared"
ls -lR "$shared"

step "Bob's console signs in and shares \"$printer_queue\""
[ -x "$prefix/bin/velmora" ] || fail "the console was not built: $prefix/bin/velmora is missing"
(as_user "$user_b" "$prefix/bin/velmora" --headless >"$work/console-b.log" 2>&1) &
console_b_pid=$!
echo "velmora --headless as $user_b, process $console_b_pid"
shared_again() { service_lists_shared_printer "$base" "$printer_id"; }
wait_for 60 shared_again || fail "bob's console did not share the printer within 60 s"
echo "the service lists \"Office Printer\" as shared and online"

step "Alice's console signs in and makes the queue $remote_queue"
(as_user "$user_a" "$prefix/bin/velmora" --headless >"$work/console-a.log" 2>&1) &
console_a_pid=$!
echo "velmora --headless as $user_a, process $console_a_pid"
wait_for 60 lpstat -p "$remote_queue" ||
    fail "alice's console did not create $remote_queue within 60 s"
lpstat -v "$remote_queue"

step "Alice prints a three-page PDF: lp -d $remote_queue"
document="$work/document.pdf"
python3 scripts/demo/make_pdf.py "$document" 3
chmod 0644 "$document"
(as_user "$user_a" /usr/bin/lp -d "$remote_queue" -t "Demo document" "$document")

step "The job on its way: backend, converter, sender, service, bob's console, bob's printer"
follow_status=0
wait "$follow_pid" || follow_status=$?
follow_pid=""
[ "$follow_status" -eq 0 ] || fail "the job did not reach bob's printer"

step "What bob's printer printed"
cp "$printed" "$results/printed.pdf"
pages="$(pdfinfo "$results/printed.pdf" | sed -n 's/^Pages: *//p')"
pdftoppm -r 60 -f 1 -l 1 -singlefile -png "$results/printed.pdf" "$results/page-1"
cp "$work"/*.log "$results/"
echo "printed file:     $results/printed.pdf ($pages pages; written by the scheduler at $printed)"
echo "first page (PNG): $results/page-1.png"
echo "logs:             $results/{service,console-a,console-b}.log"
[ "$pages" = 3 ] || fail "bob's printer printed $pages pages instead of 3"
current_step="done"
