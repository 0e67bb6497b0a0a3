n = 0
for i = 1, 10000000 do
  if i == 9999999 then break end
  if i % 3 ~= 0 then n = n + 1 end
end
print(n)
