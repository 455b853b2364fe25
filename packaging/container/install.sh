#!/bin/sh
# The steps that install Velmar for unattended runs: the package with its
# dependencies, a user of its own (uid and gid 10001, so that Kubernetes can
# check runAsNonRoot), and its home folder /var/lib/velmar with Script/ and
# Temp/. The Containerfile runs them; so do the tests, into a throwaway
# root.
#   install.sh VELMAR_DEB
# With VELMAR_ROOT set, everything goes into that folder instead of /, and
# the package is unpacked there without its dependencies (the tests).
set -eu
deb=$1
root=${VELMAR_ROOT:-}
uid=10001
home=/var/lib/velmar

if [ -z "$root" ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update
  apt-get install -y --no-install-recommends "$deb"
  rm -rf /var/lib/apt/lists/*
  groupadd --system --gid "$uid" velmar
  useradd --system --uid "$uid" --gid velmar --home-dir "$home" --no-create-home \
    --shell /usr/sbin/nologin velmar
else
  dpkg-deb -x "$deb" "$root"
  mkdir -p "$root/etc"
  echo "velmar:x:$uid:" >>"$root/etc/group"
  echo "velmar:x:$uid:$uid::$home:/usr/sbin/nologin" >>"$root/etc/passwd"
fi
# The home folder is the user's alone: it holds Config.ini with passwords
# and cookies.txt.
install -d -m 700 "$root$home" "$root$home/Script" "$root$home/Temp"
if [ -z "$root" ] || [ "$(id -u)" = 0 ]; then chown -R "$uid:$uid" "$root$home"; fi
