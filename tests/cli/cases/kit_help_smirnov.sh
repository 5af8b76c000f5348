# help COMMAND prints the command's whole help to stdout.
lumbra-kit help smirnov
