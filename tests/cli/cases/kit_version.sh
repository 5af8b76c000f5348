# The version and the processor level in use; LUMBRA_ISA forces the level
# (plain is on every processor), and refuses a name it does not know before
# anything runs. The default level is the machine's, so only its line's
# form is shown.
env -u LUMBRA_ISA lumbra-kit --version | sed 's/^isa: [a-z0-9]*$/isa: LEVEL/'
LUMBRA_ISA=plain lumbra-kit --version
LUMBRA_ISA=avx3 lumbra-kit count 4 2 1; echo "status $?"
LUMBRA_ISA=Plain lumbra-kit --version
