#!/usr/bin/env bash
# This machine has no BMC and no server DMI tables: fake dmidecode and ipmitool
# print the real outputs of a Dell PowerEdge R640 from the fixtures ($FIX), as
# the real tools select them. Sourced by tests.
#
#   fake_bmc_tools DIR    writes DIR/dmidecode and DIR/ipmitool
#
# At run time, "ipmitool sdr type fan" also reads:
#   STOPPED_FAN=1   a second fan, Fan2: Fan1's real line with the critical
#                   status and no speed that a stopped fan shows;
#   HANG_FANS=FILE  hangs every time (its pid in FILE);
#   HANG_ONCE=FILE  hangs once, while FILE does not exist yet.

fake_bmc_tools() {
  local dir=$1
  cat > "$dir/dmidecode" <<'EOF'
#!/usr/bin/env bash
# Blocks of the real R640 dump by DMI type, as dmidecode -t selects them.
dump=$FIX/dmidecode/full-dell-r640.txt
blocks() { awk -v types="$1" 'BEGIN { RS = ""; split(types, t, ","); for (i in t) want[t[i]] = 1 }
  { if (match($0, /DMI type [0-9]+,/)) { n = substr($0, RSTART + 9, RLENGTH - 10); if (n in want) print $0 "\n" } }' "$dump"; }
board() { awk -v key="$1" '/^Base Board Information/ { b = 1; next } b && /^$/ { exit }
  b { sub(/^\t/, ""); if (index($0, key ": ") == 1) print substr($0, length(key) + 3) }' "$dump"; }
case "$*" in
  "-t system"|"--type system") blocks 1,12,15,23,32 ;;
  "-t bios") blocks 0,13 ;;
  "-t processor") blocks 4 ;;
  "-t 39") blocks 39 ;;
  "--string baseboard-manufacturer") board Manufacturer ;;
  "--string baseboard-product-name") board "Product Name" ;;
  "--string baseboard-version") board Version ;;
  "--string baseboard-serial-number") board "Serial Number" ;;
  *) echo "fake dmidecode: unexpected $*" >&2; exit 2 ;;
esac
EOF
  cat > "$dir/ipmitool" <<'EOF'
#!/usr/bin/env bash
# The R640's FRU list; its power-supply sensors (ipmitool -c output shown with
# the plain listing's separators); an iDRAC temperature listing; the fans.
listing() { sed 's/,/ | /g' "$FIX/ipmitool/sdr-type-power-supply-csv-dell.txt"; }
case "$*" in
  "fru") cat "$FIX/ipmitool/fru-dell-r640.txt" ;;
  "sdr elist") listing; cat "$FIX/ipmitool/sdr-elist-curated-telegraf.txt" ;;
  "sdr entity 10.1") listing | grep ' 10\.1 ' ;;
  "sdr entity 10.2") listing | grep ' 10\.2 ' ;;
  "sdr type temperature") cat "$FIX/ipmitool/sdr-type-temperature-dell-r510-idrac6.txt" ;;
  "sdr type fan")
    [ -n "${HANG_FANS:-}" ] && { echo $$ > "$HANG_FANS"; exec sleep 100000; }
    [ -n "${HANG_ONCE:-}" ] && [ ! -e "$HANG_ONCE" ] && { echo $$ > "$HANG_ONCE"; exec sleep 100000; }
    line=$(grep Fan1 "$FIX/ipmitool/sdr-elist-curated-telegraf.txt")
    echo "$line"
    [ -z "${STOPPED_FAN:-}" ] || sed 's/Fan1 /Fan2 /; s/| 30h | ok  |/| 31h | cr  |/; s/5040 RPM/0 RPM/' <<<"$line" ;;
  *) echo "fake ipmitool: unexpected $*" >&2; exit 1 ;;
esac
EOF
  chmod +x "$dir/dmidecode" "$dir/ipmitool"
}
