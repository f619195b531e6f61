-- String work: append, cut and measure a short string 600,000 times.
s = ""
total = 0
for i = 1, 600000 do
    s = s .. "xyz"
    if #s > 30 then
        s = string.sub(s, 11) .. string.sub(s, 1, 2)
    end
    total = total + #string.sub(s, 1, 5)
end
print(string.format("%d %d %s", total, #s, s))
