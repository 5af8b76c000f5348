# Real tables: a column by number or by header name, one per input, fields
# split on tabs, commas or runs of spaces (as the first line shows, or as
# --delimiter says), a header only where the first line is not all numbers
# (the messages say when one was skipped); messages show at most 40 bytes
# of a bad field with bytes outside printable ASCII escaped.
printf '1 10\n2 20\n3 30\n4 40\n' > spaces.txt
printf 'id\tscore\n1\t5\n2\t6\n3\t7\n' > tabs.tsv
printf 'score;x,other\n"2,5",1\n' > quoted.csv
printf 'a,b\n1,2\n' > two.csv
printf '\xef\xbb\xbf1 2 3\n' > bom.txt
printf '0 1e-400 3e-324 -1e-999\n' > tiny.txt
printf '1 2\nx\001\033[31mred\000tail\n' > control.txt
printf '1 %sz\n' "$(head -c 60 /dev/zero | tr '\0' '7')" > long.txt
printf '%sx\n' "$(head -c 400 /dev/zero | tr '\0' '1')" > digits.txt
for args in "--column 2 spaces.txt tabs.tsv" "--column-x 2 --column-y score spaces.txt tabs.tsv" \
    "--column score tabs.tsv tabs.tsv" "--column 2 --delimiter comma spaces.txt spaces.txt" \
    "--column 3 spaces.txt spaces.txt" "--column 2 tabs.tsv two.csv" "--column 3 tabs.tsv tabs.tsv" \
    "--column nope tabs.tsv tabs.tsv" "--column name spaces.txt spaces.txt" "--column 1 quoted.csv spaces.txt" \
    "quoted.csv spaces.txt" "bom.txt spaces.txt" "tiny.txt spaces.txt" "control.txt spaces.txt" \
    "long.txt spaces.txt" "digits.txt spaces.txt"; do
  echo "== $args"
  lumbra-kit smirnov $args --format json
  echo "status $?"
done 2>&1
