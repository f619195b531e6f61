-- Counting loop: 3,000,000 rounds of assignment, arithmetic and comparison.
n = 0
total = 0
while n < 3000000 do
    n = n + 1
    total = total + n % 7
end
print(string.format("%d %d", n, total))
