# shellcheck shell=bash
# Debian's source packages that the static builds start from: the deb-src
# entry and index that `apt-get source` needs, and the static libnl-3 and
# libnl-genl-3 built from libnl3's source package, for the router (against
# the cross glibc, or against musl) or for this machine's processor (against
# musl). Sourced after scripts/lib.sh, and scripts/musl.sh for builds
# against musl.

# What the static builds need beside the compiler: libnl's configure looks
# for bison and flex, apt-get source unpacks with dpkg-source.
STATIC_PACKAGES=(bison flex dpkg-dev)

# Bump when the libnl build below changes, so that old caches are rebuilt.
LIBNL_RECIPE=3

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# The deb entry of the given suite as a deb-src entry, from the one-line lists
# or the deb822 files, keeping its options (apt refuses a deb-src entry whose
# Signed-By differs from the deb entry of the same address and suite).
source_entry_for() {
  local suite=$1 f
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    local line
    line=$(grep -E "^deb[[:space:]]+(\[[^]]*\][[:space:]]+)?[^[:space:]]+[[:space:]]+$suite[[:space:]]" "$f" | head -n 1)
    if [ -n "$line" ]; then
      echo "list"
      echo "deb-src${line#deb}"
      return 0
    fi
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    local stanza
    stanza=$(awk -v suite="$suite" '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " suite " ") && enabled != "no") {
          print "Types: deb-src"; print "URIs: " uris; print "Suites: " suite
          print "Components: " comps
          if (signed != "") print "Signed-By: " signed
          found = 1; exit
        }
        types = suites = uris = comps = signed = enabled = ""; last = ""
      }
      /^[[:space:]]*#/ { next }
      /^[[:space:]]*$/ { flush(); next }
      /^[[:space:]]/ { if (last == "signed") signed = signed "\n" $0; next }
      {
        key = tolower($1); sub(/^[^:]*:[[:space:]]*/, ""); last = ""
        if (key == "types:") types = $0
        else if (key == "suites:") suites = $0
        else if (key == "uris:") uris = $0
        else if (key == "components:") comps = $0
        else if (key == "enabled:") enabled = tolower($0)
        else if (key == "signed-by:") { signed = $0; last = "signed" }
      }
      END { if (!found) flush() }' "$f")
    if [ -n "$stanza" ]; then
      echo "sources"
      echo "$stanza"
      return 0
    fi
  done
  return 1
}

# Makes `apt-get source` work: a deb-src entry for this machine's suite
# (added once, when there is none) and a downloaded source index.
ensure_source_index() {
  local suite
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  [ -n "$suite" ] || { echo "cannot tell the Debian suite from /etc/os-release"; return 1; }
  if ! apt-get indextargets --no-release-info --format '$(CREATED_BY) $(RELEASE)' |
       grep -qx "Sources $suite"; then
    local entry kind
    entry=$(source_entry_for "$suite") || {
      echo "no deb entry for $suite in the apt sources: cannot add its deb-src entry"
      return 1
    }
    kind=$(head -n 1 <<<"$entry")
    echo "== adding a deb-src entry for $suite (/etc/apt/sources.list.d/node-deb-src.$kind)"
    tail -n +2 <<<"$entry" | as_root tee "/etc/apt/sources.list.d/node-deb-src.$kind" >/dev/null || return 1
  fi
  if ! apt-cache showsrc libnl3 2>/dev/null | grep -q '^Package: libnl3$'; then
    echo "== apt-get update (source index)"
    as_root apt-get update -q >/dev/null || return 1
  fi
}

# --- the static libnl ------------------------------------------------------

# The compiler's target of an architecture.
arch_triplet() {
  case $1 in
    mips) echo mips-linux-gnu ;;
    x86_64) echo x86_64-linux-gnu ;;
    *) return 1 ;;
  esac
}

