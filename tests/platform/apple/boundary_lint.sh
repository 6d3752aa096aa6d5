#!/bin/sh
# Fails when an Objective-C block literal in the given files does anything but
# run its work inside answer::atBoundary. Frameworks call these blocks from
# their own frames, which a C++ exception must never cross; the boundary ends
# the run through the tool's fallback instead. A block's body must be empty,
# or be exactly one call `answer::atBoundary(...);`.
#
# Usage: boundary_lint.sh FILE...
# Comments, string and character literals are ignored (raw strings are not
# recognised). A caret counts as a block literal when a brace follows it,
# after an optional return type and an optional parameter list; block types
# such as `void (^)(int)` are not literals. Finding no block literal at all
# fails too, since the layer has some and a lint that sees none is broken.

set -u

if [ "$#" -eq 0 ]; then
  echo "usage: $0 FILE..." >&2
  exit 2
fi

status=0
total=0
for file in "$@"; do
  if [ ! -r "$file" ]; then
    echo "boundary_lint: cannot read $file" >&2
    exit 1
  fi
  # The awk program prints the number of block literals it checked last.
  found=$(awk -v file="$file" '
    { text = text $0 "\n" }

    function isIdent(c) { return c ~ /[A-Za-z0-9_]/ }

    # The text with comments and the contents of string and character
    # literals turned into spaces, line breaks kept, so positions and line
    # numbers stay those of the file.
    function blanked(text,    out, n, i, c, next2, inNumber, prev) {
      out = ""; n = length(text); inNumber = 0; prev = ""
      for (i = 1; i <= n; i++) {
        c = substr(text, i, 1); next2 = substr(text, i, 2)
        if (inNumber && c !~ /[A-Za-z0-9_.\047]/) inNumber = 0
        if (!inNumber && c ~ /[0-9]/ && !isIdent(prev)) inNumber = 1
        if (inNumber) { out = out c; prev = c; continue }
        if (next2 == "//") {
          while (i <= n && substr(text, i, 1) != "\n") { out = out " "; i++ }
          i--; prev = " "; continue
        }
        if (next2 == "/*") {
          out = out "  "; i += 2
          while (i <= n && substr(text, i, 2) != "*/") {
            out = out (substr(text, i, 1) == "\n" ? "\n" : " "); i++
          }
          out = out "  "; i++; prev = " "; continue
        }
        if (c == "\"" || c == "\047") {
          out = out c; i++
          while (i <= n && substr(text, i, 1) != c) {
            if (substr(text, i, 1) == "\\") { out = out " "; i++ }
            out = out (substr(text, i, 1) == "\n" ? "\n" : " "); i++
          }
          out = out c; prev = c; continue
        }
        out = out c; prev = c
      }
      return out
    }

    # The position of the bracket that closes the one at pos, or 0.
    function closing(code, pos, open, shut,    depth, n, c) {
      depth = 0; n = length(code)
      for (; pos <= n; pos++) {
        c = substr(code, pos, 1)
        if (c == open) depth++
        else if (c == shut && --depth == 0) return pos
      }
      return 0
    }

    function keepsBoundary(body,    call, shut) {
      sub(/^[ \t\n]+/, "", body)
      if (body == "") return 1
      call = "answer::atBoundary"
      if (substr(body, 1, length(call)) != call) return 0
      body = substr(body, length(call) + 1)
      sub(/^[ \t\n]+/, "", body)
      if (substr(body, 1, 1) != "(") return 0
      shut = closing(body, 1, "(", ")")
      if (shut == 0) return 0
      return substr(body, shut + 1) ~ /^[ \t\n]*;[ \t\n]*$/
    }

    END {
      code = blanked(text); n = length(code); blocks = 0; failed = 0
      for (i = 1; i <= n; i++) {
        if (substr(code, i, 1) != "^") continue
        j = i + 1
        # An optional return type, then an optional parameter list.
        while (j <= n && substr(code, j, 1) ~ /[A-Za-z0-9_:*&<> \t\n]/) j++
        if (substr(code, j, 1) == "(") {
          j = closing(code, j, "(", ")")
          if (j == 0) continue
          j++
          while (j <= n && substr(code, j, 1) ~ /[ \t\n]/) j++
        }
        if (substr(code, j, 1) != "{") continue
        shut = closing(code, j, "{", "}")
        blocks++
        if (shut == 0 || !keepsBoundary(substr(code, j + 1, shut - j - 1))) {
          before = substr(code, 1, i)
          line = gsub(/\n/, "", before) + 1
          printf "%s:%d: this block does not run its work inside answer::atBoundary\n", file, line > "/dev/stderr"
          failed = 1
        }
      }
      print blocks
      exit failed
    }
  ' "$file") || status=1
  total=$((total + ${found:-0}))
done

if [ "$total" -eq 0 ]; then
  echo "boundary_lint: no block literal found in $*" >&2
  exit 1
fi
echo "boundary_lint: $total blocks checked in $# files"
exit "$status"
