# The model behind /sbin/uci: reads a package file and its staged changes,
# then carries out one command (variables cmd, pkg, quiet, missing, conf,
# delta). The argument comes through the environment (UCI_ARG) so that awk
# leaves its backslashes alone. Staged changes are lines of tab-separated
# fields, the value with its backslashes, tabs and newlines escaped:
#   S section option value   set an option        T section type   create a section
#   D section option         delete an option     D section        delete a section
# A list's items are kept apart by SUBSEP, so an item may hold blanks.

function fail(msg) { if (!quiet) print "uci: " msg > "/dev/stderr"; failed = 1; exit 1 }

# tokens(line): splits a config line into tok[1..n] honouring '' and "" quotes;
# open is set when the line ends inside quotes (the value goes on).
function tokens(line,    n, c, cur, q, i, intok) {
  n = 0; cur = ""; q = ""; intok = 0
  for (i = 1; i <= length(line); i++) {
    c = substr(line, i, 1)
    if (q != "") {
      if (c == q) q = ""
      else if (c == "\\" && q == "\"" && i < length(line)) { i++; cur = cur substr(line, i, 1) }
      else cur = cur c
    } else if (c == "'" || c == "\"") { q = c; intok = 1 }
    else if (c == "#" && !intok) break
    else if (c == " " || c == "\t") { if (intok) { tok[++n] = cur; cur = ""; intok = 0 } }
    else if (c == "\\" && i < length(line)) { i++; cur = cur substr(line, i, 1); intok = 1 }
    else { cur = cur c; intok = 1 }
  }
  open = q != ""
  if (intok) tok[++n] = cur
  return n
}

function escape(v,    out, i, c) {
  out = ""
  for (i = 1; i <= length(v); i++) {
    c = substr(v, i, 1)
    out = out (c == "\\" ? "\\\\" : c == "\t" ? "\\t" : c == "\n" ? "\\n" : c)
  }
  return out
}

function unescape(v,    out, i, c) {
  out = ""
  for (i = 1; i <= length(v); i++) {
    c = substr(v, i, 1)
    if (c == "\\" && i < length(v)) { c = substr(v, ++i, 1); if (c == "t") c = "\t"; else if (c == "n") c = "\n" }
    out = out c
  }
  return out
}

function add_section(type, name,    i) {
  i = ++nsec; stype[i] = type; deleted[i] = 0; onames[i] = ""
  if (name == "") { anon[i] = 1; sname[i] = sprintf("cfg%06x", i) } else { anon[i] = 0; sname[i] = name }
  return i
}

function set_option(i, name, value, islist) {
  if (!((i, name) in oval)) onames[i] = onames[i] " " name
  if (islist && ((i, name) in oval) && islst[i, name]) oval[i, name] = oval[i, name] SUBSEP value
  else oval[i, name] = value
  islst[i, name] = islist
}

function del_option(i, name,    n, k, parts, rest) {
  if (!((i, name) in oval)) return
  delete oval[i, name]
  n = split(onames[i], parts, " "); rest = ""
  for (k = 1; k <= n; k++) if (parts[k] != name) rest = rest " " parts[k]
  onames[i] = rest
}

