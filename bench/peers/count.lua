-- Counting loop: 1,000,000 rounds of assignment, arithmetic and comparison.
n = 0
total = 0
while n < 1000000 do
    n = n + 1
    total = total + n % 7
end
print(string.format("%d %d", n, total))
