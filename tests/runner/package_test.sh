#!/bin/sh
# The Debian package: built with cpack from the build folder, unpacked with
# dpkg -x into a throwaway root, and its programs run from there: velmar
# --version, a packed application made by the unpacked velmar, and vlmpack
# with the boot file of the XDG home folder.
#   package_test.sh BUILD_DIR
set -eu
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "package test: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work/pkg" >"$work/cpack.log" 2>&1) ||
  { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb=$(ls "$work"/pkg/*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no .deb was made"

depends=$(dpkg-deb -f "$deb" Depends)
dpkg-deb -c "$deb" >"$work/contents"
for dep in libssl3 libmariadb3 libodbc2 libffi8 odbc-mdbtools libsqliteodbc tdsodbc; do
  echo "$depends" | grep -q "$dep" || fail "Depends lacks $dep: $depends"
done
if echo "$depends" | grep -q duktape; then fail "Duktape is compiled in, yet a dependency"; fi
# The desktop programs bring Qt with them when they are built.
if grep -q './usr/bin/tamarind$' "$work/contents" ||
   ldd "$build/vlmpack" 2>/dev/null | grep -q libQt6Widgets; then
  echo "$depends" | grep -q qt6-qpa-plugins || fail "Depends lacks the Qt platform plugins"
  echo "$depends" | grep -q libqt6widgets6 || fail "Depends lacks Qt 6: $depends"
  echo "$depends" | grep -q libqt6webengine || fail "Depends lacks Qt WebEngine: $depends"
fi
for f in ./usr/bin/velmar ./usr/bin/vlmpack ./usr/share/icons/hicolor/scalable/apps/vlmpack.svg \
         ./usr/share/applications/vlmpack.desktop; do
  grep -q " $f\$" "$work/contents" || fail "the package lacks $f"
done

# The manual and the manual pages, when this build rendered them.
if [ -f "$build/docs/manual/index.html" ]; then
  grep -q ' ./usr/share/velmar/manual/index.html$' "$work/contents" || fail "the package lacks the manual"
  for page in velmar tamarind vlmpack; do
    grep -q " ./usr/share/man/man1/$page.1.gz\$" "$work/contents" || fail "the package lacks $page(1)"
  done
fi
# The examples with their site, and what every Debian package documents.
for f in ./usr/share/velmar/examples/Script/hello.vlm ./usr/share/velmar/examples/site/serve.py \
         ./usr/share/velmar/examples/site/www/products.html ./usr/share/doc/velmar/copyright \
         ./usr/share/doc/velmar/changelog.gz; do
  grep -q " $f\$" "$work/contents" || fail "the package lacks $f"
done
# The interface's Chinese labels need a font that has their glyphs.
if grep -q './usr/bin/tamarind$' "$work/contents"; then
  echo "$depends" | grep -q "fonts-noto-cjk" || fail "Depends names no CJK font: $depends"
fi

# Debian's own checks: no error (warnings are listed).
if command -v lintian >/dev/null 2>&1; then
  lintian --tag-display-limit 0 "$deb" >"$work/lintian" 2>&1 || true
  if grep -q '^E: ' "$work/lintian"; then cat "$work/lintian" >&2; fail "lintian found errors"; fi
  grep '^W: ' "$work/lintian" >&2 || true
elif [ "${CI:-}" = true ]; then
  fail "lintian is not installed"
else
  echo "package test: lintian not installed; its checks are skipped" >&2
fi

root="$work/root"
dpkg -x "$deb" "$root"
version=$("$root/usr/bin/velmar" --version) || fail "velmar --version failed"
[ "$version" = "velmar $(dpkg-deb -f "$deb" Version)" ] || fail "unexpected version: $version"

# A packed application made by the unpacked velmar (which finds vlmpack
# beside itself) runs headless from its own folder.
mkdir -p "$work/src"
printf 'show packed [#param]\n' >"$work/src/main.vlm"
"$root/usr/bin/velmar" pack "$work/src" "$work/app" --appname Demo >/dev/null ||
  fail "velmar pack failed"
out=$("$work/app/vlmpack" --headless) || fail "the packed application failed"
[ "$out" = "$(printf 'show: packed \nstate: exit')" ] || fail "packed application printed: $out"

# Installed programs use the XDG home folder.
xdg="$work/xdg"
mkdir -p "$xdg/velmar/Script"
printf 'show from xdg [#param]\n' >"$xdg/velmar/Script/x.vlm"
printf 'X^x.vlm^home\n' >"$xdg/velmar/Velmar.boot"
out=$(env -u VELMAR_HOME XDG_DATA_HOME="$xdg" "$root/usr/bin/vlmpack" --headless) ||
  fail "vlmpack from the XDG home failed"
[ "$out" = "$(printf 'show: from xdg home\nstate: exit')" ] || fail "vlmpack printed: $out"
out=$(env -u VELMAR_HOME XDG_DATA_HOME="$xdg" "$root/usr/bin/velmar" run x) ||
  fail "velmar run from the XDG home failed"
[ "$out" = "$(printf 'show: from xdg \nstate: exit')" ] || fail "velmar run printed: $out"
# velmar pack --deb: a Debian package of the application, lintian clean,
# installed under /opt with a menu entry and removed again.
mkdir -p "$work/debsrc" "$work/apps"
printf 'show from the app deb\n' >"$work/debsrc/main.vlm"
"$root/usr/bin/velmar" pack "$work/debsrc" "$work/apps/Deb Demo" --appname "Deb Demo" --deb \
  --deb-name velmar-deb-demo --deb-version 2.1 --maintainer "Test Maker <test@example.org>" \
  >"$work/pack.log" 2>&1 || { cat "$work/pack.log" >&2; fail "velmar pack --deb failed"; }
appdeb="$work/apps/velmar-deb-demo_2.1_$(dpkg --print-architecture).deb"
[ -f "$appdeb" ] || fail "velmar pack --deb made no $appdeb"
[ "$(dpkg-deb -f "$appdeb" Maintainer)" = "Test Maker <test@example.org>" ] || fail "wrong maintainer"
dpkg-deb -f "$appdeb" Depends | grep -q libsqliteodbc || fail "the application lacks the runtime packages"
if command -v lintian >/dev/null 2>&1; then
  lintian --tag-display-limit 0 "$appdeb" >"$work/applintian" 2>&1 || true
  if grep -q '^E: ' "$work/applintian"; then cat "$work/applintian" >&2; fail "lintian: errors in the application package"; fi
fi
if [ "$(id -u)" -eq 0 ] && ! dpkg-query -W velmar-deb-demo >/dev/null 2>&1; then
  dpkg -i "$appdeb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -i of the application failed"; }
  installed_ok=true
  [ -f /usr/share/applications/velmar-deb-demo.desktop ] || installed_ok=false
  grep -q '^Exec="/opt/velmar-deb-demo/start"$' /usr/share/applications/velmar-deb-demo.desktop || installed_ok=false
  out=$(/opt/velmar-deb-demo/start --headless 2>/dev/null) || installed_ok=false
  dpkg -r velmar-deb-demo >>"$work/dpkg.log" 2>&1 || fail "dpkg -r of the application failed"
  [ ! -e /opt/velmar-deb-demo ] || fail "dpkg -r left /opt/velmar-deb-demo"
  $installed_ok || fail "the installed application did not start from its menu entry's program"
  [ "$out" = "$(printf 'show: from the app deb\nstate: exit')" ] || fail "the installed application printed: $out"
elif [ "${CI:-}" = true ]; then
  fail "installing the application package needs root (and no earlier velmar-deb-demo)"
fi

# An installed example is found by its name when the home folder has none.
out=$(env -u VELMAR_HOME XDG_DATA_HOME="$xdg" "$root/usr/bin/velmar" run hello) ||
  fail "velmar run hello did not find the installed example"
echo "$out" | grep -q '^right: the sum of 1, 2 and 3 is 6$' || fail "the example hello printed: $out"
# The templates for servers, and the container's install steps run into a
# throwaway root: its user, its home folder and its entry point.
for f in ./usr/share/velmar/systemd/velmar@.service ./usr/share/velmar/systemd/velmar@.timer \
         ./usr/share/velmar/kubernetes/velmar-job.yaml ./usr/share/velmar/kubernetes/velmar-cronjob.yaml \
         ./usr/share/velmar/kubernetes/velmar-config.yaml ./usr/share/velmar/container/Containerfile \
         ./usr/share/velmar/container/install.sh; do
  grep -q " $f\$" "$work/contents" || fail "the package lacks $f"
done
croot="$work/container"
steps="$root/usr/share/velmar/container"
grep -q '^RUN sh /tmp/velmar/install.sh ' "$steps/Containerfile" || fail "the Containerfile does not run install.sh"
VELMAR_ROOT="$croot" sh "$steps/install.sh" "$deb" || fail "the container's install steps failed"
grep -q '^velmar:x:10001:10001:' "$croot/etc/passwd" || fail "the container has no user velmar"
[ "$(stat -c %a "$croot/var/lib/velmar")" = 700 ] || fail "the container's home folder is not private"
grep -q '^USER 10001:10001$' "$steps/Containerfile" || fail "the container does not run as its user"
entry=$(sed -n 's/^ENTRYPOINT \[\(.*\)\]$/\1/p' "$steps/Containerfile" | tr -d '",')
[ "$entry" = "/usr/bin/velmar run --jsonl --home /var/lib/velmar" ] || fail "unexpected entry point: $entry"
printf 'show in the container\n' >"$croot/var/lib/velmar/Script/main.vlm"
# The entry point with the default argument, its paths inside the root.
out=$("$croot/usr/bin/velmar" run --jsonl --home "$croot/var/lib/velmar" main) ||
  fail "the container's entry point failed"
echo "$out" | head -n 1 | grep -q '^{"script":1,"name":"main",.*"kind":"show","text":"in the container"}$' ||
  fail "the container's entry point printed: $out"

echo "package test: $(basename "$deb") passed"
