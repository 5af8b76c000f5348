lumbra showFile 8x a
