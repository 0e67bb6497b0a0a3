set i 0
while {$i < 10000000} { incr i }
puts $i
