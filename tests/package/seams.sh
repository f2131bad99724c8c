#!/usr/bin/env bash
# Prints, one a line, every name the program's sources declare under the seam switch
# (`#if TASKVANE_TEST_SEAMS`, see platform/system/TestSeams.h): the types, functions and variables
# declared at the level where such a block opens (a namespace, a class body), not what a function
# body inside it holds. A name the `#else` side declares too is not a seam's: the program has it.
#   seams.sh <source tree>
set -euo pipefail
root=$1
cd "$root"
find platform dataaccess sysinfo dictdb skin ui -name '*.h' -o -name '*.cpp' | LC_ALL=C sort | xargs awk '
# Words that begin a statement rather than a declaration, and words that are no name.
function statement(w) {
  return w ~ /^(return|if|else|while|for|switch|case|do|delete|new|throw|co_return|sizeof|goto)$/
}
function keyword(w) {
  return statement(w) || w ~ /^(operator|const|static|inline|virtual|explicit|constexpr|extern|template|typename|auto|void|bool|int|char|unsigned|signed|long|short|double|float|override|final|default)$/
}
# The name a declaration line declares, or "" (calls, statements and expressions declare none).
function declared(line,   m, before, name, n, parts) {
  sub(/^[ \t]+/, "", line)
  if (line ~ /^namespace([ \t]|$)/) return ""
  if (match(line, /^(template[ \t]*<[^>]*>[ \t]*)?(class|struct|union|enum( class)?)[ \t]+[A-Za-z_][A-Za-z0-9_]*/)) {
    m = substr(line, RSTART, RLENGTH)
    sub(/.*[ \t]/, "", m)
    return m
  }
  if (match(line, /^using[ \t]+[A-Za-z_][A-Za-z0-9_]*[ \t]*=/)) {
    m = substr(line, RSTART, RLENGTH)
    sub(/^using[ \t]+/, "", m)
    sub(/[ \t]*=$/, "", m)
    return m
  }
  # A function: a type, then the (qualified) name and its parameters.
  if (match(line, /^[A-Za-z_][A-Za-z0-9_:<>,*& \t]*[ \t*&]~?[A-Za-z_][A-Za-z0-9_:]*[ \t]*\(/)) {
    m = substr(line, RSTART, RLENGTH)
    sub(/[ \t]*\($/, "", m)
    before = m
    sub(/~?[A-Za-z_][A-Za-z0-9_:]*$/, "", before)
    name = substr(m, length(before) + 1)
    sub(/^~/, "", name)
    n = split(name, parts, "::")
    split(before, first, /[ \t*&<]/)
    return statement(first[1]) || keyword(parts[n]) ? "" : parts[n]
  }
  # A variable: a type, then the name and its initialiser or end.
  if (match(line, /^[A-Za-z_][A-Za-z0-9_:<>,*& \t]*[ \t*&][A-Za-z_][A-Za-z0-9_]*[ \t]*(\{|=|;|\[)/)) {
    m = substr(line, RSTART, RLENGTH)
    sub(/[ \t]*[{=;[]$/, "", m)
    before = m
    sub(/[A-Za-z_][A-Za-z0-9_]*$/, "", before)
    split(before, first, /[ \t*&<]/)
    name = substr(m, length(before) + 1)
    return statement(first[1]) || keyword(name) ? "" : name
  }
  return ""
}
FNR == 1 { top = 0; blocks = 0; depth = 0; inComment = 0 }
{
  line = $0
  # Comments and literals say nothing of what is declared, and their braces do not count.
  if (inComment) {
    if (index(line, "*/") == 0) next
    line = substr(line, index(line, "*/") + 2)
    inComment = 0
  }
  gsub(/\/\*[^*]*\*+([^\/*][^*]*\*+)*\//, "", line)
  if (match(line, /\/\*/)) { line = substr(line, 1, RSTART - 1); inComment = 1 }
  gsub(/"([^"\\]|\\.)*"/, "\"\"", line)
  gsub(/\047([^\047\\]|\\.)*\047/, "0", line)
  sub(/\/\/.*/, "", line)

  if (line ~ /^[ \t]*#[ \t]*if/) {
    ++top
    seam[top] = line ~ /^[ \t]*#[ \t]*if[ \t]+TASKVANE_TEST_SEAMS[ \t]*$/
    side[top] = "then"
    level[top] = blocks
    next
  }
  if (line ~ /^[ \t]*#[ \t]*el/) { side[top] = "else"; next }
  if (line ~ /^[ \t]*#[ \t]*endif/) { if (top > 0) --top; next }
  if (line ~ /^[ \t]*#/) next

  # The innermost seam block this line lies in, and on which side.
  where = ""
  for (i = top; i >= 1; --i)
    if (seam[i]) { where = side[i]; at = level[i]; break }
  if (where != "" && blocks == at) {
    name = declared(line)
    if (name != "") {
      if (where == "then") seams[name] = 1
      else kept[name] = 1
    }
  }
  # Braces: a namespace opens no level of its own, everything else does.
  rest = line
  while (match(rest, /[{}]/)) {
    c = substr(rest, RSTART, 1)
    head = substr(rest, 1, RSTART - 1)
    rest = substr(rest, RSTART + 1)
    if (c == "{") {
      kind[++depth] = head ~ /(^|[^A-Za-z0-9_])namespace([ \t]+[A-Za-z0-9_:]*)?[ \t]*$/ ? "n" : "b"
      if (kind[depth] == "b") ++blocks
    } else if (depth > 0) {
      if (kind[depth] == "b") --blocks
      --depth
    }
  }
}
END {
  for (name in seams)
    if (!(name in kept)) print name
}' | LC_ALL=C sort -u
