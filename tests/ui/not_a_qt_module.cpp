// A shared library without the Qt module's entry point: what the program finds when a module of
// another version is installed beside it.
extern "C" __attribute__((visibility("default"))) int ovra7_qt_module_open_v0() { return 0; }
