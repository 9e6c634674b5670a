#!/usr/bin/env bash
# Writes the seed corpus of decrypt_job_file_fuzzer with the openssl command line tool: encrypted
# page files for a few plain sizes under the fuzzer's key (the bytes 0..31), and a few damaged ones.
set -euo pipefail
cd "$(dirname "$0")/corpus"

key=000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f
iv=4d61726c6f77517569657450696e6500   # "MarlowQuietPine" and a zero byte
chunk=16384

# encrypted_file PLAIN OUT: the pad count byte, then each 16384-byte chunk encrypted from the IV,
# the short last chunk with PKCS #7 padding.
encrypted_file() {
    local plain=$1 out=$2 size offset length
    size=$(stat -c %s "$plain")
    printf "\\x$(printf %02x $((16 - size % 16)))" > "$out"
    for ((offset = 0; offset < size; offset += chunk)); do
        length=$((size - offset < chunk ? size - offset : chunk))
        local pad=()
        if ((length == chunk)); then pad=(-nopad); fi
        tail -c +$((offset + 1)) "$plain" | head -c "$length" |
            openssl enc -aes-256-cbc -K "$key" -iv "$iv" "${pad[@]}" >> "$out"
    done
}

plain=$(mktemp)
trap 'rm -f "$plain"' EXIT
for size in 0 15 16 100 16368 16384; do
    head -c "$size" /dev/zero | tr '\0' 'v' > "$plain"
    encrypted_file "$plain" "plain-$size.enc"
done

# Damaged: pad count 0 and 17, a block cut short, the last block missing.
{ printf '\x00'; tail -c +2 plain-100.enc; } > bad-pad-0.enc
{ printf '\x11'; tail -c +2 plain-100.enc; } > bad-pad-17.enc
head -c 112 plain-100.enc > cut-in-block.enc
head -c 97 plain-100.enc > last-block-missing.enc
