# Far below the doubles the p-value is still a number with a finite bound:
# equal sizes without ties by the reflection sum (17 digits), sizes one
# apart by the diagonal bounds (an enclosure whose ends are printed), ties
# by the tail at the deciding check below and the paths leaving anywhere
# above. Samples 20000 apart of 2 steps: D = 0.5, p near 1e-2170.
seq 0 2 39998 > x.txt
seq 20001 2 60001 > y.txt
seq 20001 2 59999 > y_equal.txt
awk '{ print int($1 / 100) }' x.txt > x_tied.txt
awk '{ print int($1 / 100) }' y.txt > y_tied.txt
lumbra-kit smirnov x.txt y_equal.txt --format json
lumbra-kit smirnov x.txt y_equal.txt --alternative greater --format json
lumbra-kit smirnov x.txt y.txt
lumbra-kit smirnov x.txt y.txt --alternative greater --format json
lumbra-kit smirnov x_tied.txt y_tied.txt --format json
