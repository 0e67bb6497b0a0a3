local function f(x) return x + 1 end
n = 0
for _ = 1, 10000000 do n = f(n) end
print(n)
