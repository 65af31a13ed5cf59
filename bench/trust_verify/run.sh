#!/usr/bin/env bash
# Verification of a 4 MiB signed PE in-process, beside `openssl dgst -sha256` and
# `osslsigncode verify` of the same file in the same run; then the catalog index of 2,000
# generated catalogs. Usage: run.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(realpath "${1:-$root/build}")
bench=$build/bin/bench_trust_verify
make_catalog=$build/bin/make_catalog
pki=$build/fixtures/pki
for needed in "$bench" "$make_catalog" "$pki/signer.pem"; do
  [[ -e $needed ]] || { echo "run.sh: $needed is missing: build first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A 4 MiB image signed like the fixtures (SHA-256, leaf and intermediate in the SignedData).
python3 "$root/tools/fixtures/pe_fixture.py" make "$work/big-unsigned.exe" --format pe32 --overlay 4190000 --seed bench
osslsigncode sign -certs "$pki/signer.pem" -ac "$pki/chain-intermediate.pem" -key "$pki/signer.key" \
  -h sha256 -in "$work/big-unsigned.exe" -out "$work/big.exe" >/dev/null
export VELMORA_TRUST_ANCHORS=$pki/root-ca.pem

now() { date +%s.%N; }
div() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
# Mean wall-clock milliseconds of a command run N times.
per_run_ms() {
  local n=$1; shift
  local start end
  start=$(now)
  for ((i = 0; i < n; i++)); do "$@" >/dev/null 2>&1; done
  end=$(now)
  awk -v s="$start" -v e="$end" -v n="$n" 'BEGIN { printf "%.3f", (e - s) * 1000 / n }'
}

cat "$work/big.exe" >/dev/null  # warm the page cache for everyone
ours=$("$bench" verify "$work/big.exe" 50)
inproc_sha=$("$bench" sha256 "$work/big.exe" 50)
dgst=$(per_run_ms 20 openssl dgst -sha256 "$work/big.exe")
ossl=$(per_run_ms 5 osslsigncode verify -in "$work/big.exe" -CAfile "$pki/root-ca.pem" \
  -untrusted "$pki/intermediate-ca.pem")

printf 'file size                         %d bytes\n' "$(stat -c %s "$work/big.exe")"
printf 'our verify (in-process)           %8.3f ms\n' "$ours"
printf 'openssl dgst -sha256 (process)    %8.3f ms   ratio ours/dgst      %.2f  (target <= 1.5)\n' \
  "$dgst" "$(div "$ours" "$dgst")"
printf 'SHA-256 of the file (in-process)  %8.3f ms   ratio ours/sha256    %.2f\n' \
  "$inproc_sha" "$(div "$ours" "$inproc_sha")"
printf 'osslsigncode verify (process)     %8.3f ms   speed-up vs it       %.1fx (target >= 4)\n' \
  "$ossl" "$(div "$ossl" "$ours")"

# 2,000 signed catalogs of 50 members each.
catroot=$work/windows/System32/CatRoot/{F750E6C3-38EE-11D1-85E5-00C04FC295EE}
"$make_catalog" --count 2000 --members 50 --out "$catroot" --signer "$pki/catalog-signer.pem" \
  --key "$pki/catalog-signer.key" --chain "$pki/chain-intermediate.pem" >/dev/null
sync
index=$("$bench" index "$work/windows")
printf 'catalog index, %d catalogs        %8.3f s    (target < 2 s)\n' \
  "$(ls "$catroot" | wc -l)" "$index"
