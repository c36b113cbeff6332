#!/usr/bin/env bash
# Size of the tests against the code they test.
# Counts the non-blank lines of the tracked .cpp/.h files that are not only
# comment (// lines and the inside of /* */ blocks). "tests" is everything
# under tests/; "code" is every other .cpp/.h except bench/ (the simulator,
# tools/ and fuzz/ count as code). Prints both counts and the ratio.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {
  # Reads file names on stdin; prints the summed count.
  xargs -r awk '
    FNR == 1 { inblock = 0 }
    {
      line = $0
      out = ""
      while (length(line) > 0) {
        if (inblock) {
          p = index(line, "*/")
          if (p == 0) { line = ""; break }
          line = substr(line, p + 2); inblock = 0
        } else {
          p = index(line, "/*"); q = index(line, "//")
          if (q > 0 && (p == 0 || q < p)) { out = out substr(line, 1, q - 1); line = ""; break }
          if (p == 0) { out = out line; line = ""; break }
          out = out substr(line, 1, p - 1); line = substr(line, p + 2); inblock = 1
        }
      }
      if (out ~ /[^ \t\r]/) n++
    }
    END { print n + 0 }' | awk '{ s += $1 } END { print s + 0 }'
}

files() { git ls-files -- '*.cpp' '*.h'; }

tests=$(files | grep '^tests/' | count)
code=$(files | grep -v -e '^tests/' -e '^bench/' | count)
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests %d  code %d  ratio %.1f %%\n", t, c, 100 * t / c }'
