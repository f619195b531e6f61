-- Formatted output of 100,000 lines to the console.
for i = 1, 100000 do
    io.write(string.format("line %.8g half %.8g root %.8g\n", i, i / 2, math.sqrt(i)))
end
