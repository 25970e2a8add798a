#!/bin/sh
# A release build installed with DESTDIR and packaged with CPack: the same files in both, the
# package's conffiles, hardening, lintian, the man pages clean under mandoc, the systemd unit
# verified; then the default prefix, whose configuration and init files still go to /etc.
# Usage: check_package.sh SOURCE_DIR WORK_DIR
set -eu
src=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake -S "$src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr -DVIGILERD_INSTALL_SAMPLE=ON -DVIGILERD_INSTALL_INIT=ON >/dev/null
cmake --build "$work/build" -j 2 >/dev/null
DESTDIR="$work/root" cmake --install "$work/build" >/dev/null
(cd "$work/build" && cpack -G DEB >/dev/null)
deb=$(ls "$work"/build/vigilerd_1.0.0_*.deb)
dpkg-deb -x "$deb" "$work/deb" && dpkg-deb -e "$deb" "$work/control"

# Both trees hold exactly these files, and the package nothing else.
services="ppp dhclient ipsec dhcpd_lan named ntpd ntp httpd voice vpnd ipsecd stats tftpd"
man="man5/vigilerd.conf.5 man5/vigilerd-service.5 man8/vigilerd.8 man8/vigilerctl.8"
printf '%s\n' ./usr/sbin/vigilerd ./usr/sbin/vigilerctl ./etc/vigilerd.conf ./etc/init.d/vigilerd \
    ./etc/logrotate.d/vigilerd ./lib/systemd/system/vigilerd.service \
    ./usr/share/doc/vigilerd/copyright ./usr/share/doc/vigilerd/changelog.gz \
    ./usr/share/doc/vigilerd/examples/rc.conf ./usr/share/doc/vigilerd/examples/vigilerd.procd \
    ./usr/share/lintian/overrides/vigilerd $(printf './usr/share/man/%s.gz\n' $man) \
    $(printf './etc/vigilerd/%s\n' $services) | sort >"$work/expected"
for tree in root deb; do
    (cd "$work/$tree" && find . -type f | sort) >"$work/$tree.files"
    diff -u "$work/expected" "$work/$tree.files" || fail "files of the $tree tree"
done
# conffiles: everything under /etc, nothing else.
grep '^./etc/' "$work/expected" | sed 's/^\.//' >"$work/conffiles.expected"
sort "$work/control/conffiles" | diff -u "$work/conffiles.expected" - || fail conffiles
for f in etc/vigilerd.conf etc/vigilerd/httpd; do cmp "$src/$f" "$work/deb/$f" || fail "$f"; done
[ -x "$work/deb/etc/init.d/vigilerd" ] || fail "init script not executable"
grep -q '^Version: 1.0.0$' "$work/control/control" || fail "package version"
for mark in 'DYN (Position-Independent' 'Flags: NOW' __stack_chk_fail '__[a-z]*_chk@'; do
    for bin in vigilerd vigilerctl; do readelf -hdsW "$work/deb/usr/sbin/$bin" | grep -q "$mark" ||
        fail "$bin is not hardened: no $mark"; done
done
# No error, no warning, and no hardening hint.
command -v lintian >/dev/null || fail "lintian is not installed (scripts/install-deps test)"
out=$(lintian -I "$deb" 2>&1 | grep -E '^[EW]:|hardening') || true
[ -z "$out" ] || fail "lintian: $out"

out=$(mandoc -T lint "$src"/man/* 2>&1) || true
[ -z "$out" ] || fail "mandoc: $out"
grep -q '^KillMode=process$' "$work/deb/lib/systemd/system/vigilerd.service" || fail "KillMode"
# Every complaint but the programs not being installed on this machine counts.
if command -v systemd-analyze >/dev/null; then
    out=$(systemd-analyze verify --man=no "$work/deb/lib/systemd/system/vigilerd.service" 2>&1 |
        grep -v 'Command /usr/sbin/vigiler[a-z]* is not executable') || true
    [ -z "$out" ] || fail "systemd-analyze: $out"
fi

# The default prefix: programs under it, configuration and init files where they are read.
out=$(cmake -S "$src" -B "$work/build" -UCMAKE_INSTALL_PREFIX -DCMAKE_INSTALL_PREFIX=/usr/local)
echo "$out" | grep -q 'init script /etc/init.d/vigilerd,' || fail "configure does not say where"
DESTDIR="$work/local" cmake --install "$work/build" >/dev/null
for f in usr/local/sbin/vigilerd etc/vigilerd.conf etc/vigilerd/httpd etc/init.d/vigilerd \
    etc/systemd/system/vigilerd.service; do [ -f "$work/local/$f" ] || fail "no /$f"; done
grep -q '^DAEMON=/usr/local/sbin/vigilerd$' "$work/local/etc/init.d/vigilerd" &&
    grep -q '^ExecStart=/usr/local/sbin/vigilerd$' "$work/local/etc/systemd/system/vigilerd.service" ||
    fail "the init files do not call /usr/local/sbin"
echo "package and install tree: $(wc -l <"$work/expected") files, $(wc -l <"$work/conffiles.expected") conffiles"
