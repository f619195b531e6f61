# Recursive calls with an argument: fib(20) computed 300 times.
def fib(n):
    if n < 2:
        return n
    return fib(n - 1) + fib(n - 2)

total = 0
for k in range(1, 301):
    total = total + fib(20)
print(fib(20), total)
