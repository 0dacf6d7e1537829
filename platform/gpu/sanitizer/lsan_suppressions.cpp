// Under the leak sanitizer: the GL driver (Mesa's llvmpipe) leaves small blocks at exit,
// allocated with realloc and calloc from its JIT-compiled code, which has no symbols to match.
// Our own objects come from operator new and stay reported.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:realloc\nleak:calloc\n";
}
