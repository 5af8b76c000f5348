lumbra show
