# Formatted output of 100,000 lines to the console.
for {set i 1} {$i <= 100000} {incr i} {
    puts [format "line %.8g half %.8g root %.8g" $i [expr {$i / 2.0}] [expr {sqrt($i)}]]
}
