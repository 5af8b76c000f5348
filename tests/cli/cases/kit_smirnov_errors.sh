# Input that is not a sample, each with its file and line and status 2;
# command lines refused with status 1.
printf '1 2\n3 x4\n' > bad.txt
printf '1\nnan\n' > nan.txt
printf '1\n-inf\n' > inf.txt
printf '1 2e999\n' > big.txt
printf '\n \n' > empty.txt
printf 'h\n1,2\n3\n' > short.csv
printf '1 2 3\n' > ok.txt
for args in "bad.txt ok.txt" "ok.txt nan.txt" "inf.txt ok.txt" "big.txt ok.txt" "ok.txt empty.txt" \
    "--column 2 short.csv short.csv" "ok.txt missing.txt" "- -" "ok.txt ok.txt --alternative both" \
    "ok.txt ok.txt --column 0"; do
  echo "== $args"
  lumbra-kit smirnov $args
  echo "status $?"
done 2>&1
