#!/usr/bin/env bash
# The main job on a fresh machine: build the programs, start the reference service with a demo
# account, render a sample print job as CUPS raster, convert it into BMP pages with
# kestroVLConvert, deliver it with velmora-sender as the print backend would, and show what the
# service received.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

bash scripts/setup-deps.sh

# The programs read the shared folder compiled into them. The demo's build points it at a folder
# of its own (the packaging knob VELMORA_SYSTEM_DIR) instead of the system-wide one.
build="$root/build/demo"
shared="$build/shared"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_SYSTEM_DIR="$shared" \
    -DVELMORA_BUILD_TESTS=OFF -DVELMORA_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target kestroVLConvert velmora-make-raster velmora-sender

printer="0f6a7c52-3d1e-4b8a-9c27-5e4d3b2a1f00"
work="$(mktemp -d /tmp/velmora-demo-XXXXXX)"
service_pid=""
cleanup() {
    if [ -n "$service_pid" ]; then
        kill -TERM "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

echo
echo "== Reference service (demo account, printer \"Office Laser\")"
coproc SERVICE {
    exec python3 tools/refservice/refservice.py --port 0 --seed scripts/demo-seed.json \
        --job-password-prefix Vm4k 2>"$work/service.log"
}
service_pid=$SERVICE_PID
read -r port <&"${SERVICE[0]}"
base="http://127.0.0.1:$port"
echo "listening on $base"

# What the console leaves after the user signs in: the setup file with the session token.
user="$(id -un)"
mkdir -p "$shared"
rm -f "$shared/messages.$user.txt"
cat >"$shared/setup.$user.xml" <<SETUP
<?xml version="1.0"?>
<setup>
	<token>demo-token</token>
	<service>$base/tdService.asmx</service>
	<default-format>Letter</default-format>
	<encryption>2</encryption>
</setup>
SETUP
chmod 600 "$shared/setup.$user.xml"

echo
echo "== Print job: three pages of CUPS raster, converted to BMP pages"
spool="$work/spool/1"
mkdir -p "$work/spool"
"$build/tools/rastergen/velmora-make-raster" "$work/job.raster" 3 150 8 compressed
"$build/rasterconv/kestroVLConvert" "$work/job.raster" "$spool"
ls -l "$spool"

echo
echo "== velmora-sender (packs, encrypts with the job's AES0 key, uploads in 1 MiB ranges)"
"$build/sender/velmora-sender" "SpoolDir=$spool" "User=$user" \
    "DestinationPrinterID=Velmora_$printer" "com.apple.print.JobInfo.PMJobName=Demo job" \
    "media=Letter" "Duplex=DuplexNoTumble"
message="$(cat "$shared/messages.$user.txt")"
echo "message file: title \"${message%%/phTit*}\", text \"${message#*/phTit}\""
if [ -d "$spool" ]; then echo "spool directory kept: $spool"; else echo "spool directory removed"; fi

echo
echo "== What the service received"
python3 - "$base" <<'SUMMARY'
import json, sys, urllib.request
with urllib.request.urlopen(sys.argv[1] + "/_ref/state?requests=0") as reply:
    state = json.load(reply)
for job in state["jobs"]:
    fields = job["fields"]
    print(f"job {job['id']}: \"{fields.get('document')}\" on printer {job['printer']}, "
          f"status {job['status']}, {job['final_pages']} page(s) reported, "
          f"{fields.get('encrypt-method', 'no')} encryption, paper {fields.get('paper-format')}, "
          f"duplex {fields.get('duplex')}")
    for number, page in job["pages"].items():
        print(f"  page {number}: {page['size']} bytes in {page['ranges']} range(s), "
              f"complete {page['complete']}, sha256 {page['sha256'][:16]}...")
print(f"malformed requests: {state['malformed_count']}, deviations: {state['deviation_count']}")
SUMMARY
