#!/usr/bin/env bash
# Writes an example dbsetting.txt (lines ended by CR LF, dbname, user and pass masked) with
# values that are plainly not an outlet's own: the technician replaces them.
#   make-dbsetting.sh TOVALINKD OUTPUT
set -euo pipefail
tovalinkd=$1
{
  printf 'ipserver=localhost\r\n'
  printf 'dbname=%s\r\n' "$("$tovalinkd" --mask outlet)"
  printf 'user=%s\r\n' "$("$tovalinkd" --mask tovalink)"
  printf 'pass=%s\r\n' "$("$tovalinkd" --mask ganti-sandi-ini)"
} > "$2.new"
mv "$2.new" "$2"
