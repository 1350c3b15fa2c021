# shellcheck shell=bash
# For tools/check-mqtt.sh, which sources this file after local.sh and
# mqtt.sh: the broker on the network of docs/broker-network.md, closed to
# strangers, built from the files in docs/broker/ as they stand. Only what belongs to a site is put
# in for the run: the broker's host name (localhost), its port (a free one, on
# 127.0.0.1 alone), the folders (/etc/mosquitto/ and /etc/iopanel-mqtt/ under
# $tmp/etc/) and the module's device. Sets closed_port and closed_pid.

# make_certificates: a CA and the broker's certificate for localhost, made as
# docs/broker-network.md makes them for broker.example.
make_certificates() {
    local certs="$tmp/etc/mosquitto/certs"
    mkdir -p "$certs"
    (
        cd "$certs"
        (umask 077; openssl req -x509 -new -nodes -newkey rsa:3072 -sha256 -days 3650 \
            -subj "/CN=iopanel site CA" -keyout "$tmp/iopanel-ca.key" -out iopanel-ca.crt)
        openssl req -new -nodes -newkey rsa:3072 -subj "/CN=localhost" \
            -addext "subjectAltName=DNS:localhost" -keyout broker.key -out broker.csr
        openssl x509 -req -sha256 -days 825 -in broker.csr -CA iopanel-ca.crt \
            -CAkey "$tmp/iopanel-ca.key" -CAcreateserial -copy_extensions copy -out broker.crt
        chmod 0644 iopanel-ca.crt
    ) >>"$tmp/openssl.out" 2>&1 || fail "openssl could not make the certificates"
    # Every bridge's user reads the CA's certificate; its key stays root's.
    grep -qx "    chmod 0644 iopanel-ca.crt" docs/broker-network.md || fail "docs/broker-network.md does not make the CA's certificate 0644"
    [ "$(stat -c %a "$certs/iopanel-ca.crt") $(stat -c %a "$tmp/iopanel-ca.key")" = "644 600" ] ||
        fail "the CA's certificate and key are mode $(stat -c %a "$certs/iopanel-ca.crt" "$tmp/iopanel-ca.key"), not 644 and 600"
    # A CA that signed nothing here, for a bridge that must not trust the broker.
    openssl req -x509 -new -nodes -newkey rsa:2048 -subj "/CN=another CA" -keyout "$tmp/other-ca.key" \
        -out "$tmp/other-ca.crt" >>"$tmp/openssl.out" 2>&1 || fail "openssl could not make a second CA"
}

# make_users USER:PASSWORD...: the broker's password file, hashed in place by
# mosquitto_passwd -U, so no password is on a command line.
make_users() {
    local file="$tmp/etc/mosquitto/iopanel.passwd"
    printf '%s\n' "$@" >"$file"
    mosquitto_passwd -U "$file" || fail "mosquitto_passwd -U could not hash $file"
}

# start_closed_broker: mosquitto with docs/broker/iopanel.conf and its ACL.
# Run as root, the broker reads its files as the user mosquitto, so they
# are given to that group as docs/broker-network.md says.
start_closed_broker() {
    local etc="$tmp/etc/mosquitto"
    closed_port="$(free_port)" || fail "no free TCP port on 127.0.0.1"
    cp docs/broker/iopanel.acl "$etc/iopanel.acl"
    sed -e "s#/etc/mosquitto/#$etc/#" -e "s#^listener 8883\$#listener $closed_port 127.0.0.1#" \
        docs/broker/iopanel.conf >"$etc/iopanel.conf"
    grep -qx "listener $closed_port 127.0.0.1" "$etc/iopanel.conf" || fail "docs/broker/iopanel.conf has no 'listener 8883'"
    if [ "$(id -u)" = 0 ]; then
        chmod 755 "$tmp"
        chgrp mosquitto "$etc/certs/broker.key" "$etc/iopanel.passwd"
        chmod 0640 "$etc/certs/broker.key" "$etc/iopanel.passwd"
    fi
    launch_mosquitto "$etc/iopanel.conf" "$tmp/closed-broker.log" "$closed_port"
    closed_pid=$launched_pid
}

# client_config NAME USER PASSWORD: options for mosquitto_pub and mosquitto_sub
# run with XDG_CONFIG_HOME=$tmp/NAME, as a dashboard keeps them, so the
# password is on no command line; the CA put where docs/broker-network.md
# puts it.
client_config() {
    mkdir -p "$tmp/$1"
    install -D -m 0644 "$tmp/etc/mosquitto/certs/iopanel-ca.crt" "$tmp/etc/ssl/certs/iopanel-ca.crt"
    local options=(-h localhost -p "$closed_port" --cafile "$tmp/etc/ssl/certs/iopanel-ca.crt")
    [ -z "$2" ] || options+=(-u "$2" -P "$3")
    printf '%s %s\n' "${options[@]}" >"$tmp/$1/mosquitto_pub"
    cp "$tmp/$1/mosquitto_pub" "$tmp/$1/mosquitto_sub"
}
# as NAME COMMAND...: a client command with NAME's options.
as() { XDG_CONFIG_HOME="$tmp/$1" "${@:2}"; }

