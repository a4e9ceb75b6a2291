#!/usr/bin/env bash
# The shipped manual tells what the README tells on the facts users look up
# headless: every row of the README's --check exit status table, the four
# security choices and their spellings, the serial port map, the proxy keys
# and the command-line set-up.
#   manual_check.sh SOURCE_DIR
set -euo pipefail
source=$1
python3 - "$source/README.md" "$source/resources/shipped/manual/headless.html" <<'PY'
import html, re, sys
readme = open(sys.argv[1], encoding="utf-8").read()
page = open(sys.argv[2], encoding="utf-8").read()
text = " ".join(html.unescape(re.sub(r"<[^>]+>", " ", page)).split())
def norm(s):
    return " ".join(s.replace("`", "").split())
facts = []
for number, meaning in re.findall(r"^\s*\| (\d) \| (.+?) \|\s*$", readme, re.M):
    facts.append(number + " " + norm(meaning))
if len(facts) < 6:
    sys.exit("FAIL: the README's exit status table was not found")
for fact in ["automatic", "TLS", "STARTTLS required", "none", "starttls-required",
             "[Tessaly 1.1/POP3 Security]", "[Tessaly 1.1/Outgoing Mail]",
             "COM1 .. COM8 are /dev/ttyS0 .. /dev/ttyS7", "[Tessaly 1.1/Serial Ports]",
             "UseProxy=1", "ProxyHostName", "ProxyHostAddress", "ProxyPort", "--show-profile", "--set",
             "the exit status is 64", "schedule.*"]:
    if norm(fact) not in norm(readme):
        sys.exit("FAIL: the README no longer says: " + fact)
    facts.append(norm(fact))
missing = [f for f in facts if f not in text]
for f in missing:
    print("FAIL: the manual does not say: " + f)
sys.exit(1 if missing else 0)
PY
