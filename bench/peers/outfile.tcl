# Formatted output of 100,000 lines to the file bench_out.txt.
set f [open bench_out.txt w]
for {set i 1} {$i <= 100000} {incr i} {
    puts $f [format "line %.8g half %.8g root %.8g" $i [expr {$i / 2.0}] [expr {sqrt($i)}]]
}
close $f
puts [expr {$i - 1}]
