# Standard input is read once: - given twice is refused (it would read as an
# empty file the second time), as smirnov refuses it.
printf 'some bytes' | lumbra-kit test - -
