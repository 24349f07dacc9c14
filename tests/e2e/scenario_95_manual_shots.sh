# The manual's pictures, taken from the real program: every window and
# dialog the manual shows, cropped to the window, as build/manual/shots/NAME.png
# (QV_MANUAL_SHOTS to put them elsewhere), the names those of manual/shots.txt.
# The manual's build (manual/build-chm.sh) takes whatever is there. A window
# that does not open here (an editor not built yet, no VST plug-in) is
# skipped with a note, not a failed check; the checks are that the shots
# that must exist do, and that each is a real, non-empty picture.
# Sourced by run.sh (lib.sh already loaded, services running).
# shellcheck shell=bash

shots="${QV_MANUAL_SHOTS:-$qv_root/build/manual/shots}"
mkdir -p "$shots"
taken=()
skipped=()

# Live input runs on the test sinks so the meters show; the frame at
# (100, 50)-(900, 630) and the Master Section at the MDI client's corner.
qv_reg_delete_key "$QV_KEY"
qv_reg_add "$QV_KEY" AppDir REG_SZ "$(qv_winpath "$QV_STAGE")\\"
qv_seed_devices
# A VST folder holding one test plug-in, whose generic editor the manual shows.
vst_dir="$QV_E2E_DIR/shots_vst"
rm -rf "$vst_dir"
mkdir -p "$vst_dir"
cp "$(dirname "$QV_STAGE")/testmodules/tvst_stereo.dll" "$vst_dir/Stereo Tone.dll" 2>/dev/null
qv_reg_add "$QV_KEY" VSTDir REG_SZ "$(qv_winpath "$vst_dir")\\"
qv_reg_add "$QV_KEY" ww001 REG_BINARY 0100000064000000840300003200000076020000
# The meters one above the other without overlapping: input at (40, 100),
# output at (40, 184).
qv_reg_add "$QV_KEY" ww002 REG_BINARY 000000000000000000280000006400000028000000b8000000

# shot NAME HWND: the window's rectangle on the virtual desktop, cut out of
# the screen. The pictures are replaced only by good ones.
shot() {
  local name=$1 hwnd=$2 rect l t r b
  rect=$(qvd rects "$hwnd" | head -1 | cut -f6)
  read -r l t r b <<<"$rect"
  if [ -z "$b" ] || [ $((r - l)) -lt 8 ] || [ $((b - t)) -lt 8 ]; then
    skipped+=("$name (no rectangle)")
    return 1
  fi
  # Nothing outside the 1280 x 1024 desktop.
  [ "$l" -lt 0 ] && l=0
  [ "$t" -lt 0 ] && t=0
  [ "$r" -gt 1280 ] && r=1280
  [ "$b" -gt 1024 ] && b=1024
  sleep 0.4 # let it paint
  if timeout 20 import -display "$DISPLAY" -window root -crop "$((r - l))x$((b - t))+$l+$t" +repage \
    "png:$shots/$name.png.tmp" >/dev/null 2>&1 && [ -s "$shots/$name.png.tmp" ]; then
    mv -f "$shots/$name.png.tmp" "$shots/$name.png"
    taken+=("$name")
  else
    rm -f "$shots/$name.png.tmp"
    skipped+=("$name (screen capture failed)")
    return 1
  fi
}

# skip NAME WHY: a window that is not there, noted in the results.
skip() {
  skipped+=("$1 ($2)")
  echo "note: $QV_SCENARIO: no picture of $1: $2"
}

# child_of PARENT CLASS [ID]: the first child window of that class (and id).
child_of() {
  qvd children "$1" | awk -F'\t' -v c="$2" -v i="${3:-}" '$2 == c && (i == "" || $3 == i) { print $1; exit }'
}

# dialog_shot NAME COMMAND TITLE CLOSE-ID [TARGET]: posts COMMAND (to the
# frame, or TARGET), waits for the dialog titled TITLE, takes it, closes it
# with the button CLOSE-ID.
dialog_shot() {
  local dialog
  qvd post-command "${5:-$FRAME}" "$2" >/dev/null
  if dialog=$(qv_wait_window "#32770" "$3" 10); then
    shot "$1" "$dialog"
    qvd post-command "$dialog" "$4" >/dev/null
    QV_DRIVE_LIMIT=20 qvd wait-gone "$dialog" 10 >/dev/null || qvd close "$dialog" >/dev/null
    sleep 0.3
  else
    skip "$1" "no dialog \"$3\""
  fi
}

