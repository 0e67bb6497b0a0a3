proc f {x} { return [expr {$x + 1}] }
set n 0
for {set k 0} {$k < 10000000} {incr k} { set n [f $n] }
puts $n
