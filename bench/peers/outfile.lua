-- Formatted output of 100,000 lines to the file bench_out.txt.
local f = assert(io.open("bench_out.txt", "w"))
local i = 1
while i <= 100000 do
    f:write(string.format("line %.8g half %.8g root %.8g\n", i, i / 2, math.sqrt(i)))
    i = i + 1
end
f:close()
print(i - 1)
