-- Recursive calls with an argument: fib(20) computed 300 times.
function fib(n)
    if n < 2 then return n end
    return fib(n - 1) + fib(n - 2)
end
total = 0
for k = 1, 300 do
    total = total + fib(20)
end
print(string.format("%d %d", fib(20), total))
