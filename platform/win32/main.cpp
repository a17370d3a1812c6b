// Entry of zol.exe.
#include "runtime/init.h"

int main(int argc, char** argv) { runtime::start(argc, argv); }
