# Standard input is read once: - given twice is refused (it would read as an
# empty file the second time), by test and blocks, as smirnov refuses it.
printf 'some bytes' | lumbra-kit test - -
echo "status $?"
printf 'some bytes' | lumbra-kit blocks - -
