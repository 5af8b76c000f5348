# unrank gives back the block that rank indexed; an index not below
# C(M, K, D) is refused.
lumbra-kit unrank 12 4 2 132
lumbra-kit unrank 12 6 2 209
lumbra-kit unrank 8 4 1 16
