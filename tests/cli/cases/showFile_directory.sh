mkdir adir
lumbra showFile 8 adir
