# shellcheck shell=bash
# Functions of scripts/demo.sh: steps and their failure, demo users, the private scheduler, the
# per-user files a console leaves after a sign-in. Sourced, not run.

current_step="starting"

step() {
    current_step="$1"
    echo
    echo "== $1"
}

fail() {
    echo "demo.sh: $*" >&2
    exit 1
}

# Waits until the command succeeds, at most $1 seconds; false after that.
wait_for() {
    local seconds="$1"
    shift
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        [ "$SECONDS" -lt "$deadline" ] || return 1
        sleep 0.5
    done
}

# Users this run created or put into the admin group, so that cleanup undoes exactly that.
created_users=()
admin_group_added=()

# A local demo user: created when missing (a system account without a home or login shell),
# and a member of the group that administers the scheduler.
ensure_demo_user() {
    local name="$1"
    if ! id -u "$name" >/dev/null 2>&1; then
        useradd --system --user-group --no-create-home --home-dir /nonexistent \
            --shell /usr/sbin/nologin "$name"
        created_users+=("$name")
        echo "created user $name"
    else
        echo "using the existing user $name"
    fi
    # The console runs lpadmin itself only for members of the scheduler's admin group; anyone
    # else gets the privileged helper, which asks for an administrator's password through
    # polkit: nobody is at a keyboard to answer that in a headless console.
    if [[ " $(id -nG "$name") " != *" $admin_group "* ]]; then
        usermod -a -G "$admin_group" "$name"
        admin_group_added+=("$name")
    fi
    echo "$name: $(id "$name")"
}

remove_demo_users() {
    local name
    for name in "${admin_group_added[@]}"; do
        if [[ " ${created_users[*]} " != *" $name "* ]]; then
            gpasswd -d "$name" "$admin_group" >/dev/null 2>&1 || true
        fi
    done
    for name in "${created_users[@]}"; do
        # The console keeps its one-instance socket in /tmp/velmora-UID when the user has no
        # session folder in /run/user, as these users have not.
        local uid
        uid="$(id -u "$name" 2>/dev/null)" || continue
        # Qt's runtime folder falls back to /tmp/runtime-USER for the same reason.
        local folder
        for folder in "/tmp/velmora-$uid" "/tmp/runtime-$name"; do
            if [ -d "$folder" ] && [ "$(stat -c %u "$folder")" = "$uid" ]; then
                rm -rf "$folder"
            fi
        done
        userdel "$name" >/dev/null 2>&1 || echo "could not remove user $name" >&2
    done
}

# A CUPS scheduler of the demo's own in folder $1, listening on $1/cups.sock, started as root.
# Its configuration is the test harness's (tests/support/PrivateCupsd.h) with two changes that
# the demo's users need: a queue administrator is a member of $admin_group, proven on the
# local socket by the peer's user id (AuthType Basic makes libcups offer it), and the queues
# of remote printers get their own policy (packaging/cups/velmora-policy.conf).
write_scheduler_config() {
    local dir="$1" server_bin="$2"
    mkdir -p "$dir"/{spool,cache,state,log,tmp,ppd,ssl}
    chmod 0755 "$dir"
    # The filters run as lp and keep their temporary files here.
    chmod 01777 "$dir/tmp"
    cat >"$dir/cupsd.conf" <<CONF
Listen $dir/cups.sock
LogLevel warn
Browsing Off
DefaultAuthType Basic
WebInterface No
<Location />
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit CUPS-Add-Modify-Printer CUPS-Delete-Printer CUPS-Add-Modify-Class CUPS-Delete-Class CUPS-Set-Default>
    AuthType Default
    Require user @SYSTEM
    Order deny,allow
  </Limit>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
    cat "$root/packaging/cups/velmora-policy.conf" >>"$dir/cupsd.conf"
    cat >"$dir/cups-files.conf" <<CONF
FileDevice Yes
ServerRoot $dir
RequestRoot $dir/spool
CacheDir $dir/cache
StateDir $dir/state
TempDir $dir/tmp
ServerBin $server_bin
DataDir /usr/share/cups
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
User lp
Group lp
SystemGroup $admin_group root
CONF
}

