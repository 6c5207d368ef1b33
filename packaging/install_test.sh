#!/usr/bin/env bash
# Installs the build tree into scratch roots and checks what a technician gets:
#   1. cmake --install with DESTDIR and the prefix /usr: the layout, the links, dbsetting.txt
#      made from the example and kept on a second install;
#   2. cmake --install to a prefix of its own: systemd-analyze verifies the unit, whose
#      programs exist there;
#   3. the .deb from cpack, unpacked with dpkg-deb -x: the same layout, its dependencies and
#      its maintainer scripts, and no file under /etc that an upgrade could replace.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
expect_file() { [ -f "$1/$2" ] || fail "$2 missing under $1"; }
expect_program() { [ -x "$1/$2" ] && [ ! -L "$1/$2" ] || fail "$2 is not a program under $1"; }
expect_link() {
  local target
  target=$(readlink "$1/$2" 2>/dev/null) || { fail "$2 is not a link under $1"; return; }
  [ "$target" = "$3" ] || fail "$2 links to $target, not $3"
}
has_window=0
[ -x "$build/bin/tovalink" ] && has_window=1

check_layout() {  # ROOT: everything below /usr
  local root=$1
  for program in tovalinkd pdutool modemsim; do
    expect_program "$root" "usr/lib/tovalink/$program"
    expect_link "$root" "usr/bin/$program" "../lib/tovalink/$program"
  done
  if [ "$has_window" = 1 ]; then
    expect_program "$root" usr/lib/tovalink/tovalink
    expect_link "$root" usr/bin/tovalink ../lib/tovalink/tovalink
  fi
  expect_link "$root" usr/lib/tovalink/dbsetting.txt /etc/tovalink/dbsetting.txt
  expect_file "$root" usr/lib/systemd/system/tovalinkd@.service
  grep -qx 'ExecStart=/usr/bin/tovalinkd namamodul=%I#${TOVALINK_ARGUMENT}' \
    "$root/usr/lib/systemd/system/tovalinkd@.service" || fail "the unit's ExecStart"
  grep -qx 'EnvironmentFile=/etc/tovalink/%I.conf' \
    "$root/usr/lib/systemd/system/tovalinkd@.service" || fail "the unit's EnvironmentFile"
  for file in schema/outlet.sql schema/indexes.sql schema/grants.sql examples/70-tovalink.rules \
              examples/module.conf.example examples/dbsetting.txt docs/README.md \
              docs/operations.md; do
    expect_file "$root" "usr/share/tovalink/$file"
  done
  # The example names the database and the user, masked as the program reads them.
  grep -q $'^ipserver=localhost\r$' "$root/usr/share/tovalink/examples/dbsetting.txt" \
    || fail "the example dbsetting.txt"
  "$root/usr/lib/tovalink/tovalinkd" --version >/dev/null || fail "the installed tovalinkd does not run"
}

echo "== cmake --install, DESTDIR, prefix /usr"
root=$scratch/destdir
DESTDIR=$root cmake --install "$build" --prefix /usr >"$scratch/install.log"
check_layout "$root"
settings=$root/etc/tovalink/dbsetting.txt
expect_file "$root" etc/tovalink/dbsetting.txt
cmp -s "$settings" "$root/usr/share/tovalink/examples/dbsetting.txt" || fail "dbsetting.txt is not the example"
[ "$(stat -c %a "$settings")" = 640 ] || fail "dbsetting.txt has mode $(stat -c %a "$settings"), not 640"
printf 'ipserver=db.outlet\r\n' >"$settings"
DESTDIR=$root cmake --install "$build" --prefix /usr >"$scratch/install2.log"
[ "$(cat "$settings")" = $'ipserver=db.outlet\r' ] || fail "a second install replaced dbsetting.txt"

echo "== cmake --install, prefix of its own: systemd-analyze verify"
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >"$scratch/install3.log"
units=$scratch/units
mkdir -p "$units"
cp "$prefix/lib/systemd/system/tovalinkd@.service" "$units/tovalinkd@M1.service"
# verify exits 0 on an unknown key or a value it cannot parse, and only says so.
if ! verdict=$(cd "$units" && systemd-analyze verify --man=no tovalinkd@M1.service 2>&1) \
   || [ -n "$verdict" ]; then
  fail "systemd-analyze verify: $verdict"
fi

echo "== the .deb"
cpack --config "$build/CPackConfig.cmake" -B "$scratch/package" >"$scratch/cpack.log" 2>&1 \
  || { cat "$scratch/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$scratch"/package/tovalink_*.deb)
root=$scratch/deb
dpkg-deb -x "$deb" "$root"
check_layout "$root"
[ ! -e "$root/etc" ] || fail "the package ships files under /etc: $(cd "$root" && find etc)"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in adduser libmariadb3 libstdc++6; do
  [[ "$depends" == *"$needed"* ]] || fail "Depends lacks $needed: $depends"
done
if [ "$has_window" = 1 ]; then
  [[ "$depends" == *libqt6widgets6* ]] || fail "Depends lacks libqt6widgets6: $depends"
fi
dpkg-deb -e "$deb" "$scratch/control"
for script in postinst postrm; do
  [ -x "$scratch/control/$script" ] || fail "$script missing"
  sh -n "$scratch/control/$script" || fail "$script does not parse"
done

if [ "$failures" = 0 ]; then echo "install layout: all checks passed"; fi
exit $((failures > 0))
