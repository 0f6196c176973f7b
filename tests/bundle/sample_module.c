/* The executable the bundle tests lay out in their bundles: a loadable
 * module with one function to look up and call. */
int tolvan_sample_answer(void) { return 42; }
