-- Recursive calls with three arguments: tak(18, 12, 6) computed 60 times.
function tak(x, y, z)
    if y < x then
        return tak(tak(x - 1, y, z), tak(y - 1, z, x), tak(z - 1, x, y))
    end
    return z
end
total = 0
for k = 1, 60 do
    total = total + tak(18, 12, 6)
end
print(string.format("%d %d", tak(18, 12, 6), total))
