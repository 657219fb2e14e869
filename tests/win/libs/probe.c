/* A tiny library for the loader tests. */
int probe_answer(void) { return 42; }
