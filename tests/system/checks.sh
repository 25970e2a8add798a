# The checks of the emulated router, in order, sourced by scripts/systest once the guest is up.
# Each reads: what is done in the guest, then what must be seen there (or the machine's QMP
# event). A check that needs a fresh machine calls boot first.
log=/var/log/vigilerd.log hung='] Warning: cmd = /etc/init.d/ntp status timed out after 3 seconds'
low='Software Watchdog: Warning: Running low on file system space for voice mails\. [0-9.]*'
busy='] Error: Voice subsystem is in use. Could not execute the escalation command'
check 'boot: the init script started vigilerd, vigilerctl shows it running, syslog takes its alerts' \
    'dd if=/dev/zero of=/mnt/bbram/m bs=1k count=88' "grep -q 'vigilerd\[[0-9]*\]: $low percent left\.$' \
    /var/log/messages && vigilerctl status | grep -q '^vigilerd pid [0-9]*: running, interval 3 s$'"
check 'a failing service is repaired by its fail command' 'touch /tmp/httpd.down' \
    "grep -qF '] Info: Fail Command successfully executed' $log && [ ! -e /tmp/httpd.down ]"
check 'a status script hanging past STATUS_TIMEOUT is ended, and the next pass runs' \
    'touch /tmp/ntp.hang' "! pidof sleep && grep -A999 -F '$hung' $log |
    grep -A1 -F 'Calling /etc/init.d/ntp status' | grep -qF '] Debug: Return value: 0'"
check 'no reboot while another holds the voice lock' 'voice_lock_holder & touch /tmp/ppp.down' \
    "[ \$(grep -cF '$busy' $log) -ge 3 ]"
check_event '"reboot" takes the machine down with the voice lock free (QMP SHUTDOWN guest-reset)' \
    'kill %1' 'SHUTDOWN".*"reason": "guest-reset'
