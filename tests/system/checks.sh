# The checks of the emulated router, in order, sourced by scripts/systest. Each reads: what is
# done in the guest, then what must be seen there (or the machine's QMP event).
log=/var/log/vigilerd.log running='vigilerctl status | grep -q "^vigilerd pid [0-9]*: running,'
hung='] Warning: cmd = /etc/init.d/ntp status timed out after 3 seconds'
low='Software Watchdog: Warning: Running low on file system space for voice mails\. [0-9.]*'
boot || return 0
check 'boot: the init script started vigilerd; vigilerctl status shows it running' true \
    "$running interval 3 s$\" && vigilerctl status --max-age 60 >/dev/null"
check 'syslog holds the alert of a voice-mail store running low' 'dd if=/dev/zero of=/mnt/bbram/m \
    bs=1k count=88' "grep -q 'vigilerd\[[0-9]*\]: $low percent left\.$' /var/log/messages"
check 'a failing service is repaired by its fail command' 'touch /tmp/httpd.down' \
    "grep -qF '] Info: Fail Command successfully executed' $log && [ ! -e /tmp/httpd.down ]"
check 'a status script hanging past STATUS_TIMEOUT is ended, and the next pass runs' \
    'touch /tmp/ntp.hang' "! pidof sleep && grep -A999 -F '$hung' $log |
    grep -A1 -F 'Calling /etc/init.d/ntp status' | grep -qF '] Debug: Return value: 0'"
check 'no reboot while another holds the voice lock' 'voice_lock_holder & touch /tmp/ppp.down' \
    "[ \$(grep -c '] Error: Voice subsystem is in use. Could not execute the escalation command$' \
    $log) -ge 3 ]"
check_event '"reboot" takes the machine down with the voice lock free (QMP SHUTDOWN guest-reset)' \
    'touch /mnt/flashfs/mark && kill %1' 'SHUTDOWN".*"reason": "guest-reset'
boot || return 0
check 'after the reboot vigilerd runs again, and the flash kept its files' true \
    "$running\" && [ -e /mnt/flashfs/mark ]"
