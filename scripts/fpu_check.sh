#!/usr/bin/env bash
# Fails when code for the router would need an FPU, which its processor (a
# 24Kc) does not have:
#   scripts/fpu_check.sh [--map MAP --own DIR] FILE...
# - in every FILE (a MIPS executable, object or archive), no FPU (coprocessor
#   1) instruction: loads and stores of FPU registers, moves to and from them,
#   FPU branches and every arithmetic, comparison or conversion on a float
#   format (the mnemonics that end in .s, .d, .ps, .w or .l);
# - in every object or archive among them (our own code), no reference to the
#   compiler's soft-float routines (__adddf3, __floatsisf, __ltdf2, ...): code
#   that computes with floats at all;
# - with --map (a linker map written with --cref), no reference to those
#   routines from our own objects in that link: the files under DIR and the
#   link-time optimization objects made from them.
# Prints what it found, function by function, and exits 1; 0 when clean.
set -u
OBJDUMP=${OBJDUMP:-mips-linux-gnu-objdump}
NM=${NM:-mips-linux-gnu-nm}

# The compiler's soft-float routines, for any precision.
SOFT_FLOAT='^__((add|sub|mul|div)[sdtx]f3|neg[sdtx]f2|(eq|ne|ge|gt|le|lt|unord|cmp)[sdtx]f2|fix(uns)?[sdtx]f[sdt]i|float(un)?[sdt]i[sdtx]f|extend[sdtx]f[sdtx]f2|trunc[sdtx]f[sdtx]f2|pow[sdtx]i2)$'

map="" own=""
while [ $# -gt 0 ]; do
  case $1 in
    --map) map=$2; shift 2 ;;
    --own) own=$2; shift 2 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "usage: $0 [--map MAP --own DIR] FILE..."; exit 2; }

found=0

# FPU instructions of one file: "function: instruction" lines.
fpu_instructions() {
  "$OBJDUMP" -d --no-show-raw-insn "$1" | awk '
    /^[0-9a-f]+ <.*>:$/ { fn = $2; gsub(/[<>:]/, "", fn); next }
    /^ *[0-9a-f]+:\t/ {
      n = split($0, f, "\t"); op = f[2]; sub(/ .*/, "", op)
      # MIPS16 code keeps its constants beside it (the __pool_ symbols),
      # which objdump shows as text: only mnemonics count.
      if (op !~ /^[a-z]/) next
      if (op ~ /\.(s|d|ps|w|l)$/ ||
          op ~ /^(l|s)(w|d)x?c1$/ || op ~ /^(l|s)uxc1$/ || op ~ /^m[tf]h?c1$/ || op ~ /^[ct]fc1$|^ctc1$/ ||
          op ~ /^bc1/ || op ~ /^mov[ft]$/ || op ~ /^prefx$/)
        print fn ": " f[2] (n > 2 ? " " f[3] : "")
    }'
}

for file in "$@"; do
  [ -f "$file" ] || { echo "$file: no such file"; exit 2; }
  "$OBJDUMP" -d "$file" >/dev/null 2>&1 || { echo "$file: not a file objdump can read"; exit 2; }
  hits=$(fpu_instructions "$file")
  if [ -n "$hits" ]; then
    echo "$file: FPU instructions ($(wc -l <<<"$hits")), the first:"
    head -n 20 <<<"$hits" | sed 's/^/  /'
    found=1
  fi
  case $file in
    *.o | *.a)
      refs=$("$NM" -u "$file" 2>/dev/null | awk '{ print $NF }' | grep -E "$SOFT_FLOAT" | sort -u)
      if [ -n "$refs" ]; then
        echo "$file: calls the soft-float routines: $(echo $refs)"
        found=1
      fi
      ;;
  esac
done

if [ -n "$map" ]; then
  [ -n "$own" ] || { echo "--map needs --own"; exit 2; }
  grep -q '^Cross Reference Table' "$map" || { echo "$map: no cross reference table (link with --cref)"; exit 2; }
  # The table: a symbol and the file that defines it on one line, then the
  # files that refer to it, one a line, indented.
  refs=$(awk -v re="$SOFT_FLOAT" -v own="$own" '
    /^Cross Reference Table/ { table = 1; next }
    !table || /^Symbol/ { next }
    /^[^ ]/ { sym = $1; next }
    sym ~ re && NF == 1 && (index($1, own) == 1 || $1 ~ /\.ltrans[0-9]*\.ltrans\.o$/) { print sym " from " $1 }
  ' "$map")
  if [ -n "$refs" ]; then
    echo "$map: our own code calls the soft-float routines:"
    sed 's/^/  /' <<<"$refs"
    found=1
  fi
fi

exit $found