# find(ref): the index of a section given as name or @type[index], else 0.
function find(ref,    i, type, idx, count, list, n) {
  if (ref ~ /^@[A-Za-z0-9_.-]*\[-?[0-9]+\]$/) {
    type = ref; sub(/^@/, "", type); sub(/\[.*/, "", type)
    idx = ref; sub(/.*\[/, "", idx); sub(/\]/, "", idx); idx += 0
    n = 0
    for (i = 1; i <= nsec; i++) if (!deleted[i] && (type == "" || stype[i] == type)) list[n++] = i
    if (idx < 0) idx += n
    return (idx >= 0 && idx < n) ? list[idx] : 0
  }
  for (i = 1; i <= nsec; i++) if (!deleted[i] && sname[i] == ref) return i
  return 0
}

function label(i,    k, n) {  # how "uci show" names a section
  if (!anon[i]) return sname[i]
  n = 0
  for (k = 1; k < i; k++) if (!deleted[k] && stype[k] == stype[i]) n++
  return "@" stype[i] "[" n "]"
}

function quote(v) { gsub(/'/, "'\\''", v); return "'" v "'" }

# A value as get (always = 0) or show (always = 1) prints it: a list's items
# apart by blanks, an item quoted when it holds a blank or when always.
function text(i, name, always,    n, k, items, out) {
  if (!islst[i, name]) return always ? quote(oval[i, name]) : oval[i, name]
  n = split(oval[i, name], items, SUBSEP); out = ""
  for (k = 1; k <= n; k++)
    out = out (k > 1 ? " " : "") (always || items[k] ~ /[ \t\r\n]/ ? quote(items[k]) : items[k])
  return out
}

function show(i, only,    n, k, parts) {
  if (only == "") print pkg "." label(i) "=" stype[i]
  n = split(onames[i], parts, " ")
  for (k = 1; k <= n; k++)
    if (only == "" || only == parts[k]) print pkg "." label(i) "." parts[k] "=" text(i, parts[k], 1)
}

FILENAME == conf {
  line = held == "" ? $0 : held "\n" $0
  n = tokens(line)
  if (open) { held = line; next }
  held = ""
  if (n == 0) next
  if (tok[1] == "package") next
  if (tok[1] == "config") { cur = add_section(tok[2], n >= 3 ? tok[3] : ""); next }
  if (!cur) next
  if (tok[1] == "option" && n >= 2) set_option(cur, tok[2], n >= 3 ? tok[3] : "", 0)
  if (tok[1] == "list" && n >= 2) set_option(cur, tok[2], n >= 3 ? tok[3] : "", 1)
  next
}

FILENAME == delta {
  n = split($0, f, "\t")
  i = find(f[2])
  if (f[1] == "T") { if (i) stype[i] = f[3]; else add_section(f[3], f[2]) }
  else if (f[1] == "S" && i) set_option(i, f[3], unescape(f[4]), 0)
  else if (f[1] == "D" && i) { if (n >= 3 && f[3] != "") del_option(i, f[3]); else deleted[i] = 1 }
  changes[++nchanges] = $0
  next
}

END {
  if (failed) exit 1
  value = ""; hasvalue = 0
  path = ENVIRON["UCI_ARG"]
  if (index(path, "=")) { value = substr(path, index(path, "=") + 1); path = substr(path, 1, index(path, "=") - 1); hasvalue = 1 }
  np = split(path, p, ".")
  sec = np >= 2 ? p[2] : ""; opt = np >= 3 ? p[3] : ""
  # what uci refuses before it reads the package: a fourth name, an option
  # name other than letters, digits and '_', control characters in a value
  if (np > 3 || np == 3 && opt !~ /^[A-Za-z0-9_]+$/ || value ~ /[\001-\010\013\014\016-\037]/) fail("Parse error")
  if (missing) fail("Entry not found")
  i = 0
  if (np >= 2) {
    if (sec !~ /^[A-Za-z0-9_]+$/ && sec !~ /^@[A-Za-z0-9_.-]*\[-?[0-9]+\]$/) fail("Invalid argument")
    i = find(sec)
  }

  if (cmd == "get") {
    if (hasvalue) { failed = 1; exit 1 }
    if (np == 1) exit 0
    if (!i) fail("Entry not found")
    if (opt == "") { print stype[i]; exit 0 }
    if (!((i, opt) in oval)) fail("Entry not found")
    print text(i, opt, 0); exit 0
  }
  if (cmd == "set") {
    if (np == 1 || !hasvalue) fail("Invalid argument")
    if (opt == "") {
      if (value == "") { if (i) printf "D\t%s\n", sname[i] >> delta; exit 0 }  # an empty type deletes the section
      if (value !~ /^[!-~]+$/ || sec ~ /^@/ && !i) fail("Invalid argument")
      printf "T\t%s\t%s\n", i ? sname[i] : sec, value >> delta; exit 0
    }
    if (!i) fail("Invalid argument")
    if (value == "") {  # an empty value deletes the option
      if ((i, opt) in oval) printf "D\t%s\t%s\n", sname[i], opt >> delta
      exit 0
    }
    if ((i, opt) in oval && !islst[i, opt] && oval[i, opt] == value) exit 0
    printf "S\t%s\t%s\t%s\n", sname[i], opt, escape(value) >> delta
    exit 0
  }
  if (cmd == "delete") {
    if (!i) fail("Entry not found")
    if (opt != "" && !((i, opt) in oval)) fail("Entry not found")
    printf "D\t%s\t%s\n", sname[i], opt >> delta; exit 0
  }
  if (cmd == "show") {
    if (sec != "" && !i) fail("Entry not found")
    if (opt != "" && !((i, opt) in oval)) fail("Entry not found")
    for (k = 1; k <= nsec; k++) if (!deleted[k] && (!i || k == i)) show(k, opt)
    exit 0
  }
  if (cmd == "changes") {
    for (k = 1; k <= nchanges; k++) {
      split(changes[k], f, "\t")
      if (f[1] == "S") print pkg "." f[2] "." f[3] "=" quote(unescape(f[4]))
      else if (f[1] == "T") print pkg "." f[2] "=" f[3]
      else print "-" pkg "." f[2] (f[3] != "" ? "." f[3] : "")
    }
    exit 0
  }
  if (cmd == "commit") {
    if (!nchanges) exit 0
    out = delta ".new"
    printf "" > out
    for (k = 1; k <= nsec; k++) {
      if (deleted[k]) continue
      printf "\nconfig %s%s\n", stype[k], anon[k] ? "" : " " quote(sname[k]) > out
      n = split(onames[k], parts, " ")
      for (j = 1; j <= n; j++) {
        if (islst[k, parts[j]]) {
          m = split(oval[k, parts[j]], items, SUBSEP)
          for (q = 1; q <= m; q++) printf "\tlist %s %s\n", parts[j], quote(items[q]) > out
        } else printf "\toption %s %s\n", parts[j], quote(oval[k, parts[j]]) > out
      }
    }
    printf "\n" > out
    close(out); exit 0
  }
  exit 0
}
