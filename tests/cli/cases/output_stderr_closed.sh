# The refusal cannot be printed, but the status still says so.
lumbra showC 4 x 1 2>&-
