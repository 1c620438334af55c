/* Preloaded by bench/peers to show what making files durable costs: every flush returns at once.
 * Never for real use: a file "flushed" so is not on the disk. */
int fsync(int fd) { (void)fd; return 0; }
int fdatasync(int fd) { (void)fd; return 0; }
int syncfs(int fd) { (void)fd; return 0; }
