// Preloaded into a measured run to turn the flush to disk into a no-op, so that the benchmark
// can tell how much of the run's time the flush takes. Never part of the shipped program.
extern "C" int fsync(int) { return 0; }
extern "C" int fdatasync(int) { return 0; }
