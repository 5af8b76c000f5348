lumbra showC $'\xd9\xa4' 2 1
