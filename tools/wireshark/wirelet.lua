-- wirelet: the records of a serial port as wirelet-cli and wirelet-extcap
-- write them into pcapng (link type USER0; docs/pcapng.md has the layout).
-- Every field of a record is shown and filterable; the bytes the
-- application wrote or read go on to whatever dissector the user picks
-- with Decode As (Modbus/RTU, for one), since the wire itself names no
-- protocol.

local wirelet = Proto("wirelet", "wirelet serial port")

local TYPES = {
    [0] = "Port opened", [1] = "Data read", [2] = "Data written", [3] = "Port closed",
    [4] = "Driver notice", [5] = "Baud rate", [6] = "Line control", [7] = "Process",
    [8] = "Modem lines", [9] = "Port control", [10] = "Flow control",
    [11] = "Call failed",
}
local STOP_BITS = { [0] = "1", [1] = "1.5", [2] = "2" }
local PARITY = { [0] = "No", [1] = "Odd", [2] = "Even", [3] = "Mark", [4] = "Space" }
local NOTICES = {
    [1] = "Records dropped", [2] = "Process traced by another program",
    [3] = "Bytes unreadable", [4] = "Opens or closes lost",
    [5] = "Process of another user", [6] = "Bytes not captured",
    [7] = "Call not decoded", [8] = "Process traced late", [9] = "Process used the port untraced",
}
local CALLS = {
    [1] = "sendfile", [2] = "splice", [3] = "copy_file_range", [4] = "a 32-bit system call",
    [5] = "io_uring", [6] = "io_submit",
}
local MODEM_CALLS = { [1] = "set", [2] = "raised", [3] = "lowered" }
local CONTROLS = {
    [1] = "Break", [2] = "Break on", [3] = "Break off", [4] = "Drain", [5] = "Flush",
    [6] = "Flow",
}
local FLUSH_QUEUES = { [0] = "input", [1] = "output", [2] = "input and output" }
local FLOW_ACTIONS = {
    [0] = "Output suspended", [1] = "Output resumed", [2] = "Stop character sent",
    [3] = "Start character sent",
}
-- The kernel's TIOCM_* bits, in the order a user reads them.
local LINES = {
    { 0x002, "DTR" }, { 0x004, "RTS" }, { 0x020, "CTS" }, { 0x100, "DSR" }, { 0x040, "CD" },
    { 0x080, "RI" }, { 0x001, "LE" }, { 0x008, "ST" }, { 0x010, "SR" }, { 0x2000, "OUT1" },
    { 0x4000, "OUT2" }, { 0x8000, "LOOP" },
}
local FLOWS = { { 1, "RTS/CTS" }, { 2, "XON/XOFF out" }, { 4, "XON/XOFF in" } }

local f = {
    version = ProtoField.uint8("wirelet.version", "Layout version"),
    type = ProtoField.uint8("wirelet.type", "Event", base.DEC, TYPES),
    head_length = ProtoField.uint16("wirelet.head_length", "Head length"),
    seq = ProtoField.uint32("wirelet.seq", "Sequence number"),
    pid = ProtoField.uint32("wirelet.pid", "Process id"),
    command = ProtoField.string("wirelet.command", "Command"),
    length = ProtoField.uint32("wirelet.length", "Payload length"),
    direction = ProtoField.string("wirelet.direction", "Direction"),
    data = ProtoField.bytes("wirelet.data", "Data"),
    text = ProtoField.string("wirelet.text", "Text"),
    baud = ProtoField.uint32("wirelet.baud", "Baud rate"),
    stop_bits = ProtoField.uint8("wirelet.stop_bits", "Stop bits", base.DEC, STOP_BITS),
    parity = ProtoField.uint8("wirelet.parity", "Parity", base.DEC, PARITY),
    data_bits = ProtoField.uint8("wirelet.data_bits", "Data bits"),
    notice = ProtoField.uint32("wirelet.notice", "Notice", base.DEC, NOTICES),
    notice_value = ProtoField.uint32("wirelet.notice.value", "Value"),
    notice_call = ProtoField.uint32("wirelet.notice.call", "Call", base.DEC, CALLS),
    notice_command = ProtoField.string("wirelet.notice.command", "Command"),
    process_pid = ProtoField.uint32("wirelet.process.pid", "Process id"),
    process_uid = ProtoField.uint32("wirelet.process.uid", "User id"),
    process_command = ProtoField.string("wirelet.process.command", "Command"),
    process_path = ProtoField.string("wirelet.process.path", "Executable"),
    modem_call = ProtoField.uint32("wirelet.modem.call", "Modem lines", base.DEC, MODEM_CALLS),
    modem_lines = ProtoField.uint32("wirelet.modem.lines", "Lines", base.HEX),
    modem_names = ProtoField.string("wirelet.modem.names", "Line names"),
    control = ProtoField.uint32("wirelet.control", "Control", base.DEC, CONTROLS),
    control_value = ProtoField.uint32("wirelet.control.value", "Value"),
    flow_rts_cts = ProtoField.bool("wirelet.flow.rts_cts", "RTS/CTS", 8, nil, 0x01),
    flow_xon_out = ProtoField.bool("wirelet.flow.xon_out", "XON/XOFF output", 8, nil, 0x02),
    flow_xon_in = ProtoField.bool("wirelet.flow.xon_in", "XON/XOFF input", 8, nil, 0x04),
    vmin = ProtoField.uint8("wirelet.flow.vmin", "VMIN"),
    vtime = ProtoField.uint8("wirelet.flow.vtime", "VTIME"),
    failed_request = ProtoField.uint32("wirelet.failed.request", "Request", base.HEX),
    failed_errno = ProtoField.uint32("wirelet.failed.errno", "Error number"),
}
wirelet.fields = f

