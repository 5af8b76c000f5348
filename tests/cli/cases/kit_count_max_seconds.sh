# --max-seconds refuses, with status 2 and one line giving the estimate, a
# count estimated to take longer; a count within it runs as usual. The
# estimate is a formula of N, K and D, the same on every machine.
lumbra-kit count --max-seconds 60 100000000 50000000 1; echo "status $?"
lumbra-kit count --max-seconds 0 1000000 500000 1; echo "status $?"
lumbra-kit count --max-seconds 10 10 5 2; echo "status $?"
lumbra-kit count --max-seconds 1.5 10 5 2; echo "status $?"
lumbra-kit count --max-seconds 0x10 10 5 2
