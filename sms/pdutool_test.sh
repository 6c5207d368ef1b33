#!/bin/bash
# Runs pdutool as a technician would and compares its whole output.
# Usage: pdutool_test.sh PATH_TO_PDUTOOL
set -u
tool="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
passes=0

# check NAME EXPECTED_STATUS EXPECTED_OUTPUT -- COMMAND... (standard input from $input)
input=/dev/null
check() {
  local name="$1" status="$2" expected="$3"
  shift 4
  local actual code
  actual="$("$@" < "$input" 2>/dev/null)"
  code=$?
  if [[ "$actual" == "$expected" && "$code" == "$status" ]]; then
    passes=$((passes + 1))
  else
    failures=$((failures + 1))
    echo "FAIL $name (status $code, expected $status)"
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual")
  fi
}

check "decode with the default header line" 0 "index=1
sender=0812345677
text=Hello
text_hex=48656C6C6F
multipart=0
header=" -- "$tool" decode 0791261848540000040B912618325476F700006280508001022305C8329BFD06

check "decode UCS2 from M-Tronik" 0 "index=12
sender=M-Tronik
text=Hi¬
text_hex=4869AC
multipart=0
header=" -- "$tool" decode 00040ED0CD1655FE76A7D7000862805080010223060048006920AC "+CMGL: 12,0,,30"

check "decode a multi-part header" 0 "index=1
sender=023
text=Hi
text_hex=4869
multipart=1
header=0,32,42,56,12,0,5" -- "$tool" decode 000403A121F300006280508001022309050003A702019069

check "decode a cut PDU" 1 "index=
sender=
text=
text_hex=
multipart=0
header=" -- "$tool" decode 00040B9

check "encode with escapes and an accent" 0 \
  "00310005812618F20000AA0BC8026883C26F52A04D19" -- "$tool" encode +62812 "Hé {x} €"

# 161 characters: parts of 152 and 9 characters (user-data lengths A0 and 11), reference 5.
long_text="$(printf 'a%.0s' $(seq 155))zzzzzz"
first_part="007100048180210000AAA006080400050201$(printf 'E170381C0E87C3%.0s' $(seq 19))"
check "encode a long text" 0 "$first_part
007100048180210000AA1106080400050202E17058AFD7EBF57A" -- "$tool" encode 0812 "$long_text" 5

printf 'AT+CMGL=4\r\r\n+CMGL: 3,1,,22\r\n0791261848540000040B912618325476F700006280508001022305C8329BFD06\r\n\r\nOK\r\n' > listing.txt
input=listing.txt
check "inbox" 0 "count=1
index=3
sender=0812345677
text=Hello
text_hex=48656C6C6F" -- "$tool" inbox

printf '+CMGL: 3,"REC READ"\r\n0A0812345678260105100000000005Hello\r\n\r\nOK\r\n' > cdma.txt
input=cdma.txt
check "inbox of a CDMA phone" 0 "count=1
index=3
sender=0812345678
text=Hello
text_hex=48656C6C6F" -- "$tool" inbox --cdma
input=/dev/null

# A module's field trace: a listing with a message at 09:30, one with another message at
# 09:31 (its reply in two chunks, a NUL of a noisy line in it), an empty one at 09:32, and a
# CDMA phone's listing of another module.
hello='0791261848540000040B912618325476F700006280508001022305C8329BFD06'
tronik='00040ED0CD1655FE76A7D7000862805080010223060048006920AC'
{
  printf '# Tovalink field trace, format 1\n'
  printf '2026-03-02 09:29:59.000\t0\tOPEN\t/dev/tovalink/COM7\t115200\t1\n'
  printf '2026-03-02 09:30:00.000\t1000\tWRITE\tAT+CMGL=4\\r\n'
  printf '2026-03-02 09:30:00.050\t1050\tREAD\t\\r\\n+CMGL: 3,1,,22\\r\\n%s\\r\\n\\r\\nOK\\r\\n\n' "$hello"
  printf '2026-03-02 09:31:00.000\t61000\tWRITE\tAT+CMGL=4\\r\n'
  printf '2026-03-02 09:31:00.050\t61050\tREAD\t\\r\\n+CMGL: 12,0,,30\\r\\n\\x00%s\n' "${tronik:0:20}"
  printf '2026-03-02 09:31:00.070\t61070\tREAD\t%s\\r\\n\\r\\nOK\\r\\n\n' "${tronik:20}"
  printf '2026-03-02 09:32:00.000\t121000\tWRITE\tAT+CMGL=4\\r\n'
  printf '2026-03-02 09:32:00.050\t121050\tREAD\t\\r\\nOK\\r\\n\n'
} > M1.trace
{
  printf '2026-03-02 09:40:00.000\t0\tWRITE\tAT+CMGL=0;\\r\n'
  printf '2026-03-02 09:40:00.050\t50\tREAD\t+CMGL: 3,"REC READ"\\r\\n0A0812345678260105100000000005Hello\\r\\n\\r\\nOK\\r\\n\n'
} > C1.trace
tronik_out="count=1
index=12
sender=M-Tronik
text=Hi¬
text_hex=4869AC"
hello_out="count=1
index=3
sender=0812345677
text=Hello
text_hex=48656C6C6F"
check "the last listing of a trace that holds messages" 0 "listed=2026-03-02 09:31:00.000 AT+CMGL=4\r
$tronik_out" -- "$tool" inbox --trace M1.trace
check "the listing at a time" 0 "listed=2026-03-02 09:30:00.000 AT+CMGL=4\r
$hello_out" -- "$tool" inbox --trace M1.trace --at 09:30:59
check "a CDMA phone's listing from its trace" 0 "listed=2026-03-02 09:40:00.000 AT+CMGL=0;\r
count=1
index=3
sender=0812345678
text=Hello
text_hex=48656C6C6F" -- "$tool" inbox --trace C1.trace
check "no listing before a time" 1 "" -- "$tool" inbox --trace M1.trace --at 09:29
check "a time that is no time" 2 "" -- "$tool" inbox --trace M1.trace --at 9.30
check "no trace" 1 "" -- "$tool" inbox --trace missing.trace
check "--at without a trace" 2 "" -- "$tool" inbox --at 09:30

check "unknown command" 2 "" -- "$tool" bogus
help="$("$tool" --help)" && [[ "$help" == Usage:* ]] && passes=$((passes + 1)) ||
  { failures=$((failures + 1)); echo "FAIL --help"; }

echo "pdutool: $passes passed, $failures failed"
[[ $failures == 0 ]]
