# Loads a web file (settings and cell records, escapes undone, LF made CR LF)
# and saves it again as the web writer does: websave.tcl IN OUT.
set SETTINGS {isrc iname iecho odest oname onewl cfmt citer cdisp rtype rfmt rall starg
    srpl scount sout nfmt ndec nang pltng xmax xmin ymax ymin xintrvls yintrvls xycells}

proc unescape {s} { string map {&lt; < &amp; &} $s }
proc escape {s} { string map {& &amp; < &lt;} $s }

proc load {path} {
    global SETTINGS settings cells
    set f [open $path rb]
    set data [read $f]
    close $f
    set data [string map [list \n \r\n] [string map [list \r\n \n] $data]]
    array set settings {}
    array set cells {}
    set cells(home) [list {} {} {}]
    set rec home
    set pos 0
    while {[regexp -start $pos -indices {<([^>]*)>} $data all tagi]} {
        set tag [string range $data {*}$tagi]
        set name [string map {/ {}} $tag]
        if {$name eq "eof"} break
        if {[string first / $tag] >= 0} {
            set content [unescape [string range $data $pos [expr {[lindex $all 0] - 1}]]]
            switch -- $name {
                cname {
                    set rec $content
                    if {![info exists cells($rec)]} { set cells($rec) [list {} {} {}] }
                }
                text { lset cells($rec) 0 $content }
                val {
                    set v [string trimleft $content " "]
                    if {[regexp {^[0-9.+-]} $v]} {
                        regexp {^[0-9.+eE-]+} $v num
                        lset cells($rec) 1 [list num [expr {double($num)}]]
                    } elseif {$content ne ""} {
                        lset cells($rec) 1 [list str $content]
                    }
                }
                script - form { lset cells($rec) 2 $content }
                default {
                    if {$name in $SETTINGS} { set settings($name) $content }
                }
            }
        }
        set pos [expr {[lindex $all 1] + 1}]
    }
}

proc save {path} {
    global SETTINGS settings cells
    set ndec 2
    if {[info exists settings(ndec)]} { set ndec $settings(ndec) }
    set out "\n<opts>"
    foreach t $SETTINGS {
        set v {}
        if {[info exists settings($t)]} { set v $settings($t) }
        append out "\n<$t>[escape $v]</$t>"
    }
    append out "</opts>"
    set keyed {}
    foreach name [array names cells] {
        lappend keyed [list [string map {_ { }} [string toupper $name]] $name]
    }
    foreach pair [lsort -index 0 $keyed] {
        set name [lindex $pair 1]
        lassign $cells($name) text value script
        append out "\n<cell>\n<cname>$name</cname>"
        if {$text ne ""} { append out "\n<text>[escape $text]</text>" }
        if {[lindex $value 0] eq "num"} {
            append out "\n<val>[format %.${ndec}g [lindex $value 1]]</val>"
        } elseif {$value ne ""} {
            append out "\n<val>[escape [lindex $value 1]]</val>"
        }
        if {$script ne ""} { append out "\n<script>[escape $script]</script>" }
        append out "</cell>"
    }
    append out "</eof>"
    set f [open $path wb]
    puts -nonewline $f $out
    close $f
}

load [lindex $argv 0]
save [lindex $argv 1]
