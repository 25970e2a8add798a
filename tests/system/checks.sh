# The checks of the emulated router, in order, sourced by scripts/systest once the guest is up.
# Each reads: what is done in the guest, then what must be seen there (or the machine's QMP
# event). A check that needs a fresh machine calls boot first.
log=/var/log/vigilerd.log
running='vigilerctl status | grep -q "^vigilerd pid [0-9]*: running, interval 3 s$"'
low='Software Watchdog: Warning: Running low on file system space for voice mails\. [0-9.]*'
hung='] Warning: cmd = /etc/init.d/ntp status timed out after 3 seconds'
busy='] Error: Voice subsystem is in use. Could not execute the escalation command'

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
boot || return 0
check 'after the reboot vigilerd runs again, and the flash disk kept its files' \
    true "$running && [ -e /mnt/flashfs/mark ]"
check 'the hardware watchdog is opened, and its keepalives keep the box up past three timeouts' \
    'sleep 35' "grep -q '] Info: Hardware watchdog /dev/watchdog opened (.*, timeout 10 seconds)$' $log"
check 'SIGTERM disarms the hardware watchdog: the box is still up two timeouts later' \
    '/etc/init.d/vigilerd stop && sleep 25' "grep -qF '] Info: Hardware watchdog disarmed' $log"
check_event "a stopped vigilerd is reset by the hardware watchdog (QMP ${watchdog_reset%%\"*})" \
    '/etc/init.d/vigilerd start && sleep 3 && kill -STOP $(cat /var/run/vigilerd.pid)' \
    "$watchdog_reset" 60
