#!/usr/bin/env bash
# A real Linux host loads the plug-in: in a fresh HOME and a temporary plug-in folder, Ardour 7's VST
# scanner reports it by its name, and a headless ardour7-lua session on the "None (Dummy)" backend
# inserts it into a stereo track and saves a session that holds it.
#   ardour_smoke.sh PLUGIN.so NAME [FILE|FOLDER ...]    the extras are copied beside the plug-in
# Exits 77 (skipped) without Ardour's scanner or ardour7-lua, 1 instead with ARDOUR_SMOKE_REQUIRED=1.
# With ARDOUR_SMOKE_EXPECT_EDITOR=1 the scanner's cache entry must also record an editor.
set -uo pipefail

if [ $# -lt 2 ]; then
  echo "usage: $0 PLUGIN.so NAME [FILE|FOLDER ...]" >&2
  exit 2
fi
plugin=$1 name=$2
shift 2

skip() {
  echo "ardour_smoke: $1"
  [ "${ARDOUR_SMOKE_REQUIRED:-0}" = 1 ] && exit 1
  exit 77
}
fail() {
  echo "ardour_smoke: FAILED: $1"
  exit 1
}

scanner=$(dpkg -L ardour 2>/dev/null | grep '/ardour-vst-scanner$' | head -n 1)
[ -n "$scanner" ] && [ -x "$scanner" ] || skip "ardour-vst-scanner is not installed (Debian package ardour)"
command -v ardour7-lua >/dev/null || skip "ardour7-lua is not installed (Debian package ardour)"
[ -f "$plugin" ] || fail "$plugin: no such plug-in file"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/vst"
cp "$plugin" "$work/vst/" || fail "$plugin cannot be copied"
for extra in "$@"; do
  cp -R "$extra" "$work/vst/" || fail "$extra cannot be copied"
done
so=$work/vst/$(basename "$plugin")
# The scan cache counts only for a plug-in older than the cache, in whole seconds.
touch -d '-10 seconds' "$so"

export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_CACHE_HOME=$work/home/.cache \
  XDG_DATA_HOME=$work/home/.local/share LXVST_PATH=$work/vst
unset VST_PATH

# ardour7-lua reads plug-ins from the scan cache only: scan first.
scan=$(LD_LIBRARY_PATH=$(dirname "$scanner") timeout 60 "$scanner" -f "$so" 2>&1)
scanned=$?
echo "$scan"
[ $scanned -eq 0 ] || fail "the scanner exited with $scanned"
grep -qE "Found Plugin: '.*' ${name}\$" <<<"$scan" || fail "the scanner did not report \"$name\""
if [ "${ARDOUR_SMOKE_EXPECT_EDITOR:-0}" = 1 ]; then
  cache=$(ls "$XDG_CACHE_HOME"/ardour7/vst/*.v2i 2>/dev/null | head -n 1)
  [ -n "$cache" ] || fail "the scanner wrote no cache entry under $XDG_CACHE_HOME/ardour7/vst"
  grep -q 'has_editor="1"' "$cache" || fail "the scanner's cache entry records no editor: $(cat "$cache")"
  echo "ardour_smoke: the scanner's cache entry records an editor"
fi

cat >"$work/smoke.lua" <<'EOF'
local folder, name = arg[1], arg[2]
assert(not AudioEngine:set_backend("None (Dummy)", "", ""):isnil(), "no None (Dummy) backend")
assert(create_session(folder, "smoke", 48000), "no session")
local tracks = Session:new_audio_track(2, 2, nil, 1, "Smoke", ARDOUR.PresentationInfo.max_order,
                                       ARDOUR.TrackMode.Normal, true)
assert(tracks:size() == 1, "no stereo track")
local plugin = ARDOUR.LuaAPI.new_plugin(Session, name, ARDOUR.PluginType.LXVST, "")
assert(not plugin:isnil(), "no plug-in named " .. name)
assert(tracks:front():add_processor_by_index(plugin, 0, nil, true) == 0, "the plug-in was not inserted")
Session:save_state("", false, false, false, false, false)
close_session()
print("session saved with " .. name)
EOF
# It may abort at teardown after succeeding (rc 134): the saved session decides.
(cd "$work" && timeout 120 ardour7-lua smoke.lua "$work/session" "$name" 2>&1)
ran=$?
session=$work/session/smoke.ardour
[ -f "$session" ] || fail "ardour7-lua (exit $ran) saved no session"
grep -qE "<Processor [^>]*name=\"${name}\"[^>]*type=\"lxvst\"" "$session" ||
  fail "the saved session (ardour7-lua exit $ran) holds no plug-in \"$name\""
echo "ardour_smoke: the scanner found \"$name\" and a saved session holds it (ardour7-lua exit $ran)"
