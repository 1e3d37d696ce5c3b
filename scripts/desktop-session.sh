# Shared by the scripts that run the program on real desktop parts
# (scripts/desktop-test, scripts/hidpi-shots); sourced, not run.
#   root  the repository (set by the sourcing script)

# Runs each part of a test script in a private session: its own home and XDG
# folders (the session bus and everything it starts see only these), no
# platform chosen for Qt, bounded in time. Usage from a script:
#   run_parts SCRIPT BUILD_DIR SHOTS_DIR PARTS...
# which runs "SCRIPT --part PART BUILD_DIR SHOTS_DIR WORK_DIR" for each part,
# each for at most part_seconds (default 120).
run_parts() {
    local script=$1 build shots part work failed=0
    build=$(realpath -m "$2")
    shots=$(realpath -m "${3:-$(mktemp -d /tmp/ostrel-shots.XXXXXX)}")
    shift 3
    [ -x "$build/bin/Ostrel" ] || { echo "no program at $build/bin/Ostrel" >&2; return 2; }
    mkdir -p "$shots"
    for part in "$@"; do
        work=$(mktemp -d /tmp/ostrel-desktop.XXXXXX)
        chmod 755 "$work"
        mkdir -p "$work"/{home,config,config-dirs,data,cache,runtime}
        chmod 700 "$work/runtime"
        if ! env -u SESSION_MANAGER -u DBUS_SESSION_BUS_ADDRESS -u QT_QPA_PLATFORM \
            -u QT_SCALE_FACTOR -u WAYLAND_DISPLAY -u XDG_SESSION_TYPE \
            HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_CONFIG_DIRS="$work/config-dirs" \
            XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache" \
            XDG_RUNTIME_DIR="$work/runtime" NO_AT_BRIDGE=1 GTK_A11Y=none \
            timeout "${part_seconds:-120}" "$script" --part "$part" "$build" "$shots" "$work"; then
            echo "$(basename "$script"): $part FAILED" >&2
            failed=1
        fi
        rm -rf "$work"
    done
    return $failed
}

# Inside a part: set by "--part PART BUILD_DIR SHOTS_DIR WORK_DIR".
begin_part() {
    script_name=$(basename "$0")
    part=$2 build=$3 shots=$4 work=$5
    pids=()
    trap cleanup EXIT
    trap 'fail "line $LINENO: $BASH_COMMAND"' ERR
}

say() { echo "$script_name $part: $*"; }
fail() {
    echo "$script_name $part: FAIL: $*" >&2
    for log in "$work"/*.log "$work"/program/logfile.txt; do
        [ -s "$log" ] && { echo "--- $log" >&2; tail -20 "$log" >&2; }
    done
    exit 1
}
skip_unless() {  # programs...
    local program
    for program in "$@"; do
        if ! command -v "$program" >/dev/null; then
            say "SKIPPED: $program is not installed (scripts/install-deps test installs it)"
            exit 0
        fi
    done
}

pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
}

# A session bus of the part's own; the services it starts (Xfce's settings
# daemon) end with it.
start_session_bus() {
    skip_unless dbus-daemon
    dbus-daemon --session --nofork --print-address=3 3>"$work/bus-address" >"$work/bus.log" 2>&1 &
    pids+=($!)
    wait_until 10 test -s "$work/bus-address" || fail "the session bus did not start"
    DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus-address")
    export DBUS_SESSION_BUS_ADDRESS
}

# Polls `command` every 0.2 s for up to `seconds`.
wait_until() {  # seconds command...
    local tries=$(($1 * 5))
    shift
    while ! "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ $tries -gt 0 ] || return 1
        sleep 0.2
    done
}

start_xvfb() {  # width height: on a display number of Xvfb's own choosing
    Xvfb -displayfd 3 -screen 0 "$1x$2x24" -nolisten tcp -noreset 3>"$work/display" \
        >"$work/xvfb.log" 2>&1 &
    pids+=($!)
    wait_until 10 test -s "$work/display" || fail "Xvfb did not start"
    export DISPLAY=:$(head -1 "$work/display")
}

# A POP3 server whose greeting comes after a pause, and a program folder whose
# one account points at it; no scheduled check runs during the test.
start_mail() {  # greeting delay in seconds
    python3 "$root/tests/support/slow_pop3_server.py" "$work/port" "$1" &
    pids+=($!)
    wait_until 10 test -s "$work/port" || fail "the POP3 server did not start"
    mkdir -p "$work/program"
    cp "$build/bin/Ostrel" "$work/program/"
    printf '127.0.0.1:%s<>ann<>pw<>\r\n' "$(cat "$work/port")" >"$work/program/lumetta_pop.cfg"
    printf '10\r\n0\r\n' >"$work/program/general.cfg"
}

start_program() {
    "$work/program/Ostrel" >"$work/ostrel.log" 2>&1 &
    ostrel=$!
    pids+=($ostrel)
}

# Xfce's panel along the bottom edge with only a systray plugin.
start_panel() {
    local channel=$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml
    mkdir -p "$channel"
    cat >"$channel/xfce4-panel.xml" <<'XML'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=8;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="icon-size" type="uint" value="24"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-2" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
  </property>
</channel>
XML
    GDK_BACKEND=x11 xfce4-panel --disable-wm-check >"$work/panel.log" 2>&1 &
    pids+=($!)
}

watcher_get() {  # property
    gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher "$1"
}
item_registered() {
    watcher_get RegisteredStatusNotifierItems | grep -q "StatusNotifierItem'"
}
# The bus name of the program's item, as the watcher lists it.
item_service() {
    watcher_get RegisteredStatusNotifierItems | grep -o "'[^'/]*/StatusNotifierItem'" |
        head -1 | tr -d "'" | cut -d/ -f1
}
item_get() {  # property
    gdbus call --session -d "$service" -o /StatusNotifierItem \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$1"
}
# The exported menu: one "id label" line per item, "-" for a separator.
menu_items() {
    gdbus call --session -d "$service" -o /MenuBar -m com.canonical.dbusmenu.GetLayout \
        -- 0 -1 '[]' | grep -o "<([0-9]*, {[^}]*}" |
        sed -E "s/<\(([0-9]+), \{.*'label': <'([^']*)'>.*/\1 \2/; s/<\(([0-9]+), \{.*separator.*/\1 -/"
}
choose_over_bus() {  # caption
    local id
    id=$(menu_items | awk -v caption="$1" '{ id = $1; $1 = ""; if (substr($0, 2) == caption) print id }')
    [ -n "$id" ] || fail "no menu item \"$1\""
    gdbus call --session -d "$service" -o /MenuBar -m com.canonical.dbusmenu.Event \
        "$id" clicked '<0>' 0 >/dev/null
}

popup() {  # the program's newest popup on the X display
    xdotool search --all --onlyvisible --pid "$ostrel" --name '^nota$' 2>/dev/null | tail -1
}
popup_shown() {
    [ -n "$(popup)" ]
}
expect_place() {  # window x y
    eval "$(xdotool getwindowgeometry --shell "$1")"
    [ "$X,$Y" = "$2,$3" ] || fail "the popup is at $X,$Y, not at $2,$3"
}
program_windows() {
    { xdotool search --onlyvisible --pid "$ostrel" 2>/dev/null || true; } | wc -l
}
program_windows_are() {  # -gt|-eq count
    [ "$(program_windows)" "$1" "$2" ]
}
