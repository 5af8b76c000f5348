# The two-sample test: text and JSON, the exact fraction, each alternative,
# numbers separated by blanks, commas and lines, standard input, one column
# of a CSV file, and ties (the p-value given them).
printf '0.61 1.22, 0.05\n-0.4\n2.5e-1 +1.9\n' > x.txt
printf '1.31,1.84 0.93\n2.2 1.05  0.7\n\n' > y.txt
lumbra-kit smirnov x.txt y.txt
lumbra-kit smirnov x.txt y.txt --exact --format json
lumbra-kit smirnov x.txt y.txt --alternative less --exact --format json
lumbra-kit smirnov x.txt y.txt --alternative greater --exact --format json
printf 'id,score,group\n1,3,a\n2,"1",b\n3,2,a\n\n4,2,b\n' > a.csv
printf 'id,score\n7,2\n8, 4\n9,4\n10,5\n' > b.csv
lumbra-kit smirnov --column 2 a.csv b.csv --exact
seq 1 40 | lumbra-kit smirnov - x.txt --format json
# Samples apart: p = 2 / C(1400, 700), below the doubles' range, from the
# exact count the command falls back to.
seq 1 700 > low.txt
seq 1001 1700 > high.txt
lumbra-kit smirnov low.txt high.txt --format json
# Beyond N = 5000 the count still stands in while it is quick: p ~ 1e-340,
# where the sum's bound is no longer 1e-12.
seq 1 170 > few.txt
seq 1001 7000 > many.txt
lumbra-kit smirnov few.txt many.txt --format json
