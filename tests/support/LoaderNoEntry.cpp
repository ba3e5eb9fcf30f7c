// A loadable object without the entry symbol, for the loader's failure tests.
extern "C" int QelvoLoaderNoEntry() { return 1; }
