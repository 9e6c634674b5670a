#!/usr/bin/env bash
# The console's receiving work done by standard tools, for comparison: fetch the job key, then
# for every page curl it with the session token, decrypt each 16 KiB chunk with openssl
# (AES-256-CBC, every chunk from the same vector, padding only on a short last chunk) and
# gzip -d it into the plain page file.
# Usage: pipeline.sh SERVICE_BASE TOKEN JOB_ID PAGE_COUNT WORK_DIR JOB_PASSWORD_PREFIX
set -euo pipefail
base=$1 token=$2 job=$3 count=$4 work=$5 prefix=$6
namespace="https://tandrel.example/tdService/"
agent="VL4MacOS 1.6.1"

body=$(printf '<?xml version="1.0" encoding="utf-8"?><soap:Envelope xmlns:soap="https://schemas.xmlsoap.org/soap/envelope/"><soap:Body>\r\n<GetKey xmlns="%s"><Param><data xmlns=""><token>%s</token><job id="%s"/><password>%s%s</password></data></Param></GetKey>\r\n</soap:Body></soap:Envelope>' \
    "$namespace" "$token" "$job" "$prefix" "$job")
reply=$(curl -sS -f -H 'Content-Type: text/xml' -H "User-Agent: $agent" --data-binary "$body" \
    "$base/tdService.asmx")
key=$(sed -n 's/.*<file-key>\([^<]*\)<.*/\1/p' <<<"$reply" | base64 -d | head -c 32 | od -An -tx1 | tr -d ' \n')
[ ${#key} -eq 64 ] || { echo "pipeline: no key: $reply" >&2; exit 1; }
iv=$(printf 'MarlowQuietPine\0' | od -An -tx1 | tr -d ' \n')

for n in $(seq 1 "$count"); do
    curl -sS -f -H "TD-Token: $token" -H "User-Agent: $agent" -o "$work/$n.enc" \
        "$base/getPage.aspx?job=$job&page=$n"
    pad=$(head -c 1 "$work/$n.enc" | od -An -tu1 | tr -d ' ')
    tail -c +2 "$work/$n.enc" | split -b 16384 -d -a 6 - "$work/$n.chunk."
    for chunk in "$work/$n.chunk."*; do
        openssl enc -d -aes-256-cbc -K "$key" -iv "$iv" -nopad -in "$chunk"
    done >"$work/$n.gz"
    size=$(stat -c %s "$work/$n.gz")
    if [ $((size % 16384)) -ne 0 ]; then truncate -s $((size - pad)) "$work/$n.gz"; fi
    gzip -d -c "$work/$n.gz" >"$work/$n.emf"
    rm -f "$work/$n.enc" "$work/$n.gz" "$work/$n.chunk."*
done
