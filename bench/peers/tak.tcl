# Recursive calls with three arguments: tak(18, 12, 6) computed 60 times.
proc tak {x y z} {
    if {$y < $x} {
        return [tak [tak [expr {$x - 1}] $y $z] [tak [expr {$y - 1}] $z $x] [tak [expr {$z - 1}] $x $y]]
    }
    return $z
}
set total 0
for {set k 1} {$k <= 60} {incr k} {
    set total [expr {$total + [tak 18 12 6]}]
}
puts "[tak 18 12 6] $total"
