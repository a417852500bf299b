release 0