# editor_shot NAME TREE-PATH FRAME-CLASS: the plug-in at TREE-PATH into slot
# 1 ("&Select"), its editor frame opened ("Show &Editor"), taken and closed.
editor_shot() {
  local dialog editor=
  qvd post-command "$PANE" 114 >/dev/null
  if ! dialog=$(qv_wait_window "#32770" "Select Effect:" 10); then
    skip "$1" "no Select Effect dialog"
    return 1
  fi
  if ! qvd tree "$dialog" "$2" >/dev/null; then
    qvd post-command "$dialog" 2 >/dev/null
    skip "$1" "$2 is not listed"
    return 1
  fi
  qvd post-command "$dialog" 1011 >/dev/null
  QV_DRIVE_LIMIT=20 qvd wait-gone "$dialog" 10 >/dev/null
  sleep 0.5
  qvd post-command "$PANE" 113 >/dev/null
  for _ in $(seq 10); do
    editor=$(child_of "$FRAME" "$3")
    [ -n "$editor" ] && break
    sleep 0.5
  done
  if [ -z "$editor" ]; then
    skip "$1" "its editor did not open"
    return 1
  fi
  shot "$1" "$editor"
  qvd close "$editor" >/dev/null
  sleep 0.3
}

qv_watch_start shots.boxes "Configure Audio Settings=NO" "text:*Performance was changed*=NO" \
  "Refresh Plugins List=NO" "*=OK"
qv_start
# The start-up scan under the splash picture: a caption-less dialog.
if splash=$(qv_wait_window "#32770" "" 30); then
  shot splash "$splash"
else
  skip splash "the start-up scan was over before it could be taken"
fi
if ! FRAME=$(qv_wait_window Quorvane_Main_Class - 40); then
  qv_fail "no frame within 40 s"
  qv_stop
  return 0
fi
sleep 2

# ---- the Master Section, its chain, the Select Effect dialog, the editors
# The Master Section is an MDI child (of the program's class for it).
qvd post-command "$FRAME" 32800 >/dev/null
for _ in $(seq 20); do
  MASTER=$(child_of "$FRAME" Quorvane_MDIClient_Class)
  [ -n "$MASTER" ] && break
  sleep 0.5
done
if [ -n "$MASTER" ]; then
  shot master_section "$MASTER"
  PANE=$(child_of "$MASTER" Quorvane_FX_Class)
  # "&Select" of the chain pane's menu, for slot 1 (no slot clicked yet).
  qvd post-command "$PANE" 114 >/dev/null
  if dialog=$(qv_wait_window "#32770" "Select Effect:" 10); then
    qvd tree "$dialog" "Quorvane Plugins/reverb" >/dev/null
    shot select_effect "$dialog"
    qvd post-command "$dialog" 1011 >/dev/null
    QV_DRIVE_LIMIT=20 qvd wait-gone "$dialog" 10 >/dev/null
  else
    skip select_effect "no Select Effect dialog"
  fi
  # Each built-in effect in slot 1 in turn, its editor from "Show &Editor";
  # after the pane's picture, the VST plug-in's generic editor.
  for effect in chorus flanger echo reverb; do
    editor_shot "$effect" "Quorvane Plugins/$effect" Default_Wrapper_Editor
  done
  shot chain_pane "$PANE"
  editor_shot vst_editor "VST Plugins/Stereo Tone" VST_Wrapper_Editor
else
  skip master_section "the Master Section did not open"
fi

# ---- the main window's parts and the whole window
shot main_window "$FRAME"
if toolbar=$(child_of "$FRAME" Quorvane_Toolbar_Class) && [ -n "$toolbar" ]; then shot toolbar "$toolbar"; else skip toolbar "not found"; fi
if bar=$(child_of "$FRAME" "#32770") && [ -n "$bar" ]; then shot accompaniment_bar "$bar"; else skip accompaniment_bar "not found"; fi

# ---- dialogs
dialog_shot audio_settings 32771 "Audio Settings:" 1046
dialog_shot recording 32794 "Recording:" 1102
dialog_shot about 104 "About Quorvane Live" 1
dialog_shot vst_directory 32777 "Browse for Folder" 2
# The scan dialog closes itself about two seconds after it opens.
qvd post-command "$FRAME" 32778 >/dev/null
if dialog=$(qv_wait_window "#32770" "Scanning plugins..." 10); then
  sleep 0.8
  shot scanning "$dialog"
  QV_DRIVE_LIMIT=20 qvd wait-gone "$dialog" 10 >/dev/null
else
  skip scanning "no \"Scanning plugins...\" dialog"
fi
dialog_shot midi_settings 32820 "MIDI Settings" 2

