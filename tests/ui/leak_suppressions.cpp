// The font libraries keep their configuration and caches for the life of the process and free them
// only at a shutdown call that programs do not make; the leak checker is told to look elsewhere.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