# bridge_config MODULE PASSWORD LINK: docs/broker/module1.conf for MODULE
# (module1, module2) on the port LINK, its password file mode 0600 beside it,
# in the folder the package made, with the CA installed as docs/broker-network.md
# says.
bridge_config() {
    local etc="$tmp/etc/iopanel-mqtt"
    install -d -m 0755 "$etc"
    install -m 0644 "$tmp/etc/mosquitto/certs/iopanel-ca.crt" "$etc/iopanel-ca.crt"
    sed -e "s#^port = .*#port = $3#" -e "s#broker.example:8883#localhost:$closed_port#" \
        -e "s#/etc/iopanel-mqtt/#$etc/#" -e "s#module1#$1#g" docs/broker/module1.conf >"$etc/$1.conf"
    (umask 077; printf '%s\n' "$2" >"$etc/$1.password")
}

# docs_show FILE...: docs/broker-network.md shows each FILE whole, as it
# stands, as an indented block, so the page can't drift from what the check runs.
docs_show() {
    local file
    for file in "$@"; do
        python3 - "$file" <<'PY' || fail "docs/broker-network.md does not show $file as it stands"
import sys
lines = open(sys.argv[1]).read().rstrip("\n").split("\n")
block = "".join(("    " + line if line.strip() else "") + "\n" for line in lines)
sys.exit(0 if block in open("docs/broker-network.md").read() else 1)
PY
    done
}

# takeover_refused: module 1's user, connecting with module 2's client id,
# neither throws module 2's bridge off nor ends the session that holds the
# QoS 1 command queued for module 2 while its bridge was stopped: the broker
# takes every client's user name as its id. Uses closed_bridges and
# bridge_bin from tools/check-mqtt.sh.
takeover_refused() {
    local id lost bridge_log="$tmp/module2-bridge.log"
    id="$(sed -n 's/^client-id = //p' "$tmp/etc/iopanel-mqtt/module2.conf")"
    [ -n "$id" ] || fail "docs/broker/module1.conf gives no client-id"
    lost() { grep -c 'connection to .* lost' "$bridge_log" || true; }
    lost="$(lost)"
    as module1-user mosquitto_pub -i "$id" -t bench/module2/set -m "set 1"
    sleep 1
    [ "$(lost)" = "$lost" ] ||
        fail "module 1's user with the client id $id threw module 2's bridge off: $(tail -n 1 "$bridge_log")"
    echo "  module 1's user, connecting with module 2's client id $id, left module 2's bridge connected"

    kill -TERM "${closed_bridges[1]}"
    wait "${closed_bridges[1]}" || fail "module 2's bridge did not end with status 0 on SIGTERM"
    as operator mosquitto_pub -q 1 -t bench/module2/set -m "reset 1"
    # A clean session with that id would end the session that holds it.
    as module1-user mosquitto_pub -i "$id" -t bench/module2/set -m "set 1"
    "$bridge_bin" --config "$tmp/etc/iopanel-mqtt/module2.conf" 2>>"$bridge_log" &
    closed_bridges[1]=$!
    wait_for 100 grep -q '~R1' "$tmp/sim2.log" ||
        fail "the 'reset 1' queued for module 2 was lost when module 1's user connected with its client id"
    echo "  and the 'reset 1' queued for module 2 while its bridge was stopped reached it once the bridge was back;"
    echo "  the broker named the client by its user:"
    grep -E "New client connected .* as module1 \(.*u'module1'\)" "$tmp/closed-broker.log" | tail -n 1 |
        sed 's/^[0-9]*: /    /'
}

# refused_logged: what docs/broker-network.md quotes from mosquitto's log for
# a client refused its password is what this mosquitto logged for one.
refused_logged() {
    local line="Client <unknown> disconnected, not authorised."
    grep -qF "\`$line\`" docs/broker-network.md || fail "docs/broker-network.md does not quote '$line'"
    grep -qF "$line" "$tmp/closed-broker.log" ||
        fail "mosquitto did not log '$line' for the wrong password: $(grep -i 'not authorised' "$tmp/closed-broker.log")"
    echo "  mosquitto logged the refused password as docs/broker-network.md quotes it:"
    grep -B1 -F "$line" "$tmp/closed-broker.log" | tail -n 2 | sed 's/^[0-9]*: /    /'
}
