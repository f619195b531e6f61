# String work: append, cut and measure a short string 600,000 times.
s = ''
total = 0
for i in range(1, 600001):
    s = s + 'xyz'
    if len(s) > 30:
        s = s[10:] + s[:2]
    total = total + len(s[:5])
print(total, len(s), s)
