#!/usr/bin/env bash
# The sender's work done by standard tools, for comparison: announce the job, get its key, and
# for every page gzip -6, openssl AES-256-CBC, split into 1 MiB ranges and curl each range to the
# upload address; then report completion. Same service, same headers, same range size.
# Usage: pipeline.sh SERVICE_BASE TOKEN PRINTER_ID PAGES_DIR WORK_DIR JOB_PASSWORD_PREFIX
set -euo pipefail
base=$1 token=$2 printer=$3 pages=$4 work=$5 prefix=$6
namespace="https://tandrel.example/tdService/"
agent="VL4MacOS 1.6.1"

soap() {
    local body
    body=$(printf '<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="https://schemas.xmlsoap.org/soap/envelope/"><soap:Body>\r\n<%s xmlns="%s"><Param>%s</Param></%s>\r\n</soap:Body></soap:Envelope>' \
        "$1" "$namespace" "$2" "$1")
    curl -sS -f -H 'Content-Type: text/xml' -H "User-Agent: $agent" --data-binary "$body" \
        "$base/tdService.asmx"
}

reply=$(soap PrePostJob2 "<data xmlns=\"\"><token>$token</token><job><printer>$printer</printer><paper-format>Letter</paper-format><paper-orientation>1</paper-orientation><pack>1</pack><document>bench</document><duplex>0</duplex><encrypt>1</encrypt><encrypt-method>AES0</encrypt-method><transport>bmp</transport></job></data>")
job=$(sed -n 's/.*<job id="\([0-9]*\)".*/\1/p' <<<"$reply")
post=$(sed -n 's/.*<post-address>\([^<]*\)<.*/\1/p' <<<"$reply" | sed 's/&amp;/\&/g')
[ -n "$job" ] && [ -n "$post" ] || { echo "pipeline: announcement failed: $reply" >&2; exit 1; }
key_reply=$(soap MakeKey "<data xmlns=\"\"><token>$token</token><job id=\"$job\"/><password>$prefix$job</password></data>")
key=$(sed -n 's/.*<file-key>\([^<]*\)<.*/\1/p' <<<"$key_reply" | base64 -d | head -c 32 | od -An -tx1 | tr -d ' \n')
iv=$(printf 'MarlowQuietPine\0' | od -An -tx1 | tr -d ' \n')

mapfile -t files < <(find "$pages" -maxdepth 1 -name '*.bmp' | sort -V)
count=${#files[@]}
n=0
for page in "${files[@]}"; do
    n=$((n + 1))
    gzip -6 -c "$page" >"$work/$n.gz"
    openssl enc -aes-256-cbc -K "$key" -iv "$iv" -in "$work/$n.gz" -out "$work/$n.enc"
    total=$(stat -c %s "$work/$n.enc")
    split -b 1048576 -d -a 4 "$work/$n.enc" "$work/$n.part."
    offset=0
    for part in "$work/$n.part."*; do
        size=$(stat -c %s "$part")
        last=$((offset + size - 1))
        curl -sS -f -o /dev/null -H "TD-Token: $token" -H 'Content-Type: binary' \
            -H "TD-Job: $job" -H "TD-Page: $n/$count" -H "Content-Range: bytes $offset-$last/$total" \
            -H "User-Agent: $agent" -H 'Expect:' --data-binary @"$part" "$post"
        offset=$((last + 1))
    done
done
soap UpdateJob "<data xmlns=\"\"><token>$token</token><job id=\"$job\" new-status=\"1\" pages=\"$count\"/></data>" >/dev/null
