lumbra-kit --version
