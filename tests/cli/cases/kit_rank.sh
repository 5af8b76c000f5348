# rank cuts blocks as showFile does (the last one shorter); a pipe that
# delivers small pieces gives the same blocks as a file.
printf 'Hello, world!\n' > hello
lumbra-kit rank -n 12 hello
(printf 'Hel'; sleep 0.2; printf 'lo, world!\n') | lumbra-kit rank -n 12 --format jsonl - | tail -n 2
