/* Needs a function no library provides: loads only with lazy binding. */
extern int probe_nowhere_to_be_found(void);
int probe_calls_nowhere(void) { return probe_nowhere_to_be_found(); }