# The scheduler's program folder: the system's filters and helpers, and in backend/ only ours,
# root-owned and private, which is how a scheduler knows to run a backend as root.
make_server_bin() {
    local dir="$1" backend="$2" entry
    mkdir -p "$dir/backend"
    for entry in /usr/lib/cups/*; do
        [ "$(basename "$entry")" = backend ] || ln -s "$entry" "$dir/"
    done
    install -o root -g root -m 0700 "$backend" "$dir/backend/velmora"
    chmod 0755 "$dir" "$dir/backend"
}

# What a console leaves after its user signed in: the setup file with the session token, the
# service and the profile name (account login and service host), readable by that user only.
# Sharing does not add the printer to its owner's own list, so that only alice's console makes a
# queue for it: both consoles use the one scheduler here.
write_setup_file() {
    local user="$1" token="$2" profile="$3" interval="$4"
    local file="$shared/setup.$user.xml"
    setup_file_text "$token" "$profile" "$interval" >"$file"
    chown "$user:" "$file"
    chmod 0600 "$file"
}

setup_file_text() {
    local token="$1" profile="$2" interval="$3"
    cat <<SETUP
<?xml version="1.0"?>
<setup>
	<profile>$profile</profile>
	<token>$token</token>
	<service>$service_url</service>
	<default-format>Letter</default-format>
	<encryption>2</encryption>
	<delivery-result>1</delivery-result>
	<job-notifications>1</job-notifications>
	<like-my-printers>0</like-my-printers>
	<fast-check-interval>$interval</fast-check-interval>
</setup>
SETUP
}

# Whether the reference service at BASE lists printer ID as shared and online.
service_lists_shared_printer() {
    python3 - "$1" "$2" <<'CHECK'
import json, sys, urllib.request
with urllib.request.urlopen(sys.argv[1] + "/_ref/state?requests=0", timeout=10) as reply:
    printers = {p["public_id"]: p for p in json.load(reply)["printers"]}
printer = printers.get(sys.argv[2], {})
sys.exit(0 if printer.get("online") and printer.get("shared") else 1)
CHECK
}

# The profile file of a console whose local printer $3 (a queue of the scheduler) is shared as
# public id $4: what the console keeps after its user shared the printer.
write_sharing_profile() {
    local user="$1" profile="$2" queue="$3" public_id="$4" title="$5"
    local dir="$shared/$profile"
    install -d -o "$user" -g "$(id -gn "$user")" -m 0700 "$dir"
    cat >"$dir/config.xml" <<PROFILE
<?xml version="1.0"?>
<config version="1601">
	<printers>
		<printer hidden="false">
			<public-id>$public_id</public-id>
			<title>$title</title>
			<local-title>$queue</local-title>
		</printer>
	</printers>
</config>
PROFILE
    chown "$user:" "$dir/config.xml"
    chmod 0600 "$dir/config.xml"
}

# Replaces the calling (sub)shell with a program run as a demo user: an argument vector, that
# user's ids and groups, and of the environment only what libcups reads to find the demo's
# scheduler. Call it in a subshell, "( as_user USER PROGRAM ARGS... )", or with "&" after it:
# either way the process that "$!" names is then the program itself, so that it can be stopped.
as_user() {
    local user="$1"
    shift
    exec setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups \
        env -i CUPS_SERVER="$cups_socket" "$@"
}

# Stops a process this script started, by its id: SIGTERM, then SIGKILL after 15 seconds.
stop_process() {
    local pid="$1" name="$2"
    [ -n "$pid" ] || return 0
    kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null || true
    local waited=0
    while kill -0 "$pid" 2>/dev/null && [ "$waited" -lt 30 ]; do
        sleep 0.5
        waited=$((waited + 1))
    done
    if kill -0 "$pid" 2>/dev/null; then
        echo "$name did not stop within 15 s; killing it" >&2
        kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
}
