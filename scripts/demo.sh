#!/usr/bin/env bash
# Shows Tessaly at work in one command, on this computer only: a private
# Dovecot POP3 server with two messages, the modem and paging terminal
# simulator on a pseudo-terminal, and an SMTP sink, all on 127.0.0.1 in a
# temporary folder. It configures a profile with `tessly --set`, runs
# `tessly --headless --check` twice (first paging through the modem, then by
# e-mail) and prints the pages that arrived. Everything it started is stopped
# and the folder removed when it ends, however it ends.
#
#   scripts/demo.sh            uses build/tessly (build it first: scripts/run.sh
#                              or cmake --build build --target tessly)
#   TESSLY=/usr/bin/tessly scripts/demo.sh
#
# Needs dovecot-pop3d, python3 and python3-aiosmtpd (scripts/setup-deps.sh --tests).
# Exit status: 0 when both checks succeeded and both pages arrived; 77 when a
# peer it needs is not installed; 1 otherwise.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tessly=${TESSLY:-$root/build/tessly}
tools=$root/tests/tools

missing() { echo "demo: $1 is not installed (scripts/setup-deps.sh --tests)" >&2; exit 77; }
[[ -x $tessly ]] || { echo "demo: $tessly not found; build it first (scripts/run.sh)" >&2; exit 1; }
[[ -x /usr/sbin/dovecot ]] || missing "dovecot (Debian package dovecot-pop3d)"
command -v python3 >/dev/null || missing python3
/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null || missing "aiosmtpd (Debian package python3-aiosmtpd)"

work=$(mktemp -d /tmp/tessaly-demo.XXXXXX)
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Ports the profile can hold (16-bit fields: below 32768).
free_port() {
    python3 - "$@" <<'EOF'
import socket, sys, random
taken = set(int(a) for a in sys.argv[1:])
for port in random.sample(range(20000, 32000), 400):
    if port in taken:
        continue
    with socket.socket() as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            continue
        print(port)
        break
EOF
}
wait_for() { # seconds, then a command that succeeds once the peer is up
    local seconds=$1; shift
    for _ in $(seq $((seconds * 10))); do
        "$@" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "demo: a peer did not come up: $*" >&2
    return 1
}
port_open() { python3 -c 'import socket,sys; socket.create_connection(("127.0.0.1", int(sys.argv[1])), 1).close()' "$1"; }

pop_port=$(free_port)
smtp_port=$(free_port "$pop_port")

# --- Dovecot: users alice and bob, one message each --------------------------
dc=$work/dovecot
mkdir -p "$dc/run" "$dc/state"
chmod 755 "$work" "$dc"
uid=$(id -u) gid=$(id -g)
if [[ $uid -eq 0 ]]; then # Dovecot will not serve mail as root
    uid=$(id -u nobody) gid=$(id -g nobody)
fi
: >"$dc/passwd"
deliver() { # user, subject, body
    local box=$dc/mail/$1 name
    mkdir -p "$box/new" "$box/cur" "$box/tmp"
    name="$(date +%s).M$RANDOM$RANDOM.demo"
    printf 'From: Carol Sender <carol@example.org>\nTo: %s@example.org\nSubject: %s\nDate: %s\nMessage-ID: <%s@demo.example.org>\n\n%s\n' \
        "$1" "$2" "$(date -R)" "$name" "$3" >"$box/tmp/$name"
    mv "$box/tmp/$name" "$box/new/$name"
}
for user in alice bob; do
    echo "$user:{PLAIN}secret-$user:$uid:$gid::$dc/mail/$user" >>"$dc/passwd"
done
deliver alice "Server room too warm" "The temperature in room 2 is 31 C."
deliver bob "Lunch moved to 1 pm" "See you at the usual place."
[[ $(id -u) -eq 0 ]] && chown -R "$uid:$gid" "$dc/mail"
cat >"$dc/dovecot.conf" <<EOF
base_dir = $dc/run
state_dir = $dc/state
log_path = $dc/dovecot.log
protocols = pop3
listen = 127.0.0.1
ssl = no
disable_plaintext_auth = no
auth_failure_delay = 0
mail_location = maildir:$dc/mail/%u
passdb {
  driver = passwd-file
  args = scheme=PLAIN $dc/passwd
}
userdb {
  driver = passwd-file
  args = $dc/passwd
}
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $pop_port
  }
  chroot =
}
service anvil {
  chroot =
}
service imap-login {
  chroot =
}
EOF
/usr/sbin/dovecot -F -c "$dc/dovecot.conf" >"$dc/stdout" 2>&1 &
pids+=($!)

