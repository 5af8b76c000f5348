# Words that fit the case: a statistic whose p-values are sure to fall in one
# bin (blocks of zeros have one arrangement) says so, as does one with too few
# blocks; a chi-square p-value below the doubles' range is printed as its
# value, in the text and in the JSON.
head -c 4096 /dev/zero > zeros.bin
lumbra-kit test -n 64 zeros.bin
head -c 3 /dev/zero | tr '\0' '\017' > few.bin
lumbra-kit test -n 8 few.bin
head -c 4096 /dev/zero | tr '\0' '\125' > alternate.bin
lumbra-kit test -n 64 alternate.bin
lumbra-kit test -n 64 --format json alternate.bin | grep -o '"p_value":[^,}]*'
