# Recursive calls with three arguments: tak(18, 12, 6) computed 60 times.
def tak(x, y, z):
    if y < x:
        return tak(tak(x - 1, y, z), tak(y - 1, z, x), tak(z - 1, x, y))
    return z

total = 0
for k in range(1, 61):
    total = total + tak(18, 12, 6)
print(tak(18, 12, 6), total)
