/* A minimal shared library for the loader tests. */
int korva_test_answer(void) { return 42; }
