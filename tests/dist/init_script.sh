#!/bin/sh
# The init files in a box with a pid namespace of its own, so other boxes' daemons stay out of
# its sight. SysV: start, status, refusals, stop, start again, a daemon asleep for good, one
# that sleeps at start-up, and another process named vigilerd that is not this daemon. procd
# (with a stand-in for OpenWrt's rc.common) and the systemd unit's ExecStartPre: the check's
# errors refuse the start. Run by the system shell and, where BusyBox is installed, by
# BusyBox's shell and tools alone.
# Usage: init_script.sh SOURCE_DIR DAEMON VIGILERCTL SYSLOG_SINK WORK_DIR
set -eu
src=$1 daemon=$2 ctl=$3 sink=$4 work=$5
mkdir -p "$work"
cat >"$work/rc.common" <<'EOF'
# OpenWrt's rc.common as far as "start" of a procd script goes: procd starts the instance once
# start_service has returned, and service_started runs after it in any case.
. "$1"
procd_open_instance() { :; }
procd_set_param() { [ "$1" != command ] || { shift; cmd=$*; }; }
procd_close_instance() { setsid $cmd </dev/null >/dev/null 2>&1 & }
start_service; service_started
EOF
cat >"$work/scenario" <<'EOF'
#!/bin/sh
run() { # LABEL COMMAND: exit status and output on one line, the check's findings left out
    label=$1 && shift && o=$($shell -c "$*" 2>&1) && s=0 || s=$?
    printf '%s %s: %s\n' "$label" $s "$(echo "$o" | grep -v -e ': error: ' -e ': warning: ' -e '^$' |
        sed 's/pid [0-9]*/pid N/g' | tr '\n' ';')"
}
i="/etc/init.d/vigilerd" p="sh /etc/rc.common /etc/init.d/vigilerd-procd start"
cp /bin/sleep /tmp/vigilerd && /tmp/vigilerd 600 &
for c in status start status start stop status start; do run $c $i $c; done
kill -TERM "$(cat /var/run/vigilerd.pid)"
n=0; while [ -e /var/run/vigilerd.pid ] && [ $n -lt 100 ]; do sleep 0.1; n=$((n + 1)); done
for c in status start restart stop; do run $c $i $c; done
sed -i s/VIGILERD=true/VIGILERD=false/ /etc/sysconfig/rc.conf
run start $i start; run stop $i stop
unit=$(sed -n 's/^ExecStartPre=//p' /etc/vigilerd.service)
run unit "$unit"; run procd "$p"
sed -i s/VIGILERD=false/VIGILERD=true/ /etc/sysconfig/rc.conf
run unit "$unit"; run procd "$p"; run stop $i stop
mv /var/log/vigilerd.log /tmp/vigilerd.log && mkdir /var/log/vigilerd.log
run procd "$p"; run stop $i stop
echo "started $(grep -c '] Info: started$' /tmp/vigilerd.log)," \
    "left $(for p in /proc/[0-9]*; do readlink "$p/exe"; done | grep -c '/vigilerd$')"
EOF
cat >"$work/expected" <<'EOF'
status 3: vigilerd is not running;
start 0: vigilerd started (pid N);
status 0: vigilerd is running (pid N);
start 0: vigilerd is already running (pid N);
stop 0: vigilerd stopped;
status 3: vigilerd is not running;
start 0: vigilerd started (pid N);
status 4: vigilerd is asleep for good (stopped, pid N); restart it;
start 1: vigilerd is asleep for good (stopped, pid N); use restart;
restart 0: vigilerd stopped;vigilerd started (pid N);
stop 0: vigilerd stopped;
start 1: vigilerd went to sleep for good at start-up (disabled, pid N); see /var/log/vigilerd.log;
stop 0: vigilerd stopped;
unit 1: 
procd 1: vigilerd not started: its configuration has errors;
unit 0: 
procd 0: 
stop 0: vigilerd stopped;
procd 1: vigilerctl: vigilerd (pid N) sleeps for good (log-file); it checks nothing until it is killed and started again;
stop 0: vigilerd stopped;
started 5, left 1
EOF
box() { # box SHELL-COMMAND: the scenario run with that shell, its transcript on stdout
    unshare --pid --fork --mount-proc "$src/scripts/box" --sink "$sink" \
        --conf "$src/tests/e2e/conf/minimal" --install "$daemon:/usr/sbin/vigilerd" \
        --install "$ctl:/usr/sbin/vigilerctl" --install "$work/rc.common:/etc/rc.common" \
        --install "$src/dist/vigilerd.init:/etc/init.d/vigilerd" \
        --install "$src/dist/vigilerd.procd:/etc/init.d/vigilerd-procd" \
        --install "$src/dist/vigilerd.service:/etc/vigilerd.service" \
        --install "$work/scenario:/usr/bin/init-scenario" -- /bin/sh -c "$1" 2>&1
}
box 'shell=sh sh /usr/bin/init-scenario' | diff -u "$work/expected" - || exit 1
bb=$(command -v busybox) || { echo "no busybox: its run is left out"; exit 0; }
box "mkdir /tmp/bb && $bb --install -s /tmp/bb && PATH=/tmp/bb shell='$bb sh' $bb sh /usr/bin/init-scenario" |
    diff -u "$work/expected" - || exit 1
