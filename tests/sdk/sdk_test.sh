#!/usr/bin/env bash
# The SDK as a developer receives it, made by scripts/dist.sh from the trees
# X64 and X86 into X64/sdk-test:   sdk_test.sh X64 X86 dist|layout|guide|wine
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
X64=$(cd "$1" && pwd); X86=$2; STEP=$3; W=$X64/sdk-test
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$STEP" = dist ] || SDK=$(echo "$W"/unpacked/MorvoxUSB-SDK-*)
OBJDUMP=x86_64-w64-mingw32-objdump

case $STEP in
dist)
  rm -rf "$W"
  bash "$ROOT/scripts/dist.sh" --trees "$X64" "$X86" "$W/dist"
  mkdir -p "$W/unpacked"
  (cd "$W/unpacked" && unzip -q "$W"/dist/MorvoxUSB-SDK-*-win.zip) ;;

layout)
  # Exactly the deliverables: nothing of the tests or the build.
  files=(include/mxusbd.h bin/x64/{mxuapp64.exe,mxusbd64.dll} bin/x86/mxusbd.dll
    lib/x64/{libmxusbd64.dll.a,mxusbd64.def,mxusbd64.lib} lib/x86/{libmxusbd.dll.a,mxusbd.def,mxusbd.lib}
    lib/cmake/MorvoxUsb/MorvoxUsb{Config,ConfigVersion,Targets-x64,Targets-x64-release,Targets-x86,Targets-x86-release}.cmake
    sim/{README.txt,mxsimctl.exe,mxusb.sys} examples/{CMakeLists.txt,speak.c} docs/{README.md,guide.md})
  diff -u <(printf '%s\n' "${files[@]}" | LC_ALL=C sort) \
    <(cd "$SDK" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) || fail "archive layout"
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$X64/CMakeCache.txt")
  [ "$SDK" = "$W/unpacked/MorvoxUSB-SDK-$version" ] || fail "archive folder $SDK, version $version"
  # System DLLs only (the utility: and its library); the project VERSION in
  # every version resource.
  for f in "$SDK"/bin/*/*.dll "$SDK"/bin/*/*.exe "$SDK"/sim/*.exe "$SDK"/sim/*.sys; do
    allowed='KERNEL32|USER32|GDI32|COMCTL32|ADVAPI32|msvcrt'
    [ "${f##*/}" = mxuapp64.exe ] && allowed="$allowed|mxusbd64"
    [ "${f##*/}" = mxusb.sys ] && allowed=ntoskrnl
    imports=$($OBJDUMP -p "$f" | sed -n 's/.*DLL Name: //p')
    bad=$(echo "$imports" | grep -viE "^($allowed)\.(dll|exe)$" || true)
    [ -n "$imports" ] && [ -z "$bad" ] || fail "${f#"$SDK"/} imports: $imports"
    strings -el "$f" | grep -qx "$version.0" || fail "${f#"$SDK"/}: no version $version.0"
  done ;;

