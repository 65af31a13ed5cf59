#!/usr/bin/env bash
# velmora-scan against its peers, each pair timed in the same run on the same warm files and
# printed as a ratio (best of several interleaved rounds):
#   a tree of non-executables: velmora-scan vs `find -type f` (target <= 2) and vs a plain walk
#     that opens every file of 313 bytes or more and reads 64 bytes (target <= 1.3);
#   signed 4 MiB executables: velmora-scan --jobs 1 throughput vs sha256sum (target >= 0.8),
#     --jobs 2 vs --jobs 1 (target >= 1.7 on two cores), and vs osslsigncode verify run once
#     per file (target >= 5);
#   peak memory of the scan of the tree (target < 64 MiB).
# Usage: bench/scan-vs-peers/run.sh BUILD_FOLDER
# Sizes: SCAN_PEERS_FILES (100000), SCAN_PEERS_PE_FILES (200), SCAN_PEERS_ROUNDS (5).
set -euo pipefail

build=$(realpath "${1:-build}")
scan="$build/bin/velmora-scan"
tool="$build/bin/bench_scan_peers_tool"
fixtures="$build/fixtures"
files=${SCAN_PEERS_FILES:-100000}
pe_files=${SCAN_PEERS_PE_FILES:-200}
rounds=${SCAN_PEERS_ROUNDS:-5}
here=$(cd "$(dirname "$0")" && pwd)
for needed in "$scan" "$tool" "$fixtures/pki/signer.pem"; do
  [[ -e "$needed" ]] || { echo "scan-vs-peers: $needed is missing; build first" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/velmora-scan-peers-XXXXXX")
trap 'rm -rf "$work"' EXIT
tree="$work/tree"
pe="$work/pe"
# Our own prefix whose only drive is the root, the test root as an anchor, the fixtures' catalogs.
mkdir -p "$work/prefix/dosdevices" "$pe"
ln -s / "$work/prefix/dosdevices/z:"
export WINEPREFIX="$work/prefix"
export VELMORA_TRUST_ANCHORS="$fixtures/pki/root-ca.pem"
export WINDIR="$fixtures/windows"

"$tool" make-tree "$tree" "$files"
# One signed image of 4 MiB, copied.
python3 "$here/../../tools/fixtures/pe_fixture.py" make "$work/big.exe" --format pe32 --overlay $((4 * 1024 * 1024 - 2048)) --seed bench
osslsigncode sign -certs "$fixtures/pki/signer.pem" -ac "$fixtures/pki/chain-intermediate.pem" \
  -key "$fixtures/pki/signer.key" -h sha256 -in "$work/big.exe" -out "$pe/signed-0.exe" >/dev/null
for ((i = 1; i < pe_files; i++)); do cp "$pe/signed-0.exe" "$pe/signed-$i.exe"; done
ossl_ca=(-CAfile "$fixtures/pki/root-ca.pem")

# Every figure compares like with like: check that each side does the work it is credited with.
count=$("$scan" --format tsv "$tree" 2>&1 >/dev/null | tr -dc '0-9')
[[ "$count" == "$files" ]] || { echo "scan-vs-peers: the scan counted $count files of $files" >&2; exit 1; }
[[ $("$tool" plain-walk "$tree") == "$files" ]] || { echo "scan-vs-peers: the plain walk miscounted" >&2; exit 1; }
passed=$("$scan" --quiet --show-passed --format tsv "$pe" | grep -c $'\t通过\t' || true)
[[ "$passed" == "$pe_files" ]] || { echo "scan-vs-peers: $passed of $pe_files signed files passed" >&2; exit 1; }
osslsigncode verify "${ossl_ca[@]}" -in "$pe/signed-0.exe" >/dev/null 2>&1 ||
  { echo "scan-vs-peers: osslsigncode does not verify the signed file" >&2; exit 1; }

m_find() { find "$tree" -type f >/dev/null; }
m_plain() { "$tool" plain-walk "$tree" >/dev/null; }
m_scan_tree() { "$scan" --quiet --format tsv "$tree" >/dev/null; }
m_sha256sum() { sha256sum "$pe"/*.exe >/dev/null; }
m_scan_jobs1() { "$scan" --quiet --format tsv --jobs 1 "$pe" >/dev/null; }
m_scan_jobs2() { "$scan" --quiet --format tsv --jobs 2 "$pe" >/dev/null; }
m_osslsigncode() {
  local f
  for f in "$pe"/*.exe; do osslsigncode verify "${ossl_ca[@]}" -in "$f" >/dev/null 2>&1; done
}

declare -A best
# Rounds interleave the measurements, so that each pair meets the same machine load; the first
# round also warms the caches and is not counted.
measure() {
  local name=$1 start end took
  start=$EPOCHREALTIME
  "m_$name"
  end=$EPOCHREALTIME
  took=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f", e - s }')
  if [[ -z "${best[$name]:-}" ]] || awk -v a="$took" -v b="${best[$name]}" 'BEGIN { exit !(a < b) }'; then
    best[$name]=$took
  fi
}
for name in find plain scan_tree sha256sum scan_jobs1 scan_jobs2; do "m_$name"; done
for ((r = 0; r < rounds; r++)); do
  for name in find plain scan_tree sha256sum scan_jobs1 scan_jobs2; do measure "$name"; done
done
# osslsigncode takes seconds per round: two rounds are enough to see the figure.
for ((r = 0; r < 2; r++)); do measure osslsigncode; done

peak_kib=$(python3 -c '
import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$scan" --quiet --format tsv "$tree")

ms() { awk -v t="$1" 'BEGIN { printf "%.1f ms", t * 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
echo "scan-vs-peers: $files non-executables, $pe_files signed 4 MiB executables, best of $rounds rounds, $(nproc) processors"
echo "  tree: velmora-scan $(ms "${best[scan_tree]}"), find -type f $(ms "${best[find]}"); ratio $(ratio "${best[scan_tree]}" "${best[find]}") (target <= 2.00)"
echo "  tree: velmora-scan $(ms "${best[scan_tree]}"), plain walk $(ms "${best[plain]}"); ratio $(ratio "${best[scan_tree]}" "${best[plain]}") (target <= 1.30)"
echo "  signed: sha256sum $(ms "${best[sha256sum]}"), velmora-scan --jobs 1 $(ms "${best[scan_jobs1]}"); throughput ratio $(ratio "${best[sha256sum]}" "${best[scan_jobs1]}") (target >= 0.80)"
echo "  signed: --jobs 1 $(ms "${best[scan_jobs1]}"), --jobs 2 $(ms "${best[scan_jobs2]}"); speed-up $(ratio "${best[scan_jobs1]}" "${best[scan_jobs2]}") (target >= 1.70)"
echo "  signed: osslsigncode verify per file $(ms "${best[osslsigncode]}"), velmora-scan --jobs 1 $(ms "${best[scan_jobs1]}"); velmora-scan faster by $(ratio "${best[osslsigncode]}" "${best[scan_jobs1]}") (target >= 5.00)"
echo "  signed: osslsigncode verify per file $(ms "${best[osslsigncode]}"), velmora-scan --jobs 2 $(ms "${best[scan_jobs2]}"); velmora-scan faster by $(ratio "${best[osslsigncode]}" "${best[scan_jobs2]}") (target >= 5.00)"
echo "  tree: velmora-scan peak memory $((peak_kib / 1024)) MiB (target < 64 MiB)"
