# Every write fails with "No space left on device": the run must not end
# with success.
lumbra showC 20000 10000 100 > /dev/full
