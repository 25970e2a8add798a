#!/bin/sh
# The SysV init script in a box with a pid namespace of its own, so other boxes' daemons stay
# out of its sight: start, status, refusals, stop, start again, a daemon asleep for good.
# Run by the system shell and, where BusyBox is installed, by BusyBox's shell and tools alone.
# Usage: init_script.sh SOURCE_DIR DAEMON SYSLOG_SINK WORK_DIR
set -eu
src=$1 daemon=$2 sink=$3 work=$4
mkdir -p "$work"
cat >"$work/scenario" <<'EOF'
#!/bin/sh
run() { echo "$*: $($shell /etc/init.d/vigilerd "$@" 2>&1 | sed 's/pid [0-9]*/pid N/' | tr '\n' ';')"; }
run status; run start; run status; run start; run stop; run status; run start
kill -TERM "$(cat /var/run/vigilerd.pid)"
i=0; while [ -e /var/run/vigilerd.pid ] && [ $i -lt 100 ]; do sleep 0.1; i=$((i + 1)); done
run status; run restart; run stop
echo "started $(grep -c '] Info: started$' /var/log/vigilerd.log)," \
    "asleep $(grep -c '] Info: got sleep signal' /var/log/vigilerd.log)," \
    "left $(for p in /proc/[0-9]*; do readlink "$p/exe"; done | grep -c '/vigilerd$')"
EOF
cat >"$work/expected" <<'EOF'
status: vigilerd is not running;
start: vigilerd started (pid N);
status: vigilerd is running (pid N);
start: vigilerd is already running (pid N); stop it first;
stop: vigilerd stopped;
status: vigilerd is not running;
start: vigilerd started (pid N);
status: vigilerd is asleep for good (pid N, no pid file); restart it;
restart: vigilerd stopped;vigilerd started (pid N);
stop: vigilerd stopped;
started 3, asleep 3, left 0
EOF
box() { # box SHELL-COMMAND: the scenario run with that shell, its transcript on stdout
    unshare --pid --fork --mount-proc "$src/scripts/box" --sink "$sink" \
        --conf "$src/tests/e2e/conf/minimal" --install "$daemon:/usr/sbin/vigilerd" \
        --install "$src/dist/vigilerd.init:/etc/init.d/vigilerd" \
        --install "$work/scenario:/usr/bin/init-scenario" -- /bin/sh -c "$1" 2>&1
}
box 'shell= sh /usr/bin/init-scenario' | diff -u "$work/expected" - || exit 1
bb=$(command -v busybox) || { echo "no busybox: its run is left out"; exit 0; }
box "mkdir /tmp/bb && $bb --install -s /tmp/bb && PATH=/tmp/bb shell='$bb sh' $bb sh /usr/bin/init-scenario" |
    diff -u "$work/expected" - || exit 1