# --- the modem and paging terminal simulator, on a pseudo-terminal -----------
python3 "$tools/modemsim.py" --no-stdin --link "$work/modem" --summary "$work/modem.json" >/dev/null 2>"$work/modem.err" &
pids+=($!)

# --- the SMTP sink -------------------------------------------------------------
/usr/bin/python3 "$tools/smtp_sink.py" "$smtp_port" "$work/sink.jsonl" >"$work/sink.out" 2>&1 &
pids+=($!)

wait_for 15 port_open "$pop_port"
wait_for 15 test -L "$work/modem"
wait_for 15 grep -q READY "$work/sink.out"
echo "demo: Dovecot on 127.0.0.1:$pop_port, modem on $(readlink "$work/modem"), SMTP sink on 127.0.0.1:$smtp_port"

# --- Tessaly: a private program directory and settings -------------------------
export TESSALY_HOME=$work/home XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/tessaly"
cat >"$XDG_CONFIG_HOME/tessaly/tessaly.ini" <<EOF
[Tessaly 1.1/Settings]
CheckUpdates=False

[Tessaly 1.1/Serial Ports]
COM2=$work/modem
EOF

run() { echo "\$ tessly $*"; "$tessly" "$@"; }
# The startup profile (DEFAULT.dat in the program directory) is set up
# entirely from the command line.
run --set paging.enabled=true connection.type=direct mail.page_headers=true \
    pager.1.id=7654321 pager.1.type=alpha-modem pager.1.service=Default \
    pager.1.email=pager@example.net pager.1.from=tessaly@example.org \
    service.1.phone=5551234 service.1.comm_port=2 service.1.max_page_chars=200 modem.retries=0 \
    smtp.host_address=127.0.0.1 smtp.port="$smtp_port" smtp.domain=example.org \
    account.1.name=Alice account.1.server=127.0.0.1 account.1.port="$pop_port" \
    account.1.username=alice account.1.password=secret-alice account.1.check=true \
    account.2.name=Bob account.2.server=127.0.0.1 account.2.port="$pop_port" \
    account.2.username=bob account.2.password=secret-bob account.2.check=false
run --show-profile | grep -E '^(pager\.1|account)\.' || true

status=0
echo
echo "demo: check 1, paging through the modem (Alice's mailbox)"
run --headless --check || status=1
echo
echo "demo: check 2, paging by e-mail (Bob's mailbox)"
run --set pager.1.type=alpha-smtp account.1.check=false account.2.check=true
run --headless --check || status=1

# The simulator rewrites its summary after every event.
echo
python3 - "$work/modem.json" "$work/sink.jsonl" <<'EOF' || status=1
import json, sys, email
modem = sink = 0
try:
    summary = json.load(open(sys.argv[1], encoding="utf-8"))
except (OSError, ValueError):
    summary = {}
print("Pages at the paging terminal (modem):")
for block in summary.get("blocks", []):
    if block.get("checksum_ok"):
        modem += 1
        print("  to pager %s: %s" % (block["pager_id"], block["message"].replace("\r", " | ")))
print("Pages at the SMTP sink:")
try:
    lines = open(sys.argv[2], encoding="utf-8").read().splitlines()
except OSError:
    lines = []
for line in lines:
    record = json.loads(line)
    message = email.message_from_string(record["data"])
    body = message.get_payload()
    sink += 1
    print("  to %s: %s%s" % (", ".join(record["rcpt_tos"]),
                             ("[" + message["Subject"] + "] ") if message["Subject"] else "",
                             str(body).strip().replace("\r\n", " | ").replace("\n", " | ")))
sys.exit(0 if modem and sink else 1)
EOF
[[ $status -eq 0 ]] && echo "demo: done" || echo "demo: something did not arrive; see the activity lines above" >&2
exit $status
