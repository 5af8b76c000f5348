# The count, its size, C(N, K) and the probability, as text and as JSON;
# then a probability no double holds.
lumbra-kit count 10 5 2
lumbra-kit count 12 3 2 --format json
lumbra-kit count 2400 1200 1 --format json | sed 's/"count":"[0-9]*"/"count":.../; s/"total":"[0-9]*"/"total":.../'
