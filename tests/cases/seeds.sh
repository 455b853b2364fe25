#!/usr/bin/env bash
# Cuts the scripts and the server replies out of the behaviour cases, as
# seeds of the fuzz targets that read them:
#   tests/cases/seeds.sh OUTPUT_FOLDER
# writes OUTPUT_FOLDER/script_fuzz/<case>[-N] (byte 0 picks UTF-8 and the
# command line's keywords, as script_fuzz.cpp reads it) and
# OUTPUT_FOLDER/response_fuzz/<case>-N (byte 0 sets the sizes of the pieces).
# The places ({{port}}, {{url}}, {{home}}) get fixed values; the options
# `escapes` and `noeol` are not applied, which only makes a seed a little
# different.
set -euo pipefail
cd "$(dirname "$0")"
out=$1
mkdir -p "$out/script_fuzz" "$out/response_fuzz"
for file in *.case; do
  awk -v name="${file%.case}" -v out="$out" '
    function flush() {
      if (section == "script" || section == "reply") {
        target = section == "script" ? "script_fuzz" : "response_fuzz"
        path = out "/" target "/" name "-" (++count[section])
        printf "%s%s", (section == "script" ? "\002" : "Z"), text > path
        close(path)
      }
      text = ""
    }
    /^--- / {
      flush()
      section = $2
      crlf = 0
      for (i = 3; i <= NF; i++) if ($i == "crlf") crlf = 1
      next
    }
    {
      line = $0
      gsub(/\{\{url\}\}/, "http://127.0.0.1:8080", line)
      gsub(/\{\{port\}\}/, "8080", line)
      gsub(/\{\{home\}\}/, "/tmp/velmar-home", line)
      text = text line (crlf ? "\r\n" : "\n")
    }
    END { flush() }
  ' "$file"
done
