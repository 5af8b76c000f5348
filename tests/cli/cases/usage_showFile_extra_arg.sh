lumbra showFile 8 a b
