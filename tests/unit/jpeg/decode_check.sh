#!/usr/bin/env bash
# Decodes the JPEG files that jpeg_tests rebuilds from real encoders' pictures
# (RealEncoders.*, written to a scratch folder through CAMVUE_JPEG_DUMP) with
# ffmpeg, and compares the decoded pictures with the MD5 that
# tests/fixtures/jpeg/generate.sh took from the encoders' own files.
#
# Usage: decode_check.sh FFMPEG SOURCE_DIR TEST_COMMAND...
#   TEST_COMMAND: the jpeg_tests binary, behind its emulator for win64.
set -euo pipefail

ffmpeg=$1
source_dir=$2
shift 2
manifest=$source_dir/tests/fixtures/jpeg/manifest.tsv
expected_files=8  # 2 GStreamer packet streams + 2 ffmpeg files x 3 ways

dump=$(mktemp -d)
trap 'rm -rf "$dump"' EXIT
if ! CAMVUE_SOURCE_DIR=$source_dir CAMVUE_JPEG_DUMP=$dump "$@" \
    --gtest_filter='RealEncoders.*' >"$dump/test.log" 2>&1; then
    cat "$dump/test.log"
    echo "decode_check: jpeg_tests failed" >&2
    exit 1
fi

passed=0
failed=0
for file in "$dump"/*.jpg; do
    [ -e "$file" ] || break
    name=$(basename "$file")
    case_name=${name%%.*}
    want=$(awk -F'\t' -v n="$case_name" '$1 == n { print $6 }' "$manifest")
    got=$("$ffmpeg" -nostdin -v error -i "$file" -f md5 - 2>&1 | sed 's/^MD5=//')
    if [ -n "$want" ] && [ "$got" = "$want" ]; then
        passed=$((passed + 1))
    else
        echo "FAIL $name: decodes to '$got', the encoder's file to '$want'"
        failed=$((failed + 1))
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ] && [ "$passed" -eq "$expected_files" ]
