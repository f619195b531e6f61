-- Loads a web file (settings and cell records, escapes undone, LF made CR LF)
-- and saves it again as the web writer does: websave.lua IN OUT.
local SETTINGS = {'isrc', 'iname', 'iecho', 'odest', 'oname', 'onewl', 'cfmt', 'citer', 'cdisp',
    'rtype', 'rfmt', 'rall', 'starg', 'srpl', 'scount', 'sout', 'nfmt', 'ndec', 'nang',
    'pltng', 'xmax', 'xmin', 'ymax', 'ymin', 'xintrvls', 'yintrvls', 'xycells'}
local is_setting = {}
for _, t in ipairs(SETTINGS) do is_setting[t] = true end

local function unescape(s) return (s:gsub('&lt;', '<'):gsub('&amp;', '&')) end
local function escape(s) return (s:gsub('&', '&amp;'):gsub('<', '&lt;')) end

local function load(path)
    local f = assert(io.open(path, 'rb'))
    local data = f:read('a')
    f:close()
    data = data:gsub('\r\n', '\n'):gsub('\n', '\r\n')
    local settings, cells = {}, {home = {text = '', script = ''}}
    local rec
    local pos = 1
    while true do
        local s, e, tag = data:find('<([^>]*)>', pos)
        if not s then break end
        local name = tag:gsub('/', '')
        if name == 'eof' then break end
        if tag:find('/', 1, true) then
            local content = unescape(data:sub(pos, s - 1))
            if name == 'cname' then
                rec = cells[content]
                if not rec then
                    rec = {text = '', script = ''}
                    cells[content] = rec
                end
            elseif name == 'text' then
                rec.text = content
            elseif name == 'val' then
                local v = content:gsub('^ +', '')
                if v:find('^[%d%.%+%-]') then rec.value = tonumber(v:match('^[%d%.%+%-eE]+'))
                elseif content ~= '' then rec.value = content end
            elseif name == 'script' or name == 'form' then
                rec.script = content
            elseif is_setting[name] then
                settings[name] = content
            end
        end
        pos = e + 1
    end
    return settings, cells
end

local function save(path, settings, cells)
    local ndec = tonumber(settings.ndec or '2')
    local out = {'\n<opts>'}
    for _, t in ipairs(SETTINGS) do
        out[#out + 1] = '\n<' .. t .. '>' .. escape(settings[t] or '') .. '</' .. t .. '>'
    end
    out[#out + 1] = '</opts>'
    local names, keys = {}, {}
    for name in pairs(cells) do
        names[#names + 1] = name
        keys[name] = name:upper():gsub('_', ' ')
    end
    table.sort(names, function(a, b) return keys[a] < keys[b] end)
    for _, name in ipairs(names) do
        local c = cells[name]
        out[#out + 1] = '\n<cell>\n<cname>' .. name .. '</cname>'
        if c.text ~= '' then out[#out + 1] = '\n<text>' .. escape(c.text) .. '</text>' end
        if type(c.value) == 'number' then
            out[#out + 1] = string.format('\n<val>%.' .. ndec .. 'g</val>', c.value)
        elseif c.value then
            out[#out + 1] = '\n<val>' .. escape(c.value) .. '</val>'
        end
        if c.script ~= '' then out[#out + 1] = '\n<script>' .. escape(c.script) .. '</script>' end
        out[#out + 1] = '</cell>'
    end
    out[#out + 1] = '</eof>'
    local f = assert(io.open(path, 'wb'))
    f:write(table.concat(out))
    f:close()
end

local settings, cells = load(arg[1])
save(arg[2], settings, cells)
