lumbra-kit frobnicate
