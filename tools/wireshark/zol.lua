-- Wireshark dissector for captures of the link between the module's IPC agent
-- library and the IMS stack (zol-imsd --pcap FILE, or ZOL_AGENT_PCAP=FILE).
--
--   tshark -X lua_script:tools/wireshark/zol.lua -r FILE
--   wireshark -X lua_script:tools/wireshark/zol.lua FILE
--   (or copy this file into ~/.local/lib/wireshark/plugins/)
--
-- Link type DLT_USER0. Each record starts with a 12-byte pseudo-header written
-- by the capture (sim/common/capture.h):
--   0  version 1 | 1 direction (1 module -> stack, 2 stack -> module)
--   2  capture point (1 agent library, 2 zol-imsd) | 3 reserved
--   4  connection number, big-endian | 8 module process id, big-endian
-- then the frame as it crossed the socket: an 11-byte big-endian header (lead
-- byte 0, token id, message id, payload length) and the payload, whose records
-- are packed and little-endian.
--
-- Message names are those of zol-imsd's trace; the stack's own names (eTKM_...)
-- where it has one. A frame is marked malformed when its header is short or
-- wrong, its length field disagrees with what was captured, or its payload is
-- shorter than the record the module sends or reads.

local zol = Proto("zol", "ZOL IPC frame")

local MODULE, STACK = 1, 2