local e_short = ProtoExpert.new("wirelet.short", "Record shorter than its event needs",
    expert.group.MALFORMED, expert.severity.ERROR)
local e_loss = ProtoExpert.new("wirelet.loss", "Capture lost something here",
    expert.group.SEQUENCE, expert.severity.WARN)
wirelet.experts = { e_short, e_loss }

-- The protocol on the wire: the user names the dissector that gets the
-- bytes the application wrote and read (Modbus/RTU is "mbrtu"). Wireshark
-- 4.0 gives a script's own dissector tables no Decode As, so the pick is
-- this protocol's preference (right-click a wirelet packet: Protocol
-- Preferences; tshark: -o wirelet.payload:mbrtu).
wirelet.prefs.payload = Pref.string("Decode data as", "",
    "The dissector for the bytes the application wrote and read, by its name: mbrtu " ..
    "(Modbus/RTU), at (AT commands), ppp_hdlc, dnp3.udp, mstp (BACnet MS/TP), lapb, chdlc. " ..
    "Empty: none.")

-- The names of the bits set, from a table of { bit, name } in reading order.
local function bit_names(bits, named, separator)
    local names = {}
    for _, entry in ipairs(named) do
        if bit.band(bits, entry[1]) ~= 0 then
            names[#names + 1] = entry[2]
        end
    end
    return #names == 0 and "none" or table.concat(names, separator)
end

local function printable(range)
    local s = range:raw():gsub("[%z\1-\31\127-\255]", ".")
    return s
end

-- Each event's fields; returns its words, or nil when the payload is short.
local DECODE = {
    [0] = function() return "Port opened" end,
    [3] = function() return "Port closed" end,
    [5] = function(p, tree)
        if p:len() < 4 then return nil end
        tree:add_le(f.baud, p(0, 4))
        return "Baud rate set to " .. p(0, 4):le_uint()
    end,
    [6] = function(p, tree)
        if p:len() < 3 then return nil end
        tree:add(f.stop_bits, p(0, 1))
        tree:add(f.parity, p(1, 1))
        tree:add(f.data_bits, p(2, 1))
        return string.format("StopBits: %s, Parity: %s parity, WordLength: %d",
            p(0, 1):uint() == 0 and "1 stop bit" or p(0, 1):uint() == 1 and "1.5 stop bits"
                or "2 stop bits",
            PARITY[p(1, 1):uint()] or "Strange", p(2, 1):uint())
    end,
    [4] = function(p, tree)
        if p:len() < 8 then return nil end
        local code, value = p(0, 4):le_uint(), p(4, 4):le_uint()
        tree:add_le(f.notice, p(0, 4))
        if code == 7 then
            tree:add_le(f.notice_call, p(4, 4))
        else
            tree:add_le(f.notice_value, p(4, 4))
        end
        local who = ""
        if p:len() > 8 then
            tree:add(f.notice_command, p(8))
            who = " (" .. p(8):string() .. ")"
        end
        local words = NOTICES[code] or ("Notice " .. code)
        if code == 1 or code == 3 or code == 6 then
            words = words .. ": " .. value
        elseif code == 2 or code == 5 then
            words = words .. ": process " .. value
        elseif code == 7 then
            words = words .. ": " .. (CALLS[value] or value) .. who
        elseif code == 8 then
            words = words .. ": " .. value .. " us after its open" .. who
        elseif code == 9 then
            words = words .. who
        end
        return words
    end,
    [7] = function(p, tree)
        if p:len() < 24 then return nil end
        tree:add_le(f.process_pid, p(0, 4))
        tree:add_le(f.process_uid, p(4, 4))
        tree:add(f.process_command, p(8, 16))
        if p:len() > 24 then
            tree:add(f.process_path, p(24))
        end
        return string.format("Process %d (%s), uid %d", p(0, 4):le_uint(), p(8, 16):stringz(),
            p(4, 4):le_uint())
    end,
    [8] = function(p, tree)
        if p:len() < 8 then return nil end
        tree:add_le(f.modem_call, p(0, 4))
        tree:add_le(f.modem_lines, p(4, 4))
        local names = bit_names(p(4, 4):le_uint(), LINES, " ")
        tree:add(f.modem_names, p(4, 4), names)
        return "Modem lines " .. (MODEM_CALLS[p(0, 4):le_uint()] or "changed") .. ": " .. names
    end,
    [9] = function(p, tree)
        if p:len() < 8 then return nil end
        local code, value = p(0, 4):le_uint(), p(4, 4):le_uint()
        tree:add_le(f.control, p(0, 4))
        tree:add_le(f.control_value, p(4, 4))
        if code == 1 then return "Break for " .. value .. " ms" end
        if code == 5 then return "Flush " .. (FLUSH_QUEUES[value] or value) end
        if code == 6 then return FLOW_ACTIONS[value] or ("Flow " .. value) end
        return CONTROLS[code] or ("Port control " .. code)
    end,
    [10] = function(p, tree)
        if p:len() < 3 then return nil end
        tree:add(f.flow_rts_cts, p(0, 1))
        tree:add(f.flow_xon_out, p(0, 1))
        tree:add(f.flow_xon_in, p(0, 1))
        tree:add(f.vmin, p(1, 1))
        tree:add(f.vtime, p(2, 1))
        return string.format("Flow control: %s; VMIN %d, VTIME %d",
            bit_names(p(0, 1):uint(), FLOWS, ", "), p(1, 1):uint(), p(2, 1):uint())
    end,
    [11] = function(p, tree)
        if p:len() < 8 then return nil end
        tree:add_le(f.failed_request, p(0, 4))
        tree:add_le(f.failed_errno, p(4, 4))
        return string.format("Call 0x%X failed: error %d", p(0, 4):le_uint(), p(4, 4):le_uint())
    end,
}

local function dissect_data(kind, payload, tree)
    local written = kind == 2
    tree:add(f.direction, written and "written" or "read")
    if payload:len() == 0 then
        return (written and "Written" or "Read") .. " 0 bytes"
    end
    tree:add(f.data, payload)
    tree:add(f.text, payload, printable(payload))
    return string.format("%s %d bytes: %s", written and "Written" or "Read", payload:len(),
        printable(payload(0, math.min(payload:len(), 32))))
end

function wirelet.dissector(tvb, pinfo, root)
    pinfo.cols.protocol = "wirelet"
    local tree = root:add(wirelet, tvb())
    if tvb:len() < 32 or tvb(2, 2):le_uint() < 32 or tvb(2, 2):le_uint() > tvb:len() then
        tree:add_proto_expert_info(e_short)
        return
    end
    local head = tvb(2, 2):le_uint()
    local kind = tvb(1, 1):uint()
    tree:add(f.version, tvb(0, 1))
    tree:add(f.type, tvb(1, 1))
    tree:add_le(f.head_length, tvb(2, 2))
    tree:add_le(f.seq, tvb(4, 4))
    tree:add_le(f.pid, tvb(8, 4))
    tree:add(f.command, tvb(12, 16))
    tree:add_le(f.length, tvb(28, 4))
    local length = tvb(28, 4):le_uint()
    if head + length > tvb:len() then
        tree:add_proto_expert_info(e_short)
        return
    end
    local payload = length > 0 and tvb(head, length) or tvb(head, 0)

    local words
    if kind == 1 or kind == 2 then
        words = dissect_data(kind, payload, tree)
    elseif DECODE[kind] then
        words = DECODE[kind](payload, tree)
        if not words then
            tree:add_proto_expert_info(e_short)
            words = TYPES[kind]
        else
            tree:add(f.text, payload, words)
        end
    else
        words = "Event " .. kind
    end
    if kind == 4 then
        local code = length >= 4 and payload(0, 4):le_uint() or 0
        if code == 1 or code == 3 or code == 4 or code == 6 or code == 8 or code == 9 then
            tree:add_proto_expert_info(e_loss, words)
        end
    end

    local pid, command = tvb(8, 4):le_uint(), tvb(12, 16):stringz()
    local who = pid == 0 and "" or (command ~= "" and (pid .. " " .. command) or tostring(pid))
    pinfo.cols.src = who
    pinfo.cols.info = words
    -- Last, so that the protocol on the wire has the columns.
    local sub = (kind == 1 or kind == 2) and payload:len() > 0 and wirelet.prefs.payload ~= ""
        and Dissector.get(wirelet.prefs.payload)
    if sub then
        sub:call(payload:tvb(), pinfo, root)
    end
end

local encaps = wtap_encaps or wtap
DissectorTable.get("wtap_encap"):add(encaps.USER0, wirelet)