# The stamp of a libnl cache: the recipe, the target and, for a libnl built
# against musl, that musl's own stamp (a rebuilt musl rebuilds libnl).
libnl_stamp() {  # libnl_stamp arch [musl-cache]
  if [ -n "${2:-}" ]; then
    echo "recipe $LIBNL_RECIPE $(arch_triplet "$1") musl $(cat "$2/stamp" 2>/dev/null)"
  else
    echo "recipe $LIBNL_RECIPE $(arch_triplet "$1")"
  fi
}

libnl_cached() {  # libnl_cached cache arch [musl-cache]
  [ -f "$1/lib/libnl-3.a" ] && [ -f "$1/lib/libnl-genl-3.a" ] &&
    [ -f "$1/include/libnl3/netlink/genl/genl.h" ] &&
    grep -qxF "$(libnl_stamp "$2" "${3:-}")" "$1/stamp" 2>/dev/null
}

# build_libnl cache arch [musl-cache]: the static libnl-3 and libnl-genl-3,
# for MIPS against the cross glibc, or with a musl cache against that musl.
build_libnl() {
  local cache=$1 arch=$2 musl=${3:-} host
  host=$(arch_triplet "$arch") || { echo "libnl: no recipe for $arch"; return 1; }
  if libnl_cached "$cache" "$arch" "$musl"; then
    echo "== libnl: cached in $cache ($(head -n 1 "$cache/version"))"
    return 0
  fi
  local cc=$host-gcc cppflags="-D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64" ldflags="" libs=""
  local cflags="-Os -ffunction-sections -fdata-sections"
  if [ -n "$musl" ]; then
    # musl's off_t and time_t are 64-bit already; libnl goes into the static
    # file as our code does (cmake/musl-static.cmake): not position
    # independent, on MIPS in the MIPS16e encoding.
    cc=$(musl_cc "$arch") && cppflags=$(musl_cflags "$arch" "$musl") || return 1
    cflags="$cflags -fno-pie"
    [ "$arch" = mips ] && cflags="$cflags -mips16 -minterlink-mips16"
    ldflags=$(musl_ldflags "$musl") && libs=$(musl_libs "$arch" "$musl") || return 1
  fi
  ensure_source_index || return 1
  local work=$cache-src src
  src=$(unpack_source libnl3 "$cache") || return 1
  echo "== libnl: building libnl-3 and libnl-genl-3 for $host ($(basename "$src")${musl:+, against musl})"
  (
    cd "$src" || exit 1
    # Debian's patches to Makefile.am change only the shared libraries'
    # symbol versions and the conffile folder; keep the shipped Makefile.in
    # rather than regenerating it (which would need automake).
    touch aclocal.m4 && touch configure Makefile.in || exit 1
    ./configure -q --host="$host" --prefix="$cache" --disable-shared --enable-static \
      --disable-cli --disable-debug --disable-dependency-tracking \
      CC="$cc" CPPFLAGS="$cppflags" LDFLAGS="$ldflags" LIBS="$libs" \
      CFLAGS="$cflags" >configure.log 2>&1 ||
      { tail -n 30 configure.log config.log; exit 1; }
    # Only the two libraries the programs link; the rest of libnl (route,
    # its grammar from bison and flex, the tools) is not built.
    make -j"$(jobs)" lib/libnl-3.la lib/libnl-genl-3.la >make.log 2>&1 || { tail -n 30 make.log; exit 1; }
    make install-libnlinclude_netlinkHEADERS install-libnlinclude_netlink_genlHEADERS >>make.log 2>&1 ||
      { tail -n 30 make.log; exit 1; }
    mkdir -p "$cache/lib" && cp lib/.libs/libnl-3.a lib/.libs/libnl-genl-3.a "$cache/lib/"
  ) || return 1
  basename "$src" >"$cache/version"
  # The stamp goes last: a cache without it is an interrupted build.
  libnl_stamp "$arch" "$musl" >"$cache/stamp"
  rm -rf "$work"
}
