# Recursive calls with an argument: fib(20) computed 300 times.
proc fib {n} {
    if {$n < 2} { return $n }
    return [expr {[fib [expr {$n - 1}]] + [fib [expr {$n - 2}]]}]
}
set total 0
for {set k 1} {$k <= 300} {incr k} {
    set total [expr {$total + [fib 20]}]
}
puts "[fib 20] $total"
