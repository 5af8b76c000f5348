lumbra showCC 4 2 1