# ---- a set list of four songs (each a performance with an empty chain), its
# window with the first song playing and the second next
set_dir="$QV_E2E_DIR/shots_set"
rm -rf "$set_dir"
mkdir -p "$set_dir"
for song in "Opening" "Slow Blues" "Midnight Train" "Encore"; do
  printf 'PERF\000\000\362\102ACCOMP\000\000' >"$set_dir/$song.qvp"
done
printf '# Friday at the Harbour\r\nOpening.qvp\r\nSlow Blues.qvp\r\nMidnight Train.qvp\r\nEncore.qvp\r\n' >"$set_dir/Friday.qvs"
# The window is an MDI child of the frame, like the Master Section; that one
# is closed and the list tiled to fill the frame, since the window's first
# size is taller than the frame's client area.
[ -n "$MASTER" ] && qvd close "$MASTER" >/dev/null
qvd post-command "$FRAME" 32821 >/dev/null
set_list=
if qvd file-dialog "Open Set List" "$(qv_winpath "$set_dir/Friday.qvs")" 20 >/dev/null; then
  for _ in $(seq 20); do
    set_list=$(child_of "$FRAME" Quorvane_SetList_Class)
    [ -n "$set_list" ] && break
    sleep 0.5
  done
fi
if [ -n "$set_list" ]; then
  echo "set list window first: $(qvd rects "$set_list" | head -1 | cut -f6)"
  qvd post-command "$FRAME" 32807 >/dev/null # Window, Tile Horizontally
  sleep 0.5
  echo "set list window tiled: $(qvd rects "$set_list" | head -1 | cut -f6)"
  shot set_list "$set_list"
  qvd close "$set_list" >/dev/null
  sleep 0.3
else
  skip set_list "the Set List window did not open"
fi

# ---- live input, for the meters (the devices are the test sinks), a tone
# playing into the input so they show a level
sox -n -r 44100 -c 2 -b 16 "$QV_E2E_DIR/shots_tone.wav" synth 4 sine 440 vol 0.3 2>/dev/null
timeout 10 paplay --device=b "$QV_E2E_DIR/shots_tone.wav" >/dev/null 2>&1 &
tone_pid=$!
qvd post-command "$FRAME" 32772 >/dev/null
if output=$(qv_wait_window Quorvane_Meter_Class "Output VU Meter" 10) &&
  input=$(qv_wait_window Quorvane_Meter_Class "Input VU Meter" 5); then
  # Both meters in one picture: the rectangle around the two.
  sleep 1
  read -r l1 t1 r1 b1 <<<"$(qvd rects "$output" | head -1 | cut -f6)"
  read -r l2 t2 r2 b2 <<<"$(qvd rects "$input" | head -1 | cut -f6)"
  l=$((l1 < l2 ? l1 : l2)); t=$((t1 < t2 ? t1 : t2)); r=$((r1 > r2 ? r1 : r2)); b=$((b1 > b2 ? b1 : b2))
  if timeout 20 import -display "$DISPLAY" -window root -crop "$((r - l))x$((b - t))+$l+$t" +repage "png:$shots/meters.png.tmp" \
    >/dev/null 2>&1 && [ -s "$shots/meters.png.tmp" ]; then
    mv -f "$shots/meters.png.tmp" "$shots/meters.png"
    taken+=(meters)
  fi
  qvd post-command "$FRAME" 32772 >/dev/null
  sleep 0.5
else
  skip meters "live input did not start"
fi
wait "$tone_pid" 2>/dev/null

qvd close "$FRAME" >/dev/null
qv_wait_exit 30 || qv_fail "the program still runs 30 s after WM_CLOSE"
qv_stop

# ---- the results: these windows are always there, so their pictures must be
for name in main_window master_section chain_pane toolbar accompaniment_bar select_effect audio_settings recording about \
  midi_settings set_list; do
  if printf '%s\n' "${taken[@]}" | grep -qx "$name"; then
    size=$(identify -format '%w %h' "$shots/$name.png" 2>/dev/null)
    read -r w h <<<"$size"
    if [ "${w:-0}" -ge 40 ] && [ "${h:-0}" -ge 15 ]; then qv_pass "picture of $name ($w x $h)"; else
      qv_fail "picture of $name is no proper picture ($size)"
    fi
  else
    qv_fail "no picture of $name"
  fi
done
# Every picture name is a slot of the manual.
unknown=$(for n in "${taken[@]}"; do grep -q "^$n	" "$qv_root/manual/shots.txt" || echo "$n"; done)
check_eq "" "$unknown" "every picture taken is one the manual shows"
echo "pictures: ${#taken[@]} taken (${taken[*]}); skipped: ${skipped[*]:-none}"
qv_reg_delete_key "$QV_KEY"
