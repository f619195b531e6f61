# Formatted output of 100,000 lines to the console.
import math

for i in range(1, 100001):
    print('line %.8g half %.8g root %.8g' % (i, i / 2, math.sqrt(i)))
