# The checks of the emulated router, in order, sourced by scripts/systest once the guest is up.
# Each reads: what is done in the guest, then what must be seen there (or the machine's QMP
# event). A check that needs a fresh machine calls boot first.
log=/var/log/vigilerd.log
running='vigilerctl status | grep -q "^vigilerd pid [0-9]*: running, interval 3 s$"'
low='Software Watchdog: Warning: Running low on file system space for voice mails\. [0-9.]*'
hung='] Warning: cmd = /etc/init.d/ntp status timed out after 3 seconds'
busy='] Error: Voice subsystem is in use. Could not execute the escalation command'
spent='] Error: Reboot budget spent (2 reboots in 1 hours). Could not execute the escalation command'
alert='vigilerd\[[0-9]*\]: Software Watchdog:'
spent_alert='Reboot budget spent: ppp keeps failing and the box is not rebooted\.'
stalled='] Error: Checks have stalled for [0-9]+ seconds\. Hardware watchdog keepalives stopped'

check 'boot: the init script started vigilerd; vigilerctl status shows it running' \
    true "$running"
check 'vigilerctl check finds the configuration clean' \
    true 'vigilerctl check'
check 'syslog holds its alert once the voice-mail store runs low' \
    'dd if=/dev/zero of=/mnt/bbram/m bs=1k count=88' \
    "grep -q 'vigilerd\[[0-9]*\]: $low percent left\.$' /var/log/messages"
check 'a failing service is repaired by its fail command' \
    'touch /tmp/httpd.down' \
    "grep -qF '] Info: Fail Command successfully executed' $log && [ ! -e /tmp/httpd.down ]"
check 'a status script hanging past STATUS_TIMEOUT is ended, and the next pass runs' \
    'touch /tmp/ntp.hang' \
    "! pidof sleep && grep -A999 -F '$hung' $log |
    grep -A1 -F 'Calling /etc/init.d/ntp status' | grep -qF '] Debug: Return value: 0'"
check 'no reboot while another process holds the voice lock' \
    'voice_lock_holder & touch /tmp/ppp.down' \
    "[ \$(grep -cF '$busy' $log) -ge 3 ]"
check_event '"reboot" takes the machine down once the lock is free (QMP SHUTDOWN guest-reset)' \
    'touch /mnt/flashfs/mark && kill %1' \
    'SHUTDOWN".*"reason": "guest-reset'
boot keep || return 0
check 'after the reboot vigilerd runs again, and the flash disk kept its files' \
    true "$running && [ -e /mnt/flashfs/mark ]"
check 'the hardware watchdog is opened, and its keepalives keep the box up past three timeouts' \
    'sleep 35' "grep -q '] Info: Hardware watchdog /dev/watchdog opened (.*, timeout 10 seconds)$' $log"
check 'SIGTERM disarms the hardware watchdog: the box is still up two timeouts later' \
    '/etc/init.d/vigilerd stop && sleep 25' "grep -qF '] Info: Hardware watchdog disarmed' $log"
check_event "a stopped vigilerd is reset by the hardware watchdog (QMP ${watchdog_reset%%\"*})" \
    '/etc/init.d/vigilerd start && sleep 3 && kill -STOP $(cat /var/run/vigilerd.pid)' \
    "$watchdog_reset" 60
# From here on the machine boots again after each reset; softdog keeps no trace of one.
next_boot || return 0
[ "$watchdog" = softdog ] ||
    check 'the next boot logs the hardware reset and raises its alert' \
        true "grep -qF '] Warning: The last reset was made by the hardware watchdog' $log &&
        grep -q '$alert The hardware watchdog reset the box\.\$' /var/log/messages"
# The budget's keys and a ppp that fails go on the flash disk, so each boot from the next on
# starts with them; that boot and the next end in its escalation, the third stays up.
guest "printf 'REBOOT_BUDGET=2\nREBOOT_BUDGET_HOURS=1\n' >/mnt/flashfs/vigilerd.conf.add &&
    touch /mnt/flashfs/ppp.down && reboot" 10
next_boot 3 || return 0
check 'a reboot budget of 2: ppp, failing at every boot, rebooted the box twice, then not again' \
    true "grep -qF '$spent' $log && grep -q '$alert $spent_alert\$' /var/log/messages"
check 'the reboot record on the flash disk holds the two reboots' \
    true "[ \$(grep -c '^[0-9]* escalation ppp\$' /mnt/flashfs/vigilerd.reboots) -eq 2 ] &&
    [ \$(wc -l </mnt/flashfs/vigilerd.reboots) -eq 2 ]"
# Without the budget and without a time limit on status scripts, ntp's hanging status script
# stalls the checks; the log is followed on the console, since the reset takes it away.
check_event 'a stalled pass stops the keepalives, and the hardware watchdog resets the box' \
    "rm /mnt/flashfs/ppp.down /mnt/flashfs/vigilerd.conf.add &&
    sed -i -e '/^REBOOT_BUDGET/d' -e 's/^STATUS_TIMEOUT=.*/STATUS_TIMEOUT=0/' /etc/vigilerd.conf &&
    echo WATCHDOG_STALL=12 >>/etc/vigilerd.conf && /etc/init.d/vigilerd restart &&
    touch /tmp/ntp.hang && tail -f $log &" "$watchdog_reset" 120 "$stalled"
