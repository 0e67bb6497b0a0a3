set n 0
for {set i 1} {$i <= 10000000} {incr i} {
  if {$i == 9999999} break
  if {$i % 3 == 0} continue
  incr n
}
puts $n
