# /dev/stdin when standard input is closed: there is no such file.
lumbra showFile 8 /dev/stdin <&-
