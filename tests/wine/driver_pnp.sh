#!/bin/bash
# The driver as a Plug and Play driver: a root device node with any of the
# readers' 16 hardware identifiers, bound with the forced driver update
# from kxvreader.inf, gets a reader; removing the node takes it away.
. "$(dirname "$0")/driver_common.bash"
node() { (cd "$KX_BIN" && wine driver_pnp_node.exe "$@"); }
ids=('USB\VID_1053&PID_0100' 'USB\VID_13F0&PID_5010' 'USB\VID_13F0&PID_5100'
     'USB\VID_13F0&PID_5110' 'USB\VID_1053&PID_0120&MI_01' 'USB\VID_13F0&PID_1010&MI_01'
     'USB\VID_0483&PID_2015' 'USB\VID_0483&PID_2016' 'USB\VID_147E&PID_2015'
     'USB\VID_147E&PID_2016' 'USB\VID_147E&PID_1000' 'USB\VID_0483&PID_2015&MI_00'
     'USB\VID_0483&PID_2016&MI_00' 'USB\VID_147E&PID_2015&MI_00'
     'USB\VID_147E&PID_2016&MI_00' 'USB\VID_147E&PID_1000&MI_00')
remove_nodes() {
    local id
    for id in "${ids[@]}"; do node remove "$id" >/dev/null 2>&1; done
}
trap 'remove_nodes; cleanup' EXIT
remove_nodes
node_readers() { vreader list | grep -c ' device-node '; }

# One node first, beside an attached reader: it takes the lowest free index.
fresh_reader 0 --model 4
expect "a node for ${ids[0]}" "$(node add "${ids[0]}")" "add: node registered, driver update done"
expect "the node has a reader at index 1" "$(vreader list | grep ' device-node ' | cut -d' ' -f1)" 1
expect "a model-3 reader until it is described" "$(probe 1 open devtype)" $'open: ok\ndevtype: 3'
out=$(vreader detach 1 2>&1); status=$?
expect "detach refuses a node's reader" "$out" \
    "vreader: detach: reader 1 belongs to a device node; it goes when the node is removed"
expect_status "detach refuses a node's reader" "$status" 1
vreader attach 1 --replace --model 5 --serial NODE-1 >/dev/null
expect "described anew it is a model-5 reader" "$(probe 1 open devtype get-serial)" \
    $'open: ok\ndevtype: 5\nget-serial: 1 "NODE-1"'
expect "removing the node" "$(node remove "${ids[0]}")" "remove: 1 node(s), 0 failed"
expect "its reader is gone" "$(probe 1 open)" "open: -1"
expect "the attached reader stays" "$(probe 0 open devtype)" $'open: ok\ndevtype: 4'
vreader detach 0

# Every identifier of the table binds: sixteen nodes, sixteen readers.
for id in "${ids[@]}"; do
    out=$(node add "$id")
    [ "$out" == "add: node registered, driver update done" ] || expect "a node for $id" "$out" "add: node registered, driver update done"
done
expect "all 16 identifiers give a reader" "$(node_readers)" 16
expect "the last of them answers at index 15" "$(probe 15 open devtype)" $'open: ok\ndevtype: 3'
remove_nodes
expect "all of them go with their nodes" "$(node_readers)" 0
finish
