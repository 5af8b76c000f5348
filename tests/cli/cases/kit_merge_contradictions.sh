# A merge cannot lose a verdict: every summary holds the ones and the
# deviation and every statistic it names, and its counts agree with each
# other; otherwise it is refused with its name and the rule it breaks.
source "$CASE_DATA/../helpers.sh"
repeat_data random256.bin 500 | tr '\000-\037' '\377' > biased.bin  # an eighth of the bytes all ones
slice() { lumbra-kit test -q --format json --first-block $1 --block-count $2 biased.bin; }
slice 0 500 > a.json
slice 500 500 > b.json
lumbra-kit merge --fail-below 0.001 a.json b.json | grep '^ones:'
echo "merge a.json b.json: status ${PIPESTATUS[0]}"
check() {
  lumbra-kit merge "$@" > out.txt 2> err.txt
  echo "merge $*: status $? $(wc -l < out.txt) lines out"
  cat err.txt
}
# A slice without its statistics, without the ones, with a statistic of no name.
sed 's/"tests":{.*},"whole_file"/"tests":{},"whole_file"/' b.json > no-tests.json
sed 's/"tests":{"ones":{[^}]*},/"tests":{/' b.json > no-ones.json
sed 's/"tests":\(.*\)"deviation":{/"tests":\1"deviatoin":{/' b.json > misspelt.json
check --fail-below 0.001 a.json no-tests.json
check --fail-below 0.001 a.json no-ones.json
check --plot p.svg a.json no-ones.json
check a.json misspelt.json
# No passing blocks, where 500 - bins_observed[0] blocks lie above p = 0.1.
sed 's/"deviation":{"passing":[0-9]*/"deviation":{"passing":0/' b.json > no-passing.json
check a.json no-passing.json
# Every block at deviation 1024, beyond any 1024-bit block with ones near half.
zeros=$(printf '0,%.0s' $(seq 1024))
sed "s/\"observed\":\[[0-9,]*\]/\"observed\":[${zeros}500]/" b.json > far.json
check a.json far.json
test ! -e p.svg && echo "no picture"
