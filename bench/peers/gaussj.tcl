# A 12x12 linear system solved by Gauss-Jordan elimination with full
# pivoting 2,000 times; the matrix is refilled before each solve. The
# matrix is an array indexed "row,column", as a script at top level keeps it.
set N 12

proc gaussj {aname bname n m} {
    upvar 1 $aname a $bname b
    for {set j 0} {$j < $n} {incr j} { set ipiv($j) 0 }
    set irow 0
    set icol 0
    for {set i 0} {$i < $n} {incr i} {
        set big 0.0
        for {set j 0} {$j < $n} {incr j} {
            if {$ipiv($j) != 1} {
                for {set k 0} {$k < $n} {incr k} {
                    if {$ipiv($k) == 0} {
                        if {abs($a($j,$k)) >= $big} {
                            set big [expr {abs($a($j,$k))}]
                            set irow $j
                            set icol $k
                        }
                    } elseif {$ipiv($k) > 1} {
                        return -1
                    }
                }
            }
        }
        incr ipiv($icol)
        if {$irow != $icol} {
            for {set l 0} {$l < $n} {incr l} {
                set t $a($irow,$l)
                set a($irow,$l) $a($icol,$l)
                set a($icol,$l) $t
            }
            for {set l 0} {$l < $m} {incr l} {
                set t $b($irow,$l)
                set b($irow,$l) $b($icol,$l)
                set b($icol,$l) $t
            }
        }
        set indxr($i) $irow
        set indxc($i) $icol
        if {$a($icol,$icol) == 0.0} { return -1 }
        set pivinv [expr {1.0 / $a($icol,$icol)}]
        set a($icol,$icol) 1.0
        for {set l 0} {$l < $n} {incr l} { set a($icol,$l) [expr {$a($icol,$l) * $pivinv}] }
        for {set l 0} {$l < $m} {incr l} { set b($icol,$l) [expr {$b($icol,$l) * $pivinv}] }
        for {set ll 0} {$ll < $n} {incr ll} {
            if {$ll != $icol} {
                set dum $a($ll,$icol)
                set a($ll,$icol) 0.0
                for {set l 0} {$l < $n} {incr l} {
                    set a($ll,$l) [expr {$a($ll,$l) - $a($icol,$l) * $dum}]
                }
                for {set l 0} {$l < $m} {incr l} {
                    set b($ll,$l) [expr {$b($ll,$l) - $b($icol,$l) * $dum}]
                }
            }
        }
    }
    for {set l [expr {$n - 1}]} {$l >= 0} {incr l -1} {
        if {$indxr($l) != $indxc($l)} {
            for {set k 0} {$k < $n} {incr k} {
                set t $a($k,$indxr($l))
                set a($k,$indxr($l)) $a($k,$indxc($l))
                set a($k,$indxc($l)) $t
            }
        }
    }
    return 0
}

set res 0
for {set rep 0} {$rep < 2000} {incr rep} {
    for {set i 0} {$i < $N} {incr i} {
        for {set j 0} {$j < $N} {incr j} {
            set a($i,$j) [expr {1.0 / (1 + abs($i - $j)) + ($i == $j ? 12 : 0)}]
        }
        set b($i,0) [expr {$i + 1.0}]
    }
    set res [gaussj a b $N 1]
}
set out {}
for {set i 0} {$i < $N} {incr i} { lappend out [format %.6f $b($i,0)] }
puts "[join $out { }] [format %.6f $res]"
