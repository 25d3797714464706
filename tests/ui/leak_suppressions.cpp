// The font libraries keep their configuration and caches for the life of the process and free them
// only at a shutdown call that programs do not make, as do GLib and the session bus library GTK may
// load; the leak checker is told to look elsewhere.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libdbus-1.so\nleak:libglib-2.0.so\nleak:libgio-2.0.so\n";
}
