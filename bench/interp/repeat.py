n = 0
for i in range(1, 10000001):
    if i == 9999999:
        break
    if i % 3 == 0:
        continue
    n = n + 1
print(n)
