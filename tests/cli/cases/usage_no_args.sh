lumbra