guide)
  # Every C example of the guide builds against the header and the import
  # library of each bitness, and links (so every name it calls exists).
  rm -rf "$W/guide"; mkdir -p "$W/guide"
  n=$(awk -v d="$W/guide" '/^```c$/ {f = d "/block" ++n ".c"; next} /^```/ {f = ""; next}
        f {print > f} END {print n + 0}' "$SDK/docs/guide.md")
  [ "$n" -ge 4 ] || fail "the guide has $n C examples"
  for arch in x64:x86_64:mxusbd64 x86:i686:mxusbd; do
    IFS=: read -r dir triple lib <<<"$arch"
    for c in "$W"/guide/block*.c; do
      "$triple-w64-mingw32-gcc" -std=c99 -Wall -Wextra -Werror -I"$SDK/include" -c "$c" -o "${c%.c}-$dir.o" ||
        fail "guide example ${c##*/} ($dir)"
    done
    "$triple-w64-mingw32-gcc" -shared -o "$W/guide/guide-$dir.dll" "$W"/guide/*-"$dir".o \
      -L"$SDK/lib/$dir" -l"$lib" || fail "guide examples do not link ($dir)"
  done
  echo "$n guide examples built, both bitnesses" ;;

wine)
  [ -n "${MX_SDK_IN_XVFB:-}" ] || exec env MX_SDK_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
  export MX_WINEPREFIX=$X64/wine-sdk
  SIMDRV=$ROOT/scripts/simdrv.sh
  "$SIMDRV" down >/dev/null 2>&1; rm -rf "$MX_WINEPREFIX"  # a fresh copy of the shared prefix
  trap '"$SIMDRV" down >/dev/null 2>&1' EXIT
  "$SIMDRV" up "$X64"
  source "$ROOT/scripts/wine-env.sh"
  B=$W/consumers; rm -rf "$B"
  # speak.c four ways: MinGW through the CMake package, Visual C++ mode with the .lib.
  for arch in x64:x86_64:mxusbd64:run x86:i686:mxusbd:run32; do
    IFS=: read -r dir triple lib run <<<"$arch"
    cmake -S "$SDK/examples" -B "$B/mingw-$dir" -G Ninja -DCMAKE_PREFIX_PATH="$SDK" \
      -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-$triple.cmake" >/dev/null || fail "configure mingw-$dir"
    cmake --build "$B/mingw-$dir" >/dev/null || fail "build mingw-$dir"
    mkdir -p "$B/msvc-$dir"; cd "$B/msvc-$dir"
    printf '%s\n' '#include <stdlib.h>' 'int __cdecl __getmainargs(int *, char ***, char ***, int, int *);' \
      'int main(int, char **);' 'void mx_entry(void) { int c, s = 0; char **v, **e;' \
      '  __getmainargs(&c, &v, &e, 0, &s); exit(main(c, v)); }' >entry.c
    x86=(); [ "$dir" = x86 ] && x86=(/D_X86_)
    clang-cl-14 --target="$triple-pc-windows-msvc" /c /O2 /GS- -imsvc /usr/share/mingw-w64/include \
      /clang:-fgnuc-version=4.2.1 /D__USE_MINGW_ANSI_STDIO=0 "${x86[@]}" /I"$SDK/include" \
      -- "$SDK/examples/speak.c" entry.c >/dev/null || fail "clang-cl $dir"
    [ "$dir" = x86 ] && x86=(/safeseh:no)
    lld-link-14 /machine:"$dir" /nodefaultlib /subsystem:console /entry:mx_entry /out:mxspeak.exe \
      speak.obj entry.obj "$SDK/lib/$dir/$lib.lib" /libpath:/usr/"$triple"-w64-mingw32/lib \
      libmsvcrt.a libkernel32.a "${x86[@]}" || fail "lld-link $dir"
    cp "$SDK/bin/$dir/$lib.dll" .
    for kind in mingw msvc; do
      line="Spoken by the $kind $dir build."
      "$SIMDRV" ctl clear >/dev/null
      out=$(timeout 120 "$SIMDRV" "$run" "$B/$kind-$dir/mxspeak.exe" "$line") || fail "$kind-$dir exit status"
      echo "$out" | grep -q '^index byte 0x' || fail "$kind-$dir got no index byte: $out"
      "$SIMDRV" ctl transcript | grep -qF "$line" || fail "$kind-$dir: the unit did not speak it"
      echo "$kind-$dir: spoke, index byte back"
    done
  done
  # The installer, silently: files, Start-menu entry, uninstall entry.
  timeout 120 "$WINE64" "$(echo "$W"/dist/*-setup.exe)" /S || fail "setup.exe /S"
  C=$WINEPREFIX/drive_c; DIR="$C/Program Files/Morvox USB SDK"
  LNK="$C/ProgramData/Microsoft/Windows/Start Menu/Programs/Morvox USB SDK/Morvox USB Utility.lnk"
  KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\MorvoxUsbSdk'
  diff <(cd "$SDK" && find . -type f | sort) <(cd "$DIR" && find . -type f ! -name uninstall.exe | sort) ||
    fail "installed files"
  [ -f "$DIR/uninstall.exe" ] && [ -f "$LNK" ] || fail "no uninstaller or Start-menu entry"
  reg=$("$WINE64" reg query "$KEY" | tr -d '\r')
  for v in "DisplayName.*Morvox USB SDK" "DisplayVersion.*${SDK##*-}" "Publisher.*Morvox" \
           'UninstallString.*"C:\\Program Files\\Morvox USB SDK\\uninstall.exe"$' 'QuietUninstallString.*uninstall.exe" /S$'; do
    echo "$reg" | grep -q "$v" || fail "uninstall entry lacks $v: $reg"
  done
  # The installed utility starts (its main window, kept as a screenshot) and closes.
  mkdir -p "$X64/test-output/sdk"; shot=$X64/test-output/sdk/mxuapp64-installed.png; rm -f "$shot"
  (cd "$DIR/bin/x64" && exec "$WINE64" mxuapp64.exe) & app=$!
  for _ in $(seq 60); do xwininfo -name "Morvox USB SPEECH UTILITY" >/dev/null 2>&1 && break; sleep 1; done
  xwininfo -name "Morvox USB SPEECH UTILITY" >/dev/null 2>&1 || { kill "$app"; fail "the installed utility shows no main window"; }
  sleep 1; timeout 30 import -window root "$shot" || fail "no screenshot"
  timeout 60 "$WINE64" taskkill /im mxuapp64.exe >/dev/null
  for _ in $(seq 30); do kill -0 "$app" 2>/dev/null || break; sleep 1; done
  kill -0 "$app" 2>/dev/null && { kill "$app"; fail "the utility did not close"; }
  # The silent uninstall leaves nothing behind.
  timeout 120 "$WINE64" "$DIR/uninstall.exe" /S
  for _ in $(seq 60); do [ -e "$DIR" ] || break; sleep 1; done
  [ ! -e "$DIR" ] && [ ! -e "${LNK%/*}" ] || fail "left behind: $(find "$DIR" "${LNK%/*}" 2>/dev/null)"
  ! "$WINE64" reg query "$KEY" >/dev/null 2>&1 || fail "the uninstall entry is still there"
  echo "installer, utility and uninstaller: ok" ;;
*) fail "unknown step $STEP" ;;
esac
