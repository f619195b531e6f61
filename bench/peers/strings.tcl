# String work: append, cut and measure a short string 600,000 times.
set s ""
set total 0
for {set i 1} {$i <= 600000} {incr i} {
    set s "${s}xyz"
    if {[string length $s] > 30} {
        set s "[string range $s 10 end][string range $s 0 1]"
    }
    set total [expr {$total + [string length [string range $s 0 4]]}]
}
puts "$total [string length $s] $s"
