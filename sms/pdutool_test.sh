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

check "unknown command" 2 "" -- "$tool" bogus
help="$("$tool" --help)" && [[ "$help" == Usage:* ]] && passes=$((passes + 1)) ||
  { failures=$((failures + 1)); echo "FAIL --help"; }

echo "pdutool: $passes passed, $failures failed"
[[ $failures == 0 ]]