-- id -> { name, sender, exact payload length (module's messages) or the
-- least the module reads (stack's messages) }
local messages = {
    [1] = { "dial", MODULE, 1655 },
    [2] = { "answer", MODULE, 1526 },
    [3] = { "mt-invite-response", MODULE, 9 },
    [4] = { "release-calls", MODULE, 5 },
    [5] = { "dtmf-start", MODULE, 2 },
    [6] = { "dtmf-stop", MODULE, 5 },
    [9] = { "call-modify", MODULE, 1517 },
    [10] = { "call-modify-response", MODULE, 1521 },
    [12] = { "conference-join", MODULE, 0 },
    [15] = { "conference-split", MODULE, 1 },
    [17] = { "get-current-calls", MODULE, 0 },
    [18] = { "swap", MODULE, 0 },
    [19] = { "eTKM_CALL_GET_RUN_STATUS_REQ", MODULE, 0 },
    [20] = { "get-config", MODULE, 4 },
    [21] = { "set-config", MODULE, 54 },
    [22] = { "set-registration", MODULE, 4 },
    [51] = { "sups-operation", MODULE, 167 },
    [61] = { "send-sms", MODULE, 321 },
    [62] = { "ack-sms", MODULE, 8 },
    [30002] = { "eTKM_CALL_MT_INVITE_IND", STACK, 138 },
    [30003] = { "eTKM_CALL_MT_RING_CNF_IND", STACK, 0 },
    [30004] = { "eTKM_CALL_CONNECTED_IND", STACK, 1 },
    [30005] = { "eTKM_CALL_END_IND", STACK, 5 },
    [30006] = { "eTKM_CALL_MO_PROG_INFO_IND", STACK, 0 },
    [30007] = { "eTKM_CALL_HOLD_IND", STACK, 0 },
    [30008] = { "eTKM_CALL_RETRIEVE_IND", STACK, 0 },
    [30009] = { "eTKM_CALL_SUPS_CONF", STACK, 0 },
    [30010] = { "eTKM_CALL_CONNECTED_NUM_IND", STACK, 0 },
    [30011] = { "eTKM_CALL_TRANSFER_IND", STACK, 0 },
    [30012] = { "eTKM_CALL_WAIT_VOIP_CALL_IND", STACK, 0 },
    [30013] = { "eTKM_CALL_MODIFY_CNF_IND", STACK, 0 },
    [30014] = { "eTKM_CALL_MODIFY_IND", STACK, 0 },
    [30015] = { "eTKM_CALL_AUDIO_CODEC_INFO_IND", STACK, 0 },
    [30016] = { "eTKM_CALL_DTMF_START_CONF", STACK, 5 },
    [30017] = { "eTKM_CALL_DTMF_STOP_CONF", STACK, 5 },
    [30018] = { "eTKM_CALL_JOIN_CONFERENCE_CALL_IND", STACK, 0 },
    [30019] = { "eTKM_CALL_CONFERENCE_INFO_IND", STACK, 1 },
    [30020] = { "eTKM_CALL_SRVCC_INFO_IND", STACK, 4 },
    [30021] = { "eTKM_CALL_CUR_CALL_IND", STACK, 1 },
    [30022] = { "eTKM_CALL_RUN_STATUS_INFO_IND", STACK, 4 },
    [30023] = { "call-forwarding-ind", STACK, 0 },
    [30024] = { "eTKM_CALL_GET_CFG_CONF", STACK, 4 },
    [30052] = { "eTKM_SUPS_ACTIVATE_SS_CONF", STACK, 9 },
    [30053] = { "eTKM_SUPS_DEACTIVATE_SS_CONF", STACK, 9 },
    [30054] = { "eTKM_SUPS_ERASE_SS_CONF", STACK, 9 },
    [30055] = { "eTKM_SUPS_INTERROGATE_SS_CONF", STACK, 9 },
    [30056] = { "eTKM_SUPS_REGISTER_SS_CONF", STACK, 9 },
    [30102] = { "incoming-sms", STACK, 608 },
    [30103] = { "sms-send-status", STACK, 12 },
}

local message_names = {}
for id, m in pairs(messages) do
    message_names[id] = m[1]
end

local directions = { [1] = "module -> stack", [2] = "stack -> module" }
local points = { [1] = "agent library", [2] = "zol-imsd" }
local call_types = { [1] = "voice", [4] = "video" }
local call_states = {
    [1] = "idle", [2] = "dialing", [3] = "incoming", [4] = "active",
    [5] = "alerting", [6] = "releasing", [7] = "held", [8] = "waiting",
}
local call_dirs = { [1] = "mobile terminated", [2] = "mobile originated" }
local number_kinds = { [1] = "single party", [2] = "conference" }
local release_kinds = {
    [1] = "the call with this index", [2] = "waiting or background calls",
    [3] = "foreground calls, then resume the background call",
}
local ss_ops = { [1] = "register", [2] = "erase", [3] = "activate", [4] = "deactivate", [5] = "interrogate" }
local ss_codes = {
    [0] = "none", [1] = "call waiting", [2] = "all call forwarding", [3] = "call forwarding unconditional",
    [4] = "all conditional call forwarding", [5] = "call forwarding on busy",
    [6] = "call forwarding on no reply", [7] = "call forwarding on not reachable",
    [8] = "barring AG", [9] = "barring AO", [10] = "barring OI", [11] = "barring OX",
    [12] = "barring AC", [13] = "barring AI", [14] = "barring IR",
    [15] = "CLIP", [16] = "CLIR", [17] = "COLP", [18] = "COLR",
}
local ss_info_types = { [3] = "forwarding feature list", [5] = "SS status information" }
local tpdu_types = { [0] = "message", [2] = "status report" }
local sms_errors = { [0] = "success", [10] = "time-out" }

local f = {
    version = ProtoField.uint8("zol.version", "Capture version"),
    direction = ProtoField.uint8("zol.direction", "Direction", base.DEC, directions),
    point = ProtoField.uint8("zol.point", "Captured by", base.DEC, points),
    connection = ProtoField.uint32("zol.connection", "Connection"),
    pid = ProtoField.uint32("zol.pid", "Module process id"),
    lead = ProtoField.uint8("zol.lead", "Lead byte", base.HEX),
    token = ProtoField.uint32("zol.token", "Token id"),
    msg = ProtoField.uint16("zol.msg", "Message id", base.DEC, message_names),
    name = ProtoField.string("zol.name", "Message"),
    length = ProtoField.uint32("zol.length", "Payload length"),
    payload = ProtoField.bytes("zol.payload", "Payload"),

    call_id = ProtoField.uint8("zol.call.id", "Call id"),
    number = ProtoField.string("zol.call.number", "Number"),
    number_len = ProtoField.uint8("zol.call.number_len", "Number length"),
    number_kind = ProtoField.uint32("zol.dial.kind", "Number kind", base.DEC, number_kinds),
    participants = ProtoField.string("zol.dial.participants", "Participants"),
    call_att = ProtoField.uint32("zol.dial.att", "Call attribute word"),
    call_type = ProtoField.uint32("zol.call.type", "Call type", base.DEC, call_types),
    video_dir = ProtoField.uint32("zol.call.video_dir", "Video direction", base.HEX),
    state = ProtoField.uint32("zol.call.state", "Call state", base.DEC, call_states),
    call_dir = ProtoField.uint32("zol.call.dir", "Direction", base.DEC, call_dirs),
    attr = ProtoField.uint32("zol.call.attr", "Attribute word"),
    mpty = ProtoField.uint8("zol.call.mpty", "Multiparty"),
    text = ProtoField.string("zol.call.text", "Text"),
    calls = ProtoField.uint8("zol.calls", "Number of calls"),
    end_cause = ProtoField.uint32("zol.call.end_cause", "End cause"),
    accept = ProtoField.uint32("zol.call.accept", "Accept"),
    reject_cause = ProtoField.uint32("zol.call.reject_cause", "Reject cause type"),
    fixed = ProtoField.uint32("zol.call.fixed", "Fixed word"),
    release_index = ProtoField.uint8("zol.release.index", "Connection index"),
    release_kind = ProtoField.uint8("zol.release.kind", "Release", base.DEC, release_kinds),
    dtmf = ProtoField.string("zol.dtmf.digit", "DTMF character"),
    result = ProtoField.uint32("zol.result", "Result"),
    srvcc = ProtoField.uint32("zol.srvcc.type", "Handover type"),
    run_status = ProtoField.uint32("zol.reg.run_status", "Run status"),
    cfg_item = ProtoField.uint32("zol.cfg.item", "Configuration item"),
    cfg_value = ProtoField.bytes("zol.cfg.value", "Value"),

    pdu = ProtoField.string("zol.sms.pdu", "PDU"),
    pdu_len = ProtoField.uint32("zol.sms.pdu_len", "PDU length"),
    smsc = ProtoField.string("zol.sms.smsc", "SMSC address"),
    smsc_len = ProtoField.uint32("zol.sms.smsc_len", "SMSC address length"),
    msg_ref = ProtoField.uint32("zol.sms.msg_ref", "Message reference"),
    tech = ProtoField.uint32("zol.sms.tech", "Technology family", base.DEC, { [1] = "3GPP", [2] = "3GPP2" }),
    ack_success = ProtoField.uint32("zol.sms.ack_success", "Accepted"),
    ack_cause = ProtoField.uint32("zol.sms.ack_cause", "Failure cause"),
    tpdu_type = ProtoField.uint32("zol.sms.tpdu_type", "TPDU type", base.DEC, tpdu_types),
    sms_error = ProtoField.uint32("zol.sms.error", "Error code", base.DEC, sms_errors),

    ss_op = ProtoField.uint32("zol.ss.op", "Operation", base.DEC, ss_ops),
    ss_code = ProtoField.uint32("zol.ss.code", "Service", base.DEC, ss_codes),
    ss_flag = ProtoField.uint32("zol.ss.present", "Present"),
    ss_number = ProtoField.string("zol.ss.number", "Forwarding number"),
    ss_number_len = ProtoField.uint8("zol.ss.number_len", "Number length"),
    ss_time = ProtoField.uint8("zol.ss.no_reply_time", "No-reply time"),
    ss_basic = ProtoField.uint32("zol.ss.basic_service", "Basic service type"),
    ss_class = ProtoField.uint8("zol.ss.class", "Service class"),
    ss_interval = ProtoField.string("zol.ss.interval", "Time interval"),
    ss_password = ProtoField.string("zol.ss.password", "Password"),
    ss_success = ProtoField.uint32("zol.ss.success", "Success"),
    ss_info = ProtoField.uint32("zol.ss.info_type", "Information", base.DEC, ss_info_types),
    ss_active = ProtoField.uint32("zol.ss.active", "Active"),
    ss_list_len = ProtoField.uint8("zol.ss.list_len", "Forwarding features"),
}
zol.fields = f

local e_malformed = ProtoExpert.new("zol.malformed", "Malformed frame", expert.group.MALFORMED,
    expert.severity.ERROR)
local e_unknown = ProtoExpert.new("zol.unknown", "Message id the module does not know",
    expert.group.UNDECODED, expert.severity.WARN)
local e_direction = ProtoExpert.new("zol.wrong_direction", "Message id of the other direction",
    expert.group.PROTOCOL, expert.severity.WARN)
zol.experts = { e_malformed, e_unknown, e_direction }

local gsm_sms = Dissector.get("gsm_sms")

-- A text field ends at its first zero byte or at the end of its width.
local function text_at(tvb, offset, width)
    local n = 0
    while n < width and tvb(offset + n, 1):uint() ~= 0 do
        n = n + 1
    end
    if n == 0 then
        return tvb(offset, width), ""
    end
    return tvb(offset, width), tvb(offset, n):string()
end

local function counted_text(tvb, offset, width, count)
    if count > width then
        count = width
    end
    if count == 0 then
        return ""
    end
    return tvb(offset, count):string()
end

local function u32(tvb, offset)
    return tvb(offset, 4):le_uint()
end

-- Hex digits as bytes, or nil when the text is no hex.
local function hex_bytes(text)
    if text == "" or #text % 2 ~= 0 or text:find("[^%x]") then
        return nil
    end
    return ByteArray.new(text)
end

-- The PDU text decoded by Wireshark's GSM SMS dissector. Incoming messages
-- start with the SMSC address; hosts send a bare TPDU or one after an SMSC
-- address (often "00"), told apart by where the SMS-SUBMIT type shows.
local function add_tpdu(text, to_network, pinfo, tree)
    local bytes = hex_bytes(text)
    if bytes == nil or gsm_sms == nil then
        return
    end
    local tpdu = bytes:tvb("SMS PDU")
    local skip = tpdu(0, 1):uint() + 1
    local prefixed = not to_network or
        (tpdu(0, 1):bitfield(6, 2) ~= 1 and skip < tpdu:len() and tpdu(skip, 1):bitfield(6, 2) == 1)
    if prefixed then
        if skip >= tpdu:len() then
            return
        end
        tpdu = tpdu(skip):tvb()
    end
    -- The GSM SMS dissector tells SUBMIT from DELIVER by the direction, taking
    -- "received" for mobile to network.
    local saved = pinfo.p2p_dir
    pinfo.p2p_dir = to_network and 1 or 0
    pcall(function() gsm_sms:call(tpdu, pinfo, tree) end)
    pinfo.p2p_dir = saved
    pinfo.cols.protocol = "ZOL"
end

local decoders = {}

local function call_head(tvb, tree)
    tree:add(f.call_id, tvb(0, 1))
    return tvb(0, 1):uint()
end

decoders[1] = function(tvb, tree, pinfo)
    call_head(tvb, tree)
    local len = tvb(129, 1):uint()
    local digits = counted_text(tvb, 1, 128, len)
    tree:add(f.number, tvb(1, 128), digits)
    tree:add(f.number_len, tvb(129, 1))
    tree:add_le(f.number_kind, tvb(130, 4))
    tree:add_le(f.call_type, tvb(134, 4))
    for i = 0, 3 do
        tree:add_le(f.call_att, tvb(138 + 4 * i, 4))
    end
    local range, participants = text_at(tvb, 154, 1501)
    if participants ~= "" then
        tree:add(f.participants, range, participants)
    end
    return digits .. " " .. (call_types[u32(tvb, 134)] or "type " .. u32(tvb, 134))
end

decoders[2] = function(tvb, tree)
    call_head(tvb, tree)
    tree:add_le(f.accept, tvb(1, 4))
    tree:add_le(f.reject_cause, tvb(5, 4))
    tree:add_le(f.call_type, tvb(9, 4))
    tree:add_le(f.fixed, tvb(13, 4))
    tree:add_le(f.video_dir, tvb(17, 4))
    return u32(tvb, 1) ~= 0 and "accept" or "reject"
end

decoders[3] = function(tvb, tree)
    local id = call_head(tvb, tree)
    tree:add_le(f.accept, tvb(1, 4))
    tree:add_le(f.reject_cause, tvb(5, 4))
    return "call " .. id .. (u32(tvb, 1) ~= 0 and " accept" or " refuse")
end

decoders[4] = function(tvb, tree)
    tree:add(f.release_index, tvb(0, 1))
    tree:add(f.release_kind, tvb(1, 1))
    return release_kinds[tvb(1, 1):uint()] or ("kind " .. tvb(1, 1):uint())
end

decoders[5] = function(tvb, tree)
    call_head(tvb, tree)
    tree:add(f.dtmf, tvb(1, 1))
    return tvb(1, 1):string()
end

local function word_request(tvb, tree, field)
    tree:add_le(field, tvb(0, 4))
    return tostring(u32(tvb, 0))
end
decoders[20] = function(tvb, tree) return "item " .. word_request(tvb, tree, f.cfg_item) end
decoders[22] = function(tvb, tree) return word_request(tvb, tree, f.run_status) end
decoders[21] = function(tvb, tree)
    tree:add_le(f.cfg_item, tvb(0, 4))
    tree:add(f.cfg_value, tvb(4, 50))
    return "item " .. u32(tvb, 0)
end

decoders[51] = function(tvb, tree)
    tree:add_le(f.ss_op, tvb(0, 4))
    tree:add_le(f.ss_code, tvb(5, 4))
    local info = (ss_ops[u32(tvb, 0)] or "op " .. u32(tvb, 0)) .. " " ..
        (ss_codes[u32(tvb, 5)] or "service " .. u32(tvb, 5))
    if u32(tvb, 9) ~= 0 then
        local number = counted_text(tvb, 14, 41, tvb(13, 1):uint())
        tree:add(f.ss_number_len, tvb(13, 1))
        tree:add(f.ss_number, tvb(14, 41), number)
        info = info .. " " .. number
    end
    if u32(tvb, 55) ~= 0 then
        tree:add(f.ss_time, tvb(59, 1))
    end
    if u32(tvb, 60) ~= 0 then
        tree:add_le(f.ss_basic, tvb(64, 4))
        tree:add(f.ss_class, tvb(68, 1))
    end
    if u32(tvb, 69) ~= 0 then
        local range, interval = text_at(tvb, 73, 30)
        tree:add(f.ss_interval, range, interval)
    end
    if u32(tvb, 103) ~= 0 then
        local range, password = text_at(tvb, 107, 60)
        tree:add(f.ss_password, range, password)
    end
    return info
end

decoders[61] = function(tvb, tree, pinfo)
    local pdu = counted_text(tvb, 0, 255, u32(tvb, 255))
    local smsc = counted_text(tvb, 259, 50, u32(tvb, 309))
    tree:add(f.pdu, tvb(0, 255), pdu)
    tree:add_le(f.pdu_len, tvb(255, 4))
    tree:add(f.smsc, tvb(259, 50), smsc)
    tree:add_le(f.smsc_len, tvb(309, 4))
    tree:add_le(f.msg_ref, tvb(313, 4))
    tree:add_le(f.tech, tvb(317, 4))
    add_tpdu(pdu, true, pinfo, tree)
    return "ref " .. u32(tvb, 313) .. " " .. pdu
end

decoders[62] = function(tvb, tree)
    tree:add_le(f.ack_success, tvb(0, 4))
    tree:add_le(f.ack_cause, tvb(4, 4))
    return u32(tvb, 0) == 1 and "accepted" or "rejected"
end

decoders[30002] = function(tvb, tree)
    local id = call_head(tvb, tree)
    local range, number = text_at(tvb, 1, 128)
    tree:add(f.number, range, number)
    tree:add_le(f.call_type, tvb(134, 4))
    return "call " .. id .. " from " .. number
end

local function call_only(tvb, tree)
    if tvb:len() >= 1 then
        return "call " .. call_head(tvb, tree)
    end
end
for _, id in ipairs({ 30003, 30004, 30007, 30008, 30010, 30019, 30023 }) do
    decoders[id] = call_only
end

decoders[30005] = function(tvb, tree)
    local id = call_head(tvb, tree)
    tree:add_le(f.end_cause, tvb(1, 4))
    return "call " .. id .. " cause " .. u32(tvb, 1)
end

-- The module reads nothing of the progress indication; zol-imsd sends the
-- call id and the call's new state.
decoders[30006] = function(tvb, tree)
    if tvb:len() < 5 then
        return call_only(tvb, tree)
    end
    local id = call_head(tvb, tree)
    tree:add_le(f.state, tvb(1, 4))
    return "call " .. id .. " " .. (call_states[u32(tvb, 1)] or "state " .. u32(tvb, 1))
end

local function dtmf_conf(tvb, tree)
    local id = call_head(tvb, tree)
    tree:add_le(f.result, tvb(1, 4))
    return "call " .. id .. (u32(tvb, 1) ~= 0 and " done" or " failed")
end
decoders[30016] = dtmf_conf
decoders[30017] = dtmf_conf

decoders[30020] = function(tvb, tree)
    tree:add_le(f.srvcc, tvb(0, 4))
    return "type " .. u32(tvb, 0)
end

decoders[30021] = function(tvb, tree, pinfo)
    local count = tvb(0, 1):uint()
    tree:add(f.calls, tvb(0, 1))
    local summary = {}
    for i = 0, count - 1 do
        local at = 1 + 205 * i
        if at + 205 > tvb:len() then
            return nil, string.format("%d calls claimed, %d carried", count, i)
        end
        local e = tvb(at, 205)
        local _, number = text_at(e, 1, 133)
        local state = u32(e, 142)
        local t = tree:add(zol, e, string.format("Call %d: %s %s", e(0, 1):uint(), number,
            call_states[state] or "state " .. state))
        t:add(f.call_id, e(0, 1))
        t:add(f.number, e(1, 133), number)
        t:add_le(f.call_dir, e(134, 4))
        t:add_le(f.call_type, e(138, 4))
        t:add_le(f.state, e(142, 4))
        t:add_le(f.attr, e(146, 4))
        t:add(f.mpty, e(150, 1))
        local range, text = text_at(e, 151, 50)
        t:add(f.text, range, text)
        t:add_le(f.video_dir, e(201, 4))
        summary[#summary + 1] = e(0, 1):uint() .. ":" .. (call_states[state] or tostring(state))
    end
    return count .. " calls" .. (count > 0 and " " .. table.concat(summary, " ") or "")
end

decoders[30022] = function(tvb, tree)
    return "run status " .. word_request(tvb, tree, f.run_status)
end

decoders[30024] = function(tvb, tree)
    tree:add_le(f.cfg_item, tvb(0, 4))
    if tvb:len() > 4 then
        tree:add(f.cfg_value, tvb(4))
    end
    return "item " .. u32(tvb, 0)
end

local function ss_conf(tvb, tree)
    tree:add_le(f.ss_success, tvb(0, 4))
    tree:add_le(f.ss_info, tvb(5, 4))
    local info = u32(tvb, 0) ~= 0 and "success" or "failure"
    local kind = u32(tvb, 5)
    if kind == 5 then
        if tvb:len() < 37 then
            return nil, "status information shorter than 37 bytes"
        end
        tree:add_le(f.ss_code, tvb(13, 4))
        tree:add_le(f.ss_flag, tvb(17, 4))
        tree:add_le(f.ss_active, tvb(33, 4))
        info = info .. " " .. (ss_codes[u32(tvb, 13)] or "service " .. u32(tvb, 13)) ..
            (u32(tvb, 33) ~= 0 and " active" or " inactive")
    elseif kind == 3 then
        if tvb:len() < 164 then
            return nil, "forwarding feature list shorter than 164 bytes"
        end
        tree:add_le(f.ss_flag, tvb(159, 4))
        tree:add(f.ss_list_len, tvb(163, 1))
        local count = u32(tvb, 159) ~= 0 and tvb(163, 1):uint() or 0
        for i = 0, count - 1 do
            local at = 164 + 88 * i
            if at + 88 > tvb:len() then
                return nil, string.format("%d forwarding features claimed, %d carried", count, i)
            end
            local e = tvb(at, 88)
            local number = counted_text(e, 34, 41, e(33, 1):uint())
            local t = tree:add(zol, e, string.format("Forwarding feature %d: %s %s %s", i,
                ss_codes[u32(e, 84)] or "service " .. u32(e, 84),
                u32(e, 25) ~= 0 and "active" or "inactive", number))
            t:add_le(f.ss_code, e(84, 4))
            t:add_le(f.ss_active, e(25, 4))
            t:add_le(f.ss_basic, e(4, 4))
            t:add(f.ss_number, e(34, 41), number)
            if u32(e, 75) ~= 0 then
                t:add(f.ss_time, e(79, 1))
            end
        end
        info = info .. " " .. count .. " forwarding features"
    end
    return info
end
for id = 30052, 30056 do
    decoders[id] = ss_conf
end

decoders[30102] = function(tvb, tree, pinfo)
    local range, pdu = text_at(tvb, 0, 600)
    tree:add(f.pdu, range, pdu)
    tree:add_le(f.pdu_len, tvb(600, 4))
    tree:add_le(f.tpdu_type, tvb(604, 4))
    add_tpdu(pdu, false, pinfo, tree)
    return (tpdu_types[u32(tvb, 604)] or "type " .. u32(tvb, 604)) .. " " .. pdu
end

decoders[30103] = function(tvb, tree)
    tree:add_le(f.msg_ref, tvb(0, 4))
    tree:add_le(f.sms_error, tvb(8, 4))
    return "ref " .. u32(tvb, 0) .. " " .. (sms_errors[u32(tvb, 8)] or "error " .. u32(tvb, 8))
end

local function malformed(pinfo, tree, why)
    tree:add_proto_expert_info(e_malformed, why)
    pinfo.cols.info:append(" [Malformed: " .. why .. "]")
end

function zol.dissector(tvb, pinfo, root)
    pinfo.cols.protocol = "ZOL"
    local tree = root:add(zol, tvb())
    if tvb:len() < 12 then
        return malformed(pinfo, tree, "capture record shorter than its 12-byte header")
    end
    tree:add(f.version, tvb(0, 1))
    tree:add(f.direction, tvb(1, 1))
    tree:add(f.point, tvb(2, 1))
    tree:add(f.connection, tvb(4, 4))
    tree:add(f.pid, tvb(8, 4))
    local direction = tvb(1, 1):uint()
    pinfo.cols.info = (directions[direction] or "?") .. " "

    local frame = tvb(12):tvb()
    local size = frame:len()
    if size < 11 then
        tree:add(f.payload, frame())
        return malformed(pinfo, tree, string.format("%d bytes, shorter than an 11-byte header", size))
    end
    local id = frame(5, 2):uint()
    local token = frame(1, 4):uint()
    local length = frame(7, 4):uint()
    local m = messages[id]
    local name = m and m[1] or "unknown"
    pinfo.cols.info:append(string.format("%d %s token %d len %d", id, name, token, length))

    tree:add(f.lead, frame(0, 1))
    tree:add(f.token, frame(1, 4))
    tree:add(f.msg, frame(5, 2))
    tree:add(f.name, frame(5, 2), name)
    tree:add(f.length, frame(7, 4))
    if size > 11 then
        tree:add(f.payload, frame(11))
    end

    if frame(0, 1):uint() ~= 0 then
        return malformed(pinfo, tree, string.format("lead byte 0x%02x", frame(0, 1):uint()))
    end
    -- The capture keeps what was sent or read whole, so the length field must match.
    if length ~= size - 11 then
        return malformed(pinfo, tree, string.format("length field %d, %d payload bytes", length,
            size - 11))
    end
    if m == nil then
        tree:add_proto_expert_info(e_unknown)
        return
    end
    local sender = direction == 1 and MODULE or STACK
    if m[2] ~= sender then
        tree:add_proto_expert_info(e_direction)
        return
    end
    local want = m[3]
    if (sender == MODULE and length ~= want) or length < want then
        return malformed(pinfo, tree, string.format("payload of %d bytes, the record is %s%d",
            length, sender == MODULE and "" or "at least ", want))
    end
    local decode = decoders[id]
    if decode == nil or length == 0 then
        return
    end
    local payload = frame(11, length):tvb()
    local sub = tree:add(zol, frame(11, length), name)
    local info, bad = decode(payload, sub, pinfo)
    if bad then
        return malformed(pinfo, tree, bad)
    end
    if info then
        pinfo.cols.info:append(": " .. info)
    end
end

DissectorTable.get("wtap_encap"):add(wtap.USER0, zol)
