# A file crafted to meet every law (two 2048-bit blocks for each k, the k
# ones first and the k ones spread evenly) and a summary that claims one
# 2048-bit block for each k: --max-seconds refuses either once it is read,
# with the estimate, before any law is made, and stops `blocks` before the
# p-value that would pass it; without a limit the file is judged, each
# (k, statistic) counting its two extreme values apart.
python3 - <<'PY'
import json
n = 2048
out = bytearray()
for k in range(n + 1):
    farthest = (1 << n) - (1 << (n - k)) if k else 0
    even = int(''.join(str(((i + 1) * k) // n - (i * k) // n) for i in range(n)), 2)
    out += farthest.to_bytes(n // 8, 'big') + even.to_bytes(n // 8, 'big')
open('crafted.bin', 'wb').write(out)
blocks, bits = n + 1, (n + 1) * n
test = lambda t: dict(passing=blocks, bins_observed=[0] * 9 + [blocks])
s = dict(block_size=n, file_bits=bits, first_block=0, block_count=blocks, ranges=[[0, blocks]], blocks=blocks,
         bits=bits, ones=n * (n + 1) // 2,
         tests={t: test(t) for t in ['ones', 'deviation', 'runs', 'longest_run', 'deviation_up', 'deviation_down']},
         whole_file=dict(runs=2, first_bit=1, last_bit=0), deviations=dict(observed=[blocks]),
         shapes=[[n, k, 1] for k in range(n + 1)])
open('crafted.json', 'w').write(json.dumps(s) + '\n')
PY
lumbra-kit test -q -n 2048 --statistics all --max-seconds 2 crafted.bin
echo "test --max-seconds 2: status $?"
lumbra-kit merge --max-seconds 2 crafted.json
echo "merge --max-seconds 2: status $?"
lumbra-kit blocks -q -n 2048 --max-seconds 1 crafted.bin > /dev/null
echo "blocks --max-seconds 1: status ${PIPESTATUS[0]}"
lumbra-kit test -q -n 2048 -j 2 --max-seconds 100 crafted.bin | head -3
echo "test --max-seconds 100: status ${PIPESTATUS[0]}"
lumbra-kit test -q -n 2048 --max-seconds x crafted.bin
