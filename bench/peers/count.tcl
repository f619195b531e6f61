# Counting loop: 3,000,000 rounds of assignment, arithmetic and comparison.
set n 0
set total 0
while {$n < 3000000} {
    set n [expr {$n + 1}]
    set total [expr {$total + $n % 7}]
}
puts "$n $total"
