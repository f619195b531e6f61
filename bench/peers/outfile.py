# Formatted output of 100,000 lines to the file bench_out.txt.
import math

with open('bench_out.txt', 'w') as f:
    for i in range(1, 100001):
        f.write('line %.8g half %.8g root %.8g\n' % (i, i / 2, math.sqrt(i)))
print(i)
